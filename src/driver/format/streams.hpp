// Small Readers and Writers that the file format's two directions share.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "driver/format/memory_reader.hpp"
#include "ppm/ppm.hpp"
#include "quellpack/quellpack.hpp"

namespace quellpack::format {

// Serves a byte string in chunks.
inline Reader memoryReader(std::span<const uint8_t> bytes) { return bufferReader(bytes.data(), bytes.size()); }

// Appends what it is given to `out`.
inline Writer appendTo(std::vector<uint8_t>& out) {
    return [&out](const uint8_t* data, size_t n) { out.insert(out.end(), data, data + n); };
}

// Reads until buf is full or the input ends; returns the count read.
inline size_t readFully(const Reader& read, uint8_t* buf, size_t n) {
    size_t done = 0;
    while (done < n) {
        const size_t got = read(buf + done, n - done);
        if (got == 0) break;
        done += got;
    }
    return done;
}

// At most `left` bytes of `read`; what is left says whether all were read.
struct Limited {
    Reader read;
    uint64_t left;
};

inline Reader limitedReader(std::shared_ptr<Limited> lim) {
    return [lim](uint8_t* buf, size_t capacity) {
        const size_t n = lim->read(buf, static_cast<size_t>(std::min<uint64_t>(capacity, lim->left)));
        lim->left -= n;
        return n;
    };
}

// The model's progress calls as the caller's, which also want the total.
inline ppm::ProgressFn modelProgress(const Options& options, uint64_t total) {
    if (!options.progress) return nullptr;
    return [&options, total](size_t done) { options.progress(done, total); };
}

}  // namespace quellpack::format
