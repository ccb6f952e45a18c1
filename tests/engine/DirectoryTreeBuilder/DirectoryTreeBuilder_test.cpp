// The tree builder fed by scenario tables, with a recording receiver in place of the scan operation.
// Every refused node is released by the test, as searchers do: under ASan a refused node that the
// builder still referenced, or an accepted one freed twice, fails the run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/DirectoryTreeBuilder/DirectoryTreeBuilder.h"
#include "engine/RecoveryFilter/RecoveryFilter.h"
#include "engine/Utility/DataRunList.h"
#include "support/RecordingTree.h"
#include "support/SimpleFileNode.h"

using testsupport::RecordingTree;
using testsupport::SimpleFileNode;

namespace {

struct Harness {
    RecordingTree tree;
    CRecoveryFilter filter;
    std::unique_ptr<CDirectoryTreeBuilder> builder;
    i64 now = 0;
    int sleptMs = 0;
    int sleeps = 0;

    explicit Harness(bool restoring = false, _SCAN_TYPE scan = SCAN_DEEP, const char* device = "Dev") {
        filter.SetFilterTypes(FILTER_ALL);
        filter.SetScanType(scan);
        builder = std::make_unique<CDirectoryTreeBuilder>(restoring);
        builder->SetClock([this] { return now; },
                          [this](int ms) {
                              sleptMs += ms;
                              ++sleeps;
                          });
        EXPECT_EQ(builder->Initialize(device, &tree, &filter), 1);
    }
    // The searchers' contract: a refused node is the caller's to release.
    int Add(CFileNode* node, _tagSearcherType type) {
        const int taken = builder->AddNode(node, type);
        if (!taken) node->Release();
        return taken;
    }
};

struct Step {
    char op;  // 'A' add, 'F' flush, 'T' advance the clock by `id` seconds, 'R' register (id = root ID)
    i64 id = 0;
    i64 parent = 0;
    const char* name = "";
    bool dir = false;
    i64 size = 0;
    bool deleted = false;
    i64 mtime = 0;
    u16 partition = 0;
    int accepted = 1;
};

Step Add(i64 id, i64 parent, const char* name, bool dir, i64 size = 10, bool deleted = true, int accepted = 1) {
    Step s{'A'};
    s.id = id;
    s.parent = parent;
    s.name = name;
    s.dir = dir;
    s.size = dir ? 0 : size;
    s.deleted = deleted;
    s.accepted = accepted;
    return s;
}
Step Dir(i64 id, i64 parent, const char* name, int accepted = 1) {
    return Add(id, parent, name, true, 0, false, accepted);
}
Step File(i64 id, i64 parent, const char* name, i64 size = 10, int accepted = 1) {
    return Add(id, parent, name, false, size, true, accepted);
}
Step With(Step s, i64 mtime, u16 partition) {
    s.mtime = mtime;
    s.partition = partition;
    return s;
}
Step Flush() {
    return Step{'F'};
}
Step Tick(i64 seconds) {
    Step s{'T'};
    s.id = seconds;
    return s;
}

struct Scenario {
    const char* what;
    _tagSearcherType type;
    i64 rootId;
    std::vector<Step> steps;
    std::vector<std::string> listing;
    std::string publishOrder;
    bool restoring = false;
    _SCAN_TYPE scan = SCAN_DEEP;
    const char* home = nullptr;
};

void RunScenario(const Scenario& sc) {
    SCOPED_TRACE(sc.what);
    if (sc.home)
        setenv("HOME", sc.home, 1);
    else
        unsetenv("HOME");
    Harness h(sc.restoring, sc.scan);
    ASSERT_EQ(h.builder->AddSearcherInfo(sc.type, sc.rootId), 1);
    int index = 0;
    for (const Step& step : sc.steps) {
        ++index;
        switch (step.op) {
            case 'T':
                h.now += step.id;
                break;
            case 'F':
                h.builder->FlashBuild(sc.type);
                break;
            case 'A': {
                auto* node = new SimpleFileNode(step.id, step.parent, step.name, step.dir, step.size);
                node->Deleted(step.deleted).Times(0, step.mtime).Type(sc.type).Partition(step.partition);
                EXPECT_EQ(h.Add(node, sc.type), step.accepted) << "step " << index << " " << step.name;
                break;
            }
        }
    }
    EXPECT_EQ(h.tree.Listing(), sc.listing);
    EXPECT_EQ(h.tree.PublishOrder(), sc.publishOrder);
}

}  // namespace

TEST(DirectoryTreeBuilder, Scenarios) {
    const Scenario scenarios[] = {
        {"file before its folder",
         SEARCHER_NTFS,
         5,
         {File(20, 10, "f"), Dir(10, 5, "d"), Flush()},
         {"Dev(NTFS)", "Dev(NTFS)/d 0", "Dev(NTFS)/d/f 10 D"},
         "0:f,d"},
        {"file before its folder, published by the 3 s timer",
         SEARCHER_NTFS,
         5,
         {File(20, 10, "f"), Tick(3), Dir(10, 5, "d"), File(21, 99, "lost"), Flush()},
         {"Dev(NTFS)", "Dev(NTFS)/Other lost files 0", "Dev(NTFS)/Other lost files/lost 10 D", "Dev(NTFS)/d 0",
          "Dev(NTFS)/d/f 10 D"},
         "0:f,d|1:lost,Other lost files"},
        {"a file without a parent goes to the lost files; a deleted folder's file becomes deleted",
         SEARCHER_FAT,
         0,
         {File(7, 3, "orphan.txt"), Add(3, 44, "gone", true, 0, true), Add(8, 3, "live.txt", false, 5, false), Flush()},
         {"Dev(FAT/FAT32)", "Dev(FAT/FAT32)/Other lost files 0", "Dev(FAT/FAT32)/Other lost files/gone 0 D",
          "Dev(FAT/FAT32)/Other lost files/gone/live.txt 5 D", "Dev(FAT/FAT32)/Other lost files/gone/orphan.txt 10 D"},
         "1:orphan.txt,gone,live.txt,Other lost files"},
        {"dot names: hidden files refused, folders cleaned",
         SEARCHER_NTFS,
         5,
         {File(20, 5, ".hidden", 10, 0), Dir(10, 5, "..cfg"), File(21, 10, "a"), Flush()},
         {"Dev(NTFS)", "Dev(NTFS)/cfg 0", "Dev(NTFS)/cfg/a 10 D"},
         "0:cfg,a"},
        {"duplicates: equal size dropped, same time dropped, earlier time merged",
         SEARCHER_NTFS,
         5,
         {Dir(10, 5, "d"), With(File(20, 10, "a", 100), 50, 0), With(File(20, 10, "a", 0, 0), 10, 0),
          With(File(20, 10, "a", 300, 0), 50, 0), With(File(20, 10, "a", 200, 0), 40, 0), Dir(10, 5, "d", 0), Flush()},
         {"Dev(NTFS)", "Dev(NTFS)/d 0", "Dev(NTFS)/d/a 200 D"},
         "0:d,a"},
        {"two partitions: each file under its own partition's copy of the folder",
         SEARCHER_NTFS,
         5,
         {With(Dir(7, 5, "x"), 0, 1), With(Dir(10, 5, "d"), 0, 0), With(Dir(10, 7, "d"), 0, 1),
          With(File(20, 10, "p0"), 0, 0), With(File(21, 10, "p1"), 0, 1), Flush()},
         {"Dev(NTFS)", "Dev(NTFS)/d 0", "Dev(NTFS)/d/p0 10 D", "Dev(NTFS)/x 0", "Dev(NTFS)/x/d 0",
          "Dev(NTFS)/x/d/p1 10 D"},
         "0:x,d,d,p0,p1"},
        {"the user's trash moves under the root and its files become deleted",
         SEARCHER_NTFS,
         5,
         {Dir(2, 5, "Users"), Dir(3, 2, "al"), Dir(4, 3, ".Trash"), Add(6, 4, "x.doc", false, 10, false),
          Add(9, 3, "keep.doc", false, 10, false), Flush()},
         {"Dev(NTFS)", "Dev(NTFS)/Trash 0 D", "Dev(NTFS)/Trash/x.doc 10 D", "Dev(NTFS)/Users 0", "Dev(NTFS)/Users/al 0",
          "Dev(NTFS)/Users/al/keep.doc 10"},
         "0:Users,al,Trash,x.doc,keep.doc",
         false,
         SCAN_DEEP,
         "/Users/al"},
        {"a trash elsewhere stays a candidate; a refused one is never touched",
         SEARCHER_NTFS,
         5,
         {Dir(2, 5, "Users"), Dir(3, 2, "bo"), Dir(4, 3, ".Trash"), Dir(4, 3, ".Trash", 0), File(6, 4, "y"), Flush()},
         {"Dev(NTFS)", "Dev(NTFS)/Users 0", "Dev(NTFS)/Users/bo 0", "Dev(NTFS)/Users/bo/Trash 0",
          "Dev(NTFS)/Users/bo/Trash/y 10 D"},
         "0:Users,bo,Trash,y",
         false,
         SCAN_DEEP,
         "/Users/al"},
        {"a folder with no file below is never published",
         SEARCHER_NTFS,
         5,
         {Dir(10, 5, "empty"), Dir(11, 10, "inner"), Dir(12, 99, "lostEmpty"), Flush()},
         {},
         ""},
        {"a node that names itself as parent is refused",
         SEARCHER_NTFS,
         5,
         {File(10, 10, "self", 10, 0), Dir(11, 11, "selfdir", 0), Flush()},
         {},
         ""},
        {"quick scan: existing files are not shown (released at once in a known live folder), existing folders "
         "give the path",
         SEARCHER_FAT,
         0,
         {Add(3, 0, "docs", true, 0, false), Add(4, 3, "live.txt", false, 5, false, 0), File(5, 3, "gone.txt"),
          Add(6, 99, "live2.txt", false, 5, false), Flush()},
         {"Dev(FAT/FAT32)", "Dev(FAT/FAT32)/docs 0", "Dev(FAT/FAT32)/docs/gone.txt 10 D"},
         "0:docs,gone.txt",
         false,
         SCAN_QUICK},
        {"quick scan: a deleted folder recorded under the root's own ID turns no live folder below the root "
         "deleted (their live files, kept or released, stay unlisted)",
         SEARCHER_FAT,
         0,
         {Add(4, 3, "first.txt", false, 5, false), Dir(3, 0, "docs"), Add(5, 3, "second.txt", false, 5, false, 0),
          Add(0, 44, "evil", true, 0, true), File(9, 0, "gone.txt"), Flush()},
         {"Dev(FAT/FAT32)", "Dev(FAT/FAT32)/gone.txt 10 D"},
         "0:gone.txt",
         false,
         SCAN_QUICK},
        {"quick scan: a live file is listed where its folder is or turns deleted, and a deleted copy of a "
         "released live file stays refused; one in folders whose parents form a cycle is kept",
         SEARCHER_FAT,
         0,
         {Add(3, 0, "old", true, 0, true), Add(4, 3, "in-deleted.txt", false, 5, false),
          Dir(5, 0, "d"), Dir(6, 5, "sub"), Add(7, 6, "kept.txt", false, 5, false, 0), File(7, 6, "kept.txt", 5, 0),
          Add(8, 99, "early.txt", false, 5, false), Add(99, 3, "late", true, 0, false),
          Add(10, 0, "twice", true, 0, true), Dir(10, 0, "renamed"), Add(11, 10, "in-twice.txt", false, 5, false),
          Dir(20, 21, "cycle-a"), Dir(21, 20, "cycle-b"), Add(22, 20, "in-cycle.txt", false, 5, false), Flush()},
         {"Dev(FAT/FAT32)", "Dev(FAT/FAT32)/old 0 D", "Dev(FAT/FAT32)/old/in-deleted.txt 5 D", "Dev(FAT/FAT32)/old/late 0 D",
          "Dev(FAT/FAT32)/old/late/early.txt 5 D", "Dev(FAT/FAT32)/twice 0 D", "Dev(FAT/FAT32)/twice/in-twice.txt 5 D"},
         "0:old,in-deleted.txt,twice,in-twice.txt|0:early.txt,late",
         false,
         SCAN_QUICK},
        {"size-0 files: unlinked, never lost",
         SEARCHER_FAT,
         0,
         {Dir(3, 77, "d"), File(4, 3, "zero", 0), File(5, 3, "one", 1), File(6, 88, "zero2", 0), Flush()},
         {"Dev(FAT/FAT32)", "Dev(FAT/FAT32)/Other lost files 0", "Dev(FAT/FAT32)/Other lost files/d 0",
          "Dev(FAT/FAT32)/Other lost files/d/one 1 D"},
         "1:d,one,Other lost files"},
        {"restoring keeps every copy",
         SEARCHER_NTFS,
         5,
         {Dir(10, 5, "d"), File(20, 10, "a"), File(20, 10, "a"), Dir(10, 5, "d"), Flush()},
         {"Dev(NTFS)", "Dev(NTFS)/d 0", "Dev(NTFS)/d/a 10 D", "Dev(NTFS)/d/a 10 D"},
         "0:d,a,a",  // the second copy of the folder has no file below it
         true},
        {"HFS+ private data: its folders dropped, its files lost",
         SEARCHER_HFSPLUS,
         2,
         {Dir(11, 10, "iNode1"), File(12, 10, "iNode2", 5), Dir(10, 2, "HFS+ Private Data", 0), Dir(13, 10, "late", 0),
          Flush()},
         {"Dev(HFS+)", "Dev(HFS+)/Other lost files 0", "Dev(HFS+)/Other lost files/iNode2 5 D"},
         "1:iNode2,Other lost files"},
        {"recycle bin held back until the flush, content marked deleted",
         SEARCHER_NTFS,
         5,
         {Dir(30, 5, "$Recycle.Bin"), Dir(31, 30, "S-1-5"), Add(32, 31, "$RAB12.txt", false, 10, false),
          Add(33, 31, "$IAB12.txt", false, 10, false), Flush()},
         {"Dev(NTFS)", "Dev(NTFS)/$Recycle.Bin 0 D", "Dev(NTFS)/$Recycle.Bin/S-1-5 0 D",
          "Dev(NTFS)/$Recycle.Bin/S-1-5/$RAB12.txt 10 D"},
         "0:$Recycle.Bin,S-1-5,$RAB12.txt"},
    };
    for (const Scenario& sc : scenarios) RunScenario(sc);
}

TEST(DirectoryTreeBuilder, RootNamesAndRegistration) {
    Harness h(false, SCAN_DEEP, "");
    EXPECT_EQ(h.builder->AddSearcherInfo(SEARCHER_NTFS, 5), 1);
    EXPECT_EQ(h.builder->AddSearcherInfo(SEARCHER_APFS, 2), 1);
    EXPECT_EQ(h.builder->AddSearcherInfo(SEARCHER_NTFS, 6), 1);  // only the root ID changes
    EXPECT_EQ(h.builder->AddSearcherInfo(SEARCHER_NONE, 1), 0);
    EXPECT_EQ(h.builder->AddSearcherInfo(static_cast<_tagSearcherType>(30), 1), 0);
    ASSERT_NE(h.builder->FindRecord(SEARCHER_NTFS), nullptr);
    EXPECT_EQ(h.builder->FindRecord(SEARCHER_NTFS)->rootId, 6);
    EXPECT_STREQ(h.builder->FindRecord(SEARCHER_NTFS)->root->GetFileName(), "Disk(NTFS)");
    EXPECT_STREQ(h.builder->FindRecord(SEARCHER_NTFS)->root->GetVolumeName(), "Disk");
    EXPECT_STREQ(h.builder->FindRecord(SEARCHER_APFS)->root->GetFileName(), "Disk(APFS)");

    SimpleFileNode* n = new SimpleFileNode(1, 0, "a", false);
    EXPECT_EQ(h.Add(n, SEARCHER_FAT), 0);  // no record of that type
    EXPECT_EQ(h.builder->AddNode(nullptr, SEARCHER_NTFS), 0);

    CDirectoryTreeBuilder bare(false);
    RecordingTree tree;
    CRecoveryFilter filter;
    EXPECT_EQ(bare.Initialize(nullptr, &tree, &filter), 0);
    EXPECT_EQ(bare.Initialize("d", nullptr, &filter), 0);
    EXPECT_EQ(bare.Initialize("d", &tree, nullptr), 0);
}

TEST(DirectoryTreeBuilder, FilterRefusesAndCallerReleases) {
    Harness h;
    h.filter.SetFilterTypes(FILTER_PICTURE);
    h.builder->AddSearcherInfo(SEARCHER_NTFS, 5);
    EXPECT_EQ(h.Add(new SimpleFileNode(10, 5, "song.mp3", false), SEARCHER_NTFS), 0);
    EXPECT_EQ(h.Add(new SimpleFileNode(11, 5, "music", true), SEARCHER_NTFS), 1);
    EXPECT_EQ(h.builder->OwnedNodeCount(), 1u);
}

TEST(DirectoryTreeBuilder, BatchOf1024AndFirstPublishSleepsOnce) {
    Harness h;
    h.builder->AddSearcherInfo(SEARCHER_NTFS, 5);
    h.Add(new SimpleFileNode(1, 5, "d", true), SEARCHER_NTFS);
    for (int i = 0; i < 1022; ++i) h.Add(new SimpleFileNode(100 + i, 1, "f", false, 1), SEARCHER_NTFS);
    EXPECT_EQ(h.tree.PublishedCount(), 0u);
    h.Add(new SimpleFileNode(5000, 1, "last", false, 1), SEARCHER_NTFS);  // the 1024th pending node
    EXPECT_EQ(h.tree.PublishedCount(), 1024u);
    EXPECT_EQ(h.sleeps, 1);
    EXPECT_EQ(h.sleptMs, 1000);
    ASSERT_EQ(h.tree.Roots().size(), 1u);
    h.Add(new SimpleFileNode(5001, 1, "more", false, 1), SEARCHER_NTFS);
    h.builder->FlashBuild(SEARCHER_NTFS);
    EXPECT_EQ(h.tree.PublishedCount(), 1025u);
    EXPECT_EQ(h.sleeps, 1);
    // Children are prepended: the last file added stands first.
    EXPECT_STREQ(static_cast<CFileNode*>(h.tree.Batches()[0].nodes[1])->GetParent()->GetFirstChild()->GetFileName(),
                 "more");
}

TEST(DirectoryTreeBuilder, HfsPlusWaitsForItsPrivateDataFolderOutsideAFlush) {
    Harness h;
    h.builder->AddSearcherInfo(SEARCHER_HFSPLUS, 2);
    h.Add(new SimpleFileNode(3, 2, "a", true), SEARCHER_HFSPLUS);
    h.Add(new SimpleFileNode(4, 3, "f", false), SEARCHER_HFSPLUS);
    h.now += 10;
    h.Add(new SimpleFileNode(5, 3, "g", false), SEARCHER_HFSPLUS);
    EXPECT_EQ(h.tree.PublishedCount(), 0u);
    h.Add(new SimpleFileNode(9, 2, "HFS+ Private Data", true), SEARCHER_HFSPLUS);
    h.Add(new SimpleFileNode(6, 3, "h", false), SEARCHER_HFSPLUS);
    EXPECT_EQ(h.tree.PublishedCount(), 4u);
}

TEST(DirectoryTreeBuilder, MergedDonorListIsDetachedBeforeTheCallerReleasesIt) {
    Harness h;
    h.builder->AddSearcherInfo(SEARCHER_NTFS, 5);
    h.Add(new SimpleFileNode(10, 5, "d", true), SEARCHER_NTFS);
    auto* kept = new SimpleFileNode(20, 10, "a", false, 100);
    kept->Times(0, 50);
    h.Add(kept, SEARCHER_NTFS);
    auto* donor = new SimpleFileNode(20, 10, "a", false, 300);
    donor->Times(0, 40);
    auto* runs = new CDataRunList();
    runs->AddDataRun(DataRun{7, 3});
    donor->SetDataRunList(runs);
    EXPECT_EQ(h.Add(donor, SEARCHER_NTFS), 0);  // refused and released here
    ASSERT_EQ(kept->GetDataRunList(), runs);
    EXPECT_EQ(kept->GetFileSize(), 300);
    h.builder->FlashBuild(SEARCHER_NTFS);
}

TEST(DirectoryTreeBuilder, ReleasesUnpublishedNodesOnceAndTheRestAtTheEnd) {
    Harness h(false, SCAN_QUICK);
    h.builder->AddSearcherInfo(SEARCHER_FAT, 0);
    h.Add(new SimpleFileNode(3, 0, "docs", true), SEARCHER_FAT);
    // Existing, in a live folder: never shown, so refused and released by the caller at once.
    EXPECT_EQ(h.Add(new SimpleFileNode(4, 3, "live.txt", false, 5), SEARCHER_FAT), 0);
    h.Add(&(new SimpleFileNode(5, 3, "gone.txt", false, 5))->Deleted(), SEARCHER_FAT);
    h.Add(new SimpleFileNode(6, 0, "empty", true), SEARCHER_FAT);
    // Existing, in a folder not seen yet (which may turn out deleted): kept to the end.
    EXPECT_EQ(h.Add(new SimpleFileNode(8, 7, "early.txt", false, 5), SEARCHER_FAT), 1);
    h.Add(new SimpleFileNode(7, 0, "later", true), SEARCHER_FAT);
    EXPECT_EQ(h.builder->OwnedNodeCount(), 5u);
    EXPECT_EQ(h.builder->ReleasedFileCount(), 1u);
    h.builder->FlashBuild(SEARCHER_FAT);
    EXPECT_EQ(h.builder->OwnedNodeCount(), 2u);  // early.txt, empty and later freed; docs and gone.txt published
    EXPECT_EQ(h.tree.PublishOrder(), "0:docs,gone.txt");
    // A second flush publishes nothing again and frees nothing twice.
    h.builder->FlashBuild(SEARCHER_FAT);
    EXPECT_EQ(h.tree.PublishedCount(), 2u);
}

TEST(DirectoryTreeBuilder, GetCorrectParentPreference) {
    SimpleFileNode node(1, 9, "f", false);
    node.Partition(1);
    SimpleFileNode otherPart(9, 0, "d", true), samePart(9, 0, "d", true), inTrash(9, 0, "d", true);
    SimpleFileNode trash(4, 0, "Trash", true);
    otherPart.Partition(2);
    samePart.Partition(1);
    inTrash.Partition(1);
    trash.AddChild(&inTrash);
    EXPECT_EQ(CDirectoryTreeBuilder::GetCorrectParent(4, {}, &node), nullptr);
    EXPECT_EQ(CDirectoryTreeBuilder::GetCorrectParent(4, {&otherPart}, &node), &otherPart);
    EXPECT_EQ(CDirectoryTreeBuilder::GetCorrectParent(4, {&otherPart, &samePart, &inTrash}, &node), &inTrash);
    EXPECT_EQ(CDirectoryTreeBuilder::GetCorrectParent(77, {&otherPart, &samePart, &inTrash}, &node), &samePart);
    node.Partition(3);
    EXPECT_EQ(CDirectoryTreeBuilder::GetCorrectParent(4, {&otherPart, &samePart}, &node), &otherPart);
    trash.RemoveChild(&inTrash);
}

namespace {

// A node of the interface only (not a CFileNode): the builder cannot link it and refuses it.
class ForeignNode : public IFileNode {
public:
    int IsNodeShow() override { return 0; }
    void ShowNode(int) override {}
    i64 GetCurrentNodeID() override { return 30; }
    i64 GetParentNodeID() override { return 5; }
    CFileNode* GetParent() override { return nullptr; }
    CFileNode* GetFirstChild() override { return nullptr; }
    CFileNode* GetNextNode() override { return nullptr; }
    const char* GetFileName() override { return "foreign"; }
    i64 GetFileSize() override { return 1; }
    u16 GetAttribute() override { return 0; }
    _FILETIME GetCreationTime() override { return 0; }
    _FILETIME GetModificationTime() override { return 0; }
    _FILETIME GetLastAccessTime() override { return 0; }
    u32 IsDirectory() override { return 0; }
    u32 IsDeleted() override { return 1; }
    _tagCheckedStatus GetCheckedStatus() override { return CHECKED_NONE; }
    void SetCheck(_tagCheckedStatus) override {}
    _tagSearcherType GetSearcheType() override { return SEARCHER_NTFS; }
    const char* GetVolumeName() override { return nullptr; }
    int AddChild(IFileNode*) override { return 0; }
    int AddNext(IFileNode*) override { return 0; }
    void SetParentNodeID(i64) override {}
    IFileNode* Clone() override { return nullptr; }
    void Release() override { delete this; }
    void MarkDeleted() override {}
    IFileReader* CreateCompressFileReader(void*) override { return nullptr; }
    u32 IsCompressed() override { return 0; }
    void SetMetaDataSector(u64) override {}
    void FilterFileNameByDot() override {}
    void UpdateFileSize(i64) override {}
    void UpdateNodeInfo() override {}
    void SetFileName(const char*) override {}
};

// A second kind of CFileNode, as a scan hands over nodes of several searchers.
class OtherKindNode : public SimpleFileNode {
public:
    using SimpleFileNode::SimpleFileNode;
};

}  // namespace

// Nodes of several kinds, mixed: each CFileNode kind is taken and linked as it comes, whichever kind
// came first; a node that is no CFileNode is refused before and after them.
TEST(DirectoryTreeBuilder, NodesOfSeveralKindsMixed) {
    Harness h;
    h.builder->AddSearcherInfo(SEARCHER_NTFS, 5);
    auto* foreign = new ForeignNode();
    EXPECT_EQ(h.builder->AddNode(foreign, SEARCHER_NTFS), 0);
    EXPECT_EQ(h.Add(new SimpleFileNode(10, 5, "d", true), SEARCHER_NTFS), 1);
    EXPECT_EQ(h.builder->AddNode(foreign, SEARCHER_NTFS), 0);
    EXPECT_EQ(h.Add(new OtherKindNode(20, 10, "a", false, 3), SEARCHER_NTFS), 1);
    EXPECT_EQ(h.Add(new SimpleFileNode(21, 10, "b", false, 3), SEARCHER_NTFS), 1);
    EXPECT_EQ(h.Add(new OtherKindNode(11, 5, "e", true), SEARCHER_NTFS), 1);
    EXPECT_EQ(h.Add(new OtherKindNode(22, 11, "c", false, 3), SEARCHER_NTFS), 1);
    EXPECT_EQ(h.builder->AddNode(foreign, SEARCHER_NTFS), 0);
    foreign->Release();
    h.builder->FlashBuild(SEARCHER_NTFS);
    EXPECT_EQ(h.builder->OwnedNodeCount(), 5u);
    EXPECT_EQ(h.tree.PublishedCount(), 5u);
    const std::vector<std::string> listing = h.tree.Listing();
    for (const char* path : {"d/a", "d/b", "e/c"}) {
        bool found = false;
        for (const std::string& line : listing) found = found || line.find(path) != std::string::npos;
        EXPECT_TRUE(found) << path;
    }
}
