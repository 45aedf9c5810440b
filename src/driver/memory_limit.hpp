// The program's own memory limit for the model.
#pragma once

#include <cstdint>
#include <string>

namespace quellpack::driver {

// 80 % of the smaller of the machine's memory (MemTotal) and the memory
// limit of the process's control group, where one is set; 0 when neither
// can be read.
uint64_t defaultMemoryLimit();

// Reads a size: digits with an optional K, M or G (powers of 1024). False
// for anything else or a size that does not fit in 64 bits.
bool parseSize(const std::string& text, uint64_t& bytes);

}  // namespace quellpack::driver
