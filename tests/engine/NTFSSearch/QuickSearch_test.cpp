// The quick NTFS search over the committed images, checked against The Sleuth Kit's listings.
#include <gtest/gtest.h>

#include "NtfsTestSupport.h"
#include "engine/NTFSLib/NTFSFileNode.h"

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
            if (!e.directory && sums.count(e.path)) EXPECT_EQ(node->GetFileSize(), sums.at(e.path).size);
            deleted += e.deleted;
        }
        EXPECT_GE(deleted, 12u);
    }
}

}  // namespace
