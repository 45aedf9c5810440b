"""The programs under test: how each one compresses and restores a file."""
import os
from dataclasses import dataclass


@dataclass
class Step:
    argv: list
    stdout: object   # file that receives standard output; None: the log
    result: str      # file the step produces


@dataclass
class Program:
    name: str
    ext: str
    compress: object     # (input, packed) -> Step
    decompress: object   # (packed, input, outdir) -> Step


def restored(outdir):
    return os.path.join(outdir, "restored")


BASELINE = "quellpack-before"


def quellpack(binary, name="quellpack"):
    """The build under test (or the baseline): quellpack c|d infile outfile."""
    return Program(
        name, "qp",
        lambda src, packed: Step([binary, "c", src, packed], None, packed),
        lambda packed, src, outdir: Step([binary, "d", packed, restored(outdir)], None, restored(outdir)))


def piped(name, ext, compress_argv, decompress_argv):
    """A peer that reads a file argument and writes its result to standard output."""
    return Program(
        name, ext,
        lambda src, packed: Step(compress_argv + [src], packed, packed),
        lambda packed, src, outdir: Step(decompress_argv + [packed], restored(outdir), restored(outdir)))


PPMD = "ppmd-o4"

PEERS = [
    # 7-Zip's PPMd at order 4, one thread: the reference the goals name.
    # Extraction writes the file under its own name into outdir.
    Program(
        PPMD, "7z",
        lambda src, packed: Step(["7zz", "a", "-t7z", "-m0=PPMd:o=4:mem=256m", "-mmt1", packed, src],
                                 None, packed),
        lambda packed, src, outdir: Step(["7zz", "e", packed, "-o" + outdir, "-y"], None,
                                         os.path.join(outdir, os.path.basename(src)))),
    piped("bzip2-9", "bz2", ["bzip2", "-9", "-c"], ["bzip2", "-d", "-c"]),
    piped("xz-9e", "xz", ["xz", "-9e", "-c"], ["xz", "-d", "-c"]),
    piped("zstd-19", "zst", ["zstd", "-19", "-q", "-c"], ["zstd", "-d", "-q", "-c"]),
]
