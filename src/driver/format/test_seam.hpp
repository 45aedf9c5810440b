// Hooks that let tests force failures no real input can produce.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace quellpack::testing {

// When set, compress with verification passes the decoded bytes through
// this function before comparing them with the input.
extern std::function<void(std::vector<uint8_t>&)> verifyTamper;

// The longest model input (after the capital-letter transform) that
// compress accepts: the largest count the 32-bit header holds. Tests lower
// it to reach the limit with small inputs.
extern size_t maxModelLength;

}  // namespace quellpack::testing
