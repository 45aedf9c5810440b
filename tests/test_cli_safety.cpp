// The user's files under failure, run as the built program: signals mid-run,
// a full file system, permission bits and times, the memory limit, and what
// may reach a terminal.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "damage_samples.hpp"
#include "test_support.hpp"

namespace {

namespace fs = std::filesystem;
using qptest::bytesOf;
using qptest::readFile;
using qptest::RunResult;
using qptest::runQuellpack;
using qptest::TempDir;
using qptest::writeFile;

std::vector<uint8_t> randomBytes(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    std::vector<uint8_t> v(n);
    for (uint8_t& b : v) b = static_cast<uint8_t>(gen());
    return v;
}

// Names in `dir` other than those expected: temporaries left behind.
std::vector<std::string> hiddenFiles(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string()[0] == '.') names.push_back(e.path().filename().string());
    return names;
}

struct stat statOf(const fs::path& p) {
    struct stat st = {};
    ::stat(p.c_str(), &st);
    return st;
}

// In a child: becomes quellpack on `args`.
[[noreturn]] void execQuellpack(const std::vector<std::string>& args) {
    qptest::execProgram(QUELLPACK_BINARY, args);
}

// Starts quellpack on `args` with its standard streams on /dev/null.
pid_t startQuellpack(const std::vector<std::string>& args) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        for (int fd = 0; fd <= 2; ++fd) ::dup2(null, fd);
        execQuellpack(args);
    }
    return pid;
}

// A signal mid-run: the program ends by that signal, its temporary is gone
// and an existing destination is byte for byte what it was.
TEST(CliInterrupted, SignalMidRunLeavesNoTemporaryAndTheOldFile) {
    TempDir dir;
    writeFile(dir / "big", randomBytes(size_t{6} << 20, 1));
    const std::vector<uint8_t> old = bytesOf("the user's old output");
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        for (const bool existing : {false, true}) {
            SCOPED_TRACE(std::to_string(sig) + (existing ? " existing" : " new"));
            const fs::path out = dir / "big.qp";
            fs::remove(out);
            if (existing) writeFile(out, old);
            const pid_t pid = startQuellpack({"c", (dir / "big").string(), out.string()});
            // Well into coding: the temporary exists and holds data.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (std::chrono::steady_clock::now() < deadline) {
                const std::vector<std::string> temps = hiddenFiles(dir.path);
                if (!temps.empty() && fs::file_size(dir / temps[0]) > 0) break;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            ASSERT_EQ(hiddenFiles(dir.path).size(), 1u) << "no temporary beside the destination";
            ::kill(pid, sig);
            int status = 0;
            ::waitpid(pid, &status, 0);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "status " << status;
            EXPECT_TRUE(hiddenFiles(dir.path).empty());
            EXPECT_EQ(fs::exists(out), existing);
            if (existing) {
                EXPECT_EQ(readFile(out), old);
            }
        }
    }
}

// A full file system: "cannot write out file", the existing output intact
// (also through a symbolic link), no temporary left.
TEST(CliInterrupted, FullFileSystemKeepsTheExistingOutput) {
    TempDir dir;
    const fs::path mnt = dir / "small";
    fs::create_directory(mnt);
    if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
    struct Unmount {
        fs::path p;
        ~Unmount() { ::umount(p.c_str()); }
    } unmount{mnt};
    writeFile(dir / "r3m", randomBytes(size_t{3} << 20, 2));
    const std::vector<uint8_t> old = randomBytes(20000, 3);
    writeFile(mnt / "exist.qp", old);
    fs::create_symlink("exist.qp", mnt / "link.qp");
    for (const char* name : {"exist.qp", "link.qp", "new.qp"}) {
        SCOPED_TRACE(name);
        const RunResult r = runQuellpack({"c", (dir / "r3m").string(), (mnt / name).string()});
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, "cannot write out file");
        EXPECT_EQ(readFile(mnt / "exist.qp"), old);
        EXPECT_TRUE(fs::is_symlink(mnt / "link.qp"));
        EXPECT_FALSE(fs::exists(mnt / "new.qp"));
        EXPECT_TRUE(hiddenFiles(mnt).empty());
    }
}

// The output takes the input's permission bits and times, replacing an
// existing file or not; from standard input it gets 0666 less the umask.
TEST(CliPermissions, BitsAndTimesOfTheInputCarryOver) {
    TempDir dir;
    writeFile(dir / "secret", qptest::sampleText(3000));
    ::chmod((dir / "secret").c_str(), 0640);
    const struct timespec times[2] = {{1000000000, 123456789}, {1200000000, 987654321}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "secret").c_str(), times, 0), 0);
    writeFile(dir / "secret.qp", bytesOf("old"));
    ::chmod((dir / "secret.qp").c_str(), 0604);
    // Each file is examined before anything reads it (which sets its access time).
    const auto expectCopied = [&](const char* name) {
        SCOPED_TRACE(name);
        const struct stat st = statOf(dir / name);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        EXPECT_EQ(st.st_mtim.tv_sec, times[1].tv_sec);
        EXPECT_EQ(st.st_mtim.tv_nsec, times[1].tv_nsec);
        EXPECT_EQ(st.st_atim.tv_sec, times[0].tv_sec);
    };
    ASSERT_EQ(runQuellpack({"c", (dir / "secret").string(), (dir / "secret.qp").string()}).status, 0);
    expectCopied("secret.qp");
    ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "secret.qp").c_str(), times, 0), 0);
    ASSERT_EQ(runQuellpack({"d", (dir / "secret.qp").string(), (dir / "back").string()}).status, 0);
    expectCopied("back");
    EXPECT_EQ(readFile(dir / "back"), readFile(dir / "secret"));
    // A device as standard input has no bits to give.
    const RunResult r = runQuellpack({"c", "-", (dir / "piped.qp").string()}, "", "/dev/null", [] { ::umask(027); });
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(statOf(dir / "piped.qp").st_mode & 07777, 0640u);
}

// A file with further names is rewritten in place, so that every name sees
// the result; a symbolic link stays a link to the replaced file.
TEST(CliPermissions, HardLinksAndSymbolicLinksAsDestination) {
    TempDir dir;
    writeFile(dir / "in", qptest::sampleText(3000));
    writeFile(dir / "out", bytesOf("old"));
    fs::create_hard_link(dir / "out", dir / "other-name");
    fs::create_symlink("target", dir / "link");
    writeFile(dir / "target", bytesOf("old"));
    ASSERT_EQ(runQuellpack({"c", (dir / "in").string(), (dir / "out").string()}).status, 0);
    ASSERT_EQ(runQuellpack({"c", (dir / "in").string(), (dir / "link").string()}).status, 0);
    const std::vector<uint8_t> packed = readFile(dir / "out");
    EXPECT_GT(packed.size(), 8u);
    EXPECT_EQ(readFile(dir / "other-name"), packed);
    EXPECT_EQ(fs::hard_link_count(dir / "out"), 2u);
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
    EXPECT_EQ(readFile(dir / "target"), packed);
    EXPECT_TRUE(hiddenFiles(dir.path).empty());
}

// A model over the limit ends with "not enough memory" and leaves nothing.
TEST(CliMemoryLimit, SmallLimitFailsCleanly) {
    TempDir dir;
    writeFile(dir / "in", randomBytes(size_t{1} << 19, 4));
    writeFile(dir / "keep", bytesOf("keep me"));
    for (const std::vector<std::string>& opts : {std::vector<std::string>{"-m", "4M"}, {"--memory-limit=4096K"}}) {
        std::vector<std::string> args = opts;
        for (const char* a : {"c", "in", "out"}) args.push_back((std::string(a) == "c" ? "" : dir.path.string() + "/") + a);
        RunResult r = runQuellpack(args);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, "not enough memory");
        args.back() = (dir / "keep").string();
        r = runQuellpack(args);
        EXPECT_EQ(r.out, "not enough memory");
        EXPECT_EQ(readFile(dir / "keep"), bytesOf("keep me"));
        EXPECT_FALSE(fs::exists(dir / "out"));
        EXPECT_TRUE(hiddenFiles(dir.path).empty());
    }
    // Enough memory, or no limit at all, and the same file comes out.
    ASSERT_EQ(runQuellpack({"-m", "1G", "c", (dir / "in").string(), (dir / "a")}).status, 0);
    ASSERT_EQ(runQuellpack({"-m", "0", "c", (dir / "in").string(), (dir / "b")}).status, 0);
    EXPECT_EQ(readFile(dir / "a"), readFile(dir / "b"));
    for (const char* bad : {"lots", "12T", "-1", "", "99999999999999999999"}) {
        const RunResult r = runQuellpack({"-m", bad, "c", (dir / "in").string(), (dir / "c")});
        EXPECT_EQ(r.status, 255) << bad;
        EXPECT_EQ(r.out, std::string("invalid memory limit ") + bad);
        EXPECT_FALSE(fs::exists(dir / "c"));
    }
}

// Standard output that is the input file (>>) gets no message: it goes to
// standard error, and the input stays as it was.
TEST(CliMessages, NeverIntoTheInputThroughStandardOutput) {
    TempDir dir;
    const std::vector<uint8_t> text = qptest::sampleText(3000);
    writeFile(dir / "s.txt", text);
    const std::string path = (dir / "s.txt").string();
    const RunResult r = runQuellpack({"c", path, "/dev/stdout"}, "", "", [&] {
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
        ::dup2(fd, 1);
    });
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "in file and out file are the same");
    EXPECT_EQ(readFile(dir / "s.txt"), text);
}

// Runs quellpack on a pseudo-terminal as its standard output and error,
// with standard input from /dev/null; returns what reached the terminal.
std::string onTerminal(const std::vector<std::string>& args, int& status) {
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0) return "";
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, 0);
        execQuellpack(args);
    }
    std::string screen;
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 30000) <= 0) break;
        char buf[4096];
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0) break;
        screen.append(buf, static_cast<size_t>(n));
    }
    ::waitpid(pid, &status, 0);
    ::close(master);
    return screen;
}

// Compressed data is not written to a terminal unless forced; restored data
// is. On a terminal, progress is redrawn in place.
TEST(CliTerminal, CompressedDataRefusedUnlessForced) {
    const fs::path alice = qptest::sharedDir() / "corpus" / "alice29.txt";
    int status = 0;
    std::string screen = onTerminal({"c", alice.string(), "-"}, status);
    if (screen.empty() && status == 0) GTEST_SKIP() << "no pseudo-terminal";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 255);
    EXPECT_EQ(screen, "compressed data not written to a terminal (use -f to force)");
    screen = onTerminal({"-f", "c", alice.string(), "-"}, status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_GT(screen.size(), 30000u);

    TempDir dir;
    const std::vector<uint8_t> big = qptest::repeatedTo(readFile(alice), size_t{4} << 20);
    writeFile(dir / "big", big);
    ASSERT_EQ(runQuellpack({"c", (dir / "big").string(), (dir / "big.qp").string()}).status, 0);
    screen = onTerminal({"-p", "d", (dir / "big.qp").string(), (dir / "back").string()}, status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(readFile(dir / "back"), big);
    EXPECT_NE(screen.find("\rrestoring "), std::string::npos) << screen;
    EXPECT_NE(screen.find(" bytes in, "), std::string::npos) << screen;
    screen = onTerminal({"d", (dir / "big.qp").string(), "-"}, status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
