// The APFS file node: name rules, extents to data runs, sizes, parents, the ready test, the same-name
// folder merge, Clone and the detach from the base parent (the constants of the notes are in
// Constants_test).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ApfsTestSupport.h"
#include "engine/APFS/APFSFileNode.h"
#include "engine/Utility/IDataRunList.h"

namespace {

std::unique_ptr<APFSFileNode> Named(const std::string& stored, u16 partition = 0) {
    auto node = std::make_unique<APFSFileNode>();
    node->SetBelongedPartition(partition);
    node->SetName(reinterpret_cast<const u8*>(stored.data()), stored.size());
    return node;
}

std::string Runs(APFSFileNode& node) {
    return apfstest::RunText(node.CurrentRuns());
}

TEST(ApfsFileNode, NamesFollowTheRuleOfTheSearch) {
    using namespace std::string_literals;
    const struct {
        std::string stored;  // as on disk, the terminator counted when the disk counts it
        const char* shown;
        bool filtered;  // a directory record or inode of this name makes no node
        bool trash;     // a deleted folder
    } cases[] = {
        {".DS_Store\0"s, "", true, false},
        {".ds_STORE\0"s, "", true, false},
        {".DS_Store"s, "DS_Store", false, false},  // 9 bytes: not the rule's 10
        {".Trashes\0"s, "Trashes", false, true},
        {".TRASHES\0"s, "TRASHES", false, true},
        {"Trashes\0"s, "Trashes", false, true},  // 8 bytes after the rule either way
        {".Trashes2\0"s, "Trashes2", false, false},
        {".hidden\0"s, "hidden", false, false},
        {"..twice\0"s, ".twice", false, false},  // one dot goes
        {".\0"s, "", false, false},              // the terminator alone: an empty text
        {"."s, ".", false, false},               // one byte: kept
        {"plain.txt\0"s, "plain.txt", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        const auto* bytes = reinterpret_cast<const u8*>(c.stored.data());
        EXPECT_EQ(!APFSFileNode::NameFilter(bytes, c.stored.size()), c.filtered);
        auto node = Named(c.stored);
        EXPECT_STREQ(node->GetFileName(), c.shown);
        EXPECT_EQ(node->HasName(), *c.shown != 0);
        EXPECT_EQ(node->IsDeleted() != 0, c.trash);
        EXPECT_EQ(node->IsDirectory() != 0, c.trash);
    }
    // The trash stays a folder whatever the records say later.
    auto trash = Named(".Trashes\0"s);
    trash->SetFolderFlag(false);
    EXPECT_EQ(trash->GetAttribute(), 16);
}

TEST(ApfsFileNode, AnExtentAgainAtItsOffsetLengthensOrChangesNothing) {
    APFSFileNode node;
    node.SetSize(5 * 4096);
    EXPECT_FALSE(node.AddExtent(1000, 8, 512, 0));
    EXPECT_FALSE(node.AddExtent(2000, 8, 512, 4096));
    EXPECT_EQ(node.ExtentBytes(512), 2u * 4096);
    // The same extent again changes nothing; a longer one at the same start lengthens it; another
    // start at a known offset is ignored.
    EXPECT_FALSE(node.AddExtent(2000, 8, 512, 4096));
    EXPECT_FALSE(node.AddExtent(2000, 16, 512, 4096));
    EXPECT_FALSE(node.AddExtent(7000, 24, 512, 4096));
    EXPECT_EQ(Runs(node), "1000+8 2000+16");
    // A hole has no place on the device.
    EXPECT_FALSE(node.AddExtent(-1, 8, 512, 12288));
    EXPECT_EQ(Runs(node), "1000+8 2000+16 -1+8");
}

TEST(ApfsFileNode, ANodeWhoseExtentsCoverItsSizeIgnoresMore) {
    APFSFileNode node;
    node.SetSize(6000);
    EXPECT_FALSE(node.AddExtent(100, 8, 512, 0));
    EXPECT_TRUE(node.AddExtent(300, 8, 512, 4096));
    EXPECT_TRUE(node.GetFlags() & APFSFileNode::kComplete);
    EXPECT_FALSE(node.AddExtent(900, 8, 512, 8192));
    EXPECT_EQ(Runs(node), "100+8 300+8");
    EXPECT_TRUE(node.IsCompleteFor(512));
    // Without a size nothing is complete; extents beyond the size rounded up to a block grow it.
    APFSFileNode unsized;
    EXPECT_FALSE(unsized.AddExtent(100, 8, 512, 0));
    EXPECT_FALSE(unsized.IsCompleteFor(512));
    APFSFileNode small;
    small.SetSize(100);
    EXPECT_TRUE(small.AddExtent(100, 16, 512, 0));
    EXPECT_EQ(small.GetFileSize(), 8192);
}

// What the builder reads is the base class's run list: once a node is published it holds every
// extent, those added before publishing (built then, once) and those added after (at once).
std::string BaseRuns(APFSFileNode& node) {
    return apfstest::RunText(node.GetDataRunList());
}

TEST(ApfsFileNode, APublishedNodesRunListHoldsEveryExtent) {
    APFSFileNode node;
    node.SetSize(4096 * 4);
    node.AddExtent(300, 8, 512, 8192);
    node.AddExtent(100, 8, 512, 0);
    EXPECT_TRUE(node.HasRuns());
    node.MarkPublished();
    EXPECT_EQ(BaseRuns(node), "100+8 300+8");
    node.AddExtent(108, 8, 512, 4096);
    EXPECT_EQ(BaseRuns(node), "100+16 300+8") << "contiguous runs merge";
    node.AddExtent(500, 8, 512, 4096 * 3);
    EXPECT_EQ(BaseRuns(node), "100+16 300+8 500+8");

    // Runs taken from another node stand until the node's own extents change.
    APFSFileNode copy;
    copy.TakeRuns(node.CurrentRuns()->Clone());
    EXPECT_TRUE(copy.HasRuns());
    copy.MarkPublished();
    EXPECT_EQ(BaseRuns(copy), "100+16 300+8 500+8");
    APFSFileNode again;
    again.TakeRuns(node.CurrentRuns()->Clone());
    again.AddExtent(900, 8, 512, 0);
    again.MarkPublished();
    EXPECT_EQ(BaseRuns(again), "900+8");
    APFSFileNode none;
    EXPECT_FALSE(none.HasRuns());
    none.MarkPublished();
    EXPECT_EQ(none.GetDataRunList(), nullptr);
}

TEST(ApfsFileNode, APublishedNodeKeepsItsParent) {
    APFSFileNode node;
    node.SetParentNodeID(77);
    EXPECT_TRUE(node.GetFlags() & APFSFileNode::kParentSet);
    node.MarkPublished();
    node.SetParentNodeID(78);
    EXPECT_EQ(node.GetParentNodeID(), 77);
}

TEST(ApfsFileNode, TheReadyTest) {
    using namespace std::string_literals;
    auto file = Named("a.txt\0"s, 1);
    file->SetParentNodeID(2);
    EXPECT_FALSE(file->IsReady(false)) << "a file without a creation time";
    EXPECT_FALSE(file->MayBecomeReady());
    file->SetTimes(1, 1, 1);
    EXPECT_TRUE(file->IsReady(false));
    file->SetParentNodeID(40);
    EXPECT_FALSE(file->IsReady(false)) << "parent unknown, not attached";
    EXPECT_TRUE(file->MayBecomeReady());
    file->SetParentNodeID(-1);
    EXPECT_TRUE(file->IsReady(true));
    EXPECT_EQ(file->GetParentNodeID(), (i64{1} << 32) | 3) << "the final test gives the private folder";
    file->MarkPublished();
    EXPECT_FALSE(file->IsReady(true));

    auto folder = Named("dir\0"s);
    folder->SetFolderFlag(true);
    folder->SetParentNodeID(2);
    EXPECT_TRUE(folder->IsReady(false)) << "a folder needs no creation time";
    APFSFileNode unnamed;
    unnamed.SetFolderFlag(true);
    unnamed.SetParentNodeID(2);
    EXPECT_FALSE(unnamed.IsReady(true));
}

TEST(ApfsFileNode, AFolderOfANameAlreadyAttachedTakesNoPlaceAndPassesItsChildrenOn) {
    using namespace std::string_literals;
    auto root = Named("root\0"s);
    root->SetFolderFlag(true);
    root->SetNodeID(2);
    auto first = Named("Docs\0"s);
    first->SetFolderFlag(true);
    first->SetNodeID(16);
    auto again = Named("Docs\0"s);
    again->SetFolderFlag(true);
    again->SetNodeID(99);
    auto other = Named("Docsx\0"s);
    other->SetFolderFlag(true);
    auto file = Named("Docs\0"s);  // a file of the same name is no duplicate
    file->SetTimes(1, 1, 1);

    APFSFileNode::AttachChild(root.get(), first.get());
    APFSFileNode::AttachChild(root.get(), again.get());
    APFSFileNode::AttachChild(root.get(), other.get());
    APFSFileNode::AttachChild(root.get(), file.get());
    EXPECT_EQ(again->GetSameNameFolder(), first.get());
    EXPECT_TRUE(again->GetFlags() & APFSFileNode::kDuplicateFolder);
    EXPECT_FALSE(again->IsReady(true));
    EXPECT_FALSE(again->MayBecomeReady());
    std::vector<APFSFileNode*> children;
    for (APFSFileNode* c = root->GetFirstAttached(); c; c = c->GetNextAttached()) children.push_back(c);
    EXPECT_EQ(children, (std::vector<APFSFileNode*>{file.get(), other.get(), first.get()}));
    EXPECT_EQ(first->GetParentNodeID(), 2);

    auto inner = Named("inner.txt\0"s);
    APFSFileNode::AttachChild(again.get(), inner.get());
    EXPECT_EQ(inner->GetParentFolder(), first.get());
    EXPECT_EQ(inner->GetParentNodeID(), 16);

    // Never under itself or below itself.
    APFSFileNode::AttachChild(first.get(), first.get());
    APFSFileNode::AttachChild(first.get(), root.get());
    EXPECT_EQ(first->GetParentFolder(), root.get());
    EXPECT_EQ(root->GetParentFolder(), nullptr);
}

TEST(ApfsFileNode, CloneCopiesEverythingButThePublishedFlagAndTakesTheApfsLinks) {
    using namespace std::string_literals;
    auto folder = Named("dir\0"s, 2);
    folder->SetFolderFlag(true);
    auto node = Named("file.bin\0"s, 2);
    node->SetNodeID(40);
    node->SetSize(5000);
    node->SetTimes(7000000000ULL, 8000000000ULL, 9000000000ULL);
    node->AddExtent(64, 16, 512, 0);
    APFSFileNode::AttachChild(folder.get(), node.get());
    node->MarkPublished();

    std::unique_ptr<IFileNode> copy(node->Clone());
    auto* clone = dynamic_cast<APFSFileNode*>(copy.get());
    ASSERT_TRUE(clone);
    EXPECT_STREQ(clone->GetFileName(), "file.bin");
    EXPECT_EQ(clone->GetCurrentNodeID(), 40);
    EXPECT_EQ(clone->GetFileSize(), 5000);
    EXPECT_EQ(clone->GetCreationTime(), node->GetCreationTime());
    EXPECT_EQ(clone->GetBelongedPartition(), 2);
    EXPECT_FALSE(clone->IsPublished());
    EXPECT_EQ(Runs(*clone), "64+16");
    EXPECT_NE(clone->CurrentRuns(), node->CurrentRuns());
    EXPECT_EQ(clone->GetParentFolder(), folder.get());
    EXPECT_EQ(node->GetParentFolder(), nullptr);
    EXPECT_EQ(clone->GetParent(), nullptr);
    EXPECT_EQ(clone->GetSearcheType(), SEARCHER_APFS);
    EXPECT_EQ(clone->GetAttribute(), 32);
    EXPECT_EQ(clone->GetVolumeName(), nullptr);
}

TEST(ApfsFileNode, DetachFromTheBaseParent) {
    using namespace std::string_literals;
    auto parent = Named("dir\0"s);
    auto a = Named("a\0"s);
    auto b = Named("b\0"s);
    ASSERT_EQ(parent->AddChild(a.get()), 1);
    ASSERT_EQ(parent->AddChild(b.get()), 1);
    a->DetachFromBaseParent();
    EXPECT_EQ(a->GetParent(), nullptr);
    EXPECT_EQ(parent->GetFirstChild(), b.get());
    EXPECT_EQ(b->GetNextNode(), nullptr);
    b->DetachFromBaseParent();
    EXPECT_EQ(parent->GetFirstChild(), nullptr);
    b->DetachFromBaseParent();  // twice: nothing more
}

TEST(ApfsFileNode, ReleaseDeletesTheNode) {
    // The builder owns the nodes it accepts and releases each once; under ASan a node that Release
    // did not delete would leak here.
    auto* node = new APFSFileNode();
    node->AddExtent(8, 8, 512, 0);
    node->Release();
}

}  // namespace
