// The program's own rule for splitting a command line into arguments.
#pragma once

#include <string>
#include <vector>

namespace quellpack::driver {

// Splits `line` into arguments: runs of space, tab, CR or LF separate them,
// and an argument that begins with a double quote extends to the next
// double quote (or the end of the line), the quotes not part of it. Quotes
// elsewhere are ordinary characters; nothing is escaped.
std::vector<std::string> splitCommandLine(const std::string& line);

}  // namespace quellpack::driver
