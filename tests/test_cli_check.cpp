// The command line's integrity options: --check when compressing, the
// trailer checked when restoring, and --list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.hpp"

namespace {

using namespace qptest;

constexpr size_t kTrailerSize = 25;
const fs::path kAlice = sharedDir() / "corpus" / "alice29.txt";

std::string textOf(const fs::path& path) {
    const std::vector<uint8_t> b = readFile(path);
    return std::string(b.begin(), b.end());
}

// Compresses alice29.txt with the given options into `out`.
void compressAlice(const std::vector<std::string>& options, const fs::path& out) {
    std::vector<std::string> args = options;
    args.insert(args.end(), {"c", kAlice.string(), out.string()});
    const RunResult r = runQuellpack(args);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
}

TEST(CliCheck, TrailerFollowsThePlainFileAndIsCheckedOnRestore) {
    TempDir dir;
    compressAlice({}, dir / "plain.qp");
    compressAlice({"--check"}, dir / "checked.qp");
    compressAlice({"--verify", "--check", "-p"}, dir / "verified.qp");
    const std::string plain = textOf(dir / "plain.qp"), checked = textOf(dir / "checked.qp");
    ASSERT_EQ(checked.size(), plain.size() + kTrailerSize);
    EXPECT_EQ(checked.substr(0, plain.size()), plain);
    EXPECT_EQ(textOf(dir / "verified.qp"), checked);

    // Restored with the trailer, and with it stripped, to the same bytes;
    // --check changes nothing when restoring.
    writeFile(dir / "stripped.qp", bytesOf(plain));
    for (const std::string name : {"checked.qp", "stripped.qp"}) {
        for (const std::vector<std::string>& opts : std::vector<std::vector<std::string>>{{}, {"--check"}}) {
            std::vector<std::string> args = opts;
            args.insert(args.end(), {"d", (dir / name).string(), (dir / "back").string()});
            const RunResult r = runQuellpack(args);
            EXPECT_EQ(r.status, 0) << name << r.out;
            EXPECT_EQ(textOf(dir / "back"), textOf(kAlice)) << name;
            fs::remove(dir / "back");
        }
    }
}

TEST(CliCheck, AMismatchIsDamageAndLeavesNothingBehind) {
    TempDir dir;
    compressAlice({"--check"}, dir / "checked.qp");
    std::vector<uint8_t> file = readFile(dir / "checked.qp");
    file[0] ^= 0x01;  // one byte fewer: restores cleanly without the trailer
    writeFile(dir / "short.qp", file);
    RunResult r = runQuellpack({"d", (dir / "short.qp").string(), (dir / "out").string()});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "in file is damaged");
    EXPECT_FALSE(fs::exists(dir / "out"));
    // An existing output keeps what it held.
    writeFile(dir / "out", bytesOf("keep me"));
    r = runQuellpack({"d", (dir / "short.qp").string(), (dir / "out").string()});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(textOf(dir / "out"), "keep me");
    // On standard output the message goes to standard error.
    r = runQuellpack({"d", "-", "-"}, "", (dir / "short.qp").string());
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, "in file is damaged");
}

TEST(CliList, ShowsEveryFileAndNamesThoseItCannotList) {
    TempDir dir;
    compressAlice({}, dir / "plain.qp");
    compressAlice({"--check"}, dir / "checked.qp");
    writeFile(dir / "empty.qp", {0, 0, 0, 0, 0, 0, 0, 0});
    writeFile(dir / "short", {1, 2, 3});
    const std::string plainSize = std::to_string(fs::file_size(dir / "plain.qp"));
    const std::string checkedSize = std::to_string(fs::file_size(dir / "checked.qp"));
    const std::string aliceSize = std::to_string(fs::file_size(kAlice));

    for (const char* opt : {"-l", "--list"}) {
        const RunResult r = runQuellpack({opt, (dir / "plain.qp").string(), (dir / "missing").string(),
                                          (dir / "checked.qp").string(), (dir / "short").string(),
                                          dir.path.string(), (dir / "empty.qp").string()});
        EXPECT_EQ(r.status, 255) << opt;
        EXPECT_EQ(r.err, (dir / "missing").string() + ": cannot open in file\n" + (dir / "short").string() +
                             ": in file is damaged\n" + dir.path.string() + ": cannot open in file\n");
        // A heading, then one row per listed file, in order.
        std::vector<std::vector<std::string>> rows;
        for (size_t from = 0; from < r.out.size();) {
            const size_t nl = r.out.find('\n', from);
            ASSERT_NE(nl, std::string::npos);
            std::vector<std::string> fields;
            std::string line = r.out.substr(from, nl - from), field;
            for (char c : line + " ") {
                if (c != ' ') {
                    field += c;
                } else if (!field.empty()) {
                    fields.push_back(field);
                    field.clear();
                }
            }
            rows.push_back(fields);
            from = nl + 1;
        }
        ASSERT_EQ(rows.size(), 4u) << r.out;
        EXPECT_EQ(rows[0], (std::vector<std::string>{"Compressed", "Stored", "Text", "Trailer", "Restored", "Ratio",
                                                     "Name"}));
        // alice29.txt has 3594 capitals to mark: its model count is larger.
        EXPECT_EQ(rows[1], (std::vector<std::string>{plainSize, "155683", "yes", "-", "-", "-",
                                                     (dir / "plain.qp").string()}));
        ASSERT_EQ(rows[2].size(), 7u);
        EXPECT_EQ(rows[2][0], checkedSize);
        EXPECT_EQ(rows[2][3], "xxh64");
        EXPECT_EQ(rows[2][4], aliceSize);
        EXPECT_EQ(rows[3], (std::vector<std::string>{"8", "0", "no", "-", "-", "-", (dir / "empty.qp").string()}));
    }
    // Standard input, read through.
    const RunResult r = runQuellpack({"-l", "-"}, "", (dir / "checked.qp").string());
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(checkedSize + "       155683  yes   xxh64"), std::string::npos) << r.out;
    // No file at all.
    EXPECT_EQ(runQuellpack({"--list"}).status, 255);
}

TEST(CliList, HelpNamesTheNewOptions) {
    const RunResult r = runQuellpack({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* part : {"-l, --list", "--check", "quellpack {-l|--list} file..."})
        EXPECT_NE(r.out.find(part), std::string::npos) << part;
}

}  // namespace
