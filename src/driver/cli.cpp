#include "driver/cli.hpp"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "driver/byte_stream.hpp"
#include "driver/list.hpp"
#include "driver/progress.hpp"
#include "driver/terminal.hpp"
#include "quellpack/quellpack.hpp"

namespace quellpack::driver {

namespace {

constexpr int kFailure = 255;
// The header holds the model's byte count as a signed 32-bit number.
constexpr uint64_t kMaxModelLength = std::numeric_limits<int32_t>::max();
constexpr const char* kUsage = "quellpack {c|d} infile outfile";
constexpr const char* kModeMismatch = "Run time error, rule 'Start' in module 'quellpack' does not match\n";

constexpr const char* kHelp =
    "usage: quellpack [options] {c|d} infile outfile\n"
    "       quellpack {-l|--list} file...\n"
    "\n"
    "Compresses (c) or restores (d) one file with an order-4 context model.\n"
    "An infile of - reads standard input, an outfile of - writes standard output\n"
    "(messages then go to standard error).\n"
    "\n"
    "options (before the mode):\n"
    "  -h, --help      show this help and exit\n"
    "  -l, --list      instead of a mode: show for each compressed file its size,\n"
    "                  its stored count, its text flag and its trailer, if any\n"
    "      --version   show the version and exit\n"
    "  -p, --progress  show progress on standard error\n"
    "      --verify    after compressing, decode the result and compare it\n"
    "                  with the input before writing it\n"
    "      --check     end the compressed file with a trailer holding the length\n"
    "                  and a hash of the input, which d then checks\n"
    "  --              end of options\n"
    "\n"
    "exit status: 0 on success, 255 after any failure message\n";

struct Settings {
    bool progress = false;
    bool verify = false;
    bool check = false;
};

// Writes a message to the message stream and takes the failure exit.
int fail(int messageFd, const std::string& message) {
    (void)!::write(messageFd, message.data(), message.size());
    waitForKeyIfTerminal();
    return kFailure;
}

// Releases the output after a failure: a file this run created or began to
// write is removed; a file it has not touched yet is left as it was.
void abandonOutput(File& out, bool written) {
    if (out.created || written) {
        removeOutput(out);
    } else {
        closeFile(out);
    }
}

// Puts a stand-in on every closed standard stream, so that no file opened
// later is handed descriptor 0, 1 or 2 (an output file would then receive
// the messages). The stand-ins fail when used: reading the standard input
// or writing the standard output still reports an error.
void occupyClosedStdStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        if (::open("/dev/null", (fd == 0 ? O_WRONLY : O_RDONLY)) < 0) return;
    }
}

int runFiles(const std::string& mode, const std::string& inName, const std::string& outName,
             const Settings& settings) {
    const int msg = outName == "-" ? STDERR_FILENO : STDOUT_FILENO;
    File in;
    const OpenResult opened = openForReading(inName, in);
    if (opened == OpenResult::Failed) return fail(msg, "cannot open in file");
    if (opened == OpenResult::IsDirectory) {
        closeFile(in);
        return fail(msg, "cannot read in file");
    }
    File out;
    if (!openForWriting(outName, out)) {
        closeFile(in);
        return fail(msg, "cannot open out file");
    }
    if (!out.created && sameFile(in, out)) {
        closeFile(in);
        closeFile(out);
        return fail(msg, "in file and out file are the same");
    }
    const bool compressing = mode == "c";
    if (!compressing && mode != "d") {
        closeFile(in);
        truncateOutput(out);
        closeFile(out);
        return fail(msg, kModeMismatch);
    }

    // Even text, whose capital marks could only make it longer.
    if (compressing && longerThan(in, kMaxModelLength)) {
        closeFile(in);
        abandonOutput(out, false);
        return fail(msg, errorMessage(ErrorKind::TooLarge));
    }

    ProgressDisplay display;
    progressStart(display);
    Options options;
    options.verify = settings.verify;
    options.check = settings.check;
    if (settings.progress)
        options.progress = [&display](uint64_t done, uint64_t total) { progressUpdate(display, done, total); };

    // Into a file this run created, or onto standard output, the result is
    // written as it is produced: a failure then loses nothing the user had.
    // An existing file is only replaced once the whole result is known.
    const bool streaming = out.created || out.isStdStream;
    std::vector<uint8_t> result;
    uint64_t bytesIn = 0, bytesOut = 0;
    bool written = false;
    const Writer write = [&](const uint8_t* data, size_t n) {
        bytesOut += n;
        if (!streaming) {
            result.insert(result.end(), data, data + n);
            return;
        }
        if (!written && !truncateOutput(out)) throw Error(ErrorKind::WriteFailed);
        written = true;
        if (!writeAll(out, data, n)) throw Error(ErrorKind::WriteFailed);
    };
    try {
        if (!compressing) {
            decompress(countingReader(in, bytesIn), write, options);
        } else if (isRegularFile(in) && fileSize(in) > 0) {
            // Some files (those under /proc) claim a size of 0 but have
            // content: only a file with a size is read by its size.
            bytesIn = fileSize(in);
            compress(fileSource(in, bytesIn), write, options);
        } else {
            std::vector<uint8_t> data;
            if (!readAll(in, data)) throw Error(ErrorKind::ReadFailed);
            bytesIn = data.size();
            const std::vector<uint8_t> file = compress(std::move(data), options);
            write(file.data(), file.size());
        }
        closeFile(in);
        if (!streaming && (!truncateOutput(out) || !writeAll(out, result.data(), result.size())))
            throw Error(ErrorKind::WriteFailed);
        if (!closeFile(out)) throw Error(ErrorKind::WriteFailed);
    } catch (const Error& e) {
        progressClear(display);
        closeFile(in);
        abandonOutput(out, written || e.kind() == ErrorKind::WriteFailed);
        return fail(msg, e.what());
    }
    if (settings.progress) progressSummary(display, bytesIn, bytesOut, compressing);
    return 0;
}

}  // namespace

int runCli(int argc, char** argv) {
    // A closed pipe on the output is a write error like any other.
    std::signal(SIGPIPE, SIG_IGN);
    occupyClosedStdStreams();
    std::vector<std::string> entries;
    Settings settings;
    std::string unknown;
    bool help = false, version = false, list = false;
    int i = 1;
    for (; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] != '-' || arg[1] == '\0') break;
        if (std::strcmp(arg, "--") == 0) {
            ++i;
            break;
        }
        if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            help = true;
        } else if (std::strcmp(arg, "--version") == 0) {
            version = true;
        } else if (std::strcmp(arg, "-p") == 0 || std::strcmp(arg, "--progress") == 0) {
            settings.progress = true;
        } else if (std::strcmp(arg, "--verify") == 0) {
            settings.verify = true;
        } else if (std::strcmp(arg, "--check") == 0) {
            settings.check = true;
        } else if (std::strcmp(arg, "-l") == 0 || std::strcmp(arg, "--list") == 0) {
            list = true;
        } else if (unknown.empty()) {
            unknown = arg;
        }
    }
    for (; i < argc; ++i) entries.emplace_back(argv[i]);
    const int msg = entries.size() >= 3 && entries[2] == "-" ? STDERR_FILENO : STDOUT_FILENO;
    if (!unknown.empty()) return fail(msg, "unknown option " + unknown);
    if (help) {
        std::fputs(kHelp, stdout);
        return std::fflush(stdout) == 0 ? 0 : kFailure;
    }
    if (version) {
        std::printf("quellpack %s\n", kVersion);
        return std::fflush(stdout) == 0 ? 0 : kFailure;
    }
    if (list) return listFiles(entries);
    // The program name and three entries: mode, infile, outfile.
    if (entries.size() < 3) return fail(STDOUT_FILENO, kUsage);
    try {
        return runFiles(entries[0], entries[1], entries[2], settings);
    } catch (const std::bad_alloc&) {
        return fail(msg, errorMessage(ErrorKind::OutOfMemory));
    }
}

}  // namespace quellpack::driver
