"""Turns benchmark results into the printed table, docs/BENCHMARKS.md and
the scaling plot (matplotlib, or gnuplot where matplotlib is missing)."""
import os
import shutil
import subprocess

import peers

PLOT = "benchmark-scaling.png"
KIND_ORDER = ["text", "binary", "mix", "random", "debruijn"]


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


def fmt_ratios(rows, names, index, as_time=False):
    """'name 0.62x, ...': one ratio per input (0 compress, 1 decompress,
    2 memory), as our CPU time over PPMd's when as_time."""
    parts = []
    for name in names:
        r = find(rows, name, "quellpack")
        q = ratios(r, rows) if r else None
        if q is None:
            parts.append(f"{name} not run")
        else:
            parts.append(f"{name} {1 / q[index] if as_time else q[index]:.2f}x")
    return ", ".join(parts)


def judged(rows, names, test):
    """Whether test(ratios) holds on every named input (None when one is missing)."""
    found = []
    for name in names:
        r = find(rows, name, "quellpack")
        q = ratios(r, rows) if r else None
        if q is None:
            return None
        found.append(test(q))
    return all(found)


def state(ok):
    return "not judged (inputs missing)" if ok is None else verdict(ok)


def cost_growth(rows):
    """Compress seconds per MB of the largest binary input over binary-1M's."""
    binary = sorted((r for r in rows if r["program"] == "quellpack" and r["kind"] == "binary"
                     and r["status"] == "ok"), key=lambda r: r["size"])
    if len(binary) < 2 or binary[0]["size"] != 10**6:
        return None
    per_mb = lambda r: r["c_cpu"] / mb(r["size"])  # noqa: E731
    return binary[-1], per_mb(binary[-1]) / per_mb(binary[0]), per_mb(binary[0]), per_mb(binary[-1])


def goals(rows, micro=None):
    """The goals of the speed work, one line each, judged on this run."""
    out = []
    small = ["corpus", "systemctl"]
    c, d = fmt_ratios(rows, small, 0), fmt_ratios(rows, small, 1)
    ok = judged(rows, small, lambda q: q[0] >= 1.0 and q[1] >= 1.0)
    out.append(f"1. corpus and systemctl, CPU throughput vs PPMd o4 (goal >= 1.0x each): "
               f"compress {c}; decompress {d}: {state(ok)}")

    large = ["binary-1G", "mix-1G", "random-100M"]
    # Time ratios: PPMd's throughput over ours is our time over its.
    c, d = fmt_ratios(rows, large, 0, as_time=True), fmt_ratios(rows, large, 1, as_time=True)
    ok = judged(rows, large, lambda q: 1 / q[0] <= 1.5 and 1 / q[1] <= 1.5)
    growth = cost_growth(rows)
    if growth:
        top, factor, first, last = growth
        grow = (f"; binary compress cost per MB {first:.3f} s at 1 MB, {last:.3f} s at {top['input']}: "
                f"{factor:.2f}x (goal <= 2x from 1 MB to 1 GB)")
        if top["size"] < 10**9:
            grow += ", 1 GB not run"
        ok = None if ok is None or top["size"] < 10**9 else ok and factor <= 2.0
    else:
        grow = "; binary cost per MB not measured"
        ok = None
    out.append(f"2. large and random inputs, CPU time vs PPMd o4 (goal <= 1.5x each): "
               f"compress {c}; decompress {d}{grow}: {state(ok)}")

    layer = (micro or {}).get("after", {})
    if layer:
        figures = ", ".join(f"{k.split('/')[-1]} {v:.1f} ns" for k, v in sorted(layer.items()))
        out.append(f"3. BM_CodingLayer per decision (goal <= 9 ns, text and binary): {figures}: "
                   f"{verdict(all(v <= 9.0 for v in layer.values()))}")
    else:
        out.append("3. BM_CodingLayer per decision (goal <= 9 ns): not run (bench/run.sh builds it)")

    parts, checks = [], []
    parts.append(f"corpus peak vs PPMd o4 {fmt_ratios(rows, ['corpus'], 2).split()[-1]} (<= 1.0x)")
    checks.append(judged(rows, ["corpus"], lambda q: q[2] <= 1.0))
    for name, limit in (("systemctl", 12.0), ("random-10M", 24.0), ("random-100M", 24.0)):
        r = find(rows, name, "quellpack")
        if r is None:
            parts.append(f"{name} not run")
            checks.append(None)
        else:
            parts.append(f"{name} {peak(r) / r['size']:.1f} B/B (<= {limit:g})")
            checks.append(peak(r) / r["size"] <= limit)
    r = find(rows, "binary-1G", "quellpack")
    if r is None:
        parts.append("binary-1G not run")
        checks.append(None)
    else:
        parts.append(f"binary-1G {peak(r) / 1e9:.2f} GB (<= 2.0)")
        checks.append(peak(r) <= 2.0e9)
    ok = False if False in checks else None if None in checks else True
    out.append("4. memory: " + "; ".join(parts) + f": {state(ok)}")

    bad = [r for r in rows if r["status"] != "ok"]
    if bad:
        out.append("- failures: " + "; ".join(f"{r['input']} {r['program']}: {r['status']}" for r in bad))
    return "\n".join(out)


def before_after(rows, micro=None):
    """This build against the baseline build, input by input."""
    header = ["input", "MB", "compress s before", "after", "after/before", "decompress s before", "after",
              "after/before", "peak MB before", "after"]
    lines = []
    for r in rows:
        if r["program"] != "quellpack" or r["status"] != "ok":
            continue
        b = find(rows, r["input"], peers.BASELINE)
        if b is None:
            continue
        lines.append([r["input"], f"{mb(r['size']):.2f}", f"{b['c_cpu']:.2f}", f"{r['c_cpu']:.2f}",
                      f"{r['c_cpu'] / b['c_cpu']:.2f}x", f"{b['d_cpu']:.2f}", f"{r['d_cpu']:.2f}",
                      f"{r['d_cpu'] / b['d_cpu']:.2f}x", f"{mb(peak(b)):.1f}", f"{mb(peak(r)):.1f}"])
    out = table(header, lines) if lines else ""
    before, after = (micro or {}).get("before", {}), (micro or {}).get("after", {})
    if before or after:
        names = sorted(set(before) | set(after))
        cell = lambda d, k: f"{d[k]:.1f}" if k in d else "-"  # noqa: E731
        out += ("\n\n" if out else "") + table(["micro benchmark", "ns per decision before", "after"],
                                               [[k, cell(before, k), cell(after, k)] for k in names])
    return out


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
    rows, meta, micro = results["rows"], results["meta"], results.get("micro", {})
    compared = before_after(rows, micro)
    printed = "\n\n".join(part for part in (main_table(rows), goals(rows, micro), compared, scaling_table(rows))
                          if part)
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
blocks of the two; `random` is pseudo-random bytes from a fixed seed and
`debruijn` the start of the de Bruijn sequence of order 3 over all 256
bytes (every 3-byte string once), the inputs on which the tree grows
fastest; a list of the files behind each input lies beside it in
the work directory. Bits per byte are of each input as one file (the
corpus files compressed one by one come out lower).

{main_table(rows)}

## Goals

{goals(rows, micro)}
"""
    if compared:
        doc += (f"\n## Before and after\n\nThis build against `{peers.BASELINE}`, "
                f"{meta.get('baseline', 'an earlier build')}, in the same run (CPU seconds, best of the runs).\n\n"
                f"{compared}\n")
    scaling = scaling_table(rows)
    if scaling:
        doc += f"\n## Scaling\n\nquellpack's CPU time and peak memory against input size.\n\n{scaling}\n"
    if drawn:
        doc += f"\n![quellpack CPU time and peak memory against input size]({PLOT})\n"
    with open(os.path.join(docs, "BENCHMARKS.md"), "w") as f:
        f.write(doc)
    return printed
