#include "driver/cli.hpp"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <unistd.h>

#include "driver/byte_stream.hpp"
#include "driver/cleanup.hpp"
#include "driver/file.hpp"
#include "driver/format/constants.hpp"
#include "driver/format/format.hpp"
#include "driver/list.hpp"
#include "driver/memory_limit.hpp"
#include "driver/output.hpp"
#include "driver/platform.hpp"
#include "driver/progress.hpp"
#include "driver/terminal.hpp"
#include "quellpack/quellpack.hpp"

namespace quellpack::driver {

namespace {

constexpr int kFailure = 255;
using format::kMaxModelLength;
constexpr const char* kUsage = "quellpack {c|d} infile outfile";
constexpr const char* kModeMismatch = "Run time error, rule 'Start' in module 'quellpack' does not match\n";

constexpr const char* kTerminalRefused = "compressed data not written to a terminal (use -f to force)";

constexpr const char* kHelp =
    "usage: quellpack [options] {c|d} infile outfile\n"
    "       quellpack {-l|--list} file...\n"
    "\n"
    "Compresses (c) or restores (d) one file with an order-4 context model.\n"
    "An infile of - reads standard input, an outfile of - writes standard output\n"
    "(messages then go to standard error). A file is replaced only once the\n"
    "whole result is written; a failed or interrupted run leaves it as it was.\n"
    "\n"
    "options (before the mode):\n"
    "  -h, --help      show this help and exit\n"
    "  -l, --list      instead of a mode: show for each compressed file its size,\n"
    "                  its stored count, its text flag and its trailer, if any\n"
    "      --version   show the version and exit\n"
    "  -p, --progress  show progress on standard error\n"
    "      --verify    after compressing, decode the result and compare it\n"
    "                  with the input before it replaces the outfile\n"
    "  -f, --force     write compressed data to a terminal all the same\n"
    "  -m SIZE, --memory-limit=SIZE\n"
    "                  the most memory the model may take; SIZE in bytes or\n"
    "                  with K, M or G (powers of 1024); 0 for no limit.\n"
    "                  Default: 80% of the machine's memory or of the\n"
    "                  control group's limit, whichever is lower\n"
    "      --check     end the compressed file with a trailer holding the length\n"
    "                  and a hash of the input, which d then checks\n"
    "  --              end of options\n"
    "\n"
    "exit status: 0 on success, 255 after any failure message\n";

struct Settings {
    bool progress = false;
    bool verify = false;
    bool force = false;
    bool memoryLimitSet = false;
    uint64_t memoryLimit = 0;
    bool check = false;
    const format::Hooks* hooks = nullptr;
};

// Writes a message to the message stream and takes the failure exit.
int fail(int messageFd, const std::string& message) {
    (void)!::write(messageFd, message.data(), message.size());
    waitForKeyIfTerminal();
    return kFailure;
}

// Messages go to standard error when standard output carries the data or
// is the input or the output itself (>>, /dev/stdout): a message must never
// land in a file of the user's.
int messageDescriptor(const std::string& outName, const FileInfo& input) {
    if (outName == "-") return STDERR_FILENO;
    const FileInfo out = infoOfDescriptor(STDOUT_FILENO);
    return sameFile(out, input) || sameFile(out, destinationInfo(outName)) ? STDERR_FILENO : STDOUT_FILENO;
}

// Decodes the written result and compares it with the input of `size`
// bytes at `original`, as --verify asks.
void verifyWritten(int written, int original, uint64_t size, const Options& options, const format::Hooks& hooks) {
    uint64_t coded = 0, offset = 0;
    bool same = ::lseek(written, 0, SEEK_SET) == 0;
    std::vector<uint8_t> got, expected;
    try {
        decompress(countingReader(written, coded), [&](const uint8_t* data, size_t n) {
            got.assign(data, data + n);
            if (hooks.verifyTamper) hooks.verifyTamper(got);
            expected.resize(got.size());
            same = same && readExactlyAt(original, expected.data(), got.size(), offset) && got == expected;
            offset += got.size();
        }, options);
    } catch (const Error& e) {
        if (e.kind() == ErrorKind::OutOfMemory) throw;
        same = false;
    }
    if (!same || offset != size) throw Error(ErrorKind::VerifyFailed);
}

// Codes the open input into the prepared output; throws Error on failure.
// Returns the byte counts for the summary.
void code(bool compressing, FileHandle& in, Output& out, const Settings& settings, ProgressDisplay& display,
          uint64_t& bytesIn, uint64_t& bytesOut) {
    Options options;
    options.memoryLimit = settings.memoryLimit;
    options.check = settings.check;
    if (settings.progress)
        options.progress = [&display](uint64_t done, uint64_t total) { progressUpdate(display, done, total); };
    const Writer write = [&](const uint8_t* data, size_t n) {
        bytesOut += n;
        if (!writeAll(out.file.fd, data, n)) throw Error(ErrorKind::WriteFailed);
    };
    if (!compressing) {
        progressPhase(display, "restoring");
        decompress(countingReader(in.fd, bytesIn), write, options);
        return;
    }
    // Pipes, devices, and files that claim no size (those under /proc) are
    // kept aside first: the text test sees the whole input before coding.
    FileHandle spool;
    int source = in.fd;
    bytesIn = in.info.size;
    if (!in.info.regular || bytesIn == 0) {
        spool = spoolInput(in.fd, kMaxModelLength, bytesIn);
        source = spool.fd;
    }
    // A written file is checked by reading it back; a stream is checked by
    // the library, which holds the compressed file until it is.
    const int written = readBackDescriptor(out);
    const bool verifyWrittenFile = settings.verify && written >= 0;
    options.verify = settings.verify && !verifyWrittenFile;
    progressPhase(display, "compressing");
    format::compressWith(fileSource(source, bytesIn), write, options, *settings.hooks);
    if (verifyWrittenFile) {
        progressPhase(display, "verifying");
        verifyWritten(written, source, bytesIn, options, *settings.hooks);
    }
}

int runFiles(const std::string& mode, const std::string& inName, const std::string& outName,
             const Settings& settings) {
    FileHandle in(inName == "-" ? STDIN_FILENO : openForReading(inName));
    const int msg = messageDescriptor(outName, in.info);
    if (!in.open() || !in.info.known || in.info.directory) return fail(msg, "cannot open in file");
    if (sameFile(in.info, destinationInfo(outName))) return fail(msg, "in file and out file are the same");
    // A wrong mode is found before any output exists.
    const bool compressing = mode == "c";
    if (!compressing && mode != "d") return fail(msg, kModeMismatch);
    // Even text, whose capital marks could only make it longer.
    if (compressing && in.info.size > kMaxModelLength) return fail(msg, errorMessage(ErrorKind::TooLarge));

    // Until it is committed, the output's destructor removes what this run
    // wrote: every failure below is a plain return.
    Output out;
    if (!openOutput(outName, in.info, out)) return fail(msg, "cannot open out file");
    if (compressing && out.file.info.terminal && !settings.force) return fail(msg, kTerminalRefused);

    ProgressDisplay display;
    progressStart(display);
    // The temporary goes before the message, and before any key-press wait.
    const auto failed = [&](const char* message) {
        abandonOutput(out);
        progressClear(display);
        return fail(msg, message);
    };
    uint64_t bytesIn = 0, bytesOut = 0;
    try {
        code(compressing, in, out, settings, display, bytesIn, bytesOut);
        if (!commitOutput(out, in.info)) throw Error(ErrorKind::WriteFailed);
    } catch (const Error& e) {
        return failed(e.what());
    } catch (const std::bad_alloc&) {
        return failed(errorMessage(ErrorKind::OutOfMemory));
    }
    if (settings.progress) progressSummary(display, bytesIn, bytesOut, compressing);
    return 0;
}

// Takes the value of -m / --memory-limit; the first that is no size is
// kept for the message.
void noteMemoryLimit(const std::string& value, Settings& settings, bool& invalid, std::string& first) {
    settings.memoryLimitSet = true;
    if (parseSize(value, settings.memoryLimit) || invalid) return;
    invalid = true;
    first = value;
}

}  // namespace

int runCli(int argc, char** argv, const format::Hooks& hooks) {
    prepareStandardStreams();
    installCleanupHandlers();
    const std::vector<std::string> args = programArguments(argc, argv);
    const size_t count = args.size();
    std::vector<std::string> entries;
    Settings settings;
    settings.hooks = &hooks;
    std::string unknown, badLimit;
    bool help = false, version = false, limitInvalid = false, list = false;
    size_t i = 1;
    for (; i < count; ++i) {
        const char* arg = args[i].c_str();
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
        } else if (std::strcmp(arg, "-f") == 0 || std::strcmp(arg, "--force") == 0) {
            settings.force = true;
        } else if (std::strcmp(arg, "-m") == 0 && i + 1 < count) {
            noteMemoryLimit(args[++i], settings, limitInvalid, badLimit);
        } else if (std::strncmp(arg, "--memory-limit=", 15) == 0) {
            noteMemoryLimit(arg + 15, settings, limitInvalid, badLimit);
        } else if (std::strcmp(arg, "--check") == 0) {
            settings.check = true;
        } else if (std::strcmp(arg, "-l") == 0 || std::strcmp(arg, "--list") == 0) {
            list = true;
        } else if (unknown.empty()) {
            unknown = arg;
        }
    }
    for (; i < count; ++i) entries.push_back(args[i]);
    const int msg = entries.size() >= 3 ? messageDescriptor(entries[2], FileInfo{}) : STDOUT_FILENO;
    if (!unknown.empty()) return fail(msg, "unknown option " + unknown);
    if (limitInvalid) return fail(msg, "invalid memory limit " + badLimit);
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
    if (!settings.memoryLimitSet) settings.memoryLimit = defaultMemoryLimit();
    try {
        return runFiles(entries[0], entries[1], entries[2], settings);
    } catch (const std::bad_alloc&) {
        return fail(msg, errorMessage(ErrorKind::OutOfMemory));
    }
}

}  // namespace quellpack::driver
