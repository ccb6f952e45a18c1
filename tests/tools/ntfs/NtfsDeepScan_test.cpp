// brelvox-scan --deep over the three-volume NTFS disk without its partition table, end to end: the
// partition records (--partitions) against mmls, fsstat and TestDisk, the listing against fls after the
// tree builder's rules, the copies against icat; wiped boot sectors; --partitions refused where it
// would write into the source.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/NTFSSearch/NtfsDiskSupport.h"
#include "support/Fixtures.h"
#include "support/Sha256.h"
#include "support/TempDir.h"

namespace {

const std::string kDriver = std::string(BRELVOX_BINARY_DIR) + "/tools/brelvox-scan";

struct Partition {
    u32 searcher, index, fileSystem;
    i64 start, cluster0, sectors;
    u32 sectorsPerCluster, sectorSize;
    i64 score;
};

struct Line {
    i64 size;
    bool deleted;
    bool directory;
};

struct Output {
    std::vector<Partition> partitions;
    std::map<std::string, Line> listed;  // type-35 lines by path below the root
    std::string summary;
};

Output Parse(const std::string& text) {
    Output out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const auto f = ntfsdisk::Fields(line);
        if (f.size() == 9) {
            out.partitions.push_back({u32(std::stoul(f[0])), u32(std::stoul(f[1])), u32(std::stoul(f[2])), std::stoll(f[3]),
                                      std::stoll(f[4]), std::stoll(f[5]), u32(std::stoul(f[6])), u32(std::stoul(f[7])),
                                      std::stoll(f[8])});
        } else if (f.size() == 6 && f[0] == "35") {
            const size_t root = f[1].find(")/");
            if (root != std::string::npos)
                out.listed[f[1].substr(root + 2)] = {std::stoll(f[2]), f[3] == "1", f[4] == "1"};
        } else if (line.rfind("copied ", 0) == 0) {
            out.summary = line;
        }
    }
    return out;
}

class NtfsDeepScan : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kDriver)) GTEST_SKIP() << kDriver << " is not built";
    }
    int Run(const std::string& arguments, std::string* out = nullptr) {
        return testsupport::RunCommand(kDriver + " " + arguments + " 2>" + (dir / "err.txt").string(), out);
    }
    testsupport::TempDir dir;
};

TEST_F(NtfsDeepScan, PartitionsListingAndCopiesOfTheDiskWithoutItsMBR) {
    const auto image = ntfsdisk::Copy("mbr-zeroed", dir.path());
    const auto recovered = dir / "recovered";
    std::string text;
    ASSERT_EQ(Run("--deep --partitions - --list - --recover '" + recovered.string() + "' '" + image.string() + "'", &text), 0)
        << testsupport::ReadFile(dir / "err.txt");
    const Output out = Parse(text);

    // Three type-35 records at mmls's starts, fsstat's cluster sizes and sector totals.
    const auto mmls = ntfsdisk::MmlsPartitions();
    ASSERT_EQ(out.partitions.size(), 3u) << text.substr(0, 2000);
    for (size_t k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        const Partition& p = out.partitions[k];
        const ntfsdisk::Fsstat fs = ntfsdisk::FsstatOf(int(k) + 1);
        EXPECT_EQ(p.searcher, 35u);
        EXPECT_EQ(p.index, k);
        EXPECT_EQ(p.fileSystem, 3u);
        EXPECT_EQ(p.start, mmls[k].first);
        EXPECT_EQ(p.cluster0, mmls[k].first);
        EXPECT_EQ(p.sectorsPerCluster, fs.clusterBytes / 512);
        EXPECT_EQ(p.sectors, fs.sectors);
        EXPECT_EQ(p.sectorSize, 512u);
        EXPECT_GE(p.score, 70);
    }
    // TestDisk names the same volumes.
    const auto testdisk = ntfsdisk::TestDiskPartitions();
    ASSERT_EQ(testdisk.size(), 3u);
    for (size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(testdisk[k].start, out.partitions[k].start) << testdisk[k].label;
        EXPECT_EQ(testdisk[k].length, mmls[k].second) << testdisk[k].label;
    }

    // The listing: every file of each volume that fls lists and that holds data (files of size 0 are
    // never published), with the folders above them; Orphan's files under "Other lost files".
    std::map<std::string, ntfstest::IcatEntry> files;
    std::map<std::string, bool> deleted;
    for (int volume = 1; volume <= 3; ++volume) {
        const auto sums = ntfsdisk::Icat(volume);
        for (const auto& e : ntfsdisk::Fls(volume)) {
            if (e.directory || !sums.count(e.path) || sums.at(e.path).size == 0) continue;
            files[e.path] = sums.at(e.path);
            deleted[e.path] = e.deleted;
        }
    }
    for (const auto& [path, sum] : ntfsdisk::Orphans()) {
        const std::string lost = "Other lost files/" + path.substr(std::string("Alpha/Keep/Parent/").size());
        files[lost] = sum;
        deleted[lost] = false;
    }
    std::set<std::string> expected;
    for (const auto& [path, sum] : files) {
        expected.insert(path);
        for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
            expected.insert(path.substr(0, slash));
    }
    std::set<std::string> got;
    for (const auto& [path, line] : out.listed) {
        if (!line.directory && line.size == 0) continue;  // the tree builder's to withhold
        got.insert(path);
        if (line.directory || !files.count(path)) continue;
        EXPECT_EQ(line.size, files.at(path).size) << path;
        EXPECT_EQ(line.deleted, deleted.at(path)) << path;
    }
    EXPECT_EQ(got, expected);

    // The copies hold icat's bytes: resident, sparse (zeros), compressed and fragmented files among them.
    std::filesystem::path root;
    for (const auto& entry : std::filesystem::directory_iterator(recovered)) root = entry.path();
    for (const char* kind : {"Alpha/tiny note.txt", "Alpha/sparse.bin", "Alpha/Compressed/packed words.txt",
                             "Alpha/frag.bin", "Bravo/photos/2024/picture.raw", "Charlie/removed.bin"})
        EXPECT_TRUE(files.count(kind)) << kind;
    for (const auto& [path, sum] : files) {
        SCOPED_TRACE(path);
        ASSERT_TRUE(std::filesystem::exists(root / path));
        EXPECT_EQ(testsupport::Sha256Hex(testsupport::ReadFile(root / path)), sum.sha256);
    }
    EXPECT_EQ(out.summary.substr(out.summary.find(',')), ", failed 0") << out.summary;
}

// A wiped boot sector: the volume is found through its copy; both wiped: through its $MFT/$MFTMirr pair.
TEST_F(NtfsDeepScan, WipedBootSectors) {
    const auto mmls = ntfsdisk::MmlsPartitions();
    for (const auto& [name, volume, top] : {std::tuple<const char*, size_t, const char*>{"boot-zeroed", 2, "Charlie/"},
                                            {"boots-zeroed", 1, "Bravo/"}}) {
        SCOPED_TRACE(name);
        const auto image = ntfsdisk::Copy(name, dir.path());
        std::string text;
        ASSERT_EQ(Run("--deep --partitions - --list - '" + image.string() + "'", &text), 0)
            << testsupport::ReadFile(dir / "err.txt");
        const Output out = Parse(text);
        ASSERT_EQ(out.partitions.size(), 3u);
        EXPECT_EQ(out.partitions[volume].start, mmls[volume].first);
        size_t files = 0;
        for (const auto& [path, line] : out.listed) files += path.rfind(top, 0) == 0 && !line.directory;
        size_t expected = 0;
        for (const auto& e : ntfsdisk::Fls(int(volume) + 1)) expected += !e.directory;
        EXPECT_EQ(files, expected);
    }
}

// One record per volume, with the boot sector's size in the device's 512-byte sectors: a volume of
// 4096-byte sectors was also listed a second time at its start, read with 512-byte clusters.
TEST_F(NtfsDeepScan, OneRecordPerVolumeWithTheBootSectorsSize) {
    for (const char* name : {"ntfs512", "ntfs4k"}) {
        SCOPED_TRACE(name);
        std::string text;
        ASSERT_EQ(Run("--deep --partitions - '" + ntfstest::Image(name).string() + "'", &text), 0)
            << testsupport::ReadFile(dir / "err.txt");
        const ntfsdisk::Fsstat fs = ntfsdisk::FsstatFile(std::string("ntfs/") + name + ".fsstat.txt");
        ASSERT_GT(fs.sectorBytes, 0u);
        const Output out = Parse(text);
        ASSERT_EQ(out.partitions.size(), 1u) << text;
        EXPECT_EQ(out.partitions[0].start, 0);
        EXPECT_EQ(out.partitions[0].sectorsPerCluster, fs.clusterBytes / 512);
        EXPECT_EQ(out.partitions[0].sectors, fs.sectors * (fs.sectorBytes / 512));
        EXPECT_GT(out.partitions[0].score, 0);
    }
}

// --partitions goes where --list may go: never into the source, and only after a deep scan.
TEST_F(NtfsDeepScan, PartitionsAreNeverWrittenIntoTheSource) {
    const auto image = ntfsdisk::Copy("mbr-zeroed", dir.path());
    const std::string before = testsupport::Sha256Hex(testsupport::ReadFile(image));
    EXPECT_EQ(Run("--deep --partitions '" + image.string() + "' '" + image.string() + "'"), 1);
    EXPECT_NE(testsupport::ReadFile(dir / "err.txt").find("brelvox-scan: "), std::string::npos);
    EXPECT_EQ(testsupport::Sha256Hex(testsupport::ReadFile(image)), before);
    EXPECT_EQ(Run("--quick --partitions - '" + image.string() + "'"), 1);
    EXPECT_NE(testsupport::ReadFile(dir / "err.txt").find("--partitions"), std::string::npos);
    const auto listed = dir / "partitions.txt";
    ASSERT_EQ(Run("--deep --partitions '" + listed.string() + "' '" + image.string() + "' >/dev/null"), 0);
    EXPECT_EQ(Parse(testsupport::ReadFile(listed)).partitions.size(), 3u);
}

}  // namespace
