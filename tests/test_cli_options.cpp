// The command line's options, its pipes and where its messages go.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "quellpack/version.hpp"
#include "test_support.hpp"

namespace {

using namespace qptest;

const fs::path kAlice = sharedDir() / "corpus" / "alice29.txt";

std::string textOf(const fs::path& path) {
    const std::vector<uint8_t> b = readFile(path);
    return std::string(b.begin(), b.end());
}

// Runs a shell command line; paths in it come from TempDir and need no quoting.
RunResult runShell(const std::string& script) { return runProgram("/bin/sh", {"-c", script}); }

RunResult runVerifyFault(const std::vector<std::string>& args) {
    return runProgram(QUELLPACK_VERIFY_FAULT_BINARY, args);
}

// True for "<in> bytes in, <out> bytes out, <ratio>%, <seconds> s" and a newline.
bool isSummary(const std::string& s) {
    unsigned long long in, out;
    double ratio, seconds;
    int used = -1;
    std::sscanf(s.c_str(), "%llu bytes in, %llu bytes out, %lf%%, %lf s%n", &in, &out, &ratio, &seconds, &used);
    return used >= 0 && s.substr(static_cast<size_t>(used)) == "\n";
}

// True for "<percent>%  <rate> MB/s  <seconds> s left", padded with blanks.
bool isProgressLine(const std::string& s) {
    int percent;
    double rate, left;
    int used = -1;
    std::sscanf(s.c_str(), " %d%% %lf MB/s %lf s left%n", &percent, &rate, &left, &used);
    return used >= 0 && percent >= 0 && percent <= 100 &&
           s.find_first_not_of(' ', static_cast<size_t>(used)) == std::string::npos;
}

// What plain "c" makes of alice29.txt, to compare option runs with.
std::string plainCompressed() {
    static const std::string packed = [] {
        TempDir dir;
        const RunResult r = runQuellpack({"c", kAlice.string(), (dir / "plain.qp").string()});
        EXPECT_EQ(r.status, 0);
        return textOf(dir / "plain.qp");
    }();
    return packed;
}

TEST(CliOptions, HelpGoesToStandardOutputAndTouchesNoFile) {
    TempDir dir;
    for (const char* opt : {"-h", "--help"}) {
        const RunResult r = runQuellpack({opt, "c", kAlice.string(), (dir / "out").string()});
        EXPECT_EQ(r.status, 0) << opt;
        EXPECT_EQ(r.err, "") << opt;
        for (const char* part : {"usage: quellpack [options] {c|d} infile outfile", "-h, --help", "--version",
                                 "-p, --progress", "--verify", "--", "exit status"})
            EXPECT_NE(r.out.find(part), std::string::npos) << opt << " lacks " << part;
        EXPECT_FALSE(fs::exists(dir / "out")) << opt;
    }
}

TEST(CliOptions, VersionIsTheProjectVersion) {
    EXPECT_STREQ(quellpack::kVersion, QUELLPACK_PROJECT_VERSION);
    const RunResult r = runQuellpack({"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("quellpack ") + QUELLPACK_PROJECT_VERSION + "\n");
    EXPECT_EQ(r.err, "");
}

TEST(CliOptions, UnknownOptionFailsBeforeAnyFileIsOpened) {
    TempDir dir;
    const std::string out = (dir / "out").string();
    for (const char* opt : {"-x", "--bogus", "-pv", "--Verify"}) {
        const RunResult r = runQuellpack({"-p", opt, "c", kAlice.string(), out});
        EXPECT_EQ(r.status, 255) << opt;
        EXPECT_EQ(r.out, std::string("unknown option ") + opt);
        EXPECT_FALSE(fs::exists(out)) << opt;
    }
    // With the data on standard output the message moves to standard error.
    const RunResult r = runQuellpack({"-x", "c", kAlice.string(), "-"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "unknown option -x");
}

TEST(CliOptions, OptionsLeaveTheFourEntriesAsTheyWere) {
    TempDir dir;
    const std::string out = (dir / "out").string();
    for (const std::vector<std::string>& opts : std::vector<std::vector<std::string>>{
             {"--"}, {"-p"}, {"--progress"}, {"--verify"}, {"-p", "--verify", "--"}}) {
        std::vector<std::string> args = opts;
        args.insert(args.end(), {"c", kAlice.string(), out, "ignored"});
        const RunResult r = runQuellpack(args);
        EXPECT_EQ(r.status, 0) << opts[0];
        EXPECT_EQ(r.out, "") << opts[0];
        EXPECT_EQ(textOf(out), plainCompressed()) << opts[0];
        fs::remove(out);
    }
    // Too few entries after the options: the usage line, no file.
    RunResult r = runQuellpack({"-p", "--verify", "c", kAlice.string()});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "quellpack {c|d} infile outfile");
    EXPECT_FALSE(fs::exists(out));
    // A wrong mode after options: the mismatch message and an empty output.
    r = runQuellpack({"--verify", "C", kAlice.string(), out});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Run time error, rule 'Start' in module 'quellpack' does not match\n");
    EXPECT_TRUE(fs::exists(out));
    EXPECT_EQ(fs::file_size(out), 0u);
}

TEST(CliOptions, OptionsEndAtTheModeOrAtDoubleDash) {
    TempDir dir;
    const std::string out = (dir / "out").string();
    // After the mode an argument that begins with '-' is a file name.
    RunResult r = runQuellpack({"c", "-p", out});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "cannot open in file");
    EXPECT_FALSE(fs::exists(out));
    // After "--" it is the mode, which must then be "c" or "d".
    r = runQuellpack({"--", "-p", kAlice.string(), out});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Run time error, rule 'Start' in module 'quellpack' does not match\n");
    fs::remove(out);
    // A lone "-" is no option either.
    r = runQuellpack({"-", kAlice.string(), out});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Run time error, rule 'Start' in module 'quellpack' does not match\n");
}

TEST(CliProgress, ShownOnlyOnStandardErrorEndingInOneSummary) {
    TempDir dir;
    // Large enough for the model to report progress several times.
    std::vector<uint8_t> big;
    const std::vector<uint8_t> alice = readFile(kAlice);
    while (big.size() < (size_t{3} << 20)) big.insert(big.end(), alice.begin(), alice.end());
    writeFile(dir / "big", big);

    const auto start = std::chrono::steady_clock::now();
    RunResult r = runQuellpack({"-p", "c", (dir / "big").string(), (dir / "big.qp").string()});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    ASSERT_FALSE(r.err.empty());
    std::vector<std::string> pieces;
    for (size_t from = 0;;) {
        const size_t cr = r.err.find('\r', from);
        pieces.push_back(r.err.substr(from, cr == std::string::npos ? std::string::npos : cr - from));
        if (cr == std::string::npos) break;
        from = cr + 1;
    }
    const std::string size = std::to_string(big.size()), packed = std::to_string(fs::file_size(dir / "big.qp"));
    EXPECT_EQ(pieces.back().rfind(size + " bytes in, " + packed + " bytes out, ", 0), 0u) << pieces.back();
    EXPECT_TRUE(isSummary(pieces.back())) << pieces.back();
    int drawn = 0;
    for (size_t i = 0; i + 1 < pieces.size(); ++i) {
        if (pieces[i].find_first_not_of(' ') == std::string::npos) continue;  // erased line
        EXPECT_TRUE(isProgressLine(pieces[i])) << "[" << pieces[i] << "]";
        ++drawn;
    }
    // Coding that took 0.1 s or more was drawn at least once, and never more
    // often than about ten times a second.
    if (seconds > 0.3) {
        EXPECT_GE(drawn, 1);
    }
    EXPECT_LE(drawn, 2 + static_cast<int>(seconds * 10));

    // Restoring reports the same ratio; standard output carries only data.
    r = runQuellpack({"--progress", "d", (dir / "big.qp").string(), "-"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string(big.begin(), big.end()));
    const std::string last = r.err.substr(r.err.rfind('\r') == std::string::npos ? 0 : r.err.rfind('\r') + 1);
    EXPECT_EQ(last.rfind(packed + " bytes in, " + size + " bytes out, ", 0), 0u) << last;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);

    // Without the option nothing is shown.
    r = runQuellpack({"c", kAlice.string(), "-"});
    EXPECT_EQ(r.err, "");
}

TEST(CliVerify, PassingVerificationWritesTheSameFile) {
    const RunResult r = runQuellpack({"--verify", "c", kAlice.string(), "-"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, plainCompressed());
}

TEST(CliVerify, MismatchLeavesNoOutputFile) {
    TempDir dir;
    const std::string out = (dir / "out.qp").string();
    RunResult r = runVerifyFault({"--verify", "c", kAlice.string(), out});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "verification failed");
    EXPECT_FALSE(fs::exists(out));
    // An output that was there before is left as it was.
    writeFile(out, bytesOf("keep me"));
    r = runVerifyFault({"--verify", "-p", "c", kAlice.string(), out});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(textOf(out), "keep me");
    // With the data on standard output nothing reaches it.
    r = runVerifyFault({"--verify", "c", kAlice.string(), "-"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "verification failed");
    // The fault lies in verification alone: without it the file is right.
    r = runVerifyFault({"c", kAlice.string(), "-"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, plainCompressed());
}

TEST(CliPipes, StandardStreamsInBothDirections) {
    TempDir dir;
    writeFile(dir / "alice.qp", bytesOf(plainCompressed()));
    // Compress: standard input to a file, a file to standard output.
    RunResult r = runQuellpack({"c", "-", (dir / "in.qp").string()}, "", kAlice.string());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(textOf(dir / "in.qp"), plainCompressed());
    // Restore: standard input to standard output, and trailing bytes ignored.
    r = runQuellpack({"d", "-", "-"}, plainCompressed() + "trailing");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, textOf(kAlice));
    EXPECT_EQ(r.err, "");
    // A pipe on standard input is read to its end.
    r = runShell("cat " + kAlice.string() + " " + kAlice.string() + " | " QUELLPACK_BINARY " c - " +
                 (dir / "twice.qp").string() + " && " QUELLPACK_BINARY " d " + (dir / "twice.qp").string() + " " +
                 (dir / "twice").string());
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(textOf(dir / "twice"), textOf(kAlice) + textOf(kAlice));
}

TEST(CliPipes, MessagesGoToStandardErrorWhenStandardOutputCarriesData) {
    TempDir dir;
    // A flag byte with bits other than the text flag set.
    writeFile(dir / "damaged", bytesOf(std::string("\x05\0\0\0\xff\xff\xff\xff\xff", 9)));
    RunResult r = runQuellpack({"d", (dir / "damaged").string(), "-"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "in file is damaged");
    r = runQuellpack({"c", (dir / "missing").string(), "-"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "cannot open in file");
    // With a file as output the messages stay on standard output.
    r = runQuellpack({"d", (dir / "damaged").string(), (dir / "out").string()});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "in file is damaged");
    EXPECT_EQ(r.err, "");
}

TEST(CliPipes, SameStreamOnBothSidesOnlyClashesForARealFile) {
    TempDir dir;
    // /dev/null on both sides holds nothing to lose.
    RunResult r = runShell(QUELLPACK_BINARY " c - - </dev/null >/dev/null");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    // One regular file as input and output is refused and left alone.
    writeFile(dir / "f", bytesOf("precious"));
    const std::string f = (dir / "f").string();
    r = runShell(QUELLPACK_BINARY " c - - <" + f + " 1<>" + f);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "in file and out file are the same");
    EXPECT_EQ(textOf(dir / "f"), "precious");
}

TEST(CliPipes, TarThroughQuellpackAndBack) {
    TempDir dir;
    fs::create_directories(dir / "tree" / "sub");
    fs::copy_file(kAlice, dir / "tree" / "alice.txt");
    fs::copy_file(sharedDir() / "corpus" / "fireworks.jpeg", dir / "tree" / "sub" / "fireworks.jpeg");
    writeFile(dir / "tree" / "sub" / "empty", {});
    const std::string d = dir.path.string();
    RunResult r = runShell("cd " + d + " && tar cf - tree | " QUELLPACK_BINARY " c - - > tree.tar.qp");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    r = runShell("mkdir " + d + "/back && cd " + d + "/back && " QUELLPACK_BINARY " d ../tree.tar.qp - | tar xf -");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(readFile(dir / "back" / "tree" / "alice.txt"), readFile(kAlice));
    EXPECT_EQ(readFile(dir / "back" / "tree" / "sub" / "fireworks.jpeg"),
              readFile(sharedDir() / "corpus" / "fireworks.jpeg"));
    EXPECT_TRUE(fs::exists(dir / "back" / "tree" / "sub" / "empty"));
}

}  // namespace
