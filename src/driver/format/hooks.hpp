// Ways for tests to force failures that no real input can produce. The
// public calls pass the defaults, which change nothing; nothing here is
// global or mutable.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "driver/format/constants.hpp"

namespace quellpack::format {

struct Hooks {
    // When set, a verification passes the decoded bytes through this
    // function before comparing them with the input.
    std::function<void(std::vector<uint8_t>&)> verifyTamper;
    // The longest model input (after the capital-letter transform) that
    // compress accepts; tests lower it to reach the limit with small inputs.
    uint64_t maxModelLength = kMaxModelLength;
};

}  // namespace quellpack::format
