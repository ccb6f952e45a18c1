// The APFS deep searcher driven as the complete controller drives it: the groups it reads (the
// device's tail read exactly), containers found anywhere on a disk (checkpoint copies, a second
// container, a volume found alone), the partition records, what reaches the tree builder at the end,
// and two scans of one disk giving the same nodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>
#include <tuple>
#include <vector>

#include "ApfsTestSupport.h"
#include "engine/APFS/APFSDeepScan.h"
#include "engine/APFS/APFSLayout.h"
#include "engine/StorageDevice/StorageDeviceWithCache.h"
#include "engine/Utility/FileNode.h"
#include "support/DeepBlockFeeder.h"
#include "support/MemoryDevice.h"
#include "support/RecordingProgress.h"

namespace {

std::vector<u8> ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The first block of an image whose header says `magic` at byte 32.
u64 BlockWithMagic(const std::vector<u8>& image, const char* magic) {
    for (u64 b = 0; (b + 1) * apfs::kBlockSize <= image.size(); ++b) {
        if (std::memcmp(image.data() + b * apfs::kBlockSize + 32, magic, 4) == 0) return b;
    }
    ADD_FAILURE() << "no " << magic << " block";
    return 0;
}

// Bytes of a disk: `before` zero bytes, then each image at the given byte offsets, `total` bytes in all.
std::vector<u8> Disk(u64 total, const std::vector<std::pair<u64, const std::vector<u8>*>>& parts) {
    std::vector<u8> disk(total, 0);
    for (const auto& [at, image] : parts) std::memcpy(disk.data() + at, image->data(), image->size());
    return disk;
}

struct Result {
    std::vector<testsupport::CapturingTreeBuilder::Entry> entries;
    std::vector<std::pair<i64, u16>> ids;  // node ID and partition of every accepted node, in order
    std::vector<CSearchedPartitionInfo> partitions;
    std::vector<std::string> names;
    std::vector<std::tuple<std::string, i64, bool>> ofFirst;  // path, size, deleted of partition 0's entries, sorted
    u64 groupsRead = 0;
    u64 groupsInPlace = 0;
};

// The path, size and deleted flag of every entry, in order.
std::vector<std::tuple<std::string, i64, bool>> Listing(const Result& r) {
    std::vector<std::tuple<std::string, i64, bool>> out;
    for (const auto& e : r.entries) out.emplace_back(e.path, e.size, e.deleted);
    return out;
}

// The whole scan; throughCache: over the read-ahead cache as the controller drives it (the cache's
// block is the range, made current before the range is handed over).
Result DeepScan(testsupport::MemoryDevice& device, i64 blockSectors = 0, bool throughCache = false) {
    Result out;
    testsupport::CapturingTreeBuilder builder;
    {
        std::unique_ptr<CStorageDeviceWithCache> cache;
        if (throughCache) cache = std::make_unique<CStorageDeviceWithCache>(&device);
        APFSDeepScan scan;
        testsupport::DeepBlockFeeder feeder(scan, cache ? static_cast<IStorageDevice&>(*cache) : device, &builder);
        feeder.SetBlockSectors(blockSectors);
        if (cache) {
            const i64 block = feeder.BlockSectors();
            const i64 total = device.GetTotalSectors();
            EXPECT_EQ(cache->SetBlockSize(u32(block)), 1);
            cache->BeginCache();
            feeder.Prepare();
            for (i64 b = 0; b * block < total; ++b) {
                EXPECT_EQ(cache->SetCurCacheBlock(b), 1);
                feeder.Feed(b * block, std::min(block, total - b * block));
            }
            feeder.End(1);
            cache->EndCache();
        } else {
            feeder.Run();
        }
        out.groupsRead = scan.GroupsRead();
        out.groupsInPlace = scan.GroupsInPlace();
        const int count = scan.GetSearchedPartitionInfo(nullptr, 0);
        std::vector<CSearchedPartitionInfo*> records(size_t(std::max(count, 1)), nullptr);
        EXPECT_EQ(scan.GetSearchedPartitionInfo(records.data(), count), count);
        for (int i = 0; i < count; ++i) {
            out.partitions.push_back(*records[i]);
            delete records[i];
        }
        for (const auto& [key, container] : scan.Containers()) out.names.push_back(container->GetName());
        out.entries = builder.List(SEARCHER_APFS);
        for (const auto& [node, type] : builder.accepted) {
            auto* file = dynamic_cast<CFileNode*>(node);
            out.ids.push_back({node->GetCurrentNodeID(), file ? file->GetBelongedPartition() : u16(0xFFFF)});
        }
        for (const auto& e : out.entries) {
            const auto* file = dynamic_cast<const CFileNode*>(e.node);
            if (file && file->GetBelongedPartition() == 0) out.ofFirst.emplace_back(e.path, e.size, e.deleted);
        }
        std::sort(out.ofFirst.begin(), out.ofFirst.end());
        for (auto& e : out.entries) e.node = nullptr;  // the builder releases them
    }
    return out;
}

TEST(ApfsDeepScan, TheFactoryMakesTheSearcher) {
    std::unique_ptr<ICompleteFileSystemSearchController> searcher(CreateAPFSDeepSearcher());
    ASSERT_NE(searcher, nullptr);
    EXPECT_NE(dynamic_cast<APFSDeepScan*>(searcher.get()), nullptr);
    CSearchedPartitionInfo* out[4] = {};
    EXPECT_EQ(searcher->GetSearchedPartitionInfo(out, 4), 0);
    EXPECT_EQ(searcher->GetBitmap(), nullptr);  // every block is read for this searcher
}

// 1000 sectors of 4096 bytes from sector 0: 63 groups, the last one blocks 992-1007. On a longer device
// all 16 of its blocks are read; on a device of exactly 1000 blocks only the 8 that exist, nothing past
// the end, and a volume superblock in the very last block is still found.
TEST(ApfsDeepScan, TheLastGroupIsReadUpToTheDevicesEndAndExamined) {
    const auto image = ReadAll(apfstest::Image("apfs-records"));
    const u64 volume = BlockWithMagic(image, "APSB");
    struct Case {
        i64 deviceSectors;
        i64 lastReadSectors;
        u64 examined;
    };
    for (const Case c : {Case{1024, 16, 1008}, Case{1000, 8, 1000}}) {
        SCOPED_TRACE(c.deviceSectors);
        testsupport::MemoryDevice device(c.deviceSectors, 4096);
        device.Put(u64(c.deviceSectors - 1) * 4096, image.data() + volume * apfs::kBlockSize, apfs::kBlockSize);
        std::vector<std::pair<i64, i64>> reads;
        device.SetFailHook([&](i64 first, i64 count) {
            reads.push_back({first, count});
            EXPECT_LE(first + count, c.deviceSectors);
            return false;
        });
        APFSDeepScan scan;
        scan.SetDevice(&device);
        EXPECT_EQ(scan.AnalyzeBlock(0, 1000), 1);
        EXPECT_EQ(scan.GroupsRead(), 63u);
        EXPECT_EQ(scan.BlocksExamined(), c.examined);
        ASSERT_FALSE(reads.empty());
        EXPECT_EQ(reads.front(), (std::pair<i64, i64>{0, 16}));
        // The volume walk reads more after the groups; the last group read is the one at 992.
        const auto last = std::find(reads.begin(), reads.end(), std::pair<i64, i64>{992, c.lastReadSectors});
        EXPECT_NE(last, reads.end());
        if (c.deviceSectors == 1000) {
            ASSERT_EQ(scan.Containers().size(), 1u);
            EXPECT_EQ(scan.Containers().begin()->first, 999u);
            EXPECT_EQ(scan.Containers().begin()->second->GetStartSector(), 0u);
        }
    }
}

TEST(ApfsDeepScan, NothingReachesTheBuilderWithoutContainersOrWithoutBuild) {
    const auto image = ReadAll(apfstest::Image("apfs-records"));
    for (bool withContainer : {false, true}) {
        for (int build : {0, 1}) {
            SCOPED_TRACE(std::to_string(withContainer) + " build " + std::to_string(build));
            // Without a container: 4 MiB of zeros (a whole image of them would only slow the sanitizer run).
            testsupport::MemoryDevice device(withContainer ? image : std::vector<u8>(4 << 20, 0), 512);
            testsupport::CapturingTreeBuilder builder;
            APFSDeepScan scan;
            testsupport::DeepBlockFeeder feeder(scan, device, &builder);
            feeder.Prepare();
            feeder.FeedAll();
            feeder.End(build);
            const bool built = withContainer && build;
            EXPECT_EQ(builder.flashes.size(), built ? 1u : 0u);
            EXPECT_EQ(builder.device, built ? &device : nullptr);
            EXPECT_EQ(builder.roots.size(), withContainer ? 1u : 0u);
            if (!withContainer) {
                EXPECT_TRUE(builder.accepted.empty());
            }
        }
    }
}

// Two copies of one container on one disk (the second outside the first, so its UUID does not make it
// a checkpoint copy): two containers, the second with index 1, its nodes of partition 1 and deleted,
// its name "<volume>_1"; the partition records in order of start sector.
TEST(ApfsDeepScan, ASecondContainerGetsIndexOneAndItsNodesAreDeleted) {
    const auto image = ReadAll(apfstest::Image("apfs-records"));
    const u64 first = 1 << 20;
    const u64 second = first + image.size() + (1 << 20);
    for (u32 sectorSize : {512u, 4096u}) {
        SCOPED_TRACE(sectorSize);
        testsupport::MemoryDevice device(Disk(second + image.size() + (1 << 20), {{first, &image}, {second, &image}}),
                                         sectorSize);
        const Result r = DeepScan(device);
        ASSERT_EQ(r.partitions.size(), 2u);
        for (int i = 0; i < 2; ++i) {
            const auto& p = r.partitions[size_t(i)];
            EXPECT_EQ(p.m_partitionIndex, i);
            EXPECT_EQ(p.m_fileSystemType, 9u);
            EXPECT_EQ(p.m_partitionStartSector, i64((i ? second : first) / sectorSize));
            EXPECT_EQ(p.m_cluster0Sector, p.m_partitionStartSector);
            EXPECT_EQ(p.m_sectorsPerCluster, 1u);
            EXPECT_EQ(p.m_sectorSize, sectorSize);
            EXPECT_EQ(u64(p.m_totalSectors), image.size() / sectorSize);
        }
        ASSERT_EQ(r.names.size(), 2u);
        const std::string volume =
            apfstest::FsapfsinfoName(testsupport::FixturePath("apfs/apfs-records.fsapfsinfo.txt"));
        EXPECT_EQ(r.names[0], volume + "_0");
        EXPECT_EQ(r.names[1], volume + "_1");
        size_t ofSecond = 0;
        for (size_t i = 0; i < r.ids.size(); ++i) {
            if (r.ids[i].second != 1) continue;
            ++ofSecond;
            EXPECT_EQ(r.ids[i].first >> 32, 1) << r.ids[i].first;
        }
        EXPECT_GT(ofSecond, 10u);
    }
}

// Container 0 takes none of a later container's tree nodes: it lists what it lists alone (under it,
// the later container's files would be read from container 0's start, their extents counting from
// their own container's).
TEST(ApfsDeepScan, ContainerZeroKeepsToItsOwnNodes) {
    const auto longname = ReadAll(apfstest::Image("apfs-longname"));
    const auto records = ReadAll(apfstest::Image("apfs-records"));
    const u64 first = 1 << 20;
    const u64 second = first + longname.size();
    const u64 total = second + records.size() + (1 << 20);
    for (u32 sectorSize : {512u, 4096u}) {
        SCOPED_TRACE(sectorSize);
        testsupport::MemoryDevice both(Disk(total, {{first, &longname}, {second, &records}}), sectorSize);
        testsupport::MemoryDevice alone(Disk(total, {{first, &longname}}), sectorSize);
        const Result r = DeepScan(both);
        ASSERT_EQ(r.partitions.size(), 2u);
        EXPECT_GT(r.entries.size(), r.ofFirst.size() + 10);
        EXPECT_EQ(r.ofFirst, DeepScan(alone).ofFirst);
    }
}

TEST(ApfsDeepScan, TwoScansOfOneDiskGiveTheSameNodes) {
    const auto image = ReadAll(apfstest::Image("apfs-records"));
    testsupport::MemoryDevice device(Disk(image.size() + (1 << 20), {{1 << 20, &image}}), 512);
    const auto key = [](const Result& r) {
        std::vector<std::tuple<std::string, i64, bool>> out;
        for (const auto& e : r.entries) out.emplace_back(e.path, e.size, e.deleted);
        return out;
    };
    const Result a = DeepScan(device);
    const Result b = DeepScan(device);
    EXPECT_EQ(a.ids, b.ids);
    EXPECT_EQ(key(a), key(b));
    EXPECT_GT(a.ids.size(), 10u);
    // Other ranges publish in another order, the same nodes.
    Result c = DeepScan(device, 64);
    auto sortedA = a.ids, sortedC = c.ids;
    std::sort(sortedA.begin(), sortedA.end());
    std::sort(sortedC.begin(), sortedC.end());
    EXPECT_EQ(sortedA, sortedC);
    auto keyA = key(a), keyC = key(c);
    std::sort(keyA.begin(), keyA.end());
    std::sort(keyC.begin(), keyC.end());
    EXPECT_EQ(keyA, keyC);
}

// Groups lying in the cache's current block are taken in place and give what groups read through the
// device give; a group reaching past the cache's block (ranges that are no multiple of 16 blocks)
// is read through the device.
TEST(ApfsDeepScan, GroupsInTheCachesBlockAreTakenInPlace) {
    const auto image = ReadAll(apfstest::Image("apfs-records"));
    struct Case {
        u32 sectorSize;
        i64 blockSectors;  // 0: the controller's 4 MiB
        bool allInPlace;
    };
    for (const Case c : {Case{512, 0, true}, Case{4096, 0, true}, Case{512, 1000, false}}) {
        SCOPED_TRACE(std::to_string(c.sectorSize) + " " + std::to_string(c.blockSectors));
        testsupport::MemoryDevice device(Disk(image.size() + (2 << 20), {{1 << 20, &image}}), c.sectorSize);
        const Result plain = DeepScan(device, c.blockSectors);
        const Result cached = DeepScan(device, c.blockSectors, true);
        EXPECT_EQ(plain.groupsInPlace, 0u);
        EXPECT_EQ(cached.groupsRead, plain.groupsRead);
        if (c.allInPlace) {
            EXPECT_EQ(cached.groupsInPlace, cached.groupsRead);
        } else {
            EXPECT_GT(cached.groupsInPlace, 0u);
            EXPECT_LT(cached.groupsInPlace, cached.groupsRead);
        }
        EXPECT_GT(plain.ids.size(), 10u);
        EXPECT_EQ(cached.ids, plain.ids);
        EXPECT_EQ(Listing(cached), Listing(plain));
        EXPECT_EQ(cached.names, plain.names);
        ASSERT_EQ(cached.partitions.size(), 1u);
        EXPECT_EQ(cached.partitions[0].m_partitionStartSector, plain.partitions[0].m_partitionStartSector);
    }
}

// A stop during the scan: the range ends, nothing leaks, nothing is released twice (ASan).
TEST(ApfsDeepScan, AStopDuringTheScanLeavesNoLeak) {
    const auto image = ReadAll(apfstest::Image("apfs-records"));
    for (int stopAfter : {0, 5, 200, 2000}) {
        SCOPED_TRACE(stopAfter);
        testsupport::MemoryDevice device(image, 512);
        testsupport::CapturingTreeBuilder builder;
        testsupport::RecordingProgress progress;
        progress.StopAfter(stopAfter);
        APFSDeepScan scan;
        scan.SetIProgressSink(&progress);
        testsupport::DeepBlockFeeder feeder(scan, device, &builder);
        feeder.Run();
        if (stopAfter == 0) {
            EXPECT_TRUE(scan.Containers().empty());
        }
        EXPECT_EQ(builder.flashes.size(), scan.Containers().empty() ? 0u : 1u);
    }
}

}  // namespace
