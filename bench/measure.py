"""Runs one command under quellpack_measure (bench/measure.cpp) and reports
its exit, CPU time and peak memory.

The command is forked from that small helper, not from this script: Linux
counts the resident size a process had before exec into its peak, so a
child forked from Python would inherit the interpreter's tens of MB.
"""
import os
import resource
from dataclasses import dataclass


@dataclass
class Usage:
    status: int        # exit code, or -signal when killed
    cpu: float         # user + system seconds
    wall: float        # elapsed seconds
    peak_rss: int      # maximum resident set size, bytes


def run(helper, argv, stdout_path, log_path, mem_limit=0):
    """Runs argv with standard output to stdout_path (None: to the log) and
    standard error to log_path; mem_limit > 0 caps its address space (an
    allocation beyond it fails inside the program instead of waking the OOM
    killer)."""
    result = log_path + ".usage"
    if os.path.exists(result):
        os.remove(result)
    pid = os.fork()
    if pid == 0:
        try:
            fd = os.open(os.devnull, os.O_RDONLY)
            os.dup2(fd, 0)
            fd = os.open(log_path, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
            os.dup2(fd, 2)
            if stdout_path is None:
                os.dup2(2, 1)
            else:
                fd = os.open(stdout_path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
                os.dup2(fd, 1)
            if mem_limit > 0:
                resource.setrlimit(resource.RLIMIT_AS, (mem_limit, mem_limit))
            os.execv(helper, [helper, result] + list(argv))
        except BaseException as e:  # noqa: BLE001 - the child must never return
            os.write(2, f"cannot run {argv[0]}: {e}\n".encode())
        os._exit(127)
    os.waitpid(pid, 0)
    try:
        with open(result) as f:
            status, cpu, wall, peak = f.read().split()
    except (OSError, ValueError):
        return Usage(127, 0.0, 0.0, 0)
    return Usage(int(status), float(cpu), float(wall), int(peak))
