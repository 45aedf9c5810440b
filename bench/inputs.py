"""Builds the benchmark inputs from real files on this machine and caches
them, so that reruns skip the copying."""
import glob
import os

CORPUS_DIR = os.path.join(os.path.dirname(__file__), "..", "..", "shared", "corpus")
MEMORY_PROBE = "/usr/bin/systemctl"
SCALES = [("1M", 10**6), ("10M", 10**7), ("100M", 10**8), ("1G", 10**9)]
KINDS = ["text", "binary", "mix"]
# Inputs without repeated contexts: where the tree grows fastest per byte.
EXTRA = [("random", "10M", 10**7), ("random", "100M", 10**8), ("debruijn", "10M", 10**7)]
RANDOM_SEED = 13
MIX_BLOCK = 256 * 1024  # the mix alternates blocks of text and binary


def text_files():
    """Python standard-library sources of every pyenv version, in path order."""
    root = os.environ.get("PYENV_ROOT", os.path.expanduser("~/.pyenv"))
    found = []
    for lib in sorted(glob.glob(os.path.join(root, "versions", "*", "lib", "python3*"))):
        for dirpath, dirnames, filenames in os.walk(lib):
            dirnames[:] = sorted(d for d in dirnames if d != "site-packages")
            found += [os.path.join(dirpath, f) for f in sorted(filenames) if f.endswith(".py")]
    return found


def binary_files():
    """Shared libraries under /usr/lib (regular files only), in path order."""
    found = []
    for dirpath, dirnames, filenames in os.walk("/usr/lib"):
        dirnames.sort()
        for f in sorted(filenames):
            p = os.path.join(dirpath, f)
            if (f.endswith(".so") or ".so." in f) and os.path.isfile(p) and not os.path.islink(p):
                found.append(p)
    return found


def stream(files):
    """Yields the files' bytes in order, starting over when they run out."""
    if not files:
        raise SystemExit("no source files for an input")
    while True:
        for p in files:
            try:
                with open(p, "rb") as f:
                    data = f.read()
            except OSError:
                continue
            if data:
                yield p, data


def mixed(text, binary):
    """Alternates MIX_BLOCK-sized pieces of the text and binary streams."""
    sources = (text, binary)
    data = [b"", b""]
    offset = [0, 0]
    turn = 0
    while True:
        piece = bytearray()
        opened = []
        while len(piece) < MIX_BLOCK:
            if offset[turn] == len(data[turn]):
                path, data[turn] = next(sources[turn])
                offset[turn] = 0
                opened.append(path)
            take = min(MIX_BLOCK - len(piece), len(data[turn]) - offset[turn])
            piece += data[turn][offset[turn]:offset[turn] + take]
            offset[turn] += take
        yield "\n".join(opened) or "(continued)", bytes(piece)
        turn ^= 1


def write_exactly(path, size, chunks):
    """Writes the first `size` bytes of the chunks to path, with a list of
    their sources beside it; returns path."""
    tmp = path + ".tmp"
    sources = []
    left = size
    with open(tmp, "wb") as out:
        while left > 0:
            source, data = next(chunks)
            out.write(data[:left])
            left -= min(left, len(data))
            sources.append(source)
    with open(path + ".sources", "w") as f:
        f.write("\n".join(sources) + "\n")
    os.replace(tmp, path)
    return path


def cached(path, size, build):
    """path when it holds an input of that size already, else build(path)."""
    if os.path.exists(path) and os.path.getsize(path) == size:
        return path
    return build(path)


def corpus_input(workdir):
    """The files of the shared corpus, concatenated in name order."""
    files = sorted(glob.glob(os.path.join(CORPUS_DIR, "*")))
    files = [p for p in files if os.path.isfile(p)]
    if not files:
        raise SystemExit(f"no corpus files in {os.path.normpath(CORPUS_DIR)}")
    total = sum(os.path.getsize(p) for p in files)
    chunks = ((p, open(p, "rb").read()) for p in files)
    return cached(os.path.join(workdir, "corpus"), total, lambda p: write_exactly(p, total, chunks))


def probe_input(workdir):
    """A copy of the binary on which bytes of memory per input byte are judged."""
    if not os.path.isfile(MEMORY_PROBE):
        raise SystemExit(f"{MEMORY_PROBE} is missing: pick another ~1.3 MB binary in inputs.py")
    size = os.path.getsize(MEMORY_PROBE)
    chunks = iter([(MEMORY_PROBE, open(MEMORY_PROBE, "rb").read())])
    return cached(os.path.join(workdir, "systemctl"), size, lambda p: write_exactly(p, size, chunks))


def random_chunks():
    """Pseudo-random bytes from a fixed seed: the same input on every machine."""
    import random
    rng = random.Random(RANDOM_SEED)
    while True:
        yield f"random bytes, seed {RANDOM_SEED}", rng.randbytes(1 << 20)


def debruijn_chunks(k=256, n=3):
    """The de Bruijn sequence of order n over all k byte values (every n-byte
    string once; 16.7 MB for order 3), by the Lyndon words of length dividing n
    in lexicographic order, then starting over."""
    while True:
        out = bytearray()
        word = [0] * (n + 1)
        t = 1
        # Iterative generation of the Lyndon words (Fredricksen, Kessler, Maiorana).
        while True:
            if n % t == 0:
                out += bytes(word[1:t + 1])
                if len(out) >= 1 << 20:
                    yield f"de Bruijn sequence, order {n} over {k} bytes", bytes(out)
                    out = bytearray()
            t = n
            while t > 0 and word[t] == k - 1:
                t -= 1
            if t == 0:
                break
            word[t] += 1
            for j in range(t + 1, n + 1):
                word[j] = word[j - t]
        if out:
            yield f"de Bruijn sequence, order {n} over {k} bytes", bytes(out)


def scale_input(workdir, kind, label, size):
    """text, binary, mix, random or de Bruijn input of `size` bytes."""
    def build(path):
        if kind == "random":
            chunks = random_chunks()
        elif kind == "debruijn":
            chunks = debruijn_chunks()
        elif kind == "text":
            chunks = stream(text_files())
        elif kind == "binary":
            chunks = stream(binary_files())
        else:
            chunks = mixed(stream(text_files()), stream(binary_files()))
        return write_exactly(path, size, chunks)
    return cached(os.path.join(workdir, f"{kind}-{label}"), size, build)
