#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ResultTreeTestSupport.h"
#include "bridge/ResultTree/DiskVolumeNodeData.h"
#include "bridge/ResultTree/OpNodeData.h"
#include "bridge/Utilities/KXUIPublic.h"
#include "platform/foundation/Localization.h"

using result_tree_test::ChildTexts;
using result_tree_test::Outline;
using result_tree_test::WithController;
using testsupport::FakeFileTime;
using testsupport::FakeFileTree;
using testsupport::kFakeDeleted;
using testsupport::kFakeFolder;
using testsupport::kFakeHidden;
using testsupport::kFakeTicked;

namespace {

const _FILETIME kMay2014 = FakeFileTime(1399111500);  // 2014-05-03 10:05 UTC

// Photos/a.jpg, Photos/b.jpg, Photos/c.jpg (hidden), Music/d.mp3, Music/e.mp3
FakeFileTree MakeFiles() {
    return FakeFileTree("Card", SEARCHER_FAT,
                        {{"Photos/a.jpg", 10, kMay2014, kMay2014, 0},
                         {"Photos/b.jpg", 20, kMay2014, kMay2014, 0},
                         {"Photos/c.jpg", 30, kMay2014, kMay2014, kFakeHidden},
                         {"Music/d.mp3", 40, kMay2014, kMay2014, 0},
                         {"Music/e.mp3", 50, 0, kMay2014, kFakeDeleted}});
}

// A group holding engine nodes, under parent when given.
OpNodeData::Ptr Group(const std::string& name, std::vector<IFileNode*> files, const OpNodeData::Ptr& parent = nullptr,
                      int type = OPNODE_TYPE_TREE) {
    auto group = OpNodeData::NewGroup(type, name, 1);
    for (IFileNode* file : files) group->addChildObject(file);
    if (parent) {
        group->setParent(parent);
        parent->addChildObject(group);
    }
    return group;
}

class OpNodeTicks : public WithController {};

TEST_F(OpNodeTicks, AGroupTakesTheStateItsChildrenSumTo) {
    struct Case {
        std::vector<int> children;  // states set on the child groups, in order
        int parent;
    };
    const std::vector<Case> cases = {
        {{2, 2, 2}, 2}, {{0, 0, 0}, 0}, {{2, 0, 2}, 1}, {{0, 0, 2}, 1},
        {{2, 1, 2}, 1}, {{1, 1, 1}, 1}, {{0, 1, 0}, 1}, {{2, 2, 1}, 1},
    };
    for (const Case& c : cases) {
        auto top = OpNodeData::NewGroup(OPNODE_CREATE_DATE, "root", 1);
        auto parent = Group("2012", {}, top, OPNODE_CREATE_DATE);
        std::vector<OpNodeData::Ptr> months;
        for (size_t i = 0; i < c.children.size(); ++i) months.push_back(Group(std::to_string(i), {}, parent, 2));
        for (size_t i = 0; i < c.children.size(); ++i) months[i]->setNodeState(c.children[i]);
        std::string label;
        for (int s : c.children) label += std::to_string(s);
        EXPECT_EQ(parent->state(), c.parent) << label;
        // The change climbs to the top group.
        EXPECT_EQ(top->state(), c.parent) << label;
    }
}

TEST_F(OpNodeTicks, GroupsReachExactlyTheEngineNodesBelowThem) {
    FakeFileTree files = MakeFiles();
    auto* a = files.Node("Photos/a.jpg");
    auto* b = files.Node("Photos/b.jpg");
    auto* c = files.Node("Photos/c.jpg");
    auto* d = files.Node("Music/d.mp3");
    auto* e = files.Node("Music/e.mp3");
    auto top = OpNodeData::NewGroup(OPNODE_TYPE_TREE, "top", 1);
    auto pictures = Group("jpg", {a, b, c}, top);
    auto music = Group("mp3", {d, e}, top);

    pictures->setNodeState(2);
    std::vector<std::pair<IFileNode*, int>> sent;
    for (const auto& call : files.SetChecks()) sent.emplace_back(call.node, call.state);
    EXPECT_EQ(sent, (std::vector<std::pair<IFileNode*, int>>{{a, 2}, {b, 2}, {c, 2}}));
    EXPECT_EQ(a->GetCheckedStatus(), 2);
    EXPECT_EQ(c->GetCheckedStatus(), 0) << "a hidden node ignores the tick";
    EXPECT_EQ(d->GetCheckedStatus(), 0);
    EXPECT_EQ(top->state(), 1);

    music->setNodeState(2);
    EXPECT_EQ(top->state(), 2);
    EXPECT_EQ(Outline(*top), "top[2](jpg[2](a.jpg[2],b.jpg[2],c.jpg[0]),mp3[2](d.mp3[2],e.mp3[2]))");

    // 1 on a group changes no engine node.
    files.ClearSetChecks();
    music->setNodeState(1);
    top->setNodeState(1);
    EXPECT_TRUE(files.SetChecks().empty());
    EXPECT_EQ(music->state(), 1);
    EXPECT_EQ(d->GetCheckedStatus(), 2);

    top->setNodeState(0);
    EXPECT_EQ(files.SetChecks().size(), 5u);
    for (IFileNode* file : {a, b, c, d, e}) EXPECT_EQ(file->GetCheckedStatus(), 0) << file->GetFileName();
    EXPECT_EQ(pictures->state(), 0);
    EXPECT_EQ(music->state(), 0);

    // States outside 0-2 are refused everywhere.
    files.ClearSetChecks();
    top->setNodeState(3);
    top->setNodeState(-1);
    OpNodeData::setFileNode(a, 1);
    OpNodeData::setFileNode(a, 7);
    OpNodeData::setFileNode(nullptr, 2);
    EXPECT_TRUE(files.SetChecks().empty());
    EXPECT_EQ(top->state(), 0);
}

TEST_F(OpNodeTicks, EngineRowsTickTheirNodeAndTheGroupsAbove) {
    FakeFileTree files = MakeFiles();
    auto* photos = files.Node("Photos");
    auto* a = files.Node("Photos/a.jpg");
    auto* b = files.Node("Photos/b.jpg");

    // A folder row of the path tree: the engine carries the tick down its own tree; nothing else is sent.
    OpNodeData folder(photos);
    folder.setNodeState(2);
    ASSERT_EQ(files.SetChecks().size(), 1u);
    EXPECT_EQ(files.SetChecks()[0].node, photos);
    EXPECT_EQ(folder.state(), 2);
    EXPECT_EQ(b->GetCheckedStatus(), 2);
    folder.setNodeState(1);
    EXPECT_EQ(files.SetChecks().size(), 1u) << "1 is never sent to the engine";
    folder.setNodeState(0);

    // A file row under a group: the group becomes partly ticked, and its root follows.
    auto top = OpNodeData::NewGroup(OPNODE_TYPE_TREE, "top", 1);
    auto jpg = Group("jpg", {a, b}, top);
    auto row = std::make_shared<OpNodeData>(a);
    row->setParent(jpg);
    row->setNodeState(2);
    EXPECT_EQ(a->GetCheckedStatus(), 2);
    EXPECT_EQ(b->GetCheckedStatus(), 0);
    EXPECT_EQ(jpg->state(), 1);
    EXPECT_EQ(top->state(), 1);
    EXPECT_EQ(row->state(), 2) << "an engine row answers the engine's state";
}

TEST_F(OpNodeTicks, SetSubNodeMakesTheReceiverTheParent) {
    auto year = OpNodeData::NewGroup(OPNODE_MODIFY_DATE, "2012", 1);
    auto march = OpNodeData::NewGroup(OPNODE_MODIFY_DATE, "03", 0);
    auto june = OpNodeData::NewGroup(OPNODE_MODIFY_DATE, "06", 0);
    year->setSubNode({march, june});
    EXPECT_EQ(march->parent(), year);
    EXPECT_EQ(ChildTexts(*year), (std::vector<std::string>{"03", "06"}));
    march->setNodeState(2);
    EXPECT_EQ(year->state(), 1);
    june->setNodeState(2);
    EXPECT_EQ(year->state(), 2);

    // The parent is not owned: once the year is gone the month has none.
    year.reset();
    EXPECT_EQ(march->parent(), nullptr);
    march->setNodeState(0);
    EXPECT_EQ(march->state(), 0);
}

class OpNodeDisplay : public WithController {};

TEST_F(OpNodeDisplay, GroupsAnswerNeutralValues) {
    auto group = OpNodeData::NewGroup(OPNODE_TYPE_TREE, "jpg", 1);
    EXPECT_TRUE(group->isFadeNode());
    EXPECT_EQ(group->name(), "jpg");
    EXPECT_EQ(group->size(), 0);
    EXPECT_EQ(group->path(), "");
    EXPECT_EQ(group->createTime(), "");
    EXPECT_EQ(group->createTimeValue(), 0);
    EXPECT_TRUE(group->isDirect());
    EXPECT_FALSE(group->isDeleted());
    EXPECT_TRUE(group->isHasFolderChildren());
    group->setExpandAble(0);
    EXPECT_FALSE(group->isHasFolderChildren());

    // A group without a name shows "Unknown"; one named with an empty title stays empty.
    OpNodeData unnamed{__TreeNodeData__{}};
    unnamed.setType(OPNODE_CREATE_DATE);
    EXPECT_EQ(unnamed.name(), "Unknown");
    EXPECT_EQ(OpNodeData::NewGroup(OPNODE_TYPE_TREE, "", 1)->name(), "");
    // A kind-0 node without engine node is not a group and shows nothing.
    OpNodeData empty{__TreeNodeData__{}};
    EXPECT_FALSE(empty.isFadeNode());
    EXPECT_EQ(empty.name(), "");
    EXPECT_EQ(empty.size(), 0);
    EXPECT_FALSE(empty.isDirect());
    EXPECT_FALSE(empty.isHasFolderChildren());
}

TEST_F(OpNodeDisplay, EngineRowsAnswerFromTheirNode) {
    const std::string badName = std::string("IMG_\xff\xfe", 6) + ".jpg";
    FakeFileTree files("Card", SEARCHER_FAT,
                       {{"DCIM/a.jpg", 1234, kMay2014, kMay2014, kFakeDeleted},
                        {"DCIM/" + badName, 5, 0, kMay2014, 0},
                        {"DCIM/Sub/x.txt", 7, 0, 0, 0},
                        {"Flat/y.txt", 8, 0, 0, 0}});
    OpNodeData photo(files.Node("DCIM/a.jpg"));
    EXPECT_EQ(photo.name(), "a.jpg");
    EXPECT_EQ(photo.path(), "/Card/DCIM/a.jpg");
    EXPECT_EQ(photo.size(), 1234);
    EXPECT_TRUE(photo.isDeleted());
    EXPECT_FALSE(photo.isDirect());
    EXPECT_EQ(photo.createTimeValue(), kMay2014);
    EXPECT_EQ(photo.createTime(), KXUIPublic::FormatFileTimeToString(kMay2014));
    EXPECT_FALSE(photo.createTime().empty());
    EXPECT_FALSE(photo.isHasFolderChildren());

    OpNodeData bad(files.Node("DCIM/" + badName));
    EXPECT_EQ(bad.name(), "Unknown");
    EXPECT_EQ(OpNodeData::fileNodeName(files.Node("DCIM/" + badName)), std::nullopt);
    EXPECT_EQ(OpNodeData::fileNodeName(nullptr), "");
    EXPECT_EQ(bad.createTime(), "") << "creation time 0";

    OpNodeData dcim(files.Node("DCIM"));
    EXPECT_TRUE(dcim.isDirect());
    EXPECT_EQ(dcim.size(), 0);
    EXPECT_TRUE(dcim.isHasFolderChildren());
    EXPECT_FALSE(OpNodeData(files.Node("Flat")).isHasFolderChildren());

    EXPECT_FALSE(OpNodeData::isFileNodeDirect(nullptr));
    EXPECT_FALSE(OpNodeData::isFileNodeDeleted(nullptr));
    EXPECT_EQ(OpNodeData::fileNodeState(nullptr), 0);
    EXPECT_TRUE(OpNodeData::isFileNodeDirect(files.Node("DCIM")));
    EXPECT_TRUE(OpNodeData::isFileNodeDeleted(files.Node("DCIM/a.jpg")));
}

TEST(OpNodeDisplayWithoutController, PathsAndTimesAreEmpty) {
    ASSERT_EQ(GetUIController(), nullptr);
    FakeFileTree files("Card", SEARCHER_FAT, {{"a.jpg", 1, kMay2014, kMay2014, 0}});
    OpNodeData row(files.Node("a.jpg"));
    EXPECT_EQ(row.name(), "a.jpg");
    EXPECT_EQ(row.path(), "");
    EXPECT_EQ(row.createTime(), "");
    EXPECT_EQ(OpNodeData::NewGroup(OPNODE_TYPE_TREE, "Pictures", 1)->nodeType(), 8);
}

TEST_F(OpNodeDisplay, IconKinds) {
    FakeFileTree files("Card", SEARCHER_FAT, {{"a.jpg", 1, 0, 0, 0}});
    __TreeNodeData__ rootRecord;
    rootRecord.fileSystemFlag = 1;
    rootRecord.node = files.root();
    __TreeNodeData__ fileRecord;
    fileRecord.node = files.Node("a.jpg");

    auto dateRoot = OpNodeData::NewGroup(OPNODE_CREATE_DATE, "Created", 1);
    auto year = OpNodeData::NewGroup(OPNODE_MODIFY_DATE, "2012", 1);
    year->setParent(dateRoot);
    auto other = OpNodeData::NewGroup(7, "x", 1);
    auto typedRow = std::make_shared<OpNodeData>(fileRecord);
    typedRow->setType(OPNODE_TYPE_TREE);

    struct Case {
        const char* label;
        OpNodeData::Ptr node;
        int kind;
    };
    const std::vector<Case> cases = {
        {"file-system root", std::make_shared<OpNodeData>(rootRecord), 0},
        {"engine row", std::make_shared<OpNodeData>(fileRecord), 1},
        {"engine row of kind 1", typedRow, 1},
        {"documents", OpNodeData::NewGroup(OPNODE_TYPE_TREE, "Documents", 1), 2},
        {"pictures", OpNodeData::NewGroup(OPNODE_TYPE_TREE, "Pictures", 1), 3},
        {"movies", OpNodeData::NewGroup(OPNODE_TYPE_TREE, "Movies", 1), 4},
        {"music", OpNodeData::NewGroup(OPNODE_TYPE_TREE, "Music", 1), 5},
        {"archives", OpNodeData::NewGroup(OPNODE_TYPE_TREE, "Archives", 1), 6},
        {"e-mail", OpNodeData::NewGroup(OPNODE_TYPE_TREE, "E-mail", 1), 7},
        {"other", OpNodeData::NewGroup(OPNODE_TYPE_TREE, "Other", 1), 8},
        {"extension", OpNodeData::NewGroup(OPNODE_TYPE_TREE, "jpg", 1), 8},
        {"date root", dateRoot, 9},
        {"year", year, 10},
        {"any other group", other, 11},
    };
    for (const Case& c : cases) EXPECT_EQ(c.node->nodeType(), c.kind) << c.label;
}

TEST(DiskVolumeNodeData, RowsFromDeviceRecords) {
    _DiskVolumeData disk;
    disk.name = "SanDisk Ultra";
    disk.bsdName = "sdb";
    disk.capacity = 32000000000ULL;
    disk.diskIndex = 2;
    disk.isUSB = 1;
    disk.isSSD = 1;
    disk.beCanOpen = 0;
    _DiskVolumeData volume;
    volume.bsdName = "sdb1";
    volume.diskIndex = 2;
    volume.volumeIndex = 0;
    volume.fileSystem = 2;
    _DiskVolumeData image;
    image.name = std::string("card\xc3", 5);
    image.bsdName = "/home/u/card.dmg";
    image.isDmg = 1;
    image.isEdi = 1;
    image.isAppleDmg = 1;

    DiskVolumeNodeData diskRow(&disk);
    EXPECT_EQ(diskRow.name(), "SanDisk Ultra");
    EXPECT_EQ(diskRow.diskPath(), "/dev/sdb");
    EXPECT_EQ(diskRow.capacity(), 32000000000ULL);
    EXPECT_EQ(diskRow.diskIndex(), 2);
    EXPECT_EQ(diskRow.volumeIndex(), -1);
    EXPECT_EQ(diskRow.fileSystem(), -1);
    EXPECT_EQ(diskRow.isUSB(), 1);
    EXPECT_EQ(diskRow.isSSD(), 1);
    EXPECT_EQ(diskRow.beCanOpen(), 0);
    EXPECT_EQ(diskRow.isSystemVolume(), 0);
    EXPECT_EQ(diskRow.parentName(), "");
    EXPECT_EQ(diskRow.children(), nullptr);

    DiskVolumeNodeData volumeRow(&volume);
    const std::string untitled = brelvox::foundation::Localized("DEVICE_NAME_UNTITILED");
    EXPECT_EQ(volumeRow.name(), untitled);
    EXPECT_EQ(untitled, "Untitled") << "the key has its own text";
    EXPECT_EQ(volumeRow.diskPath(), "/dev/sdb1");
    EXPECT_EQ(volumeRow.fileSystem(), 2);
    EXPECT_EQ(volumeRow.volumeIndex(), 0);
    EXPECT_EQ(volumeRow.beCanOpen(), 1);

    DiskVolumeNodeData imageRow(&image);
    EXPECT_EQ(imageRow.name(), "Unknown");
    EXPECT_EQ(imageRow.diskPath(), "/home/u/card.dmg");
    EXPECT_EQ(imageRow.isDmg() + imageRow.isEdi() + imageRow.isAppleDmg(), 3);

    DiskVolumeNodeData none(nullptr);
    EXPECT_EQ(none.name(), untitled);
    EXPECT_EQ(none.diskPath(), "");

    auto first = std::make_shared<DiskVolumeNodeData>(&volume);
    std::weak_ptr<DiskVolumeNodeData> dropped = first;
    diskRow.setSubNode({first});
    first.reset();
    ASSERT_NE(diskRow.children(), nullptr);
    EXPECT_EQ(diskRow.children()->size(), 1u);
    diskRow.setSubNode({std::make_shared<DiskVolumeNodeData>(&volume), std::make_shared<DiskVolumeNodeData>(&volume)});
    EXPECT_EQ(diskRow.children()->size(), 2u);
    EXPECT_TRUE(dropped.expired()) << "the old rows are released";
    volumeRow.setIsSystemVolume(1);
    EXPECT_EQ(volumeRow.isSystemVolume(), 1);
    volumeRow.setParentName(diskRow.name());
    EXPECT_EQ(volumeRow.parentName(), "SanDisk Ultra");
}

}  // namespace
