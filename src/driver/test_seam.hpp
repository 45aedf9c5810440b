// Hooks that let tests force failures no real input can produce.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace quellpack::testing {

// When set, compress with verification passes the decoded bytes through
// this function before comparing them with the input.
extern std::function<void(std::vector<uint8_t>&)> verifyTamper;

}  // namespace quellpack::testing
