// The plain forms of the masked scans, which CPUs without byte shuffles and
// single entries use; declared apart so that only scan.cpp and the tests
// that compare both forms see them.
#pragma once

#include <cstdint>

namespace quellpack::stats {

void maskedSumsPlain(const unsigned char* symbols, const unsigned char* counts, int32_t n, const uint8_t* excluded,
                     int32_t k, int32_t& below, int32_t& all);
int32_t maskedCopyPlain(const unsigned char* symbols, const unsigned char* counts, int32_t n, const uint8_t* excluded,
                        unsigned char* out);

}  // namespace quellpack::stats
