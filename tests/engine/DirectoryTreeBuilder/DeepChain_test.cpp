// Folders nested tens of thousands deep: the builder's work grows with the number of nodes, not with
// the number of nodes times the depth, and the tree is the chain it was given.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
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
constexpr i64 kFirstFolder = 1000;

enum class Order { TopDown, BottomUp };

struct Chain {
    int depth;
    Order order;
    bool filePerLevel;  // a deleted file in every folder, or only in the deepest
    bool deletedTop;    // the top folder deleted
    _SCAN_TYPE scan;
};

i64 FolderId(int level) {
    return kFirstFolder + level;
}
i64 FileId(int level) {
    return 10'000'000 + level;
}

struct Outcome {
    double seconds = 0;
    int depth = 0;  // folders on the path from the root to the deepest file
    bool deepestFileFound = false;
    bool allDeleted = true;  // every folder on the path marked deleted
    size_t published = 0;
};

// Feeds the chain to a builder (folder i under folder i - 1, the first under the root), flushes, then
// walks the tree down from the root without recursion.
Outcome Build(const Chain& c) {
    RecordingTree tree;
    CRecoveryFilter filter;
    filter.SetFilterTypes(FILTER_ALL);
    filter.SetScanType(c.scan);
    CDirectoryTreeBuilder builder(false);
    builder.SetClock([] { return i64(0); }, [](int) {});
    EXPECT_EQ(builder.Initialize("Dev", &tree, &filter), 1);
    builder.AddSearcherInfo(SEARCHER_FAT, kRoot);

    std::vector<CFileNode*> nodes;
    for (int level = 0; level < c.depth; ++level) {
        auto* folder = new SimpleFileNode(FolderId(level), level == 0 ? kRoot : FolderId(level - 1),
                                          "d" + std::to_string(level), true);
        folder->Deleted(level == 0 && c.deletedTop).Type(SEARCHER_FAT);
        nodes.push_back(folder);
        if (c.filePerLevel || level == c.depth - 1) {
            auto* file = new SimpleFileNode(FileId(level), FolderId(level), "f" + std::to_string(level), false, 10);
            file->Deleted().Type(SEARCHER_FAT);
            nodes.push_back(file);
        }
    }
    if (c.order == Order::BottomUp) std::reverse(nodes.begin(), nodes.end());

    const auto start = std::chrono::steady_clock::now();
    for (CFileNode* node : nodes) {
        if (!builder.AddNode(node, SEARCHER_FAT)) node->Release();
    }
    builder.FlashBuild(SEARCHER_FAT);
    Outcome out;
    out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    out.published = tree.PublishedCount();

    if (tree.Roots().size() != 1) return out;
    auto* at = dynamic_cast<CFileNode*>(tree.Roots()[0]);
    for (int level = 0; at != nullptr; ++level) {
        CFileNode* next = nullptr;
        for (CFileNode* child = at->GetFirstChild(); child; child = child->GetNextNode()) {
            if (child->IsDirectory() && child->GetCurrentNodeID() == FolderId(level)) next = child;
            if (!child->IsDirectory() && child->GetCurrentNodeID() == FileId(c.depth - 1)) out.deepestFileFound = true;
        }
        if (next == nullptr) break;
        out.allDeleted = out.allDeleted && next->IsDeleted();
        ++out.depth;
        at = next;
    }
    return out;
}

}  // namespace

// 40,000 levels in every shape a searcher hands them over. A climb used to walk everything below each
// folder it linked and up to the root for each node it placed: about 20 s each. Now ten times the depth
// takes about ten times as long (the bound allows 25 times, plus a second for a loaded machine), and the
// chain is whole.
TEST(DirectoryTreeBuilderDeepChain, FortyThousandLevelsBuildInLinearTime) {
    const struct {
        Order order;
        bool filePerLevel;
        bool deletedTop;
        _SCAN_TYPE scan;
        const char* what;
    } shapes[] = {
        {Order::TopDown, false, false, SCAN_QUICK, "top down, one file at the bottom"},
        {Order::BottomUp, false, false, SCAN_QUICK, "bottom up, one file at the bottom"},
        {Order::TopDown, true, false, SCAN_DEEP, "top down, a file in every folder"},
        {Order::BottomUp, true, false, SCAN_DEEP, "bottom up, a file in every folder"},
        {Order::TopDown, false, true, SCAN_QUICK, "top down, the top folder deleted"},
        {Order::BottomUp, false, true, SCAN_QUICK, "bottom up, the top folder deleted"},
    };
    const int depth = 40000;
    for (const auto& shape : shapes) {
        SCOPED_TRACE(shape.what);
        const Outcome small = Build({depth / 10, shape.order, shape.filePerLevel, shape.deletedTop, shape.scan});
        const Outcome out = Build({depth, shape.order, shape.filePerLevel, shape.deletedTop, shape.scan});
        EXPECT_EQ(small.depth, depth / 10);
        EXPECT_EQ(out.depth, depth);
        EXPECT_TRUE(out.deepestFileFound);
        // Handed over from the top, every folder below the deleted one is marked deleted as it is linked.
        if (shape.deletedTop && shape.order == Order::TopDown) {
            EXPECT_TRUE(out.allDeleted);
        }
        EXPECT_EQ(out.published, size_t(depth + (shape.filePerLevel ? depth : 1)));
        EXPECT_LT(out.seconds, 25 * small.seconds + 1.0) << out.seconds << " s against " << small.seconds << " s";
    }
}
