// The record constants that the escape estimator reads too.
#pragma once

#include <cstdint>

namespace quellpack::stats {

constexpr int32_t kDetEscape = 6;  // escape frequency of every StDet

}  // namespace quellpack::stats
