// brelvox-scan --deep over the fixture disk without its MBR, end to end: the partition records against
// mmls, fsstat and TestDisk, the listing against fls (orphans included) and the copied bytes against icat.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/FATSearch/FatDiskSupport.h"
#include "support/Fixtures.h"
#include "support/Sha256.h"
#include "support/TempDir.h"

namespace {

const std::string kDriver = std::string(BRELVOX_BINARY_DIR) + "/tools/brelvox-scan";
// Where the driver's listing and copy-out put the files no folder names.
const std::string kLostFolder = "Other lost files";

struct Line {
    std::string path;  // below the searcher's root folder
    i64 size;
    bool deleted;
    bool directory;
};

class FatDeepScan : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kDriver)) GTEST_SKIP() << kDriver << " is not built";
    }
    testsupport::TempDir dir;
};

// The type-32 lines of the driver's listing by comparable path (a path listed twice, by two volumes,
// keeps both).
std::multimap<std::string, Line> ReadListing(const std::filesystem::path& file, std::string& root) {
    std::multimap<std::string, Line> out;
    std::ifstream in(file);
    for (std::string text; std::getline(in, text);) {
        const auto f = fatdisk::Fields(text);
        if (f.size() != 6 || f[0] != "32") continue;
        const size_t cut = f[1].find(")/");
        if (cut == std::string::npos) continue;
        root = f[1].substr(0, cut + 1);
        Line line{f[1].substr(cut + 2), std::stoll(f[2]), f[3] == "1", f[4] == "1"};
        out.emplace(fattest::Comparable(line.path), line);
    }
    return out;
}

}  // namespace

TEST_F(FatDeepScan, PartitionsListingAndBytesOfTheDiskWithoutItsMBR) {
    const auto image = fatdisk::Copy("disk-mbr-zeroed", dir.path());
    const auto out = dir.path() / "recovered";
    const std::string command = kDriver + " --deep --partitions - --list '" + (dir.path() / "list.txt").string() +
                                "' --recover '" + out.string() + "' '" + image.string() + "' >'" +
                                (dir.path() / "out.txt").string() + "' 2>'" + (dir.path() / "err.txt").string() + "'";
    ASSERT_EQ(testsupport::RunCommand(command), 0) << testsupport::ReadFile(dir.path() / "err.txt");

    // Two type-32 records, at mmls's starts, with fsstat's layout; TestDisk names the same volumes.
    std::vector<std::vector<std::string>> records;
    std::istringstream stdoutText(testsupport::ReadFile(dir.path() / "out.txt"));
    for (std::string text; std::getline(stdoutText, text);) {
        const auto f = fatdisk::Fields(text);
        if (f.size() == 9 && f[0] == "32") records.push_back(f);
    }
    const auto volumes = fatdisk::Volumes("disk");
    const auto testdisk = fatdisk::TestDiskPartitions();
    ASSERT_EQ(records.size(), 2u);
    ASSERT_GE(testdisk.size(), 2u);
    for (size_t k = 0; k < 2; ++k) {
        SCOPED_TRACE(volumes[k].name);
        const auto& f = records[k];
        const fatdisk::Fsstat fs = fatdisk::FsstatOf(volumes[k].name);
        EXPECT_EQ(f[1], std::to_string(k));
        EXPECT_EQ(f[2], k == 0 ? "1" : "2");
        EXPECT_EQ(std::stoll(f[3]), volumes[k].start);
        EXPECT_EQ(std::stoll(f[4]), volumes[k].start + fs.clusterArea);
        EXPECT_EQ(std::stoll(f[5]), fs.sectors);
        EXPECT_EQ(std::stoll(f[6]) * fs.sectorSize, fs.clusterBytes);
        EXPECT_EQ(std::stoll(f[7]), fs.sectorSize);
        EXPECT_TRUE(f[8] == "100" || f[8] == "95") << f[8];
        EXPECT_EQ(testdisk[k].type, k == 0 ? "FAT16" : "FAT32");
        EXPECT_EQ(testdisk[k].start, volumes[k].start);
        EXPECT_EQ(testdisk[k].length, fs.sectors);
    }

    // Each volume's entries stand at fls's paths (orphans in the lost-files folder by their own names)
    // with fls's deleted marks and the entries' sizes; nothing else is listed.
    std::string root;
    const auto listed = ReadListing(dir.path() / "list.txt", root);
    std::multimap<std::string, fatdisk::Expected> expected;
    for (const char* volume : {"p1", "p2"}) {
        for (auto [key, x] : fatdisk::ExpectedListing(volume)) {
            if (x.path.rfind("<lost>/", 0) == 0) x.path = kLostFolder + x.path.substr(6);
            expected.emplace(fattest::Comparable(x.path), x);
        }
    }
    auto matches = [](const Line& l, const fatdisk::Expected& x) {
        return l.deleted == x.deleted && l.directory == x.directory && (x.directory || l.size == x.size);
    };
    size_t checkedBytes = 0;
    for (const auto& [key, x] : expected) {
        SCOPED_TRACE(x.path);
        const auto [from, to] = listed.equal_range(key);
        bool found = false;
        for (auto it = from; it != to; ++it) found = found || matches(it->second, x);
        EXPECT_TRUE(found);
        // The bytes of every file with intact clusters whose path is its own.
        if (x.directory || x.sha256.empty() || listed.count(key) != 1 || expected.count(key) != 1) continue;
        const auto copied = out / root / from->second.path;
        ASSERT_TRUE(std::filesystem::exists(copied));
        EXPECT_EQ(testsupport::Sha256Hex(testsupport::ReadFile(copied)), x.sha256);
        ++checkedBytes;
    }
    EXPECT_GE(checkedBytes, 180u);
    for (const auto& [key, l] : listed) {
        if (l.path == kLostFolder) continue;
        const auto [from, to] = expected.equal_range(key);
        bool found = false;
        for (auto it = from; it != to; ++it) found = found || matches(l, it->second);
        EXPECT_TRUE(found) << "not in fls: " << l.path;
    }
}

// --partitions never writes into the scanned source, and only a deep scan has partitions to list.
TEST_F(FatDeepScan, PartitionsFileIsRefusedOnTheSourceAndForAQuickScan) {
    const auto image = fatdisk::Copy("disk-mbr-zeroed", dir.path());
    const std::string before = testsupport::Sha256Hex(testsupport::ReadFile(image));
    for (const std::string mode : {"--deep", "--quick"}) {
        SCOPED_TRACE(mode);
        const std::string target = mode == "--deep" ? image.string() : (dir.path() / "p.txt").string();
        const std::string command = kDriver + " " + mode + " --partitions '" + target + "' '" + image.string() +
                                    "' >/dev/null 2>'" + (dir.path() / "err.txt").string() + "'";
        EXPECT_NE(testsupport::RunCommand(command), 0);
        EXPECT_NE(testsupport::ReadFile(dir.path() / "err.txt").find("brelvox-scan:"), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(dir.path() / "p.txt"));
    }
    EXPECT_EQ(testsupport::Sha256Hex(testsupport::ReadFile(image)), before);
}

// The one copied file called name below folder (empty when there is none).
std::filesystem::path FoundFile(const std::filesystem::path& folder, const std::string& name) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ec))
        if (entry.path().filename() == name) return entry.path();
    return {};
}

// A live file whose chain ends after its second cluster, or loops back to its first from its third (a
// table with a loop fails the deep search's check, which then trusts no chain past a first cluster):
// the copy keeps clusters of its chain, the rest is zeros (never the clusters that follow), and the run
// counts unreadable copies.
TEST_F(FatDeepScan, AChainThatEndsEarlyOrLoopsIsCountedUnreadable) {
    constexpr size_t kCluster = 2048;
    std::string whole;
    {
        const auto out = dir.path() / "clean";
        testsupport::RunCommand(kDriver + " --deep --recover '" + out.string() + "' '" + fattest::Image("fat16").string() +
                                "' >/dev/null 2>&1");
        whole = testsupport::ReadFile(FoundFile(out, "Fragmented File.bin"));
    }
    ASSERT_EQ(testsupport::Sha256Hex(whole), fattest::IcatSums("fat16").at("Fragmented File.bin"));
    for (const auto& [caseName, chain] : {std::pair<std::string, size_t>{"fat16-file-chain-ends-early", 2},
                                          std::pair<std::string, size_t>{"fat16-file-chain-loops", 3}}) {
        SCOPED_TRACE(caseName);
        const auto image = fattest::PatchedImage(caseName, dir.path());
        const auto out = dir.path() / caseName;
        std::string summary;
        const int status = testsupport::RunCommand(
            kDriver + " --deep --recover '" + out.string() + "' '" + image.string() + "' 2>/dev/null", &summary);
        EXPECT_EQ(status, 1) << summary;
        EXPECT_NE(summary.find(", failed 0, unreadable "), std::string::npos) << summary;
        const std::string copy = testsupport::ReadFile(FoundFile(out, "Fragmented File.bin"));
        ASSERT_EQ(copy.size(), whole.size());
        size_t kept = 0;
        while (kept < chain && copy.compare(kept * kCluster, kCluster, whole, kept * kCluster, kCluster) == 0) ++kept;
        EXPECT_GE(kept, 1u);
        EXPECT_TRUE(copy.find_first_not_of('\0', kept * kCluster) == std::string::npos)
            << "past the chain's " << kept << " cluster(s): zeros";
    }
    // The chain that ends early is read up to its end.
    const std::string early = testsupport::ReadFile(FoundFile(dir.path() / "fat16-file-chain-ends-early", "Fragmented File.bin"));
    EXPECT_TRUE(early.substr(0, 2 * kCluster) == whole.substr(0, 2 * kCluster));
}
