"""The Python module: round trips of the corpus, the format's fixed files,
every bytes-like input, failures as quellpack.Error with a kind, and coding
without the GIL."""
import array
import os
import threading
import time
from pathlib import Path

import pytest

import quellpack

CORPUS = Path(os.environ.get("QUELLPACK_CORPUS", Path(__file__).resolve().parents[3] / "shared" / "corpus"))


def sample_text(n):
    words = [b"the", b"Quick", b"brown", b"Fox", b"jumps", b"Over", b"a", b"lazy", b"Dog"]
    out = bytearray()
    x = 12345
    while len(out) < n:
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        out += words[(x >> 16) % len(words)] + (b"\n" if (x >> 8) % 11 == 0 else b" ")
    return bytes(out[:n])


def corpus_files():
    files = sorted(p for p in CORPUS.iterdir() if p.is_file())
    assert files, f"no corpus files in {CORPUS}"
    return files


@pytest.mark.parametrize("path", corpus_files(), ids=lambda p: p.name)
def test_corpus_round_trips(path):
    data = path.read_bytes()
    packed = quellpack.compress(data)
    assert isinstance(packed, bytes)
    assert quellpack.decompress(packed) == data


@pytest.mark.parametrize(
    "data, file",
    [
        (b"", "00000000 00000000"),
        (b"a", "01000000 1060ff9f00"),
        (b"abracadabra", "0b000000 1061689959 56bfbe8bb98000"),
        (bytes([0, 1, 2, 3, 0, 1, 2, 3]), "08000000 00000b96b0bf472c00"),
    ],
)
def test_the_files_of_the_format(data, file):
    expected = bytes.fromhex(file.replace(" ", ""))
    assert quellpack.compress(data) == expected
    assert quellpack.decompress(expected) == data


def test_every_bytes_like_object_is_accepted():
    data = sample_text(3000)
    packed = quellpack.compress(data)
    for form in (bytearray(data), memoryview(data), array.array("B", data), memoryview(b"xx" + data)[2:]):
        assert quellpack.compress(form) == packed
    for form in (bytearray(packed), memoryview(packed), array.array("B", packed)):
        assert quellpack.decompress(form) == data
    assert quellpack.decompress(packed + b"trailing bytes") == data
    assert quellpack.compress(data, verify=True) == packed


def test_what_is_not_bytes_is_refused():
    with pytest.raises(TypeError):
        quellpack.compress("text")
    with pytest.raises(TypeError):
        quellpack.decompress(None)
    with pytest.raises(BufferError):
        quellpack.compress(memoryview(b"abcdef")[::2])
    with pytest.raises(TypeError):
        quellpack.compress(b"abc", True)  # verify is keyword-only


def test_damaged_files_raise_error_with_kind():
    packed = quellpack.compress(sample_text(2000))
    assert issubclass(quellpack.Error, ValueError)
    for damaged in (b"", packed[:7], packed[: len(packed) // 2], b"\xff\xff\xff\x7f" + packed[4:]):
        with pytest.raises(quellpack.Error) as caught:
            quellpack.decompress(damaged)
        assert caught.value.kind == "damaged"
        assert str(caught.value) == "in file is damaged"
    with pytest.raises(ValueError):
        quellpack.decompress(packed[:-1])


def test_coding_releases_the_gil():
    data = sample_text(3_000_000)
    window = {}

    def work():
        window["start"] = time.monotonic()
        quellpack.compress(data)
        window["end"] = time.monotonic()

    worker = threading.Thread(target=work)
    ticks = []
    worker.start()
    while worker.is_alive():
        ticks.append(time.monotonic())
    worker.join()
    # Ticks in the middle of the call can only happen when the call let go
    # of the GIL; the margins leave out the switches around the call.
    start, end = window["start"], window["end"]
    margin = (end - start) * 0.3
    assert end - start > 0.05
    assert sum(1 for t in ticks if start + margin < t < end - margin) > 100


def test_version_is_the_project_version():
    cmake = (Path(__file__).resolve().parents[2] / "CMakeLists.txt").read_text()
    assert f"project(quellpack VERSION {quellpack.__version__} " in cmake


def test_check_adds_a_trailer_that_decompress_checks():
    data = sample_text(3000)
    plain = quellpack.compress(data)
    checked = quellpack.compress(data, check=True)
    assert checked[: len(plain)] == plain and len(checked) == len(plain) + 25
    assert quellpack.decompress(checked) == data
    wrong = bytearray(checked)
    wrong[-17] ^= 1  # the hash
    with pytest.raises(quellpack.Error) as caught:
        quellpack.decompress(bytes(wrong))
    assert caught.value.kind == "damaged"
