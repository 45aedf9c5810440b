// Removal of the unfinished output when the run is ended by a signal.
#pragma once

#include <string>

struct termios;

namespace quellpack::driver {

// Makes SIGINT, SIGTERM and SIGHUP remove the file registered below and then
// end the program by the same signal, and makes an over-sized write
// (SIGXFSZ) an ordinary write error.
void installCleanupHandlers();

// Holds back the signals above while a file is being created and
// registered, or renamed and forgotten, so that neither is half done.
struct SignalBlock {
    SignalBlock();
    ~SignalBlock();
    SignalBlock(const SignalBlock&) = delete;
    SignalBlock& operator=(const SignalBlock&) = delete;
};

// The settings of the terminal on standard input that a signal puts back
// before it ends the program, while the key-press wait has changed them;
// null forgets them.
void restoreTerminalOnSignal(const struct termios* saved);

// The file a signal removes; one at a time. An empty name forgets it.
void registerForCleanup(const std::string& path);

}  // namespace quellpack::driver
