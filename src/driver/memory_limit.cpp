#include "driver/memory_limit.hpp"

#include <limits>

#include "driver/platform.hpp"

namespace quellpack::driver {

namespace {

constexpr uint64_t kNone = std::numeric_limits<uint64_t>::max();

}  // namespace

uint64_t defaultMemoryLimit() { return machineMemory() / 5 * 4; }

bool parseSize(const std::string& text, uint64_t& bytes) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
    uint64_t v = 0;
    size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
        if (v > (kNone - digit) / 10) return false;
        v = v * 10 + digit;
    }
    int shift = 0;
    if (i + 1 == text.size()) {
        switch (text[i]) {
            case 'K': case 'k': shift = 10; break;
            case 'M': case 'm': shift = 20; break;
            case 'G': case 'g': shift = 30; break;
            default: return false;
        }
    } else if (i != text.size()) {
        return false;
    }
    if (shift && v > (kNone >> shift)) return false;
    bytes = v << shift;
    return true;
}

}  // namespace quellpack::driver
