// The result-tree arrays and the window's queries of them, fed as a scan feeds them: folders reported
// in any order, files shown and hidden, ticks; read back as the window reads them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "TreesTestSupport.h"
#include "bridge/Dispatch/Dispatch.h"
#include "bridge/ResultTree/KXTimeMgr.h"
#include "bridge/ResultTree/KXTypeMgr.h"
#include "bridge/Scan/KXUIScan.h"
#include "bridge/UIController/UINotifications.h"
#include "engine/Common/CatchExeception.h"
#include "support/FakeFileTree.h"
#include "support/FakeWindowSide.h"
#include "support/TempDir.h"

namespace {

using namespace trees_test;
using testsupport::FakeFileRow;
using testsupport::FakeFileTime;
using testsupport::FakeFileTree;
using testsupport::FakeWindowSide;
using testsupport::kFakeDeleted;
using testsupport::kFakeFolder;
using testsupport::kFakeHidden;
using testsupport::kFakeTicked;

constexpr _FILETIME kMay2009 = FakeFileTime(1242000000);
constexpr _FILETIME kJan2010 = FakeFileTime(1263000000);

// Reports nodes to the scan as the engine does, in the order given.
void Report(FakeFileTree& tree, const std::vector<std::string>& paths) {
    std::vector<IFileNode*> nodes;
    for (const std::string& path : paths) nodes.push_back(tree.Node(path));
    KXUIScan::instance().ShowNodes(nodes.data(), u32(nodes.size()), 0);
}

std::string Chain(int from, int to) {
    std::string path;
    for (int i = from; i <= to; ++i) path += (path.empty() ? "" : "/") + std::string("d") + std::to_string(i);
    return path;
}

class Trees : public testing::Test {
protected:
    FakeWindowSide window;
    WindowArrays arrays;
};

TEST_F(Trees, FoldersReportedBeforeTheirParentsWaitAndAttachLater) {
    struct Case {
        const char* label;
        std::vector<std::string> first;   // reported, then an unforced refresh
        std::vector<std::string> second;  // reported, then a refresh with flag
        int flag;
        size_t pendingAfterFirst;
        std::string outline;
        size_t pendingAtEnd;
    };
    const Case cases[] = {
        {"a late parent attaches in the next refresh", {"A/B"}, {"A"}, 0, 1, "(A(B))", 0},
        {"a chain in reverse order: the second pass places one more, a later refresh the rest",
         {"A/B/C", "A/B", "A"}, {}, 0, 1, "(A(B(C)))", 0},
        {"the extra passes of a forced refresh place the rest", {"A/B/C/D", "A/B/C", "A/B", "A"}, {}, 1, 2,
         "(A(B(C(D))))", 0},
        {"a folder whose parent never comes waits", {"X/Y"}, {}, 1, 1, "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        KXUIScan::instance().ClearData();
        KXUIController::KXResetTreeNodeData();
        FakeFileTree tree("Vol", SEARCHER_FAT,
                          {{"A/B/C/D", 0, 0, 0, kFakeFolder}, {"X/Y", 0, 0, 0, kFakeFolder}});
        KXUIScan::instance().ShowFilesystemNode(tree.root());
        Report(tree, c.first);
        KXUIController::KXGetTreeNodeDataPath(0);
        EXPECT_EQ(KXUIController::PendingPathNodes(), c.pendingAfterFirst);
        Report(tree, c.second);
        KXUIController::KXGetTreeNodeDataPath(c.flag);
        EXPECT_EQ(Outline(arrays.path), c.outline);
        EXPECT_EQ(KXUIController::PendingPathNodes(), c.pendingAtEnd);
        KXUIController::KXResetTreeNodeData();
        EXPECT_TRUE(arrays.path.empty());
        EXPECT_EQ(KXUIController::PendingPathNodes(), 0u);
    }
}

TEST_F(Trees, AfterAHundredExtraPassesTheRestIsLeftOutAndCountedInTheLog) {
    testsupport::TempDir work;
    CatchExeception::Instance()->ResetWorkPath(work.path().c_str());
    // 110 nested folders reported deepest first: the two passes of a refresh place two, each extra
    // pass one more.
    FakeFileTree tree("Vol", SEARCHER_FAT, {{Chain(1, 110), 0, 0, 0, kFakeFolder}});
    KXUIScan::instance().ShowFilesystemNode(tree.root());
    std::vector<std::string> reverse;
    for (int depth = 110; depth >= 1; --depth) reverse.push_back(Chain(1, depth));
    Report(tree, reverse);
    KXUIController::KXGetTreeNodeDataPath(1);
    EXPECT_EQ(KXUIController::LostPathNodes(), 8u);
    EXPECT_EQ(KXUIController::PendingPathNodes(), 8u);
    std::set<std::string> folders;
    FolderPaths(*arrays.path.front(), "", folders);
    EXPECT_EQ(folders.size(), 102u);
    EXPECT_TRUE(folders.count(Chain(1, 102)));
    EXPECT_FALSE(folders.count(Chain(1, 103)));
    std::ifstream log(CatchExeception::Instance()->GetLogFilePath());
    std::stringstream text;
    text << log.rdbuf();
    EXPECT_NE(text.str().find("zzmark: lost filenode:8"), std::string::npos);
    CatchExeception::Instance()->ResetWorkPath();
}

TEST_F(Trees, APathNodeListsItsShownFilesOnlyNeverFolders) {
    FakeFileTree tree("Vol", SEARCHER_FAT,
                      {{"Docs/a.txt", 10, 0, 0, kFakeDeleted},
                       {"Docs/hidden.txt", 10, 0, 0, kFakeDeleted | kFakeHidden},
                       {"Docs/Sub", 0, 0, 0, kFakeFolder},
                       {"Docs/b.txt", 10, 0, 0, kFakeDeleted},
                       {"Empty", 0, 0, 0, kFakeFolder}});
    KXUIScan::instance().ShowFilesystemNode(tree.root());
    Report(tree, {"Docs", "Docs/Sub", "Empty"});
    KXUIController::KXGetTreeNodeDataPath(1);
    ASSERT_EQ(Outline(arrays.path), "(Docs(Sub),Empty)");
    const OpNodeData::Ptr root = arrays.path.front();
    OpNodeData* docs = std::get<OpNodeData::Ptr>(root->children()[0]).get();
    OpNodeData* empty = std::get<OpNodeData::Ptr>(root->children()[1]).get();
    std::vector<IFileNode*> files;
    EXPECT_TRUE(KXUIController::GetFileNodeToArray(&files, docs));
    std::vector<std::string> names;
    for (IFileNode* f : files) names.push_back(f->GetFileName());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_FALSE(KXUIController::GetFileNodeToArray(&files, empty));
    EXPECT_TRUE(files.empty());
    EXPECT_FALSE(KXUIController::GetFileNodeToArray(&files, nullptr));
    EXPECT_FALSE(KXUIController::GetPathInfoToArray(nullptr, docs));
    // The path view of the window: the roots, then the folders it has not placed yet.
    KXUIScan::instance().SetScanType(0);
    TreeArray view;
    KXUIController::GetScanTreeNodeData(&view, false);
    ASSERT_EQ(view.size(), 1u);
    EXPECT_EQ(view.front(), root) << "the root already placed is not made twice";
    EXPECT_EQ(Outline(view), "(Docs(Sub),Empty)");
}

TEST_F(Trees, DateGroupsAndRootsAsTheWindowAsksForThem) {
    // Insert positions among year groups.
    struct Insert {
        std::vector<std::string> names;
        std::string name;
        int index;
    };
    const Insert inserts[] = {
        {{}, "2009", -1}, {{"2008"}, "2009", -1}, {{"2010"}, "2009", 0}, {{"2008", "2010", "2012"}, "2011", 2},
        {{"2009"}, "2009", -1},
    };
    for (const Insert& c : inserts) {
        std::vector<OpNodeData::Child> groups;
        for (const std::string& n : c.names) groups.push_back(OpNodeData::NewGroup(2, n, 1));
        EXPECT_EQ(KXUIController::GetDateInsertIndex(c.name, groups), c.index) << c.name;
    }

    FakeFileTree tree("Vol", SEARCHER_FAT,
                      {{"new.doc", 1, kJan2010, kJan2010, kFakeDeleted}, {"old.doc", 1, kMay2009, kMay2009, kFakeDeleted}});
    Report(tree, {"new.doc", "old.doc"});
    // A root only for an empty array; a second call refreshes the same root.
    TreeArray created;
    KXUIController::AddDateNodeToArray(&created, 2);
    KXUIController::AddDateNodeToArray(&created, 2);
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(Outline(created), "CREATE_TIME_ROOT_NAME(2009(05(old.doc)),2010(01(new.doc)))");
    EXPECT_EQ(created.front()->type(), 2);
    EXPECT_EQ(KXUIController::GetNodeChildrenCnt(created.front().get()), 2u);
    // Years list nothing; months their files.
    const OpNodeData::Ptr year = std::get<OpNodeData::Ptr>(created.front()->children()[0]);
    const OpNodeData::Ptr month = std::get<OpNodeData::Ptr>(year->children()[0]);
    std::vector<IFileNode*> files = {nullptr};
    EXPECT_FALSE(KXUIController::GetFileNodeToArray(&files, year.get()));
    EXPECT_TRUE(files.empty());
    KXUIController::GetFileNodeToArray(&files, month.get());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_STREQ(files[0]->GetFileName(), "old.doc");
    KXUIController::GetFileNodeToArray(&files, created.front().get());
    EXPECT_TRUE(files.empty());

    TreeArray other = {OpNodeData::NewGroup(2, "mine", 1)};
    KXUIController::AddDateNodeToArray(&other, 2);
    EXPECT_EQ(other.size(), 1u) << "no root added to an array that has nodes";
    EXPECT_EQ(other.front()->name(), "mine");

    // The last-access view: a root, never filled by the scan.
    KXUIScan::instance().SetScanType(4);
    TreeArray access;
    KXUIController::GetScanTreeNodeData(&access, false);
    EXPECT_EQ(Outline(access), "LAST_ACCESS_TIME_ROOT_NAME");
    EXPECT_EQ(access.front()->type(), 4);
    EXPECT_EQ(KXUIController::GetNodeChildrenCnt(access.front().get()), 0u);
    KXUIController::AddFileNode(tree.Node("new.doc"), access.front());
    EXPECT_EQ(Outline(access), "LAST_ACCESS_TIME_ROOT_NAME");
    // The modified view: AddFileNode files by the node's modification month.
    KXUIScan::instance().SetScanType(3);
    TreeArray modified = {OpNodeData::NewGroup(3, "M", 1)};
    KXUIController::AddFileNode(tree.Node("new.doc"), modified.front());
    EXPECT_EQ(Outline(modified), "M(2010(01(new.doc)))");
    KXUIScan::instance().SetScanType(0);
}

TEST_F(Trees, GroupStatesFollowTheShownFilesTicks) {
    struct Case {
        const char* label;
        std::vector<unsigned> files;  // flags of each file
        int state;
    };
    const Case cases[] = {
        {"none ticked", {0, 0}, 0},
        {"all ticked", {kFakeTicked, kFakeTicked}, 2},
        {"a mixture", {kFakeTicked, 0, kFakeTicked}, 1},
        {"the hidden unticked file does not count", {kFakeTicked, kFakeHidden}, 2},
        {"the hidden ticked file does not count", {0, kFakeHidden | kFakeTicked}, 0},
        {"no files", {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<FakeFileRow> rows;
        for (size_t i = 0; i < c.files.size(); ++i) rows.push_back({"f" + std::to_string(i), 1, 0, 0, c.files[i]});
        FakeFileTree tree("Vol", SEARCHER_FAT, rows);
        const auto made = tree.Files();
        std::vector<IFileNode*> files(made.begin(), made.end());
        auto group = OpNodeData::NewGroup(2, "05", 0);
        group->setStateField(1);
        KXUIController::setNodeState(group.get(), files);
        EXPECT_EQ(group->state(), c.state);
    }
}

TEST_F(Trees, MonthStatesAreRecomputedFromTheScansMaps) {
    FakeFileTree tree("Vol", SEARCHER_FAT,
                      {{"a.doc", 1, kMay2009, kJan2010, kFakeDeleted | kFakeTicked},
                       {"b.doc", 1, kMay2009, kJan2010, kFakeDeleted}});
    Report(tree, {"a.doc", "b.doc"});
    KXUIController::KXGetTreeNodeData(0);
    ASSERT_EQ(Outline(arrays.created), "CREATE_TIME_ROOT_NAME(2009(05(a.doc,b.doc)))");
    KXUIScan::instance().SetScanType(2);
    KXUIController::RefreshTimeTreeState(arrays.created, 0);
    const auto month = [&](const TreeArray& roots) {
        return std::get<OpNodeData::Ptr>(std::get<OpNodeData::Ptr>(roots.front()->children()[0])->children()[0]);
    };
    EXPECT_EQ(month(arrays.created)->state(), 1);
    tree.Node("b.doc")->SetCheck(CHECKED_ALL);
    // change 1: only when a tick asked for it.
    KXTimeMgr::share().KXResetNeedRefreshTree();
    KXUIController::RefreshTimeTreeState(arrays.created, 1);
    EXPECT_EQ(month(arrays.created)->state(), 1);
    // A tick in the list asks for it.
    KXUIScan::instance().SetScanType(0);
    KXUIController::KXTableViewCellCilck();
    KXUIScan::instance().SetScanType(2);
    KXUIController::RefreshTimeTreeState(arrays.created, 1);
    EXPECT_EQ(month(arrays.created)->state(), 2);
    KXUIScan::instance().SetScanType(3);
    KXUIController::RefreshTimeTreeState(arrays.created, 0);
    EXPECT_EQ(month(arrays.created)->state(), 0) << "the created tree against the modified view's map";
    KXUIScan::instance().SetScanType(0);
}

TEST_F(Trees, CleaningStatesTouchesOnlyTheTopLevelNodes) {
    FakeFileTree tree("Vol", SEARCHER_FAT, {{"a.doc", 1, kMay2009, kMay2009, kFakeDeleted | kFakeTicked}});
    Report(tree, {"a.doc"});
    KXUIController::KXGetTreeNodeData(0);
    ASSERT_FALSE(arrays.created.empty());
    ASSERT_FALSE(arrays.type.empty());
    const OpNodeData::Ptr year = std::get<OpNodeData::Ptr>(arrays.created.front()->children()[0]);
    arrays.created.front()->setStateField(2);
    arrays.type.front()->setStateField(1);
    year->setStateField(2);
    EXPECT_TRUE(KXUIController::KXCleanOpNodeSate());
    EXPECT_EQ(arrays.created.front()->state(), 0);
    EXPECT_EQ(arrays.type.front()->state(), 0);
    EXPECT_EQ(year->state(), 2) << "children keep theirs";
    EXPECT_EQ(tree.Node("a.doc")->GetCheckedStatus(), CHECKED_ALL);
}

TEST_F(Trees, AForcedRefreshAskedBeforeTheTreeIsFinishedArrivesOnceItIs) {
    FakeFileTree tree("Vol", SEARCHER_FAT, {{"Docs/a.doc", 1, kMay2009, kMay2009, kFakeDeleted}});
    KXUIScan& scan = KXUIScan::instance();
    scan.SetOpTreeFinished(0);
    scan.ShowFilesystemNode(tree.root());
    Report(tree, {"Docs", "Docs/a.doc"});
    KXNotifyUIUpdateData(1);
    window.Pump();
    EXPECT_EQ(window.Count(ui_notification::kNormalScanValue), 0u);
    EXPECT_TRUE(arrays.path.empty());
    scan.SetOpTreeFinished(1);
    window.Pump();
    EXPECT_EQ(window.Count(ui_notification::kNormalScanValue), 1u);
    EXPECT_EQ(Outline(arrays.path), "(Docs)");
    EXPECT_EQ(HeldFiles(arrays.modified).size(), 1u);
}

TEST_F(Trees, ABatchLargerThanARebuildsBudgetFillsTheTreesOverTheRefreshesThatFollow) {
    // One batch of more files than a rebuild places: the first refresh places the budget in each
    // tree, the one it posts at once places the rest; no file twice, none lost.
    const size_t files = KXUIController::kFilesPerRebuild + 1500;
    std::vector<FakeFileRow> rows;
    for (size_t i = 0; i < files; ++i)
        rows.push_back({"F/f" + std::to_string(i) + (i % 2 ? ".jpg" : ".doc"), 1, kMay2009, kJan2010, kFakeDeleted});
    FakeFileTree tree("Vol", SEARCHER_FAT, rows);
    std::vector<size_t> held;
    window.Centre().AddObserver(&held, ui_notification::kNormalScanValue, nullptr, [&](const auto&) {
        held.push_back(HeldFiles(arrays.type).size());
        held.push_back(HeldFiles(arrays.created).size());
        held.push_back(HeldFiles(arrays.modified).size());
    });
    KXUIScan& scan = KXUIScan::instance();
    scan.ShowFilesystemNode(tree.root());
    ResetRefreshClock();
    std::vector<IFileNode*> nodes = {tree.Node("F")};
    for (IFileNode* file : tree.Files()) nodes.push_back(file);
    scan.ShowNodes(nodes.data(), u32(nodes.size()), 0);
    window.Pump();
    window.Centre().RemoveObserver(&held);
    const size_t budget = KXUIController::kFilesPerRebuild;
    EXPECT_EQ(held, (std::vector<size_t>{budget, budget, budget, files, files, files}));
    EXPECT_EQ(window.Count(ui_notification::kNormalScanValue), 2u);
    const std::multiset<IFileNode*> type = HeldFiles(arrays.type);
    EXPECT_EQ(std::set<IFileNode*>(type.begin(), type.end()).size(), files);
    EXPECT_EQ(Outline(arrays.path), "(F)");
}

// A node whose links a test sets freely: sibling rings the engine's own linking refuses to make.
class RingNode : public testsupport::FakeFileNode {
public:
    RingNode(const std::string& name, bool folder)
        : FakeFileNode(nullptr, name, FakeFileRow{name, 1, kMay2009, kMay2009, folder ? kFakeFolder : 0u}) {}
    CFileNode* GetFirstChild() override { return first; }
    CFileNode* GetNextNode() override { return next; }
    CFileNode* first = nullptr;
    CFileNode* next = nullptr;
};

TEST_F(Trees, ASiblingChainThatLoopsIsWalkedOnceAndEnds) {
    struct Case {
        const char* label;
        bool folders;      // the ring's nodes are folders (the path tree grows them) or files (listed)
        int closesAt;      // the last node's next: the index of the node it loops back to
    };
    const Case cases[] = {
        {"files: the last points back to the first", false, 0},
        {"files: the last points back to the middle", false, 1},
        {"files: the last points to itself", false, 2},
        {"folders: the last points back to the first", true, 0},
        {"folders: the last points to itself", true, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        RingNode folder("Ring", true);
        std::vector<std::unique_ptr<RingNode>> ring;
        for (const char* name : {"a", "b", "c"}) ring.push_back(std::make_unique<RingNode>(name, c.folders));
        folder.first = ring[0].get();
        ring[0]->next = ring[1].get();
        ring[1]->next = ring[2].get();
        ring[2]->next = ring[size_t(c.closesAt)].get();

        __TreeNodeData__ record;
        record.isDirectory = 1;
        record.node = &folder;
        auto node = std::make_shared<OpNodeData>(record);
        node->setType(OPNODE_ENGINE);
        node->setExpandAble(1);
        if (!c.folders) {
            std::vector<IFileNode*> listed;
            EXPECT_TRUE(KXUIController::GetPathInfoToArray(&listed, node.get()));
            EXPECT_EQ(listed, (std::vector<IFileNode*>{ring[0].get(), ring[1].get(), ring[2].get()}));
            continue;
        }
        TreeArray roots = {node};
        KXUIController::AddPathNodeToArray(&roots);
        EXPECT_EQ(Outline(roots), "Ring(a,b,c)");
        KXUIController::KXResetTreeNodeData();
    }
}

}  // namespace
