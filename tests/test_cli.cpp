// The command line, run as the built program: messages, exit status, files
// left behind, and the key-press wait after a failure.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "test_support.hpp"

namespace {

namespace fs = std::filesystem;
using qptest::runQuellpack;

constexpr const char* kUsage = "quellpack {c|d} infile outfile";
constexpr const char* kModeMismatch = "Run time error, rule 'Start' in module 'quellpack' does not match\n";
constexpr int kFailure = 255;

// Runs the test body inside a fresh directory, so that a file the program
// should not create would show up there.
struct InTempDir {
    qptest::TempDir dir;
    fs::path saved = fs::current_path();
    InTempDir() { fs::current_path(dir.path); }
    ~InTempDir() { fs::current_path(saved); }
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir.path)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

const std::vector<uint8_t> kText = qptest::bytesOf("Some Text, Some More Text, and some more text.\n");

void expectFailure(const qptest::RunResult& r, const std::string& message) {
    EXPECT_EQ(r.out, message);
    EXPECT_EQ(r.status, kFailure);
}

// Waits up to `seconds` for the child to end; kills it when it does not.
// Returns its wait status, or -1 after a kill.
int waitWithTimeout(pid_t pid, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}

// In a forked child: becomes the program with the given arguments.
[[noreturn]] void execQuellpack(const std::vector<std::string>& args) {
    qptest::execProgram(qptest::binaryUnderTest(), args);
}

// Starts the program; in the child, `setup` first arranges its streams.
template <class Setup>
pid_t spawn(const std::vector<std::string>& args, Setup setup) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        setup();
        execQuellpack(args);
    }
    return pid;
}

}  // namespace

TEST(CommandLine, TooFewEntriesPrintUsageAndCreateNothing) {
    InTempDir tmp;
    qptest::writeFile("in", kText);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"c"}, {"c", "in"}, {"d", "in"}, {"c", "out"}}) {
        expectFailure(runQuellpack(args), kUsage);
        EXPECT_EQ(tmp.files(), std::vector<std::string>{"in"});
    }
}

TEST(CommandLine, MissingInputCreatesNoOutput) {
    InTempDir tmp;
    expectFailure(runQuellpack({"c", "missing", "out"}), "cannot open in file");
    expectFailure(runQuellpack({"d", "missing", "out"}), "cannot open in file");
    EXPECT_TRUE(tmp.files().empty());
}

TEST(CommandLine, UnwritableOutput) {
    InTempDir tmp;
    qptest::writeFile("in", kText);
    expectFailure(runQuellpack({"c", "in", "no-such-dir/out"}), "cannot open out file");
    EXPECT_EQ(tmp.files(), std::vector<std::string>{"in"});
}

// The mode is compared once the input is open and before any output is:
// a typo creates no file and leaves an existing one exactly as it was.
TEST(CommandLine, WrongModeCreatesAndChangesNoOutput) {
    InTempDir tmp;
    qptest::writeFile("in", kText);
    qptest::writeFile("existing", qptest::bytesOf("the user's file"));
    for (const std::string mode : {"C", "D", "x", "cc", ""}) {
        SCOPED_TRACE("mode '" + mode + "'");
        expectFailure(runQuellpack({mode, "in", "out"}), kModeMismatch);
        EXPECT_FALSE(fs::exists("out"));
        expectFailure(runQuellpack({mode, "in", "existing"}), kModeMismatch);
        EXPECT_EQ(qptest::readFile("existing"), qptest::bytesOf("the user's file"));
    }
    // The input is still opened first.
    expectFailure(runQuellpack({"C", "missing", "existing"}), "cannot open in file");
    EXPECT_EQ(tmp.files(), (std::vector<std::string>{"existing", "in"}));
}

TEST(CommandLine, CompletedRunsPrintNothingAndRoundTrip) {
    InTempDir tmp;
    qptest::writeFile("in", kText);
    qptest::RunResult r = runQuellpack({"c", "in", "packed", "fifth entry", "sixth"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    r = runQuellpack({"d", "packed", "back", "ignored"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(qptest::readFile("back"), kText);
    EXPECT_EQ(tmp.files(), (std::vector<std::string>{"back", "in", "packed"}));
    // Empty input: eight zero bytes, and back to nothing.
    qptest::writeFile("empty", {});
    EXPECT_EQ(runQuellpack({"c", "empty", "empty.qp"}).status, 0);
    EXPECT_EQ(qptest::readFile("empty.qp"), std::vector<uint8_t>(8, 0));
    EXPECT_EQ(runQuellpack({"d", "empty.qp", "empty.out"}).status, 0);
    EXPECT_TRUE(fs::exists("empty.out"));
    EXPECT_EQ(fs::file_size("empty.out"), 0u);
    // Names with blanks and beyond ASCII (on Windows: quoted on the command
    // line, and outside the ANSI code page).
    qptest::writeFile("my text", kText);
    EXPECT_EQ(runQuellpack({"c", "my text", "\xce\xb1\xce\xb2 \xe2\x9c\x93.qp"}).status, 0);
    EXPECT_EQ(runQuellpack({"d", "\xce\xb1\xce\xb2 \xe2\x9c\x93.qp", "back again"}).status, 0);
    EXPECT_EQ(qptest::readFile("back again"), kText);
}

// With standard input a pipe that never ends, a key-press wait would hang.
TEST(KeyPressWait, NoWaitWithoutATerminal) {
    InTempDir tmp;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = spawn({"c"}, [&] {
        ::dup2(fds[0], 0);
        ::close(fds[1]);
        const int devnull = ::open("/dev/null", O_WRONLY);
        ::dup2(devnull, 1);
    });
    ::close(fds[0]);
    const int status = waitWithTimeout(pid, 30);
    ::close(fds[1]);
    ASSERT_NE(status, -1) << "the failure exit waited for input that is not a terminal";
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), kFailure);

    // A file on standard input is not read either.
    qptest::writeFile("keys", qptest::bytesOf("xyz"));
    const qptest::RunResult r = runQuellpack({"c"}, "", (tmp.dir / "keys").string());
    expectFailure(r, kUsage);
}

// The program on a pseudo-terminal, its standard output in `outPath`, run
// until it waits for a key.
struct OnTerminal {
    int master = -1;
    pid_t pid = -1;
    std::string screen;

    // Reads what the program writes to the terminal until `done` holds.
    template <class Done>
    bool readUntil(Done done, int seconds) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) {
                char buf[256];
                const ssize_t n = ::read(master, buf, sizeof buf);
                if (n <= 0) break;
                screen.append(buf, static_cast<size_t>(n));
            }
        }
        return done();
    }

    bool rawMode() const {
        termios t;
        return ::tcgetattr(master, &t) == 0 && !(t.c_lflag & ICANON) && !(t.c_lflag & ECHO);
    }

    bool restored() const {
        termios t;
        return ::tcgetattr(master, &t) == 0 && (t.c_lflag & ICANON) && (t.c_lflag & ECHO);
    }

    // Starts `quellpack c` and waits for the title and the switch to raw mode.
    void startWaiting(const std::string& outPath) {
        pid = ::forkpty(&master, nullptr, nullptr, nullptr);
        ASSERT_GE(pid, 0) << "no pseudo-terminal available";
        if (pid == 0) {
            const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, 1);
            execQuellpack({"c"});
        }
        const std::string title = "\033]0;press any key to exit\007";
        EXPECT_TRUE(readUntil([&] { return screen.find(title) != std::string::npos; }, 20))
            << "no title on the terminal";
        // The program now switches off echo and line input before it reads.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!rawMode() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_TRUE(rawMode()) << "echo and line input stay on";
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        int status = 0;
        EXPECT_EQ(::waitpid(pid, &status, WNOHANG), 0) << "the program did not wait for a key";
    }
};

// From a terminal: the title goes to the terminal, not to the redirected
// standard output; one key, unechoed, ends the program with 255.
TEST(KeyPressWait, TerminalShowsTitleAndTakesOneKey) {
    InTempDir tmp;
    const std::string outPath = (tmp.dir / "stdout").string();
    OnTerminal term;
    ASSERT_NO_FATAL_FAILURE(term.startWaiting(outPath));

    const size_t before = term.screen.size();
    ASSERT_EQ(::write(term.master, "k", 1), 1);
    const int status = waitWithTimeout(term.pid, 20);
    term.readUntil([] { return false; }, 2);  // whatever came after the key
    ASSERT_NE(status, -1) << "one key press did not end the program";
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), kFailure);
    EXPECT_EQ(term.screen.find('k', before), std::string::npos) << "the key was echoed";
    EXPECT_TRUE(term.restored()) << "the terminal was not restored";
    ::close(term.master);

    const std::vector<uint8_t> out = qptest::readFile(outPath);
    EXPECT_EQ(std::string(out.begin(), out.end()), kUsage);
}

// Ctrl+C, a hang-up or a kill while the program waits for a key ends it by
// that signal, and the terminal gets its echo and line input back.
TEST(KeyPressWait, SignalDuringTheWaitRestoresTheTerminal) {
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        InTempDir tmp;
        OnTerminal term;
        ASSERT_NO_FATAL_FAILURE(term.startWaiting((tmp.dir / "stdout").string()));
        ASSERT_EQ(::kill(term.pid, sig), 0);
        const int status = waitWithTimeout(term.pid, 20);
        ASSERT_NE(status, -1) << "signal " << sig << " did not end the wait";
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "signal " << sig;
        EXPECT_TRUE(term.restored()) << "signal " << sig << " left the terminal without echo";
        ::close(term.master);
    }
}
