// Cross-linked FAT entries: many entries of one folder, or of several, share their first cluster and
// so their ID. Each new file is compared only with the recorded files of its parent and name, so the
// duplicate test grows with the number of files, not with its square; duplicates are still refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/DirectoryTreeBuilder/DirectoryTreeBuilder.h"
#include "engine/RecoveryFilter/RecoveryFilter.h"
#include "support/RecordingTree.h"
#include "support/SimpleFileNode.h"

using testsupport::RecordingTree;
using testsupport::SimpleFileNode;

namespace {

constexpr i64 kRoot = 2;
constexpr i64 kSharedCluster = 77;

SimpleFileNode* File(i64 parent, const std::string& name, i64 size = 10) {
    auto* file = new SimpleFileNode(kSharedCluster, parent, name, false, size);
    file->Deleted().Type(SEARCHER_FAT);
    return file;
}

TEST(DirectoryTreeBuilderCrossLinks, FilesSharingAFirstClusterCostAFewComparisonsEach) {
    constexpr int kFolders = 4;
    constexpr int kPerFolder = 6000;
    RecordingTree tree;
    CRecoveryFilter filter;
    filter.SetFilterTypes(FILTER_ALL);
    filter.SetScanType(SCAN_DEEP);
    CDirectoryTreeBuilder builder(false);
    builder.SetClock([] { return i64(0); }, [](int) {});
    ASSERT_EQ(builder.Initialize("Dev", &tree, &filter), 1);
    builder.AddSearcherInfo(SEARCHER_FAT, kRoot);
    auto add = [&](CFileNode* node) {
        const int taken = builder.AddNode(node, SEARCHER_FAT);
        if (!taken) node->Release();
        return taken;
    };
    for (int f = 0; f < kFolders; ++f) {
        auto* folder = new SimpleFileNode(100 + f, kRoot, "folder" + std::to_string(f), true);
        folder->Type(SEARCHER_FAT);
        ASSERT_EQ(add(folder), 1);
    }
    for (int i = 0; i < kPerFolder; ++i)
        for (int f = 0; f < kFolders; ++f) ASSERT_EQ(add(File(100 + f, "FILE" + std::to_string(i) + ".CHK")), 1);
    const u64 tests = builder.DuplicateTestCount();
    // Once indexed, a new name is compared with nothing; before, with every file of its ID.
    EXPECT_LT(tests, u64(kFolders) * kPerFolder) << "quadratic: about " << u64(kFolders) * kPerFolder * kPerFolder * 2;

    // The same file found again (same parent, name and ID) is still a duplicate; the same name in
    // another folder is not.
    EXPECT_EQ(add(File(101, "FILE4321.CHK")), 0);
    EXPECT_EQ(add(File(101, "FILE4321.CHK", 0)), 0);
    EXPECT_EQ(add(File(102, "NEW.CHK")), 1);
    EXPECT_EQ(add(File(102, "NEW.CHK")), 0);
    builder.FlashBuild(SEARCHER_FAT);
    EXPECT_EQ(builder.OwnedNodeCount(), size_t(kFolders + kFolders * kPerFolder + 1));
}

}  // namespace
