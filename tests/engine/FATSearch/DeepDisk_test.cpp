// The deep FAT search over the fixture disks, through the block feeder: the partitions against mmls and
// fsstat, the trees against fls (orphans included), the bytes read through the runs against icat; boot
// sectors and tables wiped; a 4096-byte-sector disk; a second search in the same process.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "engine/FATSearch/FatDiskSupport.h"
#include "support/MemoryDevice.h"
#include "support/Sha256.h"
#include "support/TempDir.h"

using fatdisk::DeepScan;

namespace {

std::string SectorsOf(const std::vector<CFATSearchedPartitionInfo>& found) {
    std::string out;
    for (const auto& p : found) {
        out += "[" + std::to_string(p.m_partitionStartSector) + " type " + std::to_string(p.m_fileSystemType) +
               " data " + std::to_string(p.m_cluster0Sector) + " score " + std::to_string(p.m_score) + "] ";
    }
    return out;
}

// Each found partition k holds the k-th FAT16/FAT32 volume of mmls, with fsstat's layout.
void ExpectVolumes(const std::vector<CFATSearchedPartitionInfo>& found, const std::string& disk, i64 minScore,
                   i64 maxScore, bool exactTotals) {
    const auto volumes = fatdisk::Volumes(disk);
    ASSERT_EQ(found.size(), 2u) << SectorsOf(found);
    for (size_t k = 0; k < found.size(); ++k) {
        SCOPED_TRACE(volumes[k].name);
        const auto& p = found[k];
        const fatdisk::Fsstat fs = fatdisk::FsstatOf(volumes[k].name);
        EXPECT_EQ(p.m_partitionIndex, static_cast<i32>(k));
        EXPECT_EQ(p.m_fileSystemType, k == 0 ? FILE_SYSTEM_FAT16 : FILE_SYSTEM_FAT32);
        EXPECT_EQ(p.m_cluster0Sector, volumes[k].start + fs.clusterArea);
        EXPECT_EQ(i64{p.m_sectorsPerCluster} * fs.sectorSize, fs.clusterBytes);
        EXPECT_EQ(i64{p.m_sectorSize}, fs.sectorSize);
        EXPECT_GE(p.m_score, minScore);
        EXPECT_LE(p.m_score, maxScore);
        if (exactTotals) {
            EXPECT_EQ(p.m_partitionStartSector, volumes[k].start);
            EXPECT_EQ(p.GetTotalSectors(), fs.sectors);
        }
    }
}

// The tree of found partition k against fls's listing of its volume: every entry at its path (orphans as
// lost files by their own names) with fls's deleted mark and icat's size, nothing fls does not list, and
// icat's bytes through the runs of every file whose clusters are intact.
void ExpectTree(DeepScan& scan, size_t k, const std::string& volume, size_t minFiles) {
    SCOPED_TRACE(volume);
    const auto found = scan.Partitions();
    ASSERT_GT(found.size(), k);
    const auto listed = fatdisk::ByPartition(scan.builder)[static_cast<int>(k)];
    const auto expected = fatdisk::ExpectedListing(volume);
    size_t files = 0;
    size_t lost = 0;
    for (const auto& [key, x] : expected) {
        SCOPED_TRACE(x.path);
        const auto it = listed.find(key);
        ASSERT_NE(it, listed.end());
        EXPECT_EQ(it->second.deleted, x.deleted);
        EXPECT_EQ(it->second.directory, x.directory);
        if (x.directory) continue;
        EXPECT_EQ(it->second.size, x.size);
        lost += x.path.rfind("<lost>/", 0) == 0;
        if (x.size == 0 || x.sha256.empty()) continue;
        std::string bytes;
        ASSERT_TRUE(fattest::ReadThroughRuns(scan.device.get(), found[k], it->second.node, bytes));
        EXPECT_EQ(testsupport::Sha256Hex(bytes), x.sha256);
        ++files;
    }
    EXPECT_GE(files, minFiles);
    for (const auto& [key, l] : listed) EXPECT_TRUE(expected.count(key)) << "not in fls: " << l.path;
    if (volume == "p1" || volume == "p2") {
        EXPECT_GE(lost, 4u);
    }
}

}  // namespace

TEST(FatDeepDisk, PartitionsOfTheDiskWithoutItsMBR) {
    testsupport::TempDir dir;
    DeepScan scan(fatdisk::Copy("disk-mbr-zeroed", dir.path()));
    scan.Run();
    const auto found = scan.Partitions();
    ExpectVolumes(found, "disk", 95, 100, true);
    // FAT32: its boot sector, the backup six sectors on and both tables.
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[1].GetFlag() & 0x3CC, 0x3CCu);
    EXPECT_EQ(found[0].GetFlag() & 0x3C2, 0x3C2u);
    // The FAT12 volume beside them gives nothing: no partition starts there.
    for (const auto& p : found) EXPECT_LT(p.m_partitionStartSector, fatdisk::Volumes()[2].start);
    // One searcher registration, one device, one build.
    EXPECT_EQ(scan.builder.m_flashes, std::vector<u32>{SEARCHER_FAT});
    EXPECT_EQ(scan.builder.m_partitionCalls, 1);
    EXPECT_EQ(scan.builder.m_device, scan.device.get());
}

TEST(FatDeepDisk, TreesEqualFlsAndBytesEqualIcat) {
    testsupport::TempDir dir;
    DeepScan scan(fatdisk::Copy("disk-mbr-zeroed", dir.path()));
    scan.Run();
    ExpectTree(scan, 0, "p1", 90);
    ExpectTree(scan, 1, "p2", 90);
}

TEST(FatDeepDisk, FourKiBSectors) {
    testsupport::TempDir dir;
    DeepScan scan(fatdisk::Copy("disk-4k-mbr-zeroed", dir.path()), 4096);
    scan.Run();
    ExpectVolumes(scan.Partitions(), "disk-4k", 95, 100, true);
    ExpectTree(scan, 0, "4k-p1", 3);
    ExpectTree(scan, 1, "4k-p2", 3);
}

namespace {

// Every listed path of a scan (all partitions), sorted: what two scans must agree on.
std::vector<std::string> AllPaths(DeepScan& scan) {
    std::vector<std::string> out;
    for (const auto& [partition, listed] : fatdisk::ByPartition(scan.builder)) {
        for (const auto& [key, l] : listed) out.push_back(std::to_string(partition) + ":" + l.path);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The lost folders' names, DIR0, DIR1, ... in the order the build made them.
std::vector<std::string> LostFolderNames(const DeepScan& scan) {
    std::vector<std::string> out;
    for (IFileNode* n : scan.builder.m_nodes) {
        const std::string name = n->GetFileName() ? n->GetFileName() : "";
        if (n->IsDirectory() && name.rfind("DIR", 0) == 0) out.push_back(name);
    }
    return out;
}

}  // namespace

// Boot sectors (and tables) wiped: each volume is found through its sub-folders alone, with the right
// type, cluster size and data start and the score 20; folders no entry names are DIR0, DIR1, ...; a
// second search, by the same searcher or a new one, names and lists the same.
TEST(FatDeepDisk, FoundThroughSubFoldersWhenBootSectorsAndTablesAreWiped) {
    testsupport::TempDir dir;
    for (const char* copy : {"disk-boot-zeroed", "disk-tables-zeroed"}) {
        SCOPED_TRACE(copy);
        const auto image = fatdisk::Copy(copy, dir.path());
        DeepScan scan(image);
        scan.Run();
        ExpectVolumes(scan.Partitions(), "disk", 20, 20, false);
        const auto names = LostFolderNames(scan);
        ASSERT_FALSE(names.empty());
        for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(names[i], "DIR" + std::to_string(i));

        // Every file of both volumes is listed by its name and size: below its folder, below a lost
        // folder, or lost (without tables, a folder's chain ends after its first cluster).
        for (int k = 0; k < 2; ++k) {
            std::multiset<std::pair<std::string, i64>> files;
            const auto listed = fatdisk::ByPartition(scan.builder);
            for (const auto& [key, l] : listed.at(k)) {
                if (!l.directory) files.insert({fattest::Comparable(l.path.substr(l.path.rfind('/') + 1)), l.size});
            }
            for (const auto& [key, x] : fatdisk::ExpectedListing(k == 0 ? "p1" : "p2")) {
                if (x.directory) continue;
                const std::string name = fattest::Comparable(x.path.substr(x.path.rfind('/') + 1));
                EXPECT_TRUE(files.count({name, x.size})) << x.path;
            }
        }
        // The FAT16 volume's root is read among the folder sectors below its data area: what it holds
        // stands at its own path.
        const auto fat16 = fatdisk::ByPartition(scan.builder)[0];
        for (const auto& [key, x] : fatdisk::ExpectedListing("p1")) {
            if (x.path.find('/') == std::string::npos) {
                EXPECT_TRUE(fat16.count(key)) << x.path;
            }
        }

        const auto paths = AllPaths(scan);
        for (IFileNode* n : scan.builder.m_nodes) n->Release();
        scan.builder.m_nodes.clear();
        scan.Run();  // the same searcher again
        EXPECT_EQ(LostFolderNames(scan), names);
        DeepScan again(image);
        again.Run();
        EXPECT_EQ(LostFolderNames(again), names);
        EXPECT_EQ(AllPaths(again), paths);
    }
}

namespace {

// The FAT16 volume's top-level names of a scan of the disk without boot sectors, with `planted`
// sectors (from -> to) copied first.
std::set<std::string> Fat16TopLevel(const std::vector<std::pair<i64, i64>>& planted, size_t* nodes = nullptr) {
    testsupport::TempDir dir;
    auto device = testsupport::MemoryDevice::FromFile(fatdisk::Copy("disk-boot-zeroed", dir.path()), 512,
                                                      STORAGE_DEVICE_DISK);
    for (const auto& [from, to] : planted) {
        std::vector<u8> bytes(512);
        EXPECT_EQ(device->ReadSector(bytes.data(), from, 1), 1);
        device->Put(static_cast<u64>(to) * 512, bytes.data(), bytes.size());
    }
    DeepScan scan(std::move(device));
    scan.Run();
    if (nodes != nullptr) *nodes = scan.builder.m_nodes.size();
    std::set<std::string> out;
    const auto listed = fatdisk::ByPartition(scan.builder);
    for (const auto& [key, l] : listed.at(0)) {
        if (l.path.find('/') == std::string::npos) out.insert(l.path);
    }
    return out;
}

}  // namespace

// A volume known from its sub-folders alone has no known root: the folder sectors up to 128 KiB below
// its data area are read as its lost root (their entries at the top), those further below are not; a
// folder's first sector found off the first sector of the cluster its "." names is passed over.
TEST(FatDeepDisk, LostRootSectorsBelowTheDataAreaAndFolderSectorsOffTheirCluster) {
    testsupport::TempDir dir;
    DeepScan probe(fatdisk::Copy("disk-boot-zeroed", dir.path()));
    probe.Run();
    const auto found = probe.Partitions();
    ASSERT_EQ(found.size(), 2u);
    ASSERT_EQ(found[0].m_fileSystemType, FILE_SYSTEM_FAT16);
    const i64 data = found[0].m_cluster0Sector;
    const i64 end = found[1].m_partitionStartSector;
    // An entries sector and a folder's first sector of the FAT16 volume's sub-folders.
    i64 entries = -1;
    i64 first = -1;
    for (const auto& r : probe.searcher->FolderSectors()) {
        if (r.sector < data || r.sector >= end) continue;
        if (r.cluster == FIRSTFOLDERSECTOR::kUnknownCluster && entries < 0) entries = r.sector;
        if (r.cluster != FIRSTFOLDERSECTOR::kUnknownCluster && first < 0) first = r.sector;
    }
    ASSERT_GE(entries, 0);
    ASSERT_GE(first, 0);

    size_t plainNodes = 0;
    const auto plain = Fat16TopLevel({}, &plainNodes);
    const auto near = Fat16TopLevel({{entries, data - 200}});
    const auto far = Fat16TopLevel({{entries, data - 300}});
    EXPECT_GT(near.size(), plain.size());
    EXPECT_TRUE(std::includes(near.begin(), near.end(), plain.begin(), plain.end()));
    EXPECT_EQ(far, plain);

    // The volume's last sectors are free: one in the middle of a cluster, one at the start of a cluster
    // other than the one its "." names.
    const i64 spc = found[0].m_sectorsPerCluster;
    const i64 lastCluster = data + (end - 8 - data) / spc * spc;
    size_t offNodes = 0;
    const auto off = Fat16TopLevel({{first, lastCluster + 1}, {first, lastCluster - spc}}, &offNodes);
    EXPECT_EQ(off, plain);
    EXPECT_EQ(offNodes, plainNodes);
}
