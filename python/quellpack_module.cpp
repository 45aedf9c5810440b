// The Python module quellpack: compress and decompress over bytes-like
// objects, coding without the GIL, failures as quellpack.Error (a
// ValueError) whose `kind` names the failure.
#include <pybind11/pybind11.h>

#include <span>
#include <vector>

#include "quellpack/quellpack.hpp"

namespace py = pybind11;

namespace {

PyObject* errorType = nullptr;

// The name a failure has in Python, as Error.kind.
const char* kindName(quellpack::ErrorKind kind) {
    switch (kind) {
        case quellpack::ErrorKind::Damaged: return "damaged";
        case quellpack::ErrorKind::TooLarge: return "too_large";
        case quellpack::ErrorKind::OutOfMemory: return "out_of_memory";
        case quellpack::ErrorKind::VerifyFailed: return "verify_failed";
        case quellpack::ErrorKind::ReadFailed: return "read_failed";
        case quellpack::ErrorKind::WriteFailed: return "write_failed";
    }
    return "unknown";
}

// The contiguous bytes of any object with the buffer protocol, held (and
// the object kept from resizing) for the life of the view.
struct ByteView {
    Py_buffer view{};
    explicit ByteView(py::handle object) {
        if (PyObject_GetBuffer(object.ptr(), &view, PyBUF_SIMPLE) != 0) throw py::error_already_set();
    }
    ~ByteView() { PyBuffer_Release(&view); }
    ByteView(const ByteView&) = delete;
    ByteView& operator=(const ByteView&) = delete;
    std::span<const uint8_t> bytes() const {
        return {static_cast<const uint8_t*>(view.buf), static_cast<size_t>(view.len)};
    }
};

// Runs `code` on the bytes of `data` with the GIL released; its failure
// becomes quellpack.Error with the library's message and kind.
template <class F>
py::bytes codeWithoutGil(py::handle data, F&& code) {
    const ByteView input(data);
    std::vector<uint8_t> out;
    try {
        py::gil_scoped_release unlocked;
        out = code(input.bytes());
    } catch (const quellpack::Error& e) {
        py::object error = py::reinterpret_borrow<py::object>(errorType)(e.what());
        error.attr("kind") = kindName(e.kind());
        PyErr_SetObject(errorType, error.ptr());
        throw py::error_already_set();
    }
    return py::bytes(reinterpret_cast<const char*>(out.data()), out.size());
}

}  // namespace

PYBIND11_MODULE(quellpack, m) {
    m.doc() = "Lossless compression with an order-4 context model.";
    m.attr("__version__") = quellpack::kVersion;

    errorType = PyErr_NewExceptionWithDoc(
        "quellpack.Error",
        "A failure of compress or decompress. str(e) is the message the quellpack program prints; e.kind "
        "names it: 'damaged', 'too_large', 'out_of_memory' or 'verify_failed'.",
        PyExc_ValueError, nullptr);
    if (!errorType) throw py::error_already_set();
    m.attr("Error") = py::reinterpret_borrow<py::object>(errorType);

    m.def(
        "compress",
        [](py::handle data, bool verify, bool check) {
            return codeWithoutGil(data, [verify, check](std::span<const uint8_t> input) {
                quellpack::Options options;
                options.verify = verify;
                options.check = check;
                return quellpack::compress(input, options);
            });
        },
        py::arg("data"), py::kw_only(), py::arg("verify") = false, py::arg("check") = false,
        "Compresses a bytes-like object into a complete compressed file (bytes). verify=True decodes the result "
        "and compares it with the input first; check=True ends the file with the integrity trailer that "
        "decompress checks.");
    m.def(
        "decompress",
        [](py::handle data) {
            return codeWithoutGil(data, [](std::span<const uint8_t> file) { return quellpack::decompress(file); });
        },
        py::arg("data"),
        "Restores the bytes a compressed file (any bytes-like object) holds. A file that ends with an "
        "integrity trailer must match it (else Error, kind 'damaged'); other bytes after the coded data are "
        "ignored.");
}
