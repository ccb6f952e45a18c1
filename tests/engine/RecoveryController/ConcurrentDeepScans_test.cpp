// Deep searches of different disks at once in one process, as the application may run them: the exFAT
// and NTFS searchers, each over a disk of 512-byte and one of 4096-byte sectors read through its own
// read-ahead cache (the NTFS searcher analysing the cache's blocks on its own thread), all four at the
// same time. Each finds exactly what it finds alone: no searcher keeps its state where another scan
// reaches it (the ThreadSanitizer run of this suite also sees every shared write).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/Common/ICompleteFileSystemSearchController.h"
#include "engine/FATLib/FatTestSupport.h"
#include "engine/RecoveryController/SearcherFactories.h"
#include "engine/StorageDevice/StorageDeviceWithCache.h"
#include "engine/Utility/FileNode.h"
#include "engine/Utility/SearchedPartitionInfo.h"
#include "support/DeepBlockFeeder.h"
#include "support/Fixtures.h"

namespace {

struct Disk {
    const char* fixture;  // below tests/fixtures, without ".img.xz"
    u32 sectorSize;
    DeepSearcherFactory make;
};

const Disk kDisks[] = {
    {"exfat/exfat-4k", 512, CreateEXFatSearcher},
    {"exfat/exfat-4kn", 4096, CreateEXFatSearcher},
    {"ntfs/ntfs512", 512, CreateNTFSSearcher},
    {"ntfs/ntfs4k", 4096, CreateNTFSSearcher},
};

std::filesystem::path Image(const Disk& disk) {
    return testsupport::UnpackXzShared(testsupport::FixturePath(std::string(disk.fixture) + ".img.xz"));
}

// The partitions a deep search found and every node it handed over (partition, path, size, deleted,
// folder), in order, as text.
std::string DeepScan(const Disk& disk, const std::filesystem::path& image) {
    fattest::FileDevice file(image, disk.sectorSize, STORAGE_DEVICE_DISK);
    CStorageDeviceWithCache cache(&file);
    std::unique_ptr<ICompleteFileSystemSearchController> searcher(disk.make());
    fattest::RecordingTreeBuilder builder;
    testsupport::DeepBlockFeeder feeder(*searcher, cache, &builder);
    const i64 block = feeder.BlockSectors();
    if (cache.SetBlockSize(u32(block)) != 1) return "no cache";
    cache.BeginCache();
    if (feeder.Prepare() != 1) return "not prepared";
    const i64 total = cache.GetTotalSectors();
    for (i64 b = 0; b * block < total; ++b) {
        if (cache.SetCurCacheBlock(b) != 1) return "block " + std::to_string(b) + " not read";
        feeder.Feed(b * block, std::min(block, total - b * block));
    }
    feeder.End(1);
    cache.EndCache();

    std::ostringstream out;
    const int count = searcher->GetSearchedPartitionInfo(nullptr, 0);
    std::vector<CSearchedPartitionInfo*> partitions(size_t(std::max(count, 0)));
    searcher->GetSearchedPartitionInfo(partitions.data(), count);
    for (CSearchedPartitionInfo* p : partitions) {
        out << "partition " << p->m_partitionIndex << ' ' << p->m_partitionStartSector << ' ' << p->m_cluster0Sector
            << ' ' << p->GetTotalSectors() << ' ' << p->m_sectorsPerCluster << ' ' << p->m_score << '\n';
        delete p;
    }
    std::vector<std::string> nodes;
    for (const auto& l : builder.List()) {
        const auto* node = dynamic_cast<CFileNode*>(l.node);
        nodes.push_back(std::to_string(node ? node->GetBelongedPartition() : -1) + ' ' + l.path + ' ' +
                        std::to_string(l.size) + ' ' + std::to_string(l.deleted) + ' ' + std::to_string(l.directory));
    }
    std::sort(nodes.begin(), nodes.end());
    for (const std::string& n : nodes) out << n << '\n';
    return out.str();
}

TEST(ConcurrentDeepScans, FourDisksAtOnceFindWhatEachFindsAlone) {
    std::vector<std::filesystem::path> images;
    std::vector<std::string> alone;
    for (const Disk& disk : kDisks) {
        images.push_back(Image(disk));
        alone.push_back(DeepScan(disk, images.back()));
        SCOPED_TRACE(disk.fixture);
        // Each finds its volume and its files.
        EXPECT_NE(alone.back().find("partition "), std::string::npos) << alone.back();
        EXPECT_GT(std::count(alone.back().begin(), alone.back().end(), '\n'), 5) << alone.back();
    }
    for (int round = 0; round < 2; ++round) {
        std::vector<std::string> together(std::size(kDisks));
        std::vector<std::thread> scans;
        for (size_t i = 0; i < std::size(kDisks); ++i)
            scans.emplace_back([&, i] { together[i] = DeepScan(kDisks[i], images[i]); });
        for (std::thread& t : scans) t.join();
        for (size_t i = 0; i < std::size(kDisks); ++i) EXPECT_EQ(together[i], alone[i]) << kDisks[i].fixture << ", round " << round;
    }
}

}  // namespace
