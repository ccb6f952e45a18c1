// The engine driver run as a program, as the end-to-end tests and benchmarks use it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/CompressedNtfsFixture.h"
#include "support/Fixtures.h"
#include "support/Sha256.h"
#include "support/TempDir.h"

namespace {

using testsupport::TempDir;

const std::string kDriver = std::string(BRELVOX_BINARY_DIR) + "/tools/brelvox-scan";

struct DriverRun {
    int status;
    std::string out;
    std::string err;
};

DriverRun Scan(const TempDir& dir, const std::string& arguments) {
    DriverRun run{};
    const std::string errPath = (dir / "stderr.txt").string();
    run.status = testsupport::RunCommand(kDriver + " " + arguments + " 2>" + errPath + " </dev/null", &run.out);
    run.err = testsupport::ReadFile(errPath);
    return run;
}

int LineCount(const std::string& text) { return int(std::count(text.begin(), text.end(), '\n')); }

class BrelvoxScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kDriver)) GTEST_SKIP() << kDriver << " is not built";
    }
    TempDir dir;
};

TEST_F(BrelvoxScanTest, CommandLineErrors) {
    struct Case {
        const char* arguments;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {"", 2, "usage: brelvox-scan"},
        {"--bogus x", 2, "usage: brelvox-scan"},
        {"a b", 2, "usage: brelvox-scan"},
        {"--types 0 x", 1, "bad --types value"},
        {"--types 128 x", 1, "bad --types value"},
        {"/no/such/image", 1, "cannot open /no/such/image"},
    };
    for (const Case& c : cases) {
        DriverRun run = Scan(dir, c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.arguments << ": " << run.err;
        EXPECT_EQ(LineCount(run.err), 1) << "one line: " << run.err;
        EXPECT_TRUE(run.out.empty());
    }
}

TEST_F(BrelvoxScanTest, UnreadableAndUnknownSources) {
    testsupport::WriteFile(dir / "empty.img", "");
    DriverRun empty = Scan(dir, (dir / "empty.img").string());
    EXPECT_EQ(empty.status, 1);
    EXPECT_NE(empty.err.find("is empty"), std::string::npos) << empty.err;

    testsupport::WriteFile(dir / "zeros.img", std::string(1 << 20, '\0'));
    DriverRun quick = Scan(dir, "--quick " + (dir / "zeros.img").string());
    EXPECT_EQ(quick.status, 1);
    EXPECT_NE(quick.err.find("unknown file system"), std::string::npos) << quick.err;
    EXPECT_EQ(LineCount(quick.err), 1);
}

// A deep scan of an image: the listing is sorted and tab-separated with six fields, and --recover
// reports its counts. While no deep searcher is built the scan ends with that reason.
TEST_F(BrelvoxScanTest, DeepScanListsAndRecovers) {
    testsupport::CompressedNtfsFixture fx = testsupport::LoadCompressedNtfsFixture(dir.path());
    DriverRun run = Scan(dir, "--deep --list - --recover " + (dir / "out").string() + " " + fx.image.string());
    if (run.status == 1 && run.err.find("no deep searcher is available") != std::string::npos)
        GTEST_SKIP() << "no deep searcher is built yet";
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream lines(run.out);
    std::string line, previous;
    int listed = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("copied ", 0) == 0) break;
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 5) << line;
        const std::string path = line.substr(line.find('\t') + 1, line.find('\t', line.find('\t') + 1) - line.find('\t') - 1);
        EXPECT_LE(previous, path);
        previous = path;
        ++listed;
    }
    EXPECT_GT(listed, 0);
    EXPECT_NE(run.out.find("copied "), std::string::npos);
}

// A quick scan of the NTFS volume lists the compressed files and copies them out byte for byte.
// While no NTFS analyser is built the volume is not recognised.
TEST_F(BrelvoxScanTest, QuickScanOfTheCompressedNtfsVolume) {
    testsupport::CompressedNtfsFixture fx = testsupport::LoadCompressedNtfsFixture(dir.path());
    const auto out = dir / "out";
    DriverRun run = Scan(dir, "--quick --list " + (dir / "list.txt").string() + " --recover " + out.string() + " " +
                            fx.image.string());
    if (run.status == 1 && (run.err.find("unknown file system") != std::string::npos ||
                            run.err.find("no quick search") != std::string::npos))
        GTEST_SKIP() << "no NTFS volume recognition or quick search is built yet: " << run.err;
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string list = testsupport::ReadFile(dir / "list.txt");
    for (const testsupport::FixtureFile& f : fx.files) {
        const std::string entry = "/c/" + f.name + "\t" + std::to_string(f.size) + "\t";
        EXPECT_NE(list.find(entry), std::string::npos) << f.name << " in\n" << list;
        bool found = false;
        for (const auto& e : std::filesystem::recursive_directory_iterator(out)) {
            if (e.path().filename() == f.name && e.path().parent_path().filename() == "c") {
                EXPECT_EQ(testsupport::Sha256Hex(testsupport::ReadFile(e.path())), f.sha256) << f.name;
                found = true;
            }
        }
        EXPECT_TRUE(found) << f.name;
    }
}

}  // namespace
