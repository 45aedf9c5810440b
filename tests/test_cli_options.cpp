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

// True for "<phase> <percent>%  <rate> MB/s  <seconds> s left", padded
// with blanks and perhaps ended by a newline.
bool isProgressLine(const std::string& s) {
    char phase[16];
    int percent;
    double rate, left;
    int used = -1;
    std::sscanf(s.c_str(), " %15[a-z] %d%% %lf MB/s %lf s left%n", phase, &percent, &rate, &left, &used);
    return used >= 0 && percent >= 0 && percent <= 100 &&
           s.find_first_not_of(" \n", static_cast<size_t>(used)) == std::string::npos;
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
    // A wrong mode after options: the mismatch message and no output.
    r = runQuellpack({"--verify", "C", kAlice.string(), out});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Run time error, rule 'Start' in module 'quellpack' does not match\n");
    EXPECT_FALSE(fs::exists(out));
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

// Standard error here is a file, as in a log: no redraws in place, at most
// a plain line every few seconds, then the summary.
TEST(CliProgress, IntoAFilePlainLinesEndingInOneSummary) {
    TempDir dir;
    const std::vector<uint8_t> big = repeatedTo(readFile(kAlice), size_t{3} << 20);
    writeFile(dir / "big", big);

    const auto start = std::chrono::steady_clock::now();
    RunResult r = runQuellpack({"-p", "--verify", "c", (dir / "big").string(), (dir / "big.qp").string()});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.find('\r'), std::string::npos);
    std::vector<std::string> lines;
    for (size_t from = 0; from < r.err.size();) {
        const size_t nl = r.err.find('\n', from);
        ASSERT_NE(nl, std::string::npos) << "unfinished line in [" << r.err << "]";
        lines.push_back(r.err.substr(from, nl + 1 - from));
        from = nl + 1;
    }
    ASSERT_FALSE(lines.empty());
    const std::string size = std::to_string(big.size()), packed = std::to_string(fs::file_size(dir / "big.qp"));
    EXPECT_EQ(lines.back().rfind(size + " bytes in, " + packed + " bytes out, ", 0), 0u) << lines.back();
    EXPECT_TRUE(isSummary(lines.back())) << lines.back();
    for (size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_TRUE(isProgressLine(lines[i])) << "[" << lines[i] << "]";
    EXPECT_LE(lines.size() - 1, 1 + static_cast<size_t>(seconds / 4));

    // Restoring reports the same ratio; standard output carries only data.
    r = runQuellpack({"--progress", "d", (dir / "big.qp").string(), "-"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string(big.begin(), big.end()));
    const std::string last = r.err.substr(r.err.rfind('\n', r.err.size() - 2) == std::string::npos ? 0 : r.err.rfind('\n', r.err.size() - 2) + 1);
    EXPECT_EQ(last.rfind(packed + " bytes in, " + size + " bytes out, ", 0), 0u) << last;

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
