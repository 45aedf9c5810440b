// The capital-letter transform over whole buffers, for the tests: the
// streaming forms the file format uses, run over a vector.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "driver/format/capitals.hpp"
#include "driver/format/memory_reader.hpp"

namespace quellpack::format {

// True when data holds no 0x00 byte and more than half of it lies in 'A'..'z'.
inline bool isText(const uint8_t* data, size_t n) {
    TextScan scan;
    scanText(scan, data, n);
    return scanIsText(scan);
}

// Length of capitalsEncode's result for data.
inline size_t capitalsEncodedLength(const uint8_t* data, size_t n) {
    TextScan scan;
    scanText(scan, data, n);
    return static_cast<size_t>(scanEncodedLength(scan));
}

// Replaces each capital that is followed by a non-capital with the mark and
// the lower-case letter; `data` becomes its transform, of `encodedLength`
// bytes (capitalsEncodedLength).
inline void capitalsEncode(std::vector<uint8_t>& data, size_t encodedLength) {
    const std::vector<uint8_t> raw = std::move(data);
    CapitalsReader reader;
    reader.raw = bufferReader(raw.data(), raw.size());
    data.assign(encodedLength, 0);
    size_t got = 0;
    for (size_t n; got < encodedLength && (n = readCapitals(reader, data.data() + got, encodedLength - got)) > 0;)
        got += n;
    data.resize(got);
}

// Inverse of capitalsEncode: a mark and the byte after it become that byte
// minus 0x20. Returns false when data cannot be what capitalsEncode wrote
// (it is decoded all the same).
inline bool capitalsDecode(std::vector<uint8_t>& data) {
    std::vector<uint8_t> out;
    out.reserve(data.size());
    CapitalsWriter writer;
    writer.out = [&out](const uint8_t* bytes, size_t n) { out.insert(out.end(), bytes, bytes + n); };
    writeCapitals(writer, data.data(), data.size());
    const bool wellFormed = finishCapitals(writer);
    data = std::move(out);
    return wellFormed;
}

}  // namespace quellpack::format
