// The driver over hostile images, end to end: recorded sizes that no extent and no volume can hold
// (HFS+ and APFS) are copied as far as their extents go and counted unreadable instead of walked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/Fixtures.h"
#include "support/HfsPlusWriter.h"
#include "support/HostileTable.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using testsupport::TempDir;

const std::string kDriver = std::string(BRELVOX_BINARY_DIR) + "/tools/brelvox-scan";

struct DriverRun {
    int status;
    std::string out;
    std::string err;
};

DriverRun Drive(const TempDir& dir, const std::string& arguments) {
    DriverRun run{};
    const std::string errPath = (dir / "stderr.txt").string();
    run.status = testsupport::RunCommand(kDriver + " " + arguments + " 2>" + errPath + " </dev/null", &run.out);
    run.err = testsupport::ReadFile(errPath);
    return run;
}

// The one file called name below folder, wherever it lies.
std::optional<fs::path> FindFile(const fs::path& folder, const std::string& name) {
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().filename() == name) return entry.path();
    return std::nullopt;
}

class DriverOnHostileImages : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kDriver)) GTEST_SKIP() << kDriver << " is not built";
    }
    TempDir dir;
};

// An HFS+ data fork that records 2^63 - 1 bytes over its two blocks.
TEST_F(DriverOnHostileImages, AnHfsPlusSizeOfTwoToThe63IsCopiedAsFarAsItsExtents) {
    namespace hfs = testsupport::hfs;
    hfs::Writer writer(hfs::Options{});
    const std::string data = hfs::TextContent("huge", 5000);
    writer.Add({.path = "huge.bin", .data = data});
    writer.Add({.path = "small.txt", .data = hfs::TextContent("small", 700)});
    hfs::Layout layout;
    std::vector<u8> image = writer.Build(&layout);
    // The file record (type 2) of huge.bin: its data fork's logical size, big-endian, at +88.
    const u32 id = layout.ids.at("huge.bin");
    const u8 record[] = {0, 2};
    const u8 idBytes[] = {u8(id >> 24), u8(id >> 16), u8(id >> 8), u8(id)};
    int patched = 0;
    for (size_t at = 0; at + 96 <= image.size(); ++at) {
        if (std::memcmp(&image[at], record, 2) != 0 || std::memcmp(&image[at + 8], idBytes, 4) != 0) continue;
        const u8 size[] = {0, 0, 0, 0, 0, 0, 0x13, 0x88};  // 5000
        if (std::memcmp(&image[at + 88], size, 8) != 0) continue;
        const u8 huge[] = {0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        std::memcpy(&image[at + 88], huge, 8);
        ++patched;
    }
    ASSERT_EQ(patched, 1);
    testsupport::WriteFile(dir / "huge.img", std::string(image.begin(), image.end()));

    const DriverRun run = Drive(dir, "--deep --recover " + (dir / "out").string() + " " + (dir / "huge.img").string());
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.out.find(", unreadable 1\n"), std::string::npos) << run.out;
    const auto copy = FindFile(dir / "out", "huge.bin");
    ASSERT_TRUE(copy);
    const std::string copied = testsupport::ReadFile(*copy);
    EXPECT_EQ(copied.size(), 8192u) << "its two blocks";
    EXPECT_EQ(copied.substr(0, data.size()), data);
    const auto small = FindFile(dir / "out", "small.txt");
    ASSERT_TRUE(small);
    EXPECT_EQ(testsupport::ReadFile(*small), hfs::TextContent("small", 700));
}

// An APFS data stream of 2^62 bytes over one block (the hostile table's case).
TEST_F(DriverOnHostileImages, AnApfsDataStreamOfTwoToThe62IsCopiedAsFarAsItsExtent) {
    const auto cases = testsupport::ReadHostileTable(testsupport::FixturePath("apfs/hostile.tsv"));
    const auto it = std::find_if(cases.begin(), cases.end(),
                                 [](const testsupport::HostileCase& c) { return c.name == "data-stream-2-to-62"; });
    ASSERT_NE(it, cases.end());
    const auto records = testsupport::UnpackXzShared(testsupport::FixturePath("apfs/apfs-records.img.xz"));
    testsupport::ApplyPatches(records, it->patches, dir / "huge.img");

    const DriverRun run = Drive(dir, "--deep --recover " + (dir / "out").string() + " " + (dir / "huge.img").string());
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.out.find(", unreadable 1\n"), std::string::npos) << run.out;
    const auto copy = FindFile(dir / "out", "readme.txt");
    ASSERT_TRUE(copy);
    EXPECT_EQ(fs::file_size(*copy), 4096u) << "its one block";
}

}  // namespace
