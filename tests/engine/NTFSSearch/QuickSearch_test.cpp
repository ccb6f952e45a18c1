// The quick NTFS search over the committed images, checked against The Sleuth Kit's listings.
#include <gtest/gtest.h>

#include "NtfsTestSupport.h"
#include "engine/NTFSLib/NTFSFileNode.h"
#include "engine/VolumeAnalyze/FileSystemType.h"

#include <set>

namespace {

// Every file and folder fls lists, live and deleted, reaches the tree builder with its path, deleted
// mark and (for files) icat's size; node IDs are record numbers.
TEST(NtfsQuickSearch, HandsOverEveryFileAndFolderFlsLists) {
    for (const auto& image : ntfstest::kImages) {
        SCOPED_TRACE(image.name);
        ntfstest::QuickScan scan(ntfstest::Image(image.name), image.sectorSize);
        ASSERT_EQ(scan.Run(), 0u);
        const auto listed = scan.ByPath();
        const auto sums = ntfstest::IcatSums(image.name);
        size_t deleted = 0;
        for (const auto& e : ntfstest::FlsListing(image.name)) {
            SCOPED_TRACE(e.path);
            const auto it = listed.find(e.path);
            ASSERT_NE(it, listed.end());
            IFileNode* node = it->second.node;
            EXPECT_EQ(node->GetCurrentNodeID(), e.inode);
            EXPECT_EQ(node->IsDeleted() != 0, e.deleted);
            EXPECT_EQ(node->IsDirectory() != 0, e.directory);
            if (!e.directory && sums.count(e.path)) {
                EXPECT_EQ(node->GetFileSize(), sums.at(e.path).size);
            }
            deleted += e.deleted;
        }
        EXPECT_GE(deleted, 12u);
    }
}

}  // namespace

namespace {

using ntfstest::QuickScan;

// A FAT volume is no NTFS volume: its code, no node, and still a finished record.
TEST(NtfsQuickSearch, RefusesAFatVolume) {
    testsupport::TempDir dir;
    QuickScan scan(testsupport::UnpackXz(testsupport::FixturePath("fat/fat16.img.xz"), dir.path()), 512);
    EXPECT_EQ(scan.Run(), 0x112007500000010ULL);
    EXPECT_TRUE(scan.builder.m_nodes.empty());
    EXPECT_EQ(scan.progress.Last().status, u32(PROGRESS_FINISHED));
    QuickScan none(ntfstest::Image("ntfs512"), 512);
    EXPECT_EQ(none.searcher->QuickSearchFiles(nullptr, &none.progress), 0x112006500000005ULL);
}

// A batch of the table that cannot be read is skipped: no record comes back twice or under another
// record number, and the rest of the table is still read.
TEST(NtfsQuickSearch, AFailedBatchDuplicatesNoRecord) {
    QuickScan clean(ntfstest::Image("ntfs512"), 512);
    ASSERT_EQ(clean.Run(), 0u);
    QuickScan scan(ntfstest::Image("ntfs512"), 512);
    int batch = 0;
    // The third read of 128 sectors fails (records 128..191 of the table).
    scan.device->SetFailHook([&](i64, i64 count) { return count == ntfsquick::kBatchSectors && ++batch == 3; });
    ASSERT_EQ(scan.Run(), 0u);
    std::map<i64, std::string> names;
    for (IFileNode* n : clean.builder.m_nodes) names[n->GetCurrentNodeID()] = n->GetFileName();
    std::set<i64> seen;
    for (IFileNode* n : scan.builder.m_nodes) {
        const i64 id = n->GetCurrentNodeID();
        EXPECT_TRUE(seen.insert(id).second) << id;
        EXPECT_EQ(names[id], n->GetFileName()) << id;
        EXPECT_FALSE(id >= 128 && id < 192) << id;
    }
    EXPECT_EQ(scan.builder.m_nodes.size() + 64, clean.builder.m_nodes.size());
}

// A stop after the first batch still flashes the tree and ends with a finished record.
TEST(NtfsQuickSearch, AStopStillFlashesAndFinishes) {
    QuickScan scan(ntfstest::Image("ntfs512"), 512);
    scan.progress.StopAfter(2);
    EXPECT_EQ(scan.Run(), 0u);
    EXPECT_EQ(scan.builder.m_flashes, std::vector<u32>{SEARCHER_NTFS});
    EXPECT_EQ(scan.builder.m_partitionCalls, 1);
    EXPECT_EQ(scan.progress.Last().status, u32(PROGRESS_FINISHED));
    EXPECT_EQ(scan.progress.Last().current, scan.progress.Last().total);
    EXPECT_LT(scan.builder.m_nodes.size(), 100u);
}

// The partition record: the whole volume, cluster 0 at sector 0, the boot sector's cluster size.
TEST(NtfsQuickSearch, PartitionRecord) {
    for (const auto& image : ntfstest::kImages) {
        QuickScan scan(ntfstest::Image(image.name), image.sectorSize);
        ASSERT_EQ(scan.Run(), 0u);
        CSearchedPartitionInfo* record = nullptr;
        ASSERT_EQ(scan.searcher->GetSearchedPartitionInfo(&record, 1), 1);
        std::unique_ptr<CSearchedPartitionInfo> owned(record);
        EXPECT_EQ(record->m_fileSystemType, u32(FILE_SYSTEM_NTFS));
        EXPECT_EQ(record->m_cluster0Sector, 0);
        EXPECT_EQ(record->m_sectorsPerCluster, image.sectorSize == 512 ? 4u : 1u);
        EXPECT_EQ(record->GetTotalSectors(), scan.device->GetTotalSectors());
        EXPECT_EQ(scan.builder.m_searchers.at(SEARCHER_NTFS), 5);
    }
}

}  // namespace
