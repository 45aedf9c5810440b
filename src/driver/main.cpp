// quellpack: compresses or restores one file.
#include "driver/cli.hpp"

int main(int argc, char** argv) { return quellpack::driver::runCli(argc, argv); }
