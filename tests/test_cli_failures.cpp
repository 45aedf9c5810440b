// The program facing damaged files, failing disks and unusual inputs: the
// exact message, status 255, no incomplete output left behind, and the
// input and any file the run had not begun to write left as they were.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "damage_samples.hpp"
#include "guarded_run.hpp"
#include "quellpack/quellpack.hpp"

namespace fs = std::filesystem;
using qptest::bytesOf;
using qptest::readFile;
using qptest::RunResult;
using qptest::runGuarded;
using qptest::runQuellpack;
using qptest::TempDir;
using qptest::writeFile;

namespace {

const std::string kDamaged = "in file is damaged";
const std::string kSame = "in file and out file are the same";
const std::string kCannotRead = "cannot read in file";
const std::string kCannotOpen = "cannot open in file";
const std::string kCannotWrite = "cannot write out file";
const std::string kTooLarge = "in file is too large";

// The run failed with exactly `message` on standard output.
void expectFailure(const RunResult& r, const std::string& message, const std::string& what = "") {
    EXPECT_EQ(r.status, 255) << what;
    EXPECT_EQ(r.out, message) << what;
    EXPECT_EQ(r.err, "") << what;
}

std::vector<uint8_t> compressed(const std::vector<uint8_t>& input) { return quellpack::compress(input); }

}  // namespace

TEST(CliDamaged, EveryTruncationLeavesNoOutput) {
    TempDir dir;
    for (const std::vector<uint8_t>& input : {bytesOf("abracadabra"), bytesOf("Hello World"),
                                              qptest::sampleBinary(40), qptest::sampleText(300)}) {
        const std::vector<uint8_t> file = compressed(input);
        for (size_t len = 0; len < file.size(); ++len) {
            writeFile(dir / "cut.qp", std::vector<uint8_t>(file.begin(), file.begin() + static_cast<long>(len)));
            const RunResult r = runQuellpack({"d", (dir / "cut.qp").string(), (dir / "out").string()});
            expectFailure(r, kDamaged, "cut to " + std::to_string(len));
            ASSERT_FALSE(fs::exists(dir / "out")) << "cut to " << len;
        }
    }
}

TEST(CliDamaged, StandardOutputCarriesNothingAndMessageGoesToStandardError) {
    TempDir dir;
    const std::vector<uint8_t> file = compressed(qptest::sampleText(300));
    writeFile(dir / "cut.qp", std::vector<uint8_t>(file.begin(), file.end() - 1));
    const RunResult r = runQuellpack({"d", (dir / "cut.qp").string(), "-"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, kDamaged);
}

TEST(CliDamaged, EveryFileInBadDirectory) {
    const fs::path bad = fs::path(QUELLPACK_TESTS_DIR) / "bad";
    const std::vector<uint8_t> readmeBytes = readFile(bad / "README.md");
    const std::string readme(readmeBytes.begin(), readmeBytes.end());
    TempDir dir;
    int count = 0;
    for (const fs::directory_entry& e : fs::directory_iterator(bad)) {
        const std::string name = e.path().filename().string();
        if (name == "README.md") continue;
        ++count;
        EXPECT_NE(readme.find("| " + name + " |"), std::string::npos) << name << " is not listed in README.md";
        const RunResult r = runGuarded({"d", e.path().string(), (dir / "out").string()}, 30, size_t{256} << 20);
        expectFailure(r, kDamaged, name);
        EXPECT_FALSE(fs::exists(dir / "out")) << name;
    }
    EXPECT_GE(count, 10);
}

TEST(CliDamaged, SingleBitFlipsDecodeOrFailCleanly) {
    TempDir dir;
    const std::vector<uint8_t> input = qptest::sampleText(400);
    const std::vector<uint8_t> file = compressed(input);
    int decoded = 0, damaged = 0;
    for (size_t bit = 0; bit < file.size() * 8; bit += 7) {
        std::vector<uint8_t> bad = file;
        bad[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        writeFile(dir / "bad.qp", bad);
        const RunResult r = runGuarded({"d", (dir / "bad.qp").string(), (dir / "out").string()}, 30);
        if (r.status == 0) {
            ++decoded;
            EXPECT_EQ(r.out, "");
            EXPECT_TRUE(fs::exists(dir / "out")) << "bit " << bit;
            fs::remove(dir / "out");
        } else {
            ++damaged;
            expectFailure(r, kDamaged, "bit " + std::to_string(bit));
            EXPECT_FALSE(fs::exists(dir / "out")) << "bit " << bit;
        }
    }
    EXPECT_GT(damaged, 0);
    RecordProperty("decoded", decoded);
    RecordProperty("damaged", damaged);
}

TEST(CliDamaged, HugeCountFailsFastInLittleMemory) {
    TempDir dir;
    std::vector<uint8_t> noise = qptest::sampleBinary(1 << 20);
    noise[4] = 0;
    for (const std::vector<uint8_t>& body : {std::vector<uint8_t>(4, 0), noise}) {
        std::vector<uint8_t> file = {0xFF, 0xFF, 0xFF, 0x7F};
        file.insert(file.end(), body.begin() + (body.size() > 4 ? 4 : 0), body.end());
        writeFile(dir / "huge.qp", file);
        // The coded bytes and the model's tables fit well within 64 MiB;
        // 2^31 bytes of output would not.
        const RunResult r = runGuarded({"d", (dir / "huge.qp").string(), (dir / "out").string()}, 20, size_t{64} << 20);
        expectFailure(r, kDamaged, std::to_string(file.size()) + " bytes");
        EXPECT_FALSE(fs::exists(dir / "out"));
    }
}

TEST(CliDamaged, ZeroCountGivesEmptyOutput) {
    TempDir dir;
    writeFile(dir / "zero.qp", {0, 0, 0, 0, 0, 0, 0, 0});
    const RunResult r = runQuellpack({"d", (dir / "zero.qp").string(), (dir / "out").string()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    ASSERT_TRUE(fs::exists(dir / "out"));
    EXPECT_EQ(fs::file_size(dir / "out"), 0u);
}

TEST(CliSameFile, HardLinkAndSymbolicLinkAreRefusedAndInputKept) {
    TempDir dir;
    const std::vector<uint8_t> text = qptest::sampleText(5000);
    const std::vector<uint8_t> packed = compressed(text);
    writeFile(dir / "plain", text);
    writeFile(dir / "packed", packed);
    fs::create_hard_link(dir / "plain", dir / "plain-hard");
    fs::create_symlink(dir / "plain", dir / "plain-sym");
    fs::create_hard_link(dir / "packed", dir / "packed-hard");
    fs::create_symlink("packed", dir / "packed-sym");
    const struct {
        const char* mode;
        const char* in;
        const char* out;
    } cases[] = {
        {"c", "plain", "plain"},   {"c", "plain", "plain-hard"},   {"c", "plain-sym", "plain"},
        {"c", "plain", "plain-sym"}, {"d", "packed", "packed-hard"}, {"d", "packed-sym", "packed-hard"},
        {"x", "plain", "plain-sym"},
    };
    for (const auto& c : cases) {
        const RunResult r = runQuellpack({c.mode, (dir / c.in).string(), (dir / c.out).string()});
        expectFailure(r, kSame, std::string(c.mode) + " " + c.in + " " + c.out);
    }
    // Standard input that is the output file.
    const RunResult r = runQuellpack({"c", "-", (dir / "plain-hard").string()}, "", (dir / "plain").string());
    expectFailure(r, kSame, "standard input");
    EXPECT_EQ(readFile(dir / "plain"), text);
    EXPECT_EQ(readFile(dir / "packed"), packed);
    EXPECT_TRUE(fs::is_symlink(dir / "plain-sym"));
    EXPECT_TRUE(fs::is_symlink(dir / "packed-sym"));
    EXPECT_EQ(fs::hard_link_count(dir / "plain"), 2u);
}

TEST(CliSameFile, DevicesOnBothSidesAreNoClash) {
    const RunResult r = runQuellpack({"c", "/dev/null", "/dev/null"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
}

TEST(CliWriteErrors, FullDeviceAsOutput) {
    TempDir dir;
    writeFile(dir / "in", qptest::sampleText(3000));
    // First through a link of our own: a faulty clean-up would remove the
    // link, not the device.
    fs::create_symlink("/dev/full", dir / "full");
    expectFailure(runQuellpack({"c", (dir / "in").string(), (dir / "full").string()}), kCannotWrite, "link");
    ASSERT_TRUE(fs::is_symlink(dir / "full"));
    expectFailure(runQuellpack({"c", (dir / "in").string(), "/dev/full"}), kCannotWrite, "device");
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
    // Standard output on the full device: the message goes to standard error.
    const RunResult r = runQuellpack({"c", (dir / "in").string(), "-"}, "", "", [] {
        const int fd = ::open("/dev/full", O_WRONLY);
        ::dup2(fd, 1);
    });
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, kCannotWrite);
}

namespace {

// In the child: writes past `bytes` fail with EFBIG instead of raising SIGXFSZ.
void limitFileSize(rlim_t bytes) {
    ::signal(SIGXFSZ, SIG_IGN);
    const struct rlimit lim = {bytes, bytes};
    ::setrlimit(RLIMIT_FSIZE, &lim);
}

}  // namespace

TEST(CliWriteErrors, FailedWriteRemovesIncompleteOutput) {
    TempDir dir;
    writeFile(dir / "in", qptest::sampleText(20000));
    const auto run = [&](const fs::path& out) {
        return runQuellpack({"c", (dir / "in").string(), out.string()}, "", "", [] { limitFileSize(1000); });
    };
    // An output this run created.
    expectFailure(run(dir / "new"), kCannotWrite, "new");
    EXPECT_FALSE(fs::exists(dir / "new"));
    // An existing output is left exactly as it was.
    writeFile(dir / "old", bytesOf("old content"));
    expectFailure(run(dir / "old"), kCannotWrite, "old");
    EXPECT_EQ(readFile(dir / "old"), bytesOf("old content"));
    // So is one behind a link, and the link stays.
    writeFile(dir / "target", bytesOf("old content"));
    fs::create_symlink("target", dir / "link");
    expectFailure(run(dir / "link"), kCannotWrite, "link");
    EXPECT_TRUE(fs::is_symlink(dir / "link"));
    EXPECT_EQ(readFile(dir / "target"), bytesOf("old content"));
    // The temporary went with the failure.
    size_t entries = 0;
    for (const auto& e : fs::directory_iterator(dir.path)) entries += e.path().filename().string()[0] == '.';
    EXPECT_EQ(entries, 0u);
}

TEST(CliWriteErrors, ClosedPipeAndClosedStreamAsOutput) {
    TempDir dir;
    writeFile(dir / "in", qptest::sampleText(3000));
    // A pipe nobody reads: no SIGPIPE death, a write error.
    RunResult r = runQuellpack({"c", (dir / "in").string(), "-"}, "", "", [] {
        int fds[2];
        if (::pipe(fds) != 0) ::_exit(99);
        ::close(fds[0]);
        ::dup2(fds[1], 1);
    });
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, kCannotWrite);
    // Standard output closed.
    r = runQuellpack({"c", (dir / "in").string(), "-"}, "", "", [] { ::close(1); });
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, kCannotWrite);
    // Standard input and output closed, a damaged input and an existing
    // output: the files must not be given descriptors 0 and 1, or the
    // message would land in the output file, which must stay as it was.
    writeFile(dir / "bad.qp", {1, 0, 0, 0, 0, 0, 0, 0});
    writeFile(dir / "keep", bytesOf("keep me"));
    r = runQuellpack({"d", (dir / "bad.qp").string(), (dir / "keep").string()}, "", "", [] {
        ::close(0);
        ::close(1);
    });
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(readFile(dir / "keep"), bytesOf("keep me"));
}

// A directory opens, but is no file to read: it is refused as a name that
// cannot be opened.
TEST(CliReadErrors, DirectoryAsInput) {
    TempDir dir;
    fs::create_directory(dir / "sub");
    for (const char* mode : {"c", "d"}) {
        expectFailure(runQuellpack({mode, (dir / "sub").string(), (dir / "out").string()}), kCannotOpen, mode);
        EXPECT_FALSE(fs::exists(dir / "out"));
        const RunResult r = runQuellpack({mode, "-", (dir / "out").string()}, "", (dir / "sub").string());
        expectFailure(r, kCannotOpen, std::string(mode) + " standard input");
        EXPECT_FALSE(fs::exists(dir / "out"));
    }
}

TEST(CliReadErrors, InputThatOpensButCannotBeRead) {
    // The program's own memory file opens for reading, but reading its first
    // page (never mapped) fails with an I/O error. Unlike permission bits,
    // this holds for root too.
    if (!fs::exists("/proc/self/mem")) GTEST_SKIP() << "no /proc/self/mem";
    TempDir dir;
    for (const char* mode : {"c", "d"}) {
        expectFailure(runQuellpack({mode, "/proc/self/mem", (dir / "out").string()}), kCannotRead, mode);
        EXPECT_FALSE(fs::exists(dir / "out"));
        writeFile(dir / "keep", bytesOf("keep me"));
        expectFailure(runQuellpack({mode, "/proc/self/mem", (dir / "keep").string()}), kCannotRead, mode);
        EXPECT_EQ(readFile(dir / "keep"), bytesOf("keep me"));
    }
}

TEST(CliReadErrors, InputWithoutReadPermission) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads files whatever their permission bits";
    TempDir dir;
    writeFile(dir / "in", bytesOf("secret"));
    fs::permissions(dir / "in", fs::perms::none);
    expectFailure(runQuellpack({"c", (dir / "in").string(), (dir / "out").string()}), "cannot open in file");
    EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST(CliTooLarge, InputOverTwoGigabytesFailsBeforeReading) {
    TempDir dir;
    {
        const int fd = ::open((dir / "big").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        // Sparse: 2^31 bytes that take no disk space.
        ASSERT_EQ(::ftruncate(fd, off_t{1} << 31), 0);
        ::close(fd);
    }
    // Reading it would take 2 GiB and many seconds.
    RunResult r = runGuarded({"c", (dir / "big").string(), (dir / "out").string()}, 10, size_t{256} << 20);
    expectFailure(r, kTooLarge);
    EXPECT_FALSE(fs::exists(dir / "out"));
    writeFile(dir / "keep", bytesOf("keep me"));
    r = runGuarded({"c", (dir / "big").string(), (dir / "keep").string()}, 10, size_t{256} << 20);
    expectFailure(r, kTooLarge, "existing output");
    EXPECT_EQ(readFile(dir / "keep"), bytesOf("keep me"));
}

TEST(CliExistingOutput, UntouchedWhenTheRunFailsBeforeWriting) {
    TempDir dir;
    writeFile(dir / "bad.qp", bytesOf("not a compressed file"));
    fs::create_directory(dir / "sub");
    const std::vector<uint8_t> old = bytesOf("the user's data");
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"d", (dir / "bad.qp").string(), (dir / "keep").string()}, kDamaged},
        {{"c", (dir / "sub").string(), (dir / "keep").string()}, kCannotOpen},
        {{"c", (dir / "missing").string(), (dir / "keep").string()}, "cannot open in file"},
    };
    for (const auto& c : cases) {
        writeFile(dir / "keep", old);
        const struct stat before = [&] {
            struct stat st;
            ::stat((dir / "keep").c_str(), &st);
            return st;
        }();
        expectFailure(runQuellpack(c.args), c.message, c.message);
        struct stat after;
        ASSERT_EQ(::stat((dir / "keep").c_str(), &after), 0) << c.message;
        EXPECT_EQ(after.st_ino, before.st_ino) << c.message;
        EXPECT_EQ(readFile(dir / "keep"), old) << c.message;
    }
}
