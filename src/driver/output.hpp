// The output of a run: where the result is written while it is made, and
// how it becomes the destination once the whole of it is known.
#pragma once

#include <string>

#include "driver/file.hpp"

namespace quellpack::driver {

enum class OutputWay {
    Direct,   // a stream or device (standard output, a FIFO, /dev/null): written as made
    Replace,  // a temporary beside the destination, renamed over it at the end
    InPlace,  // a file with further names: staged aside, copied into it at the end
};

struct Output {
    OutputWay way = OutputWay::Direct;
    std::string destination;  // Replace: the name renamed over, symbolic links followed
    std::string tempPath;     // Replace: the temporary
    FileHandle file;          // what the result is written to
    FileHandle target;        // InPlace: the destination, not yet emptied
    bool committed = false;

    Output() = default;
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    // An output never committed is abandoned: the temporary goes.
    ~Output();
};

// What the output named `name` ("-": standard output) is, without opening
// anything: a destination's own file, which a run must not write to when
// it is the input.
FileInfo destinationInfo(const std::string& name);

// Prepares the output `name`. A temporary takes the permission bits of
// `input` when that is a regular file, else 0666 less the umask. False when
// there is no way to write it ("cannot open out file").
bool openOutput(const std::string& name, const FileInfo& input, Output& out);

// The descriptor the written result can be read back from, or -1.
int readBackDescriptor(const Output& out);

// Flushes the result and makes it the destination's: the temporary takes
// the input's times and is renamed over the destination, or the staged
// result is copied in. False on any failure, the destination then untouched
// (except an in-place copy that failed part way).
bool commitOutput(Output& out, const FileInfo& input);

// Removes what this run wrote beside the destination; idempotent.
void abandonOutput(Output& out);

}  // namespace quellpack::driver
