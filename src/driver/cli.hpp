// The command line: quellpack [options] {c|d} infile outfile.
#pragma once

namespace quellpack::driver {

// Runs the program on its argument vector; returns the exit status
// (0, or 255 after any failure message).
int runCli(int argc, char** argv);

}  // namespace quellpack::driver
