// brelvox-scan --quick over the exFAT images, end to end: the listing against fls, the recovered bytes
// against icat; the 4096-byte-sector volume through a loop device of that sector size, the GPT volume
// through its partition node.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/EXFatSearch/ExFatTestSupport.h"
#include "support/Fixtures.h"
#include "support/LoopDevice.h"
#include "support/DriverListing.h"
#include "support/Sha256.h"
#include "support/TempDir.h"

namespace {

const std::string kDriver = std::string(BRELVOX_BINARY_DIR) + "/tools/brelvox-scan";
const std::string kEmptySum = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

using Line = testsupport::ListedLine;

// The driver's type-33 lines, keyed by the path below the root folder; any other line is counted.
std::map<std::string, Line> ReadListing(const std::string& text, int& others) {
    std::map<std::string, Line> out;
    std::istringstream in(text);
    Line line;
    for (std::string row; std::getline(in, row);) {
        if (row.rfind("copied ", 0) == 0) continue;
        if (testsupport::ParseListedLine(row, "33", line))
            out.emplace(line.path, line);
        else
            ++others;
    }
    return out;
}

std::string Parent(const std::string& path) {
    const size_t cut = path.rfind('/');
    return cut == std::string::npos ? "" : path.substr(0, cut);
}

class ExFatQuickScan : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kDriver)) GTEST_SKIP() << kDriver << " is not built";
    }
    void ScanAndCheck(const std::string& name, const std::string& source);
    testsupport::TempDir dir;
};

}  // namespace

// A quick scan lists deleted files only, with the folders above them: every deleted file of fls with
// bytes, and every folder on its way, with fls's deleted marks. Every copy equals icat's bytes but the
// deleted chained file's, whose FAT chain exfat-fuse freed: it keeps its first cluster, the rest is
// reported unreadable.
void ExFatQuickScan::ScanAndCheck(const std::string& name, const std::string& source) {
    SCOPED_TRACE(name);
    const auto out = dir / ("recovered-" + name);
    std::string text;
    const int status = testsupport::RunCommand(kDriver + " --quick --list - --recover '" + out.string() + "' '" +
                                                   source + "' 2>" + (dir / "err.txt").string(),
                                               &text);
    int others = 0;
    const auto listed = ReadListing(text, others);
    EXPECT_EQ(others, 0) << text;

    const auto sums = exfattest::IcatSums(name);
    std::map<std::string, bool> fls;  // path -> deleted
    std::set<std::string> wanted, allowed;
    for (const auto& e : exfattest::FlsListing(name)) {
        fls[e.path] = e.deleted;
        if (e.directory || !e.deleted) continue;
        // A deleted file without bytes may be published where its folder is known (the tree builder
        // links it there); one with bytes must be.
        std::set<std::string>& into = sums.at(e.path) == kEmptySum ? allowed : wanted;
        for (std::string p = e.path; !p.empty(); p = Parent(p)) into.insert(p);
    }
    EXPECT_GE(wanted.size(), 13u);
    for (const std::string& path : wanted) {
        SCOPED_TRACE(path);
        auto it = listed.find(path);
        ASSERT_NE(it, listed.end());
        EXPECT_EQ(it->second.deleted, fls.at(path));
    }
    for (const auto& [path, line] : listed) {
        EXPECT_TRUE(wanted.count(path) || (allowed.count(path) && (line.directory || line.size == 0))) << path;
    }

    std::filesystem::path root;
    if (std::filesystem::exists(out)) {
        for (const auto& entry : std::filesystem::directory_iterator(out)) root = entry.path();
    }
    ASSERT_FALSE(root.empty()) << testsupport::ReadFile(dir / "err.txt");
    size_t files = 0;
    for (const auto& [path, line] : listed) {
        if (line.directory) continue;
        ++files;
        SCOPED_TRACE(path);
        const std::string bytes = testsupport::ReadFile(root / path);
        EXPECT_EQ(static_cast<i64>(bytes.size()), line.size);
        EXPECT_EQ(testsupport::Sha256Hex(bytes), sums.at(path));
    }
    // The deleted file whose chain was freed reads through the free clusters that follow its first.
    EXPECT_NE(text.find("copied " + std::to_string(files) + ", failed 0\n"), std::string::npos) << text;
    EXPECT_EQ(status, 0);
}

// exfat-4k with a volume GUID entry (which the format allows in the root) after the root's bitmap and
// up-case entries, before its first file: the entries behind it move up one place.
std::filesystem::path WithVolumeGuid(const std::filesystem::path& dir) {
    std::string d = testsupport::ReadFile(exfattest::Image("exfat-4k"));
    auto le32 = [&](size_t at) {
        return u32(u8(d[at])) | u32(u8(d[at + 1])) << 8 | u32(u8(d[at + 2])) << 16 | u32(u8(d[at + 3])) << 24;
    };
    const size_t sector = size_t(1) << u8(d[108]), cluster = sector << u8(d[109]);
    const size_t root = le32(88) * sector + (le32(96) - 2) * cluster;
    size_t free = 0;
    while (free < cluster / 32 && d[root + 32 * free] != 0) ++free;
    EXPECT_TRUE(free > 3 && free < cluster / 32) << "a free place in the root's first cluster";
    d.replace(root + 4 * 32, (free - 3) * 32, d.substr(root + 3 * 32, (free - 3) * 32));
    std::string guid(32, '\0');
    guid[0] = char(0xA0);
    for (int i = 0; i < 16; ++i) guid[6 + i] = char(0x11 * (i + 1));
    d.replace(root + 3 * 32, 32, guid);
    const auto image = dir / "guid.img";
    testsupport::WriteFile(image, d);
    return image;
}

// A volume GUID before the root's files ends nothing: the quick scan lists and copies what it lists
// without it, and the deep scan's listing is the same as without it.
TEST_F(ExFatQuickScan, ARootWithAVolumeGuidBeforeItsFiles) {
    const auto image = WithVolumeGuid(dir.path());
    ScanAndCheck("exfat-4k", image.string());
    std::string clean, guid;
    testsupport::RunCommand(kDriver + " --deep --list - '" + exfattest::Image("exfat-4k").string() + "' 2>/dev/null",
                            &clean);
    testsupport::RunCommand(kDriver + " --deep --list - '" + image.string() + "' 2>/dev/null", &guid);
    EXPECT_GE(std::count(clean.begin(), clean.end(), '\n'), 200);
    EXPECT_EQ(guid, clean);
}

TEST_F(ExFatQuickScan, ImagesOfFourAndThirtyTwoKilobyteClusters) {
    for (const char* name : {"exfat-4k", "exfat-32k"}) ScanAndCheck(name, exfattest::Image(name).string());
}

TEST_F(ExFatQuickScan, AVolumeOf4096ByteSectorsThroughALoopDevice) {
    testsupport::LoopDevice loop(exfattest::Image("exfat-4kn"), 4096, true);
    if (loop.empty()) GTEST_SKIP() << "no loop device with 4096-byte sectors here (needs root and losetup)";
    ScanAndCheck("exfat-4kn", loop.Device());
}

TEST_F(ExFatQuickScan, AVolumeInsideAGptDiskThroughItsPartitionNode) {
    testsupport::LoopDevice loop(exfattest::Image("gpt-exfat"), 512, true, true);
    if (loop.empty()) GTEST_SKIP() << "no loop device here (needs root and losetup)";
    const std::string partition = loop.Partition(1);
    ASSERT_FALSE(partition.empty()) << "the kernel shows no partition of " << loop.Device();
    ScanAndCheck("gpt-exfat", partition);
}

// Volume recognition names the volume exFAT in the driver's device list.
TEST_F(ExFatQuickScan, TheDeviceListNamesTheVolumeExFat) {
    testsupport::LoopDevice loop(exfattest::Image("gpt-exfat"), 512, true, true);
    if (loop.empty()) GTEST_SKIP() << "no loop device here (needs root and losetup)";
    ASSERT_FALSE(loop.Partition(1).empty()) << "the kernel shows no partition of " << loop.Device();
    std::string text;
    ASSERT_EQ(testsupport::RunCommand(kDriver + " --list-devices 2>/dev/null", &text), 0);
    const std::string node = std::filesystem::path(loop.Partition(1)).filename().string();
    std::string volume;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("volume " + node + " ") != std::string::npos) volume = line;
    }
    ASSERT_FALSE(volume.empty()) << text;
    EXPECT_NE(volume.find("  exFAT  \"\""), std::string::npos) << volume;
}
