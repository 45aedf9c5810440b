"""Turns benchmark results into the printed table, docs/BENCHMARKS.md and
the scaling plot (matplotlib, or gnuplot where matplotlib is missing)."""
import os
import shutil
import subprocess

import peers

PLOT = "benchmark-scaling.png"
KIND_ORDER = ["text", "binary", "mix"]


def mb(nbytes):
    return nbytes / 1e6


def peak(row):
    return max(row["c_rss"], row["d_rss"])


def speed(row, key):
    return mb(row["size"]) / row[key] if row[key] else float("inf")


def find(rows, name, program):
    for r in rows:
        if r["input"] == name and r["program"] == program and r["status"] == "ok":
            return r
    return None


def ratios(row, rows):
    """quellpack's compress speed, decompress speed and peak memory relative
    to PPMd order 4 on the same input."""
    ref = find(rows, row["input"], peers.PPMD)
    if row["program"] != "quellpack" or ref is None or row["status"] != "ok":
        return None
    return (speed(row, "c_cpu") / speed(ref, "c_cpu"), speed(row, "d_cpu") / speed(ref, "d_cpu"),
            peak(row) / peak(ref))


def table(header, lines):
    out = ["| " + " | ".join(header) + " |", "|" + "|".join("---" for _ in header) + "|"]
    out += ["| " + " | ".join(line) + " |" for line in lines]
    return "\n".join(out)


def main_table(rows):
    header = ["input", "MB", "program", "bits/byte", "compress MB/s", "decompress MB/s", "peak MB",
              "peak B/B", "vs PPMd o4: compress", "decompress", "memory"]
    lines = []
    for r in rows:
        line = [r["input"], f"{mb(r['size']):.2f}", r["program"]]
        if r["status"] != "ok":
            lines.append(line + [r["status"]] + ["-"] * 7)
            continue
        line += [f"{8 * r['packed'] / r['size']:.3f}", f"{speed(r, 'c_cpu'):.2f}", f"{speed(r, 'd_cpu'):.2f}",
                 f"{mb(peak(r)):.1f}", f"{peak(r) / r['size']:.1f}"]
        q = ratios(r, rows)
        line += [f"{q[0]:.2f}x", f"{q[1]:.2f}x", f"{q[2]:.2f}x"] if q else ["", "", ""]
        lines.append(line)
    return table(header, lines)


def scaling_table(rows):
    """quellpack's CPU time and peak memory per scale input."""
    header = ["input", "MB", "compress s", "decompress s", "compress s/MB", "decompress s/MB", "peak MB",
              "peak B/B"]
    lines = []
    for r in rows:
        if r["program"] != "quellpack" or r["kind"] not in KIND_ORDER:
            continue
        if r["status"] != "ok":
            lines.append([r["input"], f"{mb(r['size']):.0f}", r["status"]] + ["-"] * 5)
            continue
        lines.append([r["input"], f"{mb(r['size']):.0f}", f"{r['c_cpu']:.2f}", f"{r['d_cpu']:.2f}",
                      f"{r['c_cpu'] / mb(r['size']):.3f}", f"{r['d_cpu'] / mb(r['size']):.3f}",
                      f"{mb(peak(r)):.1f}", f"{peak(r) / r['size']:.1f}"])
    return table(header, lines) if lines else ""


def verdict(ok):
    return "met" if ok else "not met"


def goals(rows):
    """The goals of the speed and memory work, judged on this run."""
    out = []
    q = find(rows, "corpus", "quellpack")
    ratio = ratios(q, rows) if q else None
    if ratio:
        out.append(f"- corpus, compress throughput vs PPMd o4: {ratio[0]:.2f}x (goal >= 2.0x): "
                   f"{verdict(ratio[0] >= 2.0)}")
        out.append(f"- corpus, decompress throughput vs PPMd o4: {ratio[1]:.2f}x (goal >= 2.0x): "
                   f"{verdict(ratio[1] >= 2.0)}")
        out.append(f"- corpus, peak memory vs PPMd o4: {ratio[2]:.2f}x (goal <= 1.0x): "
                   f"{verdict(ratio[2] <= 1.0)}")
    else:
        out.append("- corpus: no successful quellpack and PPMd o4 pair to compare")
    probe = find(rows, "systemctl", "quellpack")
    if probe:
        per_byte = peak(probe) / probe["size"]
        out.append(f"- /usr/bin/systemctl ({probe['size']:,} bytes), quellpack peak memory per input byte: "
                   f"{per_byte:.1f} B (goal <= 12): {verdict(per_byte <= 12)}")
    scale = [r for r in rows if r["program"] == "quellpack" and r["kind"] in KIND_ORDER]
    if scale:
        done = [r for r in scale if r["status"] == "ok"]
        giga = [r for r in scale if r["size"] >= 10**9]
        line = f"- scale inputs: {len(done)} of {len(scale)} quellpack round trips verified"
        if giga:
            line += f"; 1 GB cases completed: {sum(r['status'] == 'ok' for r in giga)} of {len(giga)}"
        else:
            line += "; the 1 GB cases were not run"
        out.append(line)
    bad = [r for r in rows if r["status"] != "ok"]
    if bad:
        out.append("- failures: " + "; ".join(f"{r['input']} {r['program']}: {r['status']}" for r in bad))
    return "\n".join(out)


def series(rows):
    """Points of the plot: {label: [(size, compress s, decompress s, peak MB)]}."""
    out = {}
    for r in rows:
        if r["program"] != "quellpack" or r["status"] != "ok":
            continue
        label = r["kind"] if r["kind"] in KIND_ORDER else r["input"]
        out.setdefault(label, []).append((r["size"], r["c_cpu"], r["d_cpu"], mb(peak(r))))
    return {k: sorted(v) for k, v in out.items()}


def plot_matplotlib(points, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.ticker import FuncFormatter, NullFormatter

    fig, (left, right) = plt.subplots(1, 2, figsize=(11, 4.5))
    for label, pts in points.items():
        x = [p[0] for p in pts]
        style = "-o" if len(pts) > 1 else "o"
        line, = left.plot(x, [p[1] for p in pts], style, label=f"{label} compress")
        left.plot(x, [p[2] for p in pts], style.replace("-", "--"), color=line.get_color(),
                  label=f"{label} decompress", markerfacecolor="none")
        right.plot(x, [p[3] for p in pts], style, color=line.get_color(), label=label)
    scale = [pts for label, pts in points.items() if label in KIND_ORDER]
    if scale:
        # Where growth in proportion to the input would run, from the smallest input.
        x0, x1 = min(p[0] for pts in scale for p in pts), max(p[0] for pts in scale for p in pts)
        for ax, col in ((left, 1), (right, 3)):
            y0 = min(p[col] for pts in scale for p in pts if p[0] == x0)
            ax.plot([x0, x1], [y0, y0 * x1 / x0], ":", color="gray", label="linear growth")
    for ax, title, ylabel in ((left, "CPU time", "seconds"), (right, "peak memory", "MB")):
        ax.set_xscale("log")
        ax.set_yscale("log")
        ax.xaxis.set_major_formatter(FuncFormatter(lambda v, _: f"{v / 1e6:g}"))
        ax.yaxis.set_major_formatter(FuncFormatter(lambda v, _: f"{v:g}"))
        ax.xaxis.set_minor_formatter(NullFormatter())
        ax.yaxis.set_minor_formatter(NullFormatter())
        ax.set_xlabel("input MB")
        ax.set_ylabel(ylabel)
        ax.set_title(f"quellpack {title}")
        ax.grid(True, which="both", alpha=0.3)
        ax.legend(fontsize=7)
    fig.tight_layout()
    fig.savefig(path, dpi=100)


def plot_gnuplot(points, path):
    data = path + ".dat"
    with open(data, "w") as f:
        for label, pts in points.items():
            f.write(f'"{label}"\n')
            for p in pts:
                f.write(f"{p[0] / 1e6} {p[1]} {p[2]} {p[3]}\n")
            f.write("\n\n")
    plots = lambda col, extra: ", ".join(  # noqa: E731
        f"'{data}' index {i} using 1:{col} with linespoints title '{label}{extra}'"
        for i, label in enumerate(points))
    script = "\n".join([
        "set terminal pngcairo size 1100,450 font ',9'", f"set output '{path}'",
        "set logscale xy", "set grid", "set key left top", "set multiplot layout 1,2",
        "set title 'quellpack CPU time'", "set xlabel 'input MB'", "set ylabel 'seconds'",
        "plot " + plots(2, " compress") + ", " + plots(3, " decompress"),
        "set title 'quellpack peak memory'", "set ylabel 'MB'", "plot " + plots(4, ""),
        "unset multiplot"])
    subprocess.run(["gnuplot"], input=script, text=True, check=True)
    os.remove(data)


def plot(points, path):
    """Writes the plot; returns what drew it, or None when nothing could."""
    if os.environ.get("QUELLPACK_BENCH_PLOTTER") != "gnuplot":
        try:
            plot_matplotlib(points, path)
            return "matplotlib"
        except ImportError:
            pass
    if shutil.which("gnuplot"):
        plot_gnuplot(points, path)
        return "gnuplot"
    return None


def write(results, docs):
    """Writes BENCHMARKS.md and the plot into docs; returns the printed report."""
    rows, meta = results["rows"], results["meta"]
    printed = "\n\n".join(part for part in (main_table(rows), goals(rows), scaling_table(rows)) if part)
    os.makedirs(docs, exist_ok=True)
    drawn = plot(series(rows), os.path.join(docs, PLOT))
    peers_line = ", ".join(f"{k} {v}" for k, v in meta["peers"].items())
    doc = f"""# Benchmarks

Produced by `{meta['command']}` on {meta['date']}, quellpack commit {meta['commit']}.

Machine: {meta['cpu']}, {meta['nproc']} CPUs, {meta['memory'] / 2**30:.0f} GiB, Linux {meta['kernel']};
compiler {meta['compiler']}; peers (Debian packages) {peers_line}.

How it measures: every program compresses the input to a file and restores
it, and the restored file is compared with the input (`cmp`). Throughput is
input MB (10^6 bytes) per second of CPU time (user + system of the process,
as `bench/measure.cpp` reads it from the kernel), the best of {meta['runs']} runs
for inputs below 50 MB and of one run above. Peak memory is the larger
maximum resident set size of the two directions; peak B/B is that per input
byte. The ratios compare
quellpack with 7-Zip's PPMd at order 4 (`7zz a -t7z -m0=PPMd:o=4:mem=256m
-mmt1`) on the same input: above 1 is faster, or for memory, larger. The
other peers run as `bzip2 -9`, `xz -9e` and `zstd -19`.

Inputs: `corpus` is the 11 files of the shared corpus concatenated in name
order; `systemctl` is a copy of /usr/bin/systemctl. The scale inputs are
made from files on this machine: `text` from the Python standard-library
sources (`*.py` of every pyenv version, repeated when they run out), `binary`
from the shared libraries under /usr/lib, `mix` from alternating 256 KiB
blocks of the two; a list of the files behind each input lies beside it in
the work directory. Bits per byte are of each input as one file (the
corpus files compressed one by one come out lower).

{main_table(rows)}

## Goals

{goals(rows)}
"""
    scaling = scaling_table(rows)
    if scaling:
        doc += f"\n## Scaling\n\nquellpack's CPU time and peak memory against input size.\n\n{scaling}\n"
    if drawn:
        doc += f"\n![quellpack CPU time and peak memory against input size]({PLOT})\n"
    with open(os.path.join(docs, "BENCHMARKS.md"), "w") as f:
        f.write(doc)
    return printed
