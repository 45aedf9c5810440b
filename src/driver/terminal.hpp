// The failure exit's key-press wait, for a program started from a terminal.
#pragma once

namespace quellpack::driver {

// When standard input is a terminal: shows "press any key to exit" as the
// terminal's title, reads one key with echo and line input off, and
// restores the terminal. Does nothing otherwise, so scripts never wait.
void waitForKeyIfTerminal();

}  // namespace quellpack::driver
