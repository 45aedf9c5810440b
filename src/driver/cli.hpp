// The command line: quellpack [options] {c|d} infile outfile.
#pragma once

#include "driver/format/hooks.hpp"

namespace quellpack::driver {

// Runs the program on its argument vector; returns the exit status
// (0, or 255 after any failure message). Only tests pass hooks.
int runCli(int argc, char** argv, const format::Hooks& hooks = {});

}  // namespace quellpack::driver
