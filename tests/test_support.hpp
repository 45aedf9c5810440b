// Shared helpers of the test files: files, temporary directories and runs
// of the built quellpack binary.
#pragma once

#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#else
#include <random>
#endif

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace qptest {

namespace fs = std::filesystem;

inline std::vector<uint8_t> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// `unit` repeated until there are at least n bytes. Throws for an empty
// unit (a shared file that is missing), which would repeat forever.
inline std::vector<uint8_t> repeatedTo(const std::vector<uint8_t>& unit, size_t n) {
    if (unit.empty()) throw std::runtime_error("nothing to repeat: a shared file is missing or empty");
    std::vector<uint8_t> out;
    while (out.size() < n) out.insert(out.end(), unit.begin(), unit.end());
    return out;
}

inline void writeFile(const fs::path& path, const std::vector<uint8_t>& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline std::vector<uint8_t> bytesOf(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// A fresh directory, removed with everything in it at the end of the scope.
struct TempDir {
    fs::path path;
    TempDir() {
#ifndef _WIN32
        std::string tmpl = (fs::temp_directory_path() / "quellpack-test-XXXXXX").string();
        path = ::mkdtemp(tmpl.data());
#else
        std::random_device seed;
        do path = fs::temp_directory_path() / ("quellpack-test-" + std::to_string(seed()));
        while (!fs::create_directory(path));
#endif
    }
    ~TempDir() {
        std::error_code ec;
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path, ec);
    }
    fs::path operator/(const std::string& name) const { return path / name; }
};

// Running programs is for the command-line tests, which need POSIX.
#ifndef _WIN32
struct RunResult {
    int status = -1;  // exit status, or -1 when killed by a signal
    std::string out;  // standard output
    std::string err;  // standard error
};

// Runs `program` with the given arguments (argv[0] excluded), feeding
// `input` on standard input, or the file `stdinPath` when that is given.
// `childSetup` runs in the child just before the program starts (to change
// its streams or limits).
// In a child: becomes `program` on `args`; exits 127 when it cannot start.
[[noreturn]] inline void execProgram(std::string program, std::vector<std::string> args) {
    std::vector<char*> argv{program.data()};
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
}

inline RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                            const std::string& input = "", const std::string& stdinPath = "",
                            const std::function<void()>& childSetup = {}) {
    TempDir io;
    const fs::path inPath = stdinPath.empty() ? io / "stdin" : fs::path(stdinPath);
    if (stdinPath.empty()) writeFile(inPath, bytesOf(input));
    const fs::path outPath = io / "stdout", errPath = io / "stderr";
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open(inPath.c_str(), O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (childSetup) childSetup();
        execProgram(program, args);
    }
    int wstatus = 0;
    ::waitpid(pid, &wstatus, 0);
    RunResult r;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    const std::vector<uint8_t> o = readFile(outPath), e = readFile(errPath);
    r.out.assign(o.begin(), o.end());
    r.err.assign(e.begin(), e.end());
    return r;
}

// The program the command-line tests run: the built quellpack, or what
// QUELLPACK_BINARY_UNDER_TEST names (a wrapper that runs another build).
inline std::string binaryUnderTest() {
    const char* other = std::getenv("QUELLPACK_BINARY_UNDER_TEST");
    return other && *other ? other : QUELLPACK_BINARY;
}

// Runs the program under test as runProgram does.
inline RunResult runQuellpack(const std::vector<std::string>& args, const std::string& input = "",
                              const std::string& stdinPath = "", const std::function<void()>& childSetup = {}) {
    return runProgram(binaryUnderTest(), args, input, stdinPath, childSetup);
}

#endif

// The shared benchmark corpus and conformance material.
inline fs::path sharedDir() { return fs::path(QUELLPACK_SHARED_DIR); }

}  // namespace qptest
