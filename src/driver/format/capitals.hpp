// The capital-letter transform over streams of bytes, chunk by chunk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "quellpack/quellpack.hpp"

namespace quellpack::format {

// What one pass over an input tells about its transform.
struct TextScan {
    uint64_t length = 0;
    uint64_t zeros = 0;
    uint64_t letters = 0;
    uint64_t converted = 0;       // capitals that the transform converts
    bool pendingCapital = false;  // the last byte was a capital, its successor unseen
};

// Feeds the next bytes of the input to the scan.
void scanText(TextScan& scan, const uint8_t* data, size_t n);

// True when the scanned input is text: no 0x00, more than half letters.
inline bool scanIsText(const TextScan& scan) { return scan.zeros == 0 && scan.letters > scan.length / 2; }

// Length of the scanned input after capitalsEncode.
inline uint64_t scanEncodedLength(const TextScan& scan) { return scan.length + scan.converted; }

// Serves the transform of what `raw` serves.
struct CapitalsReader {
    Reader raw;
    std::vector<uint8_t> in;      // allocated on first use
    size_t inPos = 0, inLen = 0;
    bool rawEnded = false;
    int held = -1;                // a capital waiting for its successor
    uint8_t queue[3];
    int queued = 0, queuePos = 0;
};

// Fills buf with up to `capacity` transformed bytes; 0 at the end.
size_t readCapitals(CapitalsReader& r, uint8_t* buf, size_t capacity);

// Passes the inverse transform of what it is given on to `out`, and checks
// that every mark stands where capitalsEncode would have put one.
struct CapitalsWriter {
    Writer out;
    std::vector<uint8_t> buf;
    int state = 0;          // 0: plain, 1: after a mark, 2: after a mark and its letter
    bool wellFormed = true;
};

// Decodes the next transformed bytes.
void writeCapitals(CapitalsWriter& w, const uint8_t* data, size_t n);

// Ends the stream; returns false when the data cannot be what
// capitalsEncode wrote (it is decoded all the same).
bool finishCapitals(CapitalsWriter& w);

}  // namespace quellpack::format
