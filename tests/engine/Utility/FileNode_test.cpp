// The file model: status word, tick and shown propagation, linking guards, copies and the duplicate test.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "engine/FATLib/FATFileNode.h"
#include "engine/Utility/DataRunList.h"
#include "support/SimpleFileNode.h"

using testsupport::SimpleFileNode;

namespace {

// Owns the nodes of one test tree.
struct Tree {
    std::vector<std::unique_ptr<SimpleFileNode>> nodes;
    SimpleFileNode* Add(SimpleFileNode* parent, bool directory, const char* name = "n") {
        nodes.push_back(std::make_unique<SimpleFileNode>(static_cast<i64>(nodes.size()), -1, name, directory));
        SimpleFileNode* node = nodes.back().get();
        if (parent) {
            EXPECT_EQ(parent->AddChild(node), 1);
        }
        return node;
    }
};

}  // namespace

TEST(FileNode, NewNodeDefaults) {
    SimpleFileNode node(-1, -1, "a", false);
    EXPECT_EQ(node.GetStatusWord(), 0xFFFFFFFFFFFFFF10ULL);
    EXPECT_EQ(node.GetCheckedStatus(), CHECKED_NONE);
    EXPECT_EQ(node.IsNodeShow(), 1);
    EXPECT_EQ(node.GetBelongedPartition(), 0xFFFF);
    EXPECT_EQ(node.GetMetadataStartPosition(), -1);
    EXPECT_EQ(node.GetCurrentNodeID(), -1);
    EXPECT_EQ(node.GetParentNodeID(), -1);
    EXPECT_EQ(static_cast<CFileNode&>(node).CFileNode::GetSearcheType(), SEARCHER_NONE);
    EXPECT_EQ(node.GetVolumeName(), nullptr);
    EXPECT_EQ(node.GetDataRunList(), nullptr);
}

TEST(FileNode, StatusWordFieldsStayApart) {
    SimpleFileNode node(1, 0, "a", false);
    node.SetCheck(CHECKED_ALL);
    node.SetBelongedPartition(0x1234);
    node.SetMetaDataSector(0x12345678ULL);
    EXPECT_EQ(node.GetCheckedStatus(), CHECKED_ALL);
    EXPECT_EQ(node.IsNodeShow(), 1);
    EXPECT_EQ(node.GetBelongedPartition(), 0x1234);
    EXPECT_EQ(node.GetMetadataStartPosition(), 0x12345678);
    node.SetMetaDataSector(static_cast<u64>(-1));
    EXPECT_EQ(node.GetMetadataStartPosition(), -1);
    EXPECT_EQ(node.GetBelongedPartition(), 0x1234);
    EXPECT_EQ(node.GetCheckedStatus(), CHECKED_ALL);
    node.SetBelongedPartition(7);
    EXPECT_EQ(node.GetMetadataStartPosition(), -1);
    EXPECT_EQ(node.GetStatusWord() & 0xFF, 0x12u);
}

TEST(FileNode, TickingFilesRaisesFolderThroughPartlyToChecked) {
    Tree t;
    auto* root = t.Add(nullptr, true);
    auto* mid = t.Add(root, true);
    auto* folder = t.Add(mid, true);
    auto* f1 = t.Add(folder, false);
    auto* f2 = t.Add(folder, false);
    auto* f3 = t.Add(folder, false);
    t.Add(root, false);  // a sibling of mid keeps root partly checked at the end

    f1->SetCheck(CHECKED_ALL);
    EXPECT_EQ(folder->GetCheckedStatus(), CHECKED_PARTLY);
    EXPECT_EQ(mid->GetCheckedStatus(), CHECKED_PARTLY);
    EXPECT_EQ(root->GetCheckedStatus(), CHECKED_PARTLY);
    f2->SetCheck(CHECKED_ALL);
    f3->SetCheck(CHECKED_ALL);
    EXPECT_EQ(folder->GetCheckedStatus(), CHECKED_ALL);
    EXPECT_EQ(mid->GetCheckedStatus(), CHECKED_ALL);
    EXPECT_EQ(root->GetCheckedStatus(), CHECKED_PARTLY);
    f2->SetCheck(CHECKED_NONE);
    EXPECT_EQ(folder->GetCheckedStatus(), CHECKED_PARTLY);
    EXPECT_EQ(mid->GetCheckedStatus(), CHECKED_PARTLY);
    f1->SetCheck(CHECKED_NONE);
    f3->SetCheck(CHECKED_NONE);
    EXPECT_EQ(folder->GetCheckedStatus(), CHECKED_NONE);
    EXPECT_EQ(root->GetCheckedStatus(), CHECKED_NONE);
}

TEST(FileNode, TickingFolderTicksShownSubtreeOnly) {
    Tree t;
    auto* root = t.Add(nullptr, true);
    auto* folder = t.Add(root, true);
    auto* shown = t.Add(folder, false);
    auto* hiddenFolder = t.Add(folder, true);
    auto* underHidden = t.Add(hiddenFolder, false);
    auto* deep = t.Add(t.Add(folder, true), false);
    underHidden->ShowNode(0);  // hides hiddenFolder too: its only shown child went
    ASSERT_EQ(hiddenFolder->IsNodeShow(), 0);

    folder->SetCheck(CHECKED_ALL);
    EXPECT_EQ(shown->GetCheckedStatus(), CHECKED_ALL);
    EXPECT_EQ(deep->GetCheckedStatus(), CHECKED_ALL);
    EXPECT_EQ(hiddenFolder->GetCheckedStatus(), CHECKED_NONE);
    EXPECT_EQ(underHidden->GetCheckedStatus(), CHECKED_NONE);
    EXPECT_EQ(folder->GetCheckWeight(), 2 * folder->GetShownChildCount());
    EXPECT_EQ(root->GetCheckedStatus(), CHECKED_ALL);

    shown->SetCheck(CHECKED_NONE);
    EXPECT_EQ(folder->GetCheckedStatus(), CHECKED_PARTLY);
}

TEST(FileNode, HidingOnlyChildHidesAncestorsAndShowingBringsThemBack) {
    Tree t;
    auto* root = t.Add(nullptr, true);
    t.Add(root, false);
    auto* a = t.Add(root, true);
    auto* b = t.Add(a, true);
    auto* file = t.Add(b, false);

    file->ShowNode(0);
    EXPECT_EQ(b->IsNodeShow(), 0);
    EXPECT_EQ(a->IsNodeShow(), 0);
    EXPECT_EQ(root->IsNodeShow(), 1);  // it still has another shown child
    EXPECT_EQ(root->GetShownChildCount(), 1u);
    file->ShowNode(0);  // no change: no second decrement
    EXPECT_EQ(root->GetShownChildCount(), 1u);
    file->ShowNode(1);
    EXPECT_EQ(b->IsNodeShow(), 1);
    EXPECT_EQ(a->IsNodeShow(), 1);
    EXPECT_EQ(root->GetShownChildCount(), 2u);
}

TEST(FileNode, HiddenNodeIgnoresTicks) {
    Tree t;
    auto* folder = t.Add(nullptr, true);
    auto* file = t.Add(folder, false);
    t.Add(folder, false);
    file->ShowNode(0);
    file->SetCheck(CHECKED_ALL);
    EXPECT_EQ(file->GetCheckedStatus(), CHECKED_NONE);
    EXPECT_EQ(folder->GetCheckedStatus(), CHECKED_NONE);
}

TEST(FileNode, StatusOneAndOutOfRangeAreIgnoredWithoutAbort) {
    Tree t;
    auto* folder = t.Add(nullptr, true);
    auto* file = t.Add(folder, false);
    for (int status : {1, 3, 7, -1}) {
        file->SetCheck(static_cast<_tagCheckedStatus>(status));
        folder->SetCheck(static_cast<_tagCheckedStatus>(status));
        EXPECT_EQ(file->GetCheckedStatus(), CHECKED_NONE) << status;
        EXPECT_EQ(folder->GetCheckedStatus(), CHECKED_NONE) << status;
        EXPECT_EQ(folder->GetCheckWeight(), 0u) << status;
    }
}

TEST(FileNode, AddChildPrependsAndRefusesLoops) {
    Tree t;
    auto* root = t.Add(nullptr, true);
    auto* a = t.Add(root, true);
    auto* b = t.Add(root, true);
    EXPECT_EQ(root->GetFirstChild(), b);  // reverse order of addition
    EXPECT_EQ(b->GetNextNode(), a);
    EXPECT_EQ(a->GetParent(), root);
    EXPECT_EQ(root->GetShownChildCount(), 2u);

    auto* c = t.Add(a, true);
    EXPECT_EQ(c->AddChild(root), 0);  // an ancestor
    EXPECT_EQ(c->AddChild(a), 0);     // the parent
    EXPECT_EQ(c->AddChild(c), 0);     // itself
    EXPECT_EQ(c->AddChild(nullptr), 0);
    EXPECT_EQ(b->AddChild(c), 0);  // already linked under a
    EXPECT_EQ(c->GetFirstChild(), nullptr);
    EXPECT_EQ(c->GetParent(), a);
    EXPECT_EQ(b->GetShownChildCount(), 0u);
    EXPECT_EQ(CFileNode::IsLoopedToSelf(c, root), 1);
    EXPECT_EQ(CFileNode::IsLoopedToSelf(root, c), 0);
    EXPECT_EQ(CFileNode::IsLoopedToSelf(nullptr, c), 0);
}

TEST(FileNode, RemoveChildKeepsChainAndRefusesStrangers) {
    Tree t;
    auto* root = t.Add(nullptr, true);
    auto* a = t.Add(root, false);
    auto* b = t.Add(root, false);
    auto* c = t.Add(root, false);  // chain c, b, a
    auto* stranger = t.Add(nullptr, false);
    EXPECT_EQ(root->RemoveChild(stranger), 0);
    EXPECT_EQ(root->RemoveChild(nullptr), 0);
    EXPECT_EQ(root->RemoveChild(b), 1);
    EXPECT_EQ(c->GetNextNode(), a);
    EXPECT_EQ(b->GetParent(), nullptr);
    EXPECT_EQ(b->GetNextNode(), nullptr);
    EXPECT_EQ(root->RemoveChild(c), 1);
    EXPECT_EQ(root->GetFirstChild(), a);
    EXPECT_EQ(root->GetShownChildCount(), 1u);
}

TEST(FileNode, RemovingLastShownChildKeepsHiddenSiblings) {
    Tree t;
    auto* root = t.Add(nullptr, true);
    auto* hidden = t.Add(root, false);
    auto* shown = t.Add(root, false);
    hidden->ShowNode(0);
    ASSERT_EQ(root->GetShownChildCount(), 1u);
    EXPECT_EQ(root->RemoveChild(shown), 1);
    EXPECT_EQ(root->GetFirstChild(), hidden);
}

TEST(FileNode, AddNextInsertsAfterAndRefusesRings) {
    Tree t;
    auto* a = t.Add(nullptr, false);
    auto* b = t.Add(nullptr, false);
    auto* c = t.Add(nullptr, false);
    EXPECT_EQ(a->AddNext(c), 1);
    EXPECT_EQ(a->AddNext(b), 1);
    EXPECT_EQ(a->GetNextNode(), b);
    EXPECT_EQ(b->GetNextNode(), c);
    EXPECT_EQ(c->AddNext(a), 0);
    EXPECT_EQ(a->AddNext(a), 0);
    EXPECT_EQ(a->AddNext(nullptr), 0);
}

TEST(FileNode, FilterFileNameByDot) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {{"..name", "name"}, {" . ", ""}, {"", ""}, {"a.b", "a.b"}, {". .x. ", "x. "}, {"../../x", "/../x"}};
    for (const auto& c : cases) EXPECT_EQ(CFileNode::FilterFileNameByDot(c.in), c.out) << c.in;
    EXPECT_EQ(CFileNode::FilterFileNameByDot(static_cast<const char*>(nullptr)), "");
}

TEST(FileNode, CloneAndAssignmentNeverShareTheRunList) {
    auto* runs = new CDataRunList();
    runs->AddDataRun(DataRun{10, 4});
    auto* original = new SimpleFileNode(5, 2, "a", false, 100);
    original->SetDataRunList(runs);
    SimpleFileNode parent(2, 0, "p", true);
    ASSERT_EQ(parent.AddChild(original), 1);

    IFileNode* clone = original->Clone();
    auto* cloneNode = static_cast<CFileNode*>(clone);
    EXPECT_EQ(cloneNode->GetParent(), nullptr);
    EXPECT_EQ(cloneNode->GetNextNode(), nullptr);
    EXPECT_EQ(cloneNode->GetCurrentNodeID(), 5);
    ASSERT_NE(cloneNode->GetDataRunList(), nullptr);
    EXPECT_NE(cloneNode->GetDataRunList(), runs);

    SimpleFileNode assigned(0, 0, "b", false);
    static_cast<CFileNode&>(assigned) = *original;
    EXPECT_EQ(assigned.GetParent(), &parent);  // assignment keeps the tree links
    ASSERT_NE(assigned.GetDataRunList(), nullptr);
    EXPECT_NE(assigned.GetDataRunList(), runs);
    EXPECT_EQ(assigned.GetDataRunList()->GetFirst()->start, 10);

    parent.RemoveChild(original);
    assigned.SetParent(nullptr);
    original->Release();  // each node frees its own list once (ASan would see a second free)
    clone->Release();
}

TEST(FileNode, MergeNodeDetachesTheDonorsList) {
    SimpleFileNode kept(1, 0, "a", false, 10);
    auto* donor = new SimpleFileNode(1, 0, "a", false, 20);
    auto* runs = new CDataRunList();
    runs->AddDataRun(DataRun{3, 2});
    donor->SetDataRunList(runs);
    kept.MergeNode(*donor);
    EXPECT_EQ(kept.GetDataRunList(), runs);
    EXPECT_EQ(kept.GetFileSize(), 20);
    EXPECT_EQ(donor->GetDataRunList(), nullptr);
    donor->Release();
}

TEST(FileNode, DuplicateTest) {
    struct Case {
        const char* what;
        i64 idB, parentB;
        bool dirA, dirB;
        const char* nameB;
        u16 partA, partB;
        _tagSearcherType typeA;
        i64 sizeB;
        bool equal;
    } cases[] = {
        {"same file, same partition", 5, 2, false, false, "a", 1, 1, SEARCHER_NTFS, 9, true},
        {"other partition", 5, 2, false, false, "a", 1, 2, SEARCHER_NTFS, 9, false},
        {"other id", 6, 2, false, false, "a", 1, 1, SEARCHER_NTFS, 9, false},
        {"other parent", 5, 3, false, false, "a", 1, 1, SEARCHER_NTFS, 9, false},
        {"file vs folder", 5, 2, false, true, "a", 1, 1, SEARCHER_NTFS, 9, false},
        {"folders on two partitions", 5, 2, true, true, "a", 1, 2, SEARCHER_EXFAT, 9, true},
        {"NTFS folders on two partitions", 5, 2, true, true, "a", 1, 2, SEARCHER_NTFS, 9, false},
        {"other name", 5, 2, false, false, "b", 1, 1, SEARCHER_NTFS, 9, false},
        {"HFS+ same time and size", 5, 2, false, false, "a", 1, 2, SEARCHER_HFSPLUS, 9, true},
        {"HFS+ other size", 5, 2, false, false, "a", 1, 2, SEARCHER_HFSPLUS, 8, false},
        {"FAT folders on one partition", 5, 2, true, true, "a", 1, 1, SEARCHER_FAT, 9, true},
        {"FAT folders on two partitions", 5, 2, true, true, "a", 1, 2, SEARCHER_FAT, 9, false},
        {"FAT files on two partitions", 5, 2, false, false, "a", 1, 2, SEARCHER_FAT, 9, false},
        {"other partition, other name", 5, 2, false, false, "b", 1, 2, SEARCHER_NTFS, 9, false},
        {"folder against a file of another partition", 5, 2, true, false, "a", 1, 2, SEARCHER_NTFS, 9, false},
        {"file against a folder of another partition", 5, 2, false, true, "a", 1, 2, SEARCHER_NTFS, 9, false},
        {"HFS+ file against a folder of another partition", 5, 2, false, true, "a", 1, 2, SEARCHER_HFSPLUS, 9, false},
    };
    for (const auto& c : cases) {
        SimpleFileNode a(5, 2, "a", c.dirA, 9);
        SimpleFileNode b(c.idB, c.parentB, c.nameB, c.dirB, c.sizeB);
        a.Type(c.typeA).Partition(c.partA);
        b.Type(c.typeA).Partition(c.partB);
        EXPECT_EQ(a == b, c.equal) << c.what;
    }
}

TEST(FileNode, FatDuplicateTestCopiesPropertiesOnlyWhenBothHaveThem) {
    auto makeFolder = [](const char* name, _FILETIME created, bool withProperties) {
        auto* node = new CFATFileNode();
        if (withProperties) {
            auto* p = new CFATFileProperties();
            p->m_name = name;
            p->m_attribute = 0x10;
            p->m_creationTime = created;
            p->m_firstCluster = 9;
            p->m_parentFirstCluster = 2;
            node->SetFileProperties(p);
        } else {
            node->SetCurrentNodeID(9);
            node->SetParentNodeID(2);
        }
        return std::unique_ptr<CFATFileNode>(node);
    };
    auto a = makeFolder("OLD", 100, true);
    auto b = makeFolder("NEW", 200, true);
    EXPECT_FALSE(*a == *b);
    EXPECT_STREQ(a->GetFileName(), "NEW");  // b's properties were copied into a

    // Folders of two partitions of a deep scan share cluster numbers, not names.
    auto other = makeFolder("OTHER", 300, true);
    other->SetBelongedPartition(1);
    EXPECT_FALSE(*a == *other);
    EXPECT_STREQ(a->GetFileName(), "NEW");

    // A node without properties is neither read nor written.
    auto bare = makeFolder("", 0, false);
    auto c = makeFolder("C", 0, true);
    EXPECT_FALSE(*c == *bare);
    EXPECT_STREQ(c->GetFileName(), "C");
    EXPECT_FALSE(*bare == *c);

    // A plain node is not a FAT node.
    SimpleFileNode plain(1, 0, "x", false);
    EXPECT_EQ(dynamic_cast<CFATFileNode*>(static_cast<CFileNode*>(&plain)), nullptr);
}
