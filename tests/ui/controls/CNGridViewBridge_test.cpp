// The grid over the real operations layer: a demo data source shows the files of a quick scan of the
// FAT fixture (a USB stick whose reads are held on the clock), one item per engine node read through
// OpNodeData. While the scan runs unpaused a check-box click is refused; paused, it ticks the engine
// node for the whole program; at the end the titles are exactly the scan's files.
#include <gtest/gtest.h>

#include <QTest>
#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "GridTestSupport.h"
#include "bridge/Controller/KXUIController.h"
#include "bridge/ResultTree/OpNodeData.h"
#include "bridge/UIController/UINotifications.h"
#include "engine/FATLib/FatTestSupport.h"
#include "support/DiskReadHook.h"
#include "support/FakeFileTree.h"
#include "support/FakeWindowSide.h"
#include "support/Fixtures.h"
#include "support/TempDir.h"
#include "support/UsbStick.h"
#include "uisupport/RealWindows.h"

namespace {

using namespace std::chrono_literals;
using testsupport::FakeWindowSide;

// The files of the scan as the result window would show them, each engine node once (a node may be
// filed under several type bits), ticked through the node as the result window does.
class DemoSource : public CNGridViewDataSource, public CNGridViewItemDelegate {
public:
    void refresh() {
        std::set<IFileNode*> seen;
        for (const auto& [bit, files] : GetUIController()->GetTypeMap()) {
            for (IFileNode* file : files) {
                if (seen.insert(file).second && !known.count(file)) {
                    known.insert(file);
                    nodes.push_back(std::make_unique<OpNodeData>(file));
                }
            }
        }
    }
    uint64_t gridViewNumberOfItemsInSection(CNGridView*, int64_t) override { return nodes.size(); }
    CNGridViewItemBase* gridViewItemAtIndex(CNGridView* grid, int64_t index, int64_t) override {
        auto* item = static_cast<CNGridViewItem*>(grid->dequeueReusableItemWithIdentifier(kCNDefaultItemIdentifier));
        if (!item) item = new CNGridViewItem;
        const OpNodeData* node = nodes[size_t(index)].get();
        item->titleLabel()->setStringValue(QString::fromStdString(node->name()));
        item->setNode(node);
        item->setDelegate(this);
        item->itemButton()->setImage(node->state() > 0 ? kit::Image::named("checkbox_yes")
                                                       : kit::Image::named("checkbox_no"));
        return item;
    }
    void doSelectItem(int64_t index) override {
        OpNodeData* node = nodes[size_t(index)].get();
        node->setNodeState(node->state() > 0 ? 0 : 2);
    }

    std::vector<std::unique_ptr<OpNodeData>> nodes;
    std::set<IFileNode*> known;
};

// fls's deleted files, their names only. The operations layer files a deleted file of size 0 too
// ("Deleted Empty.txt"), as the bridge's own end-to-end test expects; with sizeAboveZero only the others.
std::vector<std::string> ExpectedNames(bool sizeAboveZero) {
    std::vector<std::string> names;
    std::ifstream in(testsupport::FixturePath("fat/mbr-fat16.fls-l.txt"));
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream split(line);
        for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
        if (fields.size() < 7 || fields[0].rfind("r/r *", 0) != 0) continue;
        if (sizeAboveZero && std::stoll(fields[6]) == 0) continue;
        names.push_back(fields[1].substr(fields[1].rfind('/') + 1));
    }
    return names;
}

// FAT names compare as stored against fls's: a lost first letter ("_" in fls) and case aside.
std::string Comparable(std::string name) {
    if (!name.empty() && (name[0] == '_' || name[0] == '#')) name.erase(0, 1);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return name;
}

TEST(CNGridViewBridge, TheCheckBoxFollowsTheScanStateAndTheTitlesAreTheScansFiles) {
    testsupport::TempDir dir;
    testsupport::UsbStick stick{dir / "kernel", fattest::Image("mbr-fat16"),
                                testsupport::UsbStick::Partition{.start = 2048, .sectors = 36864}};
    uitest::RealWindows windows;
    FakeWindowSide side{{.devices = stick.Devices(), .realWindows = windows.loop()}};
    side.Controller().NotifiyDeviceInfoAfterInit(ui_notification::kInitFinished);
    ASSERT_TRUE(side.RunUntil([&] { return side.Count(ui_notification::kInitFinished) == 1; }));
    DiskVolumeNodeData::Rows rows;
    side.Controller().GetDeviceInfoToArray(&rows);
    ASSERT_EQ(rows.size(), 1u);
    ASSERT_TRUE(rows[0]->children() && rows[0]->children()->size() == 1);

    testsupport::DiskReadHook hook(dir / "kernel", *side.Clock());
    hook.HoldReads(10s);
    side.Controller().initFileType();
    side.Controller().SetRecoveryType(127);
    ASSERT_TRUE(side.Controller().DoScanWithData(rows[0]->children()->front().get(), ui_notification::kNormalScanValue));

    // The scan files what it finds in one build at its end, so while it runs the grid shows a node of
    // a table-built tree: the check box asks the real controller whether the scan runs unpaused.
    ASSERT_TRUE(side.RunUntil([&] { return hook.HeldNow() == 1; }));
    ASSERT_TRUE(GetUIController()->IsScanRunning());
    ASSERT_FALSE(GetUIController()->IsPause());
    testsupport::FakeFileTree table("Stick", SEARCHER_FAT, {{"DCIM/A.JPG", 100}});
    DemoSource source;
    source.nodes.push_back(std::make_unique<OpNodeData>(table.Node("DCIM/A.JPG")));

    CNGridScrollView scroll(kit::MakeRect(0, 0, 900, 1500));
    auto* grid = new CNGridView(kit::MakeRect(0, 0, 900, 0));
    grid->setDataSource(&source);
    scroll.setDocumentView(grid);
    scroll.show();
    grid->reloadData();
    uitest::ProcessEvents();
    auto* item = static_cast<CNGridViewItem*>(grid->visibleItemAtIndex(0));
    ASSERT_NE(item, nullptr);

    // Running, unpaused: refused.
    QTest::mouseClick(item->itemButton(), Qt::LeftButton, {}, QPoint(6, 6));
    EXPECT_EQ(source.nodes[0]->state(), 0);
    EXPECT_EQ(item->itemButton()->image().name(), QString("checkbox_no"));
    EXPECT_TRUE(table.SetChecks().empty());

    // Paused: the click goes to the delegate, which ticks the node.
    side.Controller().PauseOrResumeScan();
    ASSERT_TRUE(GetUIController()->IsPause());
    QTest::mouseClick(item->itemButton(), Qt::LeftButton, {}, QPoint(6, 6));
    EXPECT_EQ(source.nodes[0]->state(), 2);
    EXPECT_EQ(item->itemButton()->image().name(), QString("checkbox_yes"));
    ASSERT_EQ(table.SetChecks().size(), 1u);
    side.Controller().PauseOrResumeScan();
    ASSERT_FALSE(GetUIController()->IsPause());

    // To the end: the titles are the scan's files.
    const size_t seen = hook.ReadsSeen();
    side.Advance(10s);
    ASSERT_TRUE(side.RunUntil([&] { return hook.ReadsSeen() > seen || !GetUIController()->IsScanRunning(); }));
    hook.StopHolding();
    ASSERT_TRUE(side.RunUntilScanEnds());
    source.nodes.clear();
    source.refresh();
    grid->reloadData();
    uitest::ProcessEvents();
    std::multiset<std::string> titles, expected;
    ASSERT_EQ(grid->numberOfVisibleItems(), source.nodes.size());
    for (const int64_t index : grid->indexesForVisibleItems()) {
        auto* shown = static_cast<CNGridViewItem*>(grid->visibleItemAtIndex(index));
        titles.insert(Comparable(shown->titleLabel()->stringValue().toStdString()));
    }
    for (const std::string& name : ExpectedNames(false)) expected.insert(Comparable(name));
    EXPECT_EQ(titles, expected);
    EXPECT_EQ(expected.size(), 7u);
    for (const std::string& name : ExpectedNames(true)) EXPECT_EQ(titles.count(Comparable(name)), 1u) << name;

    // After the scan a click ticks the scan's own engine node: the program counts it, and the window
    // side reads the same.
    auto* first = static_cast<CNGridViewItem*>(grid->visibleItemAtIndex(0));
    const OpNodeData* node = first->node();
    ASSERT_EQ(node->state(), 0);
    QTest::mouseClick(first->itemButton(), Qt::LeftButton, {}, QPoint(6, 6));
    EXPECT_EQ(node->state(), 2);
    int count = -1;
    u64 size = 0;
    GetUIController()->GetSelectedFilesAmout(&count, &size);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(size, u64(node->fileNode()->GetFileSize()));
    int sideCount = -1;
    u64 sideSize = 0;
    side.Controller().GetSelectedFilesAmout(&sideCount, &sideSize);
    EXPECT_EQ(sideCount, 1);
    EXPECT_EQ(sideSize, size);
}

}  // namespace
