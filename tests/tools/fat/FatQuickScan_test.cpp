// brelvox-scan --quick over the FAT images, end to end: the listing against fls, the recovered bytes
// against icat, FAT12 refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/FATLib/FatTestSupport.h"
#include "support/Fixtures.h"
#include "support/LoopDevice.h"
#include "support/DriverListing.h"
#include "support/Sha256.h"
#include "support/TempDir.h"

namespace {

const std::string kDriver = std::string(BRELVOX_BINARY_DIR) + "/tools/brelvox-scan";

using Line = testsupport::ListedLine;

// The driver's listing, keyed by the comparable path below the root folder.
std::map<std::string, Line> ReadListing(const std::filesystem::path& file) {
    return testsupport::ReadListedLines(file, "32", [](const std::string& p) { return fattest::Comparable(p); });
}

class FatQuickScan : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kDriver)) GTEST_SKIP() << kDriver << " is not built";
    }
    void CheckListing(const std::string& name, const std::string& source);
    // Copies out every listed file and checks each copied file against icat; answers how many failed.
    int RecoverAndCheck(const std::string& name, const std::string& source);
    int Run(const std::string& image, const std::string& extra) {
        const std::string command = kDriver + " --quick --list " + (dir / "list.txt").string() + " " + extra + " '" +
                                    image + "' >" + (dir / "out.txt").string() + " 2>" + (dir / "err.txt").string();
        return testsupport::RunCommand(command);
    }
    testsupport::TempDir dir;
};

}  // namespace

void FatQuickScan::CheckListing(const std::string& name, const std::string& source) {
    SCOPED_TRACE(name);
    ASSERT_EQ(Run(source, ""), 0) << testsupport::ReadFile(dir / "err.txt");
    const auto listed = ReadListing(dir / "list.txt");
    size_t deleted = 0;
    for (const auto& e : fattest::FlsListing(name)) {
        const auto it = listed.find(fattest::Comparable(e.path));
        if (!e.deleted) {
            // Existing entries are published only where the tree builder shows them (folders on the way).
            if (it != listed.end()) {
                EXPECT_FALSE(it->second.deleted) << e.path;
            }
            continue;
        }
        ++deleted;
        ASSERT_NE(it, listed.end()) << e.path;
        EXPECT_TRUE(it->second.deleted) << e.path;
        EXPECT_EQ(it->second.directory, e.directory) << e.path;
    }
    EXPECT_GE(deleted, 8u);
    for (const auto& [path, line] : listed) EXPECT_TRUE(line.deleted || line.directory) << line.path;
}

TEST_F(FatQuickScan, ListsTheDeletedEntriesOfFlsWithTheirNames) {
    for (const char* name : {"fat16", "fat32"}) CheckListing(name, fattest::Image(name).string());
}

TEST_F(FatQuickScan, ListsA4096ByteSectorVolumeThroughALoopDevice) {
    // Read only, with 4096-byte sectors (the driver reads image files as 512-byte sectors).
    testsupport::LoopDevice loop(fattest::Image("fat32-4k"), 4096, true);
    if (loop.Device().empty()) GTEST_SKIP() << "no loop device with 4096-byte sectors here (needs root and losetup)";
    CheckListing("fat32-4k", loop.Device());
}

int FatQuickScan::RecoverAndCheck(const std::string& name, const std::string& source) {
    SCOPED_TRACE(name);
    const auto out = dir / (std::string("recovered-") + name);
    Run(source, "--recover '" + out.string() + "'");
    const auto listed = ReadListing(dir / "list.txt");
    const auto sums = fattest::IcatSums(name);
    std::filesystem::path root;
    if (std::filesystem::exists(out)) {
        for (const auto& entry : std::filesystem::directory_iterator(out)) root = entry.path();
    }
    int missing = 0;
    for (const auto& [key, line] : listed) {
        if (line.directory) continue;
        SCOPED_TRACE(line.path);
        std::string icatPath;
        for (const auto& [path, sum] : sums) {
            if (fattest::Comparable(path) == key) icatPath = path;
        }
        EXPECT_FALSE(icatPath.empty());
        if (root.empty() || !std::filesystem::exists(root / line.path)) {
            ++missing;
            continue;
        }
        const std::string bytes = testsupport::ReadFile(root / line.path);
        EXPECT_EQ(static_cast<i64>(bytes.size()), line.size);
        if (!icatPath.empty()) {
            EXPECT_EQ(testsupport::Sha256Hex(bytes), sums.at(icatPath));
        }
    }
    return missing;
}

// Every file the driver copies holds the bytes icat gives.
TEST_F(FatQuickScan, RecoveredBytesEqualIcat) {
    for (const char* name : {"fat16", "fat32"}) RecoverAndCheck(name, fattest::Image(name).string());
}

// Every listed file is copied, however deep its folder (the driver makes every folder of the path).
TEST_F(FatQuickScan, RecoversEveryListedFile) {
    for (const char* name : {"fat16", "fat32"}) EXPECT_EQ(RecoverAndCheck(name, fattest::Image(name).string()), 0);
}

TEST_F(FatQuickScan, Fat12IsRefused) {
    EXPECT_NE(Run(fattest::Image("fat12").string(), ""), 0);
    EXPECT_NE(testsupport::ReadFile(dir / "err.txt").find("brelvox-scan:"), std::string::npos);
}
