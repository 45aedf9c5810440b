// quellpack -l FILE...: a table of what compressed files hold, read from
// their first and last bytes without decoding.
#pragma once

#include <string>
#include <vector>

namespace quellpack::driver {

// Lists every named file ("-" is standard input) on standard output; a file
// that cannot be listed gets a message on standard error and the others are
// still listed. Returns the exit status: 0, or 255 after any message.
int listFiles(const std::vector<std::string>& names);

}  // namespace quellpack::driver
