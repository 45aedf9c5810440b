#!/usr/bin/env python3
"""Times quellpack and its peers over the benchmark inputs, verifies every
round trip, prints the table and writes docs/BENCHMARKS.md with its plot.
Started by bench/run.sh, which installs the peers and builds quellpack."""
import argparse
import datetime
import json
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import inputs  # noqa: E402
import measure  # noqa: E402
import peers  # noqa: E402
import report  # noqa: E402

REPO = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
BUILD = os.path.join(REPO, "build-bench")
LARGE = 50 * 10**6  # inputs from this size on are timed once


def parse_size(text):
    """'10M' -> 10**7; K, M, G are powers of 1000, a plain number is bytes."""
    units = {"K": 10**3, "M": 10**6, "G": 10**9}
    t = text.strip().upper().rstrip("B")
    if t and t[-1] in units:
        return int(float(t[:-1]) * units[t[-1]])
    return int(t)


def mem_total():
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal:"):
                return int(line.split()[1]) * 1024
    return 0


def log(message):
    print(f"[{datetime.datetime.now():%H:%M:%S}] {message}", file=sys.stderr, flush=True)


def failure(direction, usage, log_path):
    """A short reason for a failed step, with the program's last message."""
    what = f"killed by signal {-usage.status}" if usage.status < 0 else f"exit {usage.status}"
    try:
        with open(log_path, errors="replace") as f:
            lines = [l.strip() for l in f if l.strip()]
    except OSError:
        lines = []
    said = f": {lines[-1][:60]}" if lines else ""
    return f"{direction} failed ({what}{said})"


def same_file(a, b):
    return subprocess.run(["cmp", "-s", a, b]).returncode == 0


def round_trips(helper, program, src, runs, scratch, mem_limit):
    """Compresses and restores src `runs` times; keeps the best CPU times
    and the largest peak memory. Every restored file is compared with src."""
    row = {"program": program.name, "status": "ok", "runs": 0, "packed": None,
           "c_cpu": None, "d_cpu": None, "c_wall": None, "d_wall": None, "c_rss": 0, "d_rss": 0}
    packed = os.path.join(scratch, "packed." + program.ext)
    outdir = os.path.join(scratch, "out")
    log_path = os.path.join(scratch, "log")
    for _ in range(runs):
        shutil.rmtree(scratch, ignore_errors=True)
        os.makedirs(outdir)
        step = program.compress(src, packed)
        c = measure.run(helper, step.argv, step.stdout, log_path, mem_limit)
        if c.status != 0 or not os.path.exists(step.result):
            row["status"] = failure("compress", c, log_path)
            break
        row["packed"] = os.path.getsize(step.result)
        step = program.decompress(packed, src, outdir)
        d = measure.run(helper, step.argv, step.stdout, log_path, mem_limit)
        if d.status != 0 or not os.path.exists(step.result):
            row["status"] = failure("decompress", d, log_path)
            break
        if not same_file(src, step.result):
            row["status"] = "ROUND TRIP DIFFERS"
            break
        row["runs"] += 1
        for key, u in (("c", c), ("d", d)):
            if row[key + "_cpu"] is None or u.cpu < row[key + "_cpu"]:
                row[key + "_cpu"], row[key + "_wall"] = u.cpu, u.wall
            row[key + "_rss"] = max(row[key + "_rss"], u.peak_rss)
    shutil.rmtree(scratch, ignore_errors=True)
    return row


def coding_layer(program):
    """BM_CodingLayer's nanoseconds per decision, by benchmark name."""
    out = subprocess.run([program, "--benchmark_filter=CodingLayer", "--benchmark_format=json",
                          "--benchmark_repetitions=3", "--benchmark_report_aggregates_only=true"],
                         capture_output=True, text=True)
    if out.returncode != 0:
        log(f"  micro benchmark failed: {out.stderr.strip()[-200:]}")
        return {}
    found = {}
    for b in json.loads(out.stdout)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            found[b["run_name"]] = b["real_time"] if b["time_unit"] == "ns" else b["cpu_time"]
    return found


def build_cases(args, workdir):
    """(name, kind, path) of every input of this run, built when missing."""
    log("preparing inputs in " + workdir)
    wanted = args.inputs.split(",") if args.inputs else None
    cases = [(name, kind, build()) for name, kind, build in
             (("corpus", "corpus", lambda: inputs.corpus_input(workdir)),
              ("systemctl", "probe", lambda: inputs.probe_input(workdir)))
             if wanted is None or name in wanted]
    if args.quick:
        return cases
    # The scale inputs, every kind at every size, then the extra ones.
    scale = [(kind, label, size) for label, size in inputs.SCALES for kind in inputs.KINDS] + inputs.EXTRA
    for kind, label, size in scale:
        name = f"{kind}-{label}"
        if size > args.max_size or (wanted is not None and name not in wanted):
            continue
        if not os.path.exists(os.path.join(workdir, name)):
            log(f"building input {name}")
        cases.append((name, kind, inputs.scale_input(workdir, kind, label, size)))
    return cases


def machine():
    """What the report says about where and on what it ran."""
    def first_line(argv):
        try:
            out = subprocess.run(argv, capture_output=True, text=True, cwd=REPO).stdout
            return out.strip().splitlines()[0] if out.strip() else "?"
        except OSError:
            return "?"

    cpu = "?"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    compiler = "?"
    cache = os.path.join(BUILD, "CMakeCache.txt")
    if os.path.exists(cache):
        with open(cache) as f:
            for line in f:
                if line.startswith("CMAKE_CXX_COMPILER:"):
                    compiler = first_line([line.split("=", 1)[1].strip(), "--version"])
    dirty = subprocess.run(["git", "diff", "--quiet", "HEAD"], cwd=REPO).returncode != 0
    versions = {pkg: first_line(["dpkg-query", "-W", "-f=${Version}", pkg])
                for pkg in ("7zip", "bzip2", "xz-utils", "zstd")}
    return {
        "date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
        "cpu": cpu,
        "nproc": len(os.sched_getaffinity(0)),
        "memory": mem_total(),
        "kernel": os.uname().release,
        "commit": first_line(["git", "rev-parse", "--short", "HEAD"]) + (" with local changes" if dirty else ""),
        "compiler": compiler,
        "peers": versions,
    }


def main():
    ap = argparse.ArgumentParser(description="Benchmarks quellpack against PPMd, bzip2, xz and zstd.")
    option = ap.add_argument
    option("--quick", action="store_true", help="corpus and systemctl only, no scale inputs")
    option("--max-size", default="1G", metavar="SIZE", help="skip scale inputs above SIZE (1M, 10M, 100M, 1G)")
    option("--runs", type=int, default=3, metavar="N",
           help=f"timed runs per input below {LARGE // 10**6} MB (larger inputs run once); default 3")
    option("--inputs", default="", metavar="LIST",
           help="comma-separated subset of the inputs, e.g. binary-1G,mix-1G,random-100M (only these are built)")
    option("--programs", default="", metavar="LIST", help="comma-separated subset, e.g. quellpack,ppmd-o4")
    option("--peers-up-to", default="100M", metavar="SIZE",
           help="run peers other than PPMd order 4 only on inputs up to SIZE (xz -9e and zstd -19 "
                "take half an hour on 1 GB); default 100M")
    option("--work", default="/tmp/quellpack-bench", metavar="DIR", help="cache of inputs and scratch space")
    option("--mem-limit", default="", metavar="SIZE", help="address-space cap per program (default 3/4 of RAM)")
    option("--docs", default=os.path.join(REPO, "docs"), metavar="DIR", help="where BENCHMARKS.md and the plot go")
    option("--quellpack", default=os.path.join(BUILD, "quellpack"), metavar="PATH", help="the binary under test")
    option("--measure", default=os.path.join(BUILD, "bench", "quellpack_measure"), metavar="PATH",
           help="the timing helper built from bench/measure.cpp")
    option("--baseline", metavar="PATH",
           help="an earlier quellpack binary, run beside this one for the before/after table")
    option("--micro", metavar="PATH", help="the micro benchmark program, for the coding layer's time per decision")
    option("--micro-baseline", metavar="PATH", help="the baseline's micro benchmark program")
    option("--report-from", metavar="JSON", help="only rewrite the report from saved results")
    args = ap.parse_args()
    args.max_size = parse_size(args.max_size)
    args.peers_up_to = parse_size(args.peers_up_to)

    if args.report_from:
        with open(args.report_from) as f:
            results = json.load(f)
        print(report.write(results, args.docs))
        return 0

    workdir = os.path.abspath(args.work)
    os.makedirs(workdir, exist_ok=True)
    mem_limit = parse_size(args.mem_limit) if args.mem_limit else mem_total() * 3 // 4
    programs = [peers.quellpack(os.path.abspath(args.quellpack))] + peers.PEERS
    if args.baseline:
        programs.insert(1, peers.quellpack(os.path.abspath(args.baseline), peers.BASELINE))
    if args.programs:
        wanted = args.programs.split(",")
        programs = [p for p in programs if p.name in wanted]
    cases = build_cases(args, workdir)

    results = {"meta": machine(), "rows": []}
    results["meta"]["command"] = os.environ.get("QUELLPACK_BENCH_COMMAND", " ".join(sys.argv))
    if os.environ.get("QUELLPACK_BENCH_BASELINE"):
        results["meta"]["baseline"] = "built from commit " + os.environ["QUELLPACK_BENCH_BASELINE"]
    results["meta"]["mem_limit"] = mem_limit
    results["meta"]["runs"] = args.runs
    saved = os.path.join(workdir, "results.json")
    results["micro"] = {}
    for label, path in (("after", args.micro), ("before", args.micro_baseline)):
        if path:
            log(f"coding layer micro benchmark ({label})")
            results["micro"][label] = coding_layer(path)
    for name, kind, path in cases:
        size = os.path.getsize(path)
        runs = args.runs if size < LARGE else 1
        for program in programs:
            if size > args.peers_up_to and program.name not in ("quellpack", peers.BASELINE, peers.PPMD):
                continue
            log(f"{name} ({size / 1e6:.2f} MB) {program.name}, {runs} run(s)")
            row = round_trips(os.path.abspath(args.measure), program, path, runs,
                              os.path.join(workdir, "scratch"), mem_limit)
            row.update(input=name, kind=kind, size=size)
            results["rows"].append(row)
            with open(saved, "w") as f:
                json.dump(results, f, indent=1)
            if row["status"] != "ok":
                log(f"  {row['status']}")
            else:
                log(f"  c {row['c_cpu']:.2f} s, d {row['d_cpu']:.2f} s, "
                    f"{8 * row['packed'] / size:.3f} bpb, {max(row['c_rss'], row['d_rss']) / 1e6:.1f} MB")
    print(report.write(results, args.docs))
    log(f"results saved in {saved}")
    return 0 if all(r["status"] == "ok" for r in results["rows"]) else 1


if __name__ == "__main__":
    sys.exit(main())
