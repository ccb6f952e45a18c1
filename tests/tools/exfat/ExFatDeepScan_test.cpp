// brelvox-scan --deep over exFAT disks whose partition table is gone, end to end: the type-33 partition
// record against dump.exfat's geometry, the listing against fls and the copied bytes against icat; the
// 4096-byte-sector volume through a loop device of that sector size.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/EXFatSearch/ExFatTestSupport.h"
#include "support/DriverListing.h"
#include "support/Fixtures.h"
#include "support/HostileTable.h"
#include "support/LoopDevice.h"
#include "support/Sha256.h"
#include "support/TempDir.h"

namespace {

const std::string kDriver = std::string(BRELVOX_BINARY_DIR) + "/tools/brelvox-scan";

struct Volume {
    const char* name;   // the fixture volume (its fls and icat goldens)
    u32 sectorSize;
    i64 start;          // where it is written on the disk, in sectors
    i64 heap;           // dump.exfat's geometry
    u32 sectorsPerCluster;
    i64 length;
};

// The type-33 lines of the driver's --partitions output, split into their fields.
std::vector<std::vector<std::string>> ExFatRecords(const std::string& text) {
    std::vector<std::vector<std::string>> out;
    std::istringstream lines(text);
    for (std::string row; std::getline(lines, row);) {
        const auto f = testsupport::SplitFields(row);
        if (f.size() == 9 && f[0] == "33") out.push_back(f);
    }
    return out;
}

struct Found {
    i64 start;
    i64 length;
    u32 clusterBytes;
    bool operator==(const Found&) const = default;
};

// A type-33 record's start, length and cluster size (sectors per cluster times sector size).
Found FoundOf(const std::vector<std::string>& record) {
    return {std::stoll(record[3]), std::stoll(record[5]),
            static_cast<u32>(std::stoul(record[6]) * std::stoul(record[7]))};
}

// The volumes of TestDisk's search (its first listing): "HPFS - NTFS  C H S  C H S  LENGTH" in a geometry
// of 255 heads and 63 sectors, then "exFAT, blocksize=N, ...".
std::vector<Found> TestDiskVolumes(const std::string& golden) {
    std::vector<Found> out;
    std::istringstream log(testsupport::ReadFile(testsupport::FixturePath("exfat/" + golden)));
    bool pending = false;
    for (std::string row; std::getline(log, row);) {
        if (row.rfind("HPFS - NTFS", 0) == 0) {
            if (pending) break;  // the listing again
            std::istringstream fields(row.substr(11));
            i64 c = 0, h = 0, s = 0, c2 = 0, h2 = 0, s2 = 0, length = 0;
            fields >> c >> h >> s >> c2 >> h2 >> s2 >> length;
            out.push_back({(c * 255 + h) * 63 + s - 1, length, 0});
            pending = true;
        } else if (pending && row.rfind("exFAT, blocksize=", 0) == 0) {
            out.back().clusterBytes = static_cast<u32>(std::stoul(row.substr(17)));
            pending = false;
        } else if (!out.empty() && row.rfind("Disk ", 0) == 0) {
            break;
        }
    }
    return out;
}

class ExFatDeepScan : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kDriver)) GTEST_SKIP() << kDriver << " is not built";
    }
    // A disk of the volume at its start, nothing before it (no table) and 1 MiB of zeros behind it.
    std::filesystem::path Disk(const Volume& v) {
        const auto disk = dir.path() / "disk.img";
        const auto volume = exfattest::Image(v.name);
        const u64 at = static_cast<u64>(v.start) * v.sectorSize;
        testsupport::RunCommand("truncate -s " + std::to_string(at + std::filesystem::file_size(volume) + (1 << 20)) +
                                " '" + disk.string() + "' && dd if='" + volume.string() + "' of='" + disk.string() +
                                "' bs=" + std::to_string(v.sectorSize) + " seek=" + std::to_string(v.start) +
                                " conv=notrunc,sparse status=none");
        return disk;
    }
    void ScanAndCheck(const Volume& v, const std::string& source);
    testsupport::TempDir dir;
};

void ExFatDeepScan::ScanAndCheck(const Volume& v, const std::string& source) {
    SCOPED_TRACE(v.name);
    const auto out = dir.path() / "recovered";
    std::string text;
    testsupport::RunCommand(kDriver + " --deep --partitions - --list '" + (dir.path() / "list.txt").string() +
                                "' --recover '" + out.string() + "' '" + source + "' 2>'" +
                                (dir.path() / "err.txt").string() + "'",
                            &text);
    // One type-33 record: the volume's start, heap, length and cluster size.
    const auto records = ExFatRecords(text);
    ASSERT_EQ(records.size(), 1u) << text << testsupport::ReadFile(dir.path() / "err.txt");
    const auto& f = records[0];
    EXPECT_EQ(f[1], "0");
    EXPECT_EQ(f[2], "7");
    EXPECT_EQ(std::stoll(f[3]), v.start);
    EXPECT_EQ(std::stoll(f[4]), v.start + v.heap);
    EXPECT_EQ(std::stoll(f[5]), v.length);
    EXPECT_EQ(std::stoul(f[6]), v.sectorsPerCluster);
    EXPECT_EQ(std::stoul(f[7]), v.sectorSize);

    // Every entry of fls at its path with its deleted mark, nothing else; the copies hold icat's bytes.
    const auto listed = testsupport::ReadListedLines(dir.path() / "list.txt", "33");
    const auto sums = exfattest::IcatSums(v.name);
    std::set<std::string> expected;
    std::filesystem::path root;
    if (std::filesystem::exists(out)) {
        // The exFAT searcher's folder, beside the raw searcher's.
        for (const auto& entry : std::filesystem::directory_iterator(out)) {
            if (entry.path().filename().string().find("(ExFat)") != std::string::npos) root = entry.path();
        }
    }
    ASSERT_FALSE(root.empty());
    size_t checked = 0;
    for (const auto& e : exfattest::FlsListing(v.name)) {
        SCOPED_TRACE(e.path);
        expected.insert(e.path);
        const auto it = listed.find(e.path);
        ASSERT_NE(it, listed.end());
        EXPECT_EQ(it->second.deleted, e.deleted);
        EXPECT_EQ(it->second.directory, e.directory);
        if (e.directory) continue;
        // Deleted files too (the chained one whose chain exfat-fuse freed through the free clusters that
        // follow its first), but the one whose cluster a live file took over.
        if (sums.count(e.path) == 0 || e.path == "Docs/Nested/Deeper/reused old.txt")
            continue;
        EXPECT_EQ(testsupport::Sha256Hex(testsupport::ReadFile(root / e.path)), sums.at(e.path));
        ++checked;
    }
    EXPECT_GE(checked, 20u);
    for (const auto& [path, line] : listed) EXPECT_EQ(expected.count(path), 1u) << "not in fls: " << path;
}

TEST_F(ExFatDeepScan, TheVolumeOfADiskWithoutItsTable) {
    const Volume v{"exfat-4k", 512, 2048, 4096, 8, 65536};
    ScanAndCheck(v, Disk(v).string());
}

TEST_F(ExFatDeepScan, AVolumeOf4096ByteSectorsThroughALoopDevice) {
    const Volume v{"exfat-4kn", 4096, 256, 512, 4, 8192};
    const auto disk = Disk(v);
    testsupport::LoopDevice loop(disk, 4096, true);
    if (loop.empty()) GTEST_SKIP() << "no loop device of 4096-byte sectors";
    ScanAndCheck(v, loop.Device());
}

// The two-volume disk without its MBR: one type-33 record per volume at mmls's start and length, the
// volumes TestDisk's search names on the same disk.
TEST_F(ExFatDeepScan, TwoVolumesAgainstMmlsAndTestDisk) {
    const auto image = testsupport::UnpackXzShared(testsupport::FixturePath("exfat/deep-two.img.xz"));
    const auto disk = dir.path() / "nombr.img";
    testsupport::ApplyPatches(image, {{"", 0, std::string(512, '\0')}}, disk);
    std::string text;
    testsupport::RunCommand(kDriver + " --deep --partitions - '" + disk.string() + "' 2>/dev/null", &text);
    std::vector<std::pair<i64, i64>> records;  // start, length
    std::vector<Found> found;
    for (const auto& f : ExFatRecords(text)) {
        EXPECT_EQ(f[1], std::to_string(records.size()));
        EXPECT_EQ(f[2], "7");
        records.emplace_back(std::stoll(f[3]), std::stoll(f[5]));
        found.push_back(FoundOf(f));
    }
    // mmls: "000:000   0000002048   0000067583   0000065536   NTFS / exFAT (0x07)".
    std::vector<std::pair<i64, i64>> mmls;
    std::istringstream table(testsupport::ReadFile(testsupport::FixturePath("exfat/deep-two.mmls.txt")));
    for (std::string row; std::getline(table, row);) {
        if (row.find("exFAT") == std::string::npos) continue;
        std::istringstream fields(row);
        std::string slot, kind;
        i64 start = 0, end = 0, length = 0;
        fields >> slot >> kind >> start >> end >> length;
        mmls.emplace_back(start, length);
    }
    ASSERT_EQ(mmls.size(), 2u);
    EXPECT_EQ(records, mmls);
    EXPECT_EQ(found, (std::vector<Found>{{mmls[0].first, mmls[0].second, 4096}, {mmls[1].first, mmls[1].second, 32768}}));
    EXPECT_EQ(TestDiskVolumes("deep-two.testdisk.txt"), found);
}

// deep-mbr without its MBR (the volume at 2048, its boot sector copied to sector 5 and past its end):
// the one volume TestDisk's search names, with its cluster size.
TEST_F(ExFatDeepScan, TheZeroedTableDiskAgainstTestDisk) {
    const auto image = testsupport::UnpackXzShared(testsupport::FixturePath("exfat/deep-mbr.img.xz"));
    const auto disk = dir.path() / "nombr.img";
    testsupport::ApplyPatches(image, {{"", 0, std::string(512, '\0')}}, disk);
    std::string text;
    testsupport::RunCommand(kDriver + " --deep --partitions - '" + disk.string() + "' 2>/dev/null", &text);
    std::vector<Found> found;
    for (const auto& f : ExFatRecords(text)) found.push_back(FoundOf(f));
    const std::vector<Found> testdisk = TestDiskVolumes("deep-mbr.testdisk.txt");
    ASSERT_EQ(testdisk.size(), 1u);
    EXPECT_EQ(testdisk[0], (Found{2048, 65536, 4096}));
    EXPECT_EQ(found, testdisk);
}

}  // namespace

// The public exfat-rawtools image (../shared/fixtures), whose root bitmap and up-case entries carry
// non-zero reserved bytes as some formatters write them: the deep scan finds its volume whole (one
// record, its boot sector's geometry) and lists every file of size > 0 that fls lists, with icat's bytes.
TEST_F(ExFatDeepScan, ReservedBytesOfTheRootEntriesRefuseNothing) {
    const auto xz = testsupport::SharedFixturePath("exfat-rawtools.img.xz");
    ASSERT_TRUE(xz) << "../shared/fixtures/exfat-rawtools.img.xz is missing";
    const auto image = testsupport::UnpackXz(*xz, dir.path());
    const auto out = dir.path() / "recovered";
    std::string text;
    ASSERT_EQ(testsupport::RunCommand(kDriver + " --deep --partitions - --list - --recover '" + out.string() + "' '" +
                                          image.string() + "' 2>/dev/null",
                                      &text),
              0);
    const auto records = ExFatRecords(text);
    ASSERT_EQ(records.size(), 1u) << text;
    EXPECT_EQ(FoundOf(records[0]), (Found{0, 262144, 4096}));
    std::map<std::string, i64> listed;
    for (const auto& l : testsupport::ListedLinesOf(text, "33"))
        if (!l.directory) listed[l.path] = l.size;
    const auto copies = testsupport::CopiedSha256(out);
    size_t files = 0;
    std::istringstream icat(testsupport::ReadFile(testsupport::FixturePath("exfat/shared-exfat-rawtools.icat.txt")));
    for (std::string line; std::getline(icat, line);) {
        const auto f = testsupport::SplitFields(line);
        if (f.size() != 4 || f[2] == "0") continue;
        SCOPED_TRACE(f[3]);
        ++files;
        ASSERT_TRUE(listed.count(f[3]));
        EXPECT_EQ(listed.at(f[3]), std::stoll(f[2]));
        EXPECT_EQ(copies.at("Disk(ExFat)/" + f[3]), f[1]);
    }
    EXPECT_EQ(files, 4u);
}
