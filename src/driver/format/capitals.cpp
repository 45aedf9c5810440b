#include "driver/format/capitals.hpp"

#include "driver/format/constants.hpp"

namespace quellpack::format {

namespace {
inline bool isCapital(uint32_t b) { return b - 'A' <= 'Z' - 'A'; }
inline bool isLower(uint32_t b) { return b - 'a' <= 'z' - 'a'; }
}  // namespace

void scanText(TextScan& scan, const uint8_t* data, size_t n) {
    scan.length += n;
    for (size_t i = 0; i < n; ++i) {
        const uint32_t b = data[i];
        scan.zeros += b == 0;
        scan.letters += b - 0x41 <= 0x7A - 0x41;
        // A capital is converted when a non-capital follows it; that byte is
        // then taken along without being looked at as a capital itself.
        if (scan.pendingCapital) {
            if (isCapital(b)) continue;
            ++scan.converted;
            scan.pendingCapital = false;
        } else {
            scan.pendingCapital = isCapital(b);
        }
    }
}

size_t readCapitals(CapitalsReader& r, uint8_t* buf, size_t capacity) {
    size_t produced = 0;
    while (produced < capacity) {
        if (r.queuePos < r.queued) {
            buf[produced++] = r.queue[r.queuePos++];
            continue;
        }
        if (r.inPos == r.inLen) {
            if (r.in.empty()) r.in.resize(kChunkSize);
            if (!r.rawEnded) {
                r.inLen = r.raw(r.in.data(), r.in.size());
                r.inPos = 0;
                r.rawEnded = r.inLen == 0;
            }
            if (r.rawEnded) {
                if (r.held < 0) break;
                buf[produced++] = static_cast<uint8_t>(r.held);  // a final capital stays
                r.held = -1;
                continue;
            }
        }
        const uint32_t b = r.in[r.inPos++];
        r.queued = r.queuePos = 0;
        if (r.held >= 0) {
            if (isCapital(b)) {
                r.queue[r.queued++] = static_cast<uint8_t>(r.held);
                r.held = static_cast<int>(b);
            } else {
                r.queue[r.queued++] = CAPITAL_MARK;
                r.queue[r.queued++] = static_cast<uint8_t>(r.held + 0x20);
                r.queue[r.queued++] = static_cast<uint8_t>(b);
                r.held = -1;
            }
        } else if (isCapital(b)) {
            r.held = static_cast<int>(b);
        } else {
            buf[produced++] = static_cast<uint8_t>(b);
        }
    }
    return produced;
}

void writeCapitals(CapitalsWriter& w, const uint8_t* data, size_t n) {
    w.buf.clear();
    w.buf.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const uint32_t b = data[i];
        if (w.state == 1) {
            // A mark is followed by the lower-case letter of its capital ...
            w.wellFormed = w.wellFormed && isLower(b);
            w.buf.push_back(static_cast<uint8_t>(b - 0x20));
            w.state = 2;
            continue;
        }
        if (w.state == 2) {
            // ... and then by a byte of the text that is not a capital.
            w.wellFormed = w.wellFormed && !isCapital(b) && b != CAPITAL_MARK;
            w.state = 0;
        }
        if (b == CAPITAL_MARK) {
            w.state = 1;
        } else {
            w.buf.push_back(static_cast<uint8_t>(b));
        }
    }
    w.out(w.buf.data(), w.buf.size());
}

bool finishCapitals(CapitalsWriter& w) {
    if (w.state == 1) {
        const uint8_t mark = CAPITAL_MARK;  // a mark as the last byte stays
        w.out(&mark, 1);
    }
    return w.wellFormed && w.state == 0;
}

}  // namespace quellpack::format
