// The edge cases of the deep FAT search's inference, read from the fixture disk's own boot, table and
// folder sectors and handed to the searcher's steps directly: scores, sub-folder agreement, backups,
// equal starts, FAT12, the 64-bit layout arithmetic, refused sector sizes, EndSearch(0), the records'
// copy-out and the constants of the layout.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

#include "engine/FATLib/FATBootSector.h"
#include "engine/FATSearch/FatDiskSupport.h"
#include "support/MemoryDevice.h"
#include "support/TempDir.h"

namespace {

constexpr i64 kFat16 = 2048;    // mmls's starts on the fixture disk
constexpr i64 kFat32 = 34816;
constexpr i64 kFat12 = 112640;

std::unique_ptr<testsupport::MemoryDevice> FixtureDisk() {
    return testsupport::MemoryDevice::FromFile(fatdisk::Disk(), 512, STORAGE_DEVICE_DISK);
}

std::vector<u8> SectorOf(testsupport::MemoryDevice& device, i64 sector) {
    std::vector<u8> out(device.GetSectorSize());
    EXPECT_EQ(device.ReadSector(out.data(), sector, 1), 1);
    return out;
}

// A searcher on a device, ready for its steps.
struct Steps {
    explicit Steps(IStorageDevice* device) {
        searcher.SetDevice(device);
        searcher.SetBlockSize(8192);
        searcher.PreparetoSearch();
    }
    int Boot(testsupport::MemoryDevice& device, i64 sector) {
        return searcher.AnalyzeFATDBRSector(sector, SectorOf(device, sector).data());
    }
    const CFATSearchedPartitionInfo* CandidateAt(i64 start) const {
        for (const auto& [key, c] : searcher.Candidates()) {
            if (c->m_partitionStartSector == start) return c.get();
        }
        return nullptr;
    }
    CFATCompleteFSearcher::PartitionList Chosen() {
        CFATCompleteFSearcher::PartitionList list;
        searcher.AddSearchedPartitionInfoList2(list);
        return list;
    }
    CFATCompleteFSearcher searcher;
};

// The folder records a full scan of the disk without boot sectors meets: real sub-folder first sectors.
std::vector<FIRSTFOLDERSECTOR> SubFolderSectors(i64 from, i64 to) {
    testsupport::TempDir dir;
    fatdisk::DeepScan scan(fatdisk::Copy("disk-boot-zeroed", dir.path()));
    scan.Run();
    std::vector<FIRSTFOLDERSECTOR> out;
    for (const auto& r : scan.searcher->FolderSectors()) {
        if (r.cluster != FIRSTFOLDERSECTOR::kUnknownCluster && r.sector >= from && r.sector < to) out.push_back(r);
    }
    return out;
}

}  // namespace

// Scores from the boot sectors and tables seen (50 + 50 at best, 45 for one of a pair), and what is
// kept at all: a boot sector needs a table or a sub-folder beside it.
TEST(FatDeepInference, ScoresFromBootSectorsAndTables) {
    auto disk = FixtureDisk();
    const auto fat32Folders = SubFolderSectors(kFat32, kFat12);
    ASSERT_FALSE(fat32Folders.empty());
    struct Case {
        const char* name;
        i64 volume;
        std::vector<i64> boots;  // sectors analysed as boot sectors
        bool firstTable, secondTable, subFolder;
        i64 score;  // -1: not kept
    };
    const Case cases[] = {
        {"FAT32 boot, backup, both tables", kFat32, {kFat32, kFat32 + 6}, true, true, false, 100},
        {"FAT32 boot, backup, first table", kFat32, {kFat32, kFat32 + 6}, true, false, false, 95},
        {"FAT32 boot, both tables", kFat32, {kFat32}, true, true, false, 95},
        {"FAT32 backup alone, both tables", kFat32, {kFat32 + 6}, true, true, false, 95},
        {"FAT32 boot, second table", kFat32, {kFat32}, false, true, false, 90},
        {"FAT32 boot and a sub-folder", kFat32, {kFat32}, false, false, true, 55},
        {"FAT32 boot alone", kFat32, {kFat32}, false, false, false, -1},
        {"FAT16 boot, both tables", kFat16, {kFat16}, true, true, false, 100},
        {"FAT16 boot, first table", kFat16, {kFat16}, true, false, false, 95},
        {"FAT16 boot alone", kFat16, {kFat16}, false, false, false, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Steps steps(disk.get());
        for (i64 b : c.boots) EXPECT_EQ(steps.Boot(*disk, b), 1);
        const CFATSearchedPartitionInfo* candidate = steps.CandidateAt(c.volume);
        ASSERT_NE(candidate, nullptr);
        // The FAT32 backup six sectors on confirms the volume; it is no volume of its own.
        if (c.boots.size() == 2) {
            EXPECT_EQ(steps.CandidateAt(c.volume + 6), nullptr);
        }
        const i64 first = c.volume + candidate->GetReservedSector();
        const i64 second = first + candidate->GetSectorPerFAT();
        if (c.firstTable) steps.searcher.UpdateFATTableInfo(first);
        if (c.secondTable) steps.searcher.UpdateFATTableInfo(second);
        if (c.subFolder) steps.searcher.AnalyzeFATSubFolderFirstSector(fat32Folders[0].sector, fat32Folders[0].cluster);
        const auto chosen = steps.Chosen();
        const CFATSearchedPartitionInfo* kept = nullptr;
        for (const auto& p : chosen) {
            if (p->m_partitionStartSector == c.volume) kept = p.get();
        }
        if (c.score < 0) {
            EXPECT_EQ(kept, nullptr);
        } else {
            ASSERT_NE(kept, nullptr);
            EXPECT_EQ(kept->m_score, c.score);
            EXPECT_EQ(kept->m_partitionIndex, 0);
        }
        EXPECT_TRUE(steps.searcher.Candidates().empty());
        EXPECT_TRUE(steps.searcher.ExpectedTables().empty());
    }
}

// The layout a boot sector gives, against fsstat: the FAT16 root right after both tables, the FAT32
// backup six sectors after the boot sector, the data area where fsstat puts the cluster area.
TEST(FatDeepInference, LayoutFromBootSectorsEqualsFsstat) {
    auto disk = FixtureDisk();
    Steps steps(disk.get());
    EXPECT_EQ(steps.Boot(*disk, kFat16), 1);
    EXPECT_EQ(steps.Boot(*disk, kFat32 + 6), 1);  // the backup alone
    const auto* fat16 = steps.CandidateAt(kFat16);
    const auto* fat32 = steps.CandidateAt(kFat32);
    ASSERT_NE(fat16, nullptr);
    ASSERT_NE(fat32, nullptr);
    EXPECT_EQ(fat16->m_fileSystemType, FILE_SYSTEM_FAT16);
    EXPECT_EQ(fat32->m_fileSystemType, FILE_SYSTEM_FAT32);
    EXPECT_EQ(fat32->GetFlag() & (fatflags::kBootFat32 | fatflags::kBackupBootFat32), fatflags::kBackupBootFat32);
    // fsstat p1: reserved 0-3, FAT 0 4-35, FAT 1 36-67, root 68-99, cluster area from 100.
    EXPECT_EQ(fat16->GetReservedSector() + 2 * fat16->GetSectorPerFAT(), 68u);
    EXPECT_EQ(fat16->GetRootInfo(), 32u);
    EXPECT_EQ(fat16->m_cluster0Sector, kFat16 + fatdisk::FsstatOf("p1").clusterArea);
    EXPECT_EQ(fat32->m_cluster0Sector, kFat32 + fatdisk::FsstatOf("p2").clusterArea);
    EXPECT_EQ(fat32->GetRootInfo(), 2u);
    EXPECT_EQ(fatdeep::kBackupBootDistance, 6);
    EXPECT_EQ(fatdeep::kNoTable, 0x10a039000000007ULL);
}

// Boot sectors that make no candidate, or only one: FAT12; a FAT32 boot sector at sector 3, which
// cannot be a backup; the same at sector 9 may be one (of a volume at 3) as well as a volume itself.
TEST(FatDeepInference, BootSectorsThatAreNoVolumeOrNoBackup) {
    auto disk = FixtureDisk();
    {
        Steps steps(disk.get());
        EXPECT_EQ(steps.Boot(*disk, kFat12), 0);
        EXPECT_TRUE(steps.searcher.Candidates().empty());
    }
    const auto fat32Boot = SectorOf(*disk, kFat32);
    for (i64 at : {i64{3}, i64{9}}) {
        SCOPED_TRACE(at);
        testsupport::MemoryDevice plain(disk->GetTotalSectors(), 512, STORAGE_DEVICE_DISK);
        plain.Put(static_cast<u64>(at) * 512, fat32Boot.data(), fat32Boot.size());
        Steps steps(&plain);
        EXPECT_EQ(steps.Boot(plain, at), 1);
        const auto* own = steps.CandidateAt(at);
        ASSERT_NE(own, nullptr);
        EXPECT_EQ(own->GetFlag() & fatdeep::kBootFlags, fatflags::kBootFat32);
        EXPECT_EQ(steps.searcher.Candidates().size(), at == 3 ? 1u : 2u);
        if (at == 9) {
            ASSERT_NE(steps.CandidateAt(3), nullptr);
            EXPECT_EQ(steps.CandidateAt(3)->GetFlag() & fatdeep::kBootFlags, fatflags::kBackupBootFat32);
        }
    }
}

// Sub-folders: the data area (n - 2) x k sectors before a folder of cluster n; one folder alone is no
// volume, a second that agrees makes it one (score 20) and adds no candidate; "." naming cluster 0 or 1
// places nothing; candidates with the same data start but other cluster sizes are all kept.
TEST(FatDeepInference, SubFolderEvidence) {
    auto disk = FixtureDisk();
    const auto folders = SubFolderSectors(kFat32, kFat12);
    ASSERT_GE(folders.size(), 2u);
    const i64 dataStart = kFat32 + fatdisk::FsstatOf("p2").clusterArea;
    {
        Steps steps(disk.get());
        steps.searcher.AnalyzeFATSubFolderFirstSector(folders[0].sector, folders[0].cluster);
        const size_t made = steps.searcher.Candidates().size();
        EXPECT_GE(made, 1u);
        bool right = false;
        for (const auto& [start, c] : steps.searcher.Candidates()) {
            EXPECT_EQ(start, folders[0].sector - i64{folders[0].cluster - 2} * c->m_sectorsPerCluster);
            right = right || (start == dataStart && c->m_sectorsPerCluster == 1 &&
                              c->m_fileSystemType == FILE_SYSTEM_FAT32);
        }
        EXPECT_TRUE(right);
        {
            Steps alone(disk.get());
            alone.searcher.AnalyzeFATSubFolderFirstSector(folders[0].sector, folders[0].cluster);
            EXPECT_TRUE(alone.Chosen().empty());
        }
        steps.searcher.AnalyzeFATSubFolderFirstSector(folders[1].sector, folders[1].cluster);
        EXPECT_EQ(steps.searcher.Candidates().size(), made);
        const auto chosen = steps.Chosen();
        ASSERT_EQ(chosen.size(), 1u);
        EXPECT_EQ(chosen[0]->m_cluster0Sector, dataStart);
        EXPECT_EQ(chosen[0]->m_score, 20);
        EXPECT_EQ(chosen[0]->m_fileSystemType, FILE_SYSTEM_FAT32);
    }
    {
        Steps steps(disk.get());
        for (u32 n : {0u, 1u}) steps.searcher.AnalyzeFATSubFolderFirstSector(40000, n);
        EXPECT_TRUE(steps.searcher.Candidates().empty());
    }
    {
        // Cluster 2 at 40000 puts the data area there for every cluster size; cluster 7 five sectors on
        // agrees for 1 sector a cluster, ten sectors on for 2.
        Steps steps(disk.get());
        steps.searcher.AnalyzeFATSubFolderFirstSector(40000, 2);
        steps.searcher.AnalyzeFATSubFolderFirstSector(40005, 7);
        steps.searcher.AnalyzeFATSubFolderFirstSector(40010, 7);
        const auto chosen = steps.Chosen();
        ASSERT_EQ(chosen.size(), 2u);
        for (size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(chosen[i]->m_cluster0Sector, 40000);
            EXPECT_EQ(chosen[i]->m_sectorsPerCluster, i == 0 ? 1u : 2u);
            EXPECT_EQ(chosen[i]->m_partitionIndex, static_cast<i32>(i));
            EXPECT_EQ(chosen[i]->m_score, 20);
        }
    }
}

namespace {

// A device of 2^32 x 64 + 1000 sectors that holds one folder sector (and zeroes elsewhere).
class HugeDevice : public IStorageDevice {
public:
    HugeDevice(i64 at, std::vector<u8> sector) : m_at(at), m_sector(std::move(sector)) {}
    int Open(const char*) override { return 1; }
    int Close() override { return 1; }
    int ReadSector(void* buffer, i64 first, i64 count) override {
        if (first < 0 || count < 0 || first + count > GetTotalSectors()) return 0;
        std::memset(buffer, 0, static_cast<size_t>(count) * 512);
        if (m_at >= first && m_at < first + count) {
            std::memcpy(static_cast<u8*>(buffer) + (m_at - first) * 512, m_sector.data(), 512);
        }
        return 1;
    }
    u32 GetSectorSize() override { return 512; }
    i64 GetTotalSectors() override { return (i64{1} << 32) * 64 + 1000; }
    int IOCtl(u64, void*) override { return 0; }
    IStorageDeviceData* GetPrivateData() override { return nullptr; }
    void SetPrivateData(IStorageDeviceData*) override {}
    u32 GetType() override { return STORAGE_DEVICE_DISK; }
    u64 GetLastError() override { return 0; }

private:
    i64 m_at;
    std::vector<u8> m_sector;
};

}  // namespace

// Counts are 64-bit: on a device of 2^32 x k sectors and more, a planted sub-folder makes no volume
// whose cluster count wrapped into a small, valid-looking one.
TEST(FatDeepInference, NoFalseCandidateOnADeviceOf2To32Clusters) {
    auto disk = FixtureDisk();
    const auto folders = SubFolderSectors(kFat32, kFat12);
    ASSERT_FALSE(folders.empty());
    HugeDevice huge(1000, SectorOf(*disk, folders[0].sector));
    Steps steps(&huge);
    for (u32 n : {2u, 3u, 16u}) steps.searcher.AnalyzeFATSubFolderFirstSector(1000, n);
    EXPECT_TRUE(steps.searcher.Candidates().empty());
    u64 clusters = 0;
    u64 spt = 0;
    for (u32 k : fatdeep::kSectorsPerCluster) {
        EXPECT_FALSE(steps.searcher.IsValidFileSystem(1000 - 64, k, FILE_SYSTEM_FAT32, clusters, spt)) << k;
        EXPECT_FALSE(steps.searcher.IsValidFileSystem(1000 - 64, k, FILE_SYSTEM_FAT16, clusters, spt)) << k;
    }
}

// Sectors above 4096 bytes are refused before any is read; EndSearch(0) builds nothing; the records'
// copy-out: a count without an array, clones with room, nothing with too little.
TEST(FatDeepInference, RefusalsEndSearchWithoutBuildAndRecordCopies) {
    {
        testsupport::MemoryDevice big(64, 8192, STORAGE_DEVICE_DISK);
        CFATCompleteFSearcher searcher;
        testsupport::DeepBlockFeeder feeder(searcher, big);
        feeder.Run();
        EXPECT_EQ(big.ReadCount(), 0);
        EXPECT_EQ(searcher.GetSearchedPartitionInfo(nullptr, 0), 0);
    }
    testsupport::TempDir dir;
    const auto image = fatdisk::Copy("disk-mbr-zeroed", dir.path());
    {
        fatdisk::DeepScan scan(image);
        testsupport::DeepBlockFeeder feeder(*scan.searcher, *scan.device, &scan.builder);
        feeder.Prepare();
        feeder.FeedAll();
        feeder.End(0);
        EXPECT_TRUE(scan.builder.m_nodes.empty());
        EXPECT_EQ(scan.searcher->GetSearchedPartitionInfo(nullptr, 0), 0);
        EXPECT_FALSE(scan.searcher->Candidates().empty());
    }
    fatdisk::DeepScan scan(image);
    scan.Run();
    ASSERT_EQ(scan.searcher->GetSearchedPartitionInfo(nullptr, 0), 2);
    CSearchedPartitionInfo* one[1] = {nullptr};
    EXPECT_EQ(scan.searcher->GetSearchedPartitionInfo(one, 1), 0);
    EXPECT_EQ(one[0], nullptr);
    CSearchedPartitionInfo* two[2] = {nullptr, nullptr};
    ASSERT_EQ(scan.searcher->GetSearchedPartitionInfo(two, 2), 2);
    for (int i = 0; i < 2; ++i) {
        auto* copy = dynamic_cast<CFATSearchedPartitionInfo*>(two[i]);
        ASSERT_NE(copy, nullptr);
        const auto& own = *scan.searcher->FoundPartitions()[static_cast<size_t>(i)];
        EXPECT_NE(copy, &own);
        EXPECT_EQ(copy->m_partitionStartSector, own.m_partitionStartSector);
        EXPECT_EQ(copy->m_score, own.m_score);
        EXPECT_EQ(copy->GetFlag(), own.GetFlag());
        DestroyFATSearchedPartitionInfo(copy);
    }
    // A record with no table to make builds nothing.
    EXPECT_EQ(scan.searcher->CompleteBulidDirectoryTree(nullptr), fatdeep::kNoTable);
}
