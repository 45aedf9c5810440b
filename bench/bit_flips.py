#!/usr/bin/env python3
"""Single-bit damage, with and without the integrity trailer.

Compresses a few corpus files twice (plain and with --check), then flips one
seeded random bit at a time and restores the damaged file with the built
program. Each outcome is one of: refused (failure exit), restored right
(status 0 and the original bytes) or wrong (status 0 and other bytes: the
silent damage the trailer exists to catch). Flips fall in the coded bytes
(offset 4 to the end of the coded data), at the same places in both files,
and then anywhere in the file with --check (header and trailer included).

    bench/bit_flips.py [--program build/quellpack] [--flips 400] [--seed 12]
"""
import argparse
import os
import random
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "..", "..", "shared", "corpus")
FILES = ["alice29.txt", "html", "geo.protodata", "fireworks.jpeg", "kppkn.gtb"]
TRAILER = 25
# Small inputs keep 3 x 400 restorations within a minute.
PREFIX = 16384


def run(program, *args):
    return subprocess.run([program, *args], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode


def outcome(program, work, damaged, original):
    src, dst = os.path.join(work, "damaged.qp"), os.path.join(work, "restored")
    with open(src, "wb") as f:
        f.write(damaged)
    if os.path.exists(dst):
        os.remove(dst)
    if run(program, "d", src, dst) != 0:
        return "refused"
    with open(dst, "rb") as f:
        return "right" if f.read() == original else "wrong"


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--program", default=os.path.join(HERE, "..", "build", "quellpack"))
    ap.add_argument("--flips", type=int, default=400)
    ap.add_argument("--seed", type=int, default=12)
    args = ap.parse_args()
    rng = random.Random(args.seed)
    with tempfile.TemporaryDirectory() as work:
        samples = []
        for name in FILES:
            with open(os.path.join(CORPUS, name), "rb") as f:
                original = f.read(PREFIX)
            src = os.path.join(work, "in")
            with open(src, "wb") as f:
                f.write(original)
            packed = {}
            for label, opts in (("plain", []), ("check", ["--check"])):
                out = os.path.join(work, label + ".qp")
                if run(args.program, *opts, "c", src, out) != 0:
                    sys.exit("compression failed: " + name)
                with open(out, "rb") as f:
                    packed[label] = f.read()
            samples.append((name, original, packed["plain"], packed["check"]))

        runs = {"plain, coded bytes": [], "--check, coded bytes": [], "--check, whole file": []}
        for _ in range(args.flips):
            name, original, plain, checked = rng.choice(samples)
            bit = rng.randrange(4 * 8, len(plain) * 8)
            anywhere = rng.randrange(0, len(checked) * 8)
            for label, data, at in (("plain, coded bytes", plain, bit), ("--check, coded bytes", checked, bit),
                                    ("--check, whole file", checked, anywhere)):
                damaged = bytearray(data)
                damaged[at // 8] ^= 1 << (at % 8)
                runs[label].append(outcome(args.program, work, bytes(damaged), original))

    print(f"{args.flips} single-bit flips, seed {args.seed}, first {PREFIX} bytes of {', '.join(FILES)}")
    print(f"{'file and flipped bits':24} {'refused':>8} {'right':>8} {'wrong':>8}")
    for label, results in runs.items():
        print(f"{label:24} {results.count('refused'):8} {results.count('right'):8} {results.count('wrong'):8}")


if __name__ == "__main__":
    main()
