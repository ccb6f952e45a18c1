// The device outline and the tree cells over the real operations layer, in process, offscreen, beside
// real windows: the FAT fixture as a USB stick gives the device rows the outline paints (the disk as a
// disk row, its FAT16 volume below it); a quick scan of the volume gives the path tree whose outline,
// drawn with the tree cells, lists the deleted files of The Sleuth Kit's listing under their folders,
// and whose folder tick box ticks exactly the files below it.
#include <gtest/gtest.h>

#include <QtTest/QTest>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "DeviceRows.h"
#include "PathTreeOutline.h"
#include "bridge/Controller/KXUIController.h"
#include "bridge/UIController/UINotifications.h"
#include "engine/FATLib/FatTestSupport.h"
#include "engine/VolumeAnalyze/FileSystemType.h"
#include "support/FakeWindowSide.h"
#include "support/Fixtures.h"
#include "support/TempDir.h"
#include "support/UsbStick.h"
#include "ui/browser/KXCustomOutlineView.h"
#include "ui/controls/NewButton.h"
#include "ui/kit/Window.h"
#include "uisupport/RealWindows.h"
#include "uisupport/UiTest.h"

namespace {

using namespace std::chrono_literals;
using browsertest::DeviceRows;
using browsertest::PathTreeOutline;
using testsupport::FakeWindowSide;
using ui_notification::kInitFinished;
using ui_notification::kNormalScanValue;

// The window's four result arrays, handed to the operations layer while they live (declared after
// the window side, so that they are taken back before it goes).
struct ResultArrays {
    explicit ResultArrays(IUIController& controller) : controller(controller) {
        const IUIController::TreeArrays all = {{KXUIController::kKeyNodePath, &path},
                                               {KXUIController::kKeyNodeType, &type},
                                               {KXUIController::kKeyNodeCreateTime, &created},
                                               {KXUIController::kKeyNodeModifyTime, &modified}};
        EXPECT_TRUE(controller.KXSetTreeNodeData(&all));
    }
    ~ResultArrays() {
        const IUIController::TreeArrays none;
        controller.KXSetTreeNodeData(&none);
    }
    IUIController& controller;
    IUIController::TreeArray path, type, created, modified;
};

// The FAT fixture's disk with its FAT16 partition as a USB stick, the window side beside real
// windows, the devices enumerated.
struct Stick {
    testsupport::TempDir dir;
    testsupport::UsbStick stick{dir / "kernel", fattest::Image("mbr-fat16"),
                                testsupport::UsbStick::Partition{.start = 2048, .sectors = 36864}};
    uitest::RealWindows windows;
    FakeWindowSide side{{.devices = stick.Devices(), .realWindows = windows.loop()}};
    DiskVolumeNodeData::Rows rows;

    Stick() {
        side.Controller().NotifiyDeviceInfoAfterInit(kInitFinished);
        EXPECT_TRUE(side.RunUntil([&] { return side.Count(kInitFinished) == 1; }));
        side.Controller().GetDeviceInfoToArray(&rows);
    }
    const DiskVolumeNodeData* volume() const {
        if (rows.size() != 1 || !rows[0]->children() || rows[0]->children()->size() != 1) return nullptr;
        return rows[0]->children()->front().get();
    }
};

// The deleted files of the fixture's listing with their sizes (fls -l: the size is the seventh field),
// by path as the Sleuth Kit and the scan can both be compared.
std::map<std::string, i64> DeletedFilesBySize() {
    std::map<std::string, i64> out;
    std::ifstream in(testsupport::FixturePath("fat/mbr-fat16.fls-l.txt"));
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream split(line);
        for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
        if (fields.size() < 7 || fields[0].rfind("r/r * ", 0) != 0) continue;
        out[fattest::Comparable(fields[1])] = std::stoll(fields[6]);
    }
    return out;
}

QColor RowFill(kit::OutlineView* view, int row) {
    const QImage shot = uitest::Render(view->viewport());
    const QRect rect = view->visualRect(view->adapter().indexForItem(view->itemAtRow(row)));
    return QColor(shot.pixel(view->viewport()->width() - 10, rect.center().y()));
}

TEST(ThroughTheBridge, TheDeviceOutlineShowsTheStickAsADiskRowWithItsFat16VolumeBelowIt) {
    Stick t;
    ASSERT_NE(t.volume(), nullptr) << "one disk with one volume";
    EXPECT_EQ(t.volume()->fileSystem(), int(FILE_SYSTEM_FAT16));
    EXPECT_TRUE(t.rows[0]->isUSB());

    DeviceRows rows(t.rows);
    kit::Window window(kit::MakeSize(400, 200));
    auto* view = new KXCustomOutlineView(kit::MakeRect(0, 0, 400, 200));
    view->addTableColumn({"Name", "Name", 300});
    view->setDataSource(&rows);
    view->setRowHeight(24);
    window.contentView()->addSubview(view);
    view->reloadData();
    view->expandItem(t.rows[0].get());
    ASSERT_TRUE(uitest::ShowAndActivate(&window));
    ASSERT_EQ(view->numberOfRows(), 2);
    EXPECT_EQ(view->itemAtRow(0), t.rows[0].get()) << "the disk first, read in place";
    EXPECT_EQ(view->itemAtRow(1), t.volume());
    EXPECT_EQ(view->adapter().index(0, 0).data().toString().toStdString(), t.rows[0]->name());

    // The page paints the rows with children as disk rows and chooses the first one.
    view->setIsRootArr({"0"});
    view->setSelectCellBackgroundColorWithRow(-1);
    EXPECT_EQ(RowFill(view, 0), kDeviceDiskRowColor) << uitest::Rgb(RowFill(view, 0));
    EXPECT_EQ(RowFill(view, 1), kDeviceRowColor);
    view->setSelectCellBackgroundColorWithRow(1);
    EXPECT_EQ(RowFill(view, 0), kDeviceDiskRowColor);
    EXPECT_EQ(RowFill(view, 1), kDeviceSelectedRowColor);
    view->setSelectCellBackgroundColorWithRow(0);
    EXPECT_EQ(RowFill(view, 0), kDeviceSelectedRowColor) << "a disk row chosen";
    EXPECT_EQ(RowFill(view, 1), kDeviceRowColor);
}

TEST(ThroughTheBridge, TheQuickScansPathTreeListsTheDeletedFilesAndAFolderTickTicksTheFilesBelowIt) {
    Stick t;
    ASSERT_NE(t.volume(), nullptr);
    IUIController& controller = t.side.Controller();
    ResultArrays arrays(controller);
    controller.initFileType();
    controller.SetRecoveryType(127);
    controller.SetViewType(0);
    ASSERT_TRUE(controller.DoScanWithData(t.volume(), kNormalScanValue));
    ASSERT_TRUE(t.side.RunUntilScanEnds());
    controller.GetScanTreeNodeData(&arrays.path, false);
    ASSERT_EQ(arrays.path.size(), 1u) << "the FAT16 volume's root";

    PathTreeOutline tree(controller, arrays.path);
    kit::Window window(kit::MakeSize(500, 400));
    auto* view = new kit::OutlineView(kit::MakeRect(0, 0, 500, 400));
    auto cell = std::make_shared<NewButton>();
    tree.attach(view, cell, 460);
    view->setRowHeight(20);
    window.contentView()->addSubview(view);
    view->expandItem(arrays.path.front().get(), true);
    ASSERT_TRUE(uitest::ShowAndActivate(&window));

    // Every row below the root, by its path (the root's name left out).
    std::map<std::string, OpNodeData*> shown;
    std::map<std::string, OpNodeData*> files;
    for (int row = 0; row < view->numberOfRows(); ++row) {
        OpNodeData* node = PathTreeOutline::of(view->itemAtRow(row));
        std::string path = node->name();
        for (QModelIndex up = view->adapter().indexForItem(node).parent(); up.isValid() && up.parent().isValid();
             up = up.parent()) {
            path = PathTreeOutline::of(view->adapter().itemForIndex(up))->name() + "/" + path;
        }
        EXPECT_NE(node->name().front(), '.') << "a name beginning with \".\" is never listed: " << path;
        if (row == 0) continue;
        shown[fattest::Comparable(path)] = node;
        if (PathTreeOutline::isFileRow(node)) files[fattest::Comparable(path)] = node;
    }
    // The listing: the deleted files of size > 0, under their folders, with their sizes.
    std::map<std::string, i64> want;
    for (const auto& [path, size] : DeletedFilesBySize())
        if (size > 0) want[path] = size;
    std::map<std::string, i64> got;
    for (const auto& [path, node] : files) {
        // Files of size 0 are the tree builder's to withhold; the listing is compared on the others.
        if (node->size() > 0) got[path] = node->size();
    }
    EXPECT_EQ(got, want);
    for (const auto& [path, node] : files) {
        const size_t slash = path.rfind('/');
        if (slash != std::string::npos) {
            EXPECT_TRUE(shown.count(path.substr(0, slash))) << "the folder of " << path;
        }
    }

    // A click in the tick box of a folder ticks exactly the files below it.
    const std::string folder = fattest::Comparable("Trash Folder");
    ASSERT_TRUE(shown.count(folder));
    std::set<std::string> below;
    i64 bytes = 0;
    for (const auto& [path, size] : want) {
        if (path.rfind(folder + "/", 0) == 0) {
            below.insert(path);
            bytes += size;
        }
    }
    ASSERT_EQ(below.size(), 2u) << "inside one.txt and the file of its deleted sub-folder";
    const auto clickBox = [&] {
        const QRect rect = view->visualRect(view->adapter().indexForItem(shown[folder]));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.topLeft() + QPoint(7, 10));
    };
    clickBox();
    EXPECT_EQ(tree.clicks, 1);
    int count = -1;
    u64 size = 0;
    controller.GetSelectedFilesAmout(&count, &size);
    EXPECT_EQ(count, int(below.size()));
    EXPECT_EQ(size, u64(bytes));
    for (const auto& [path, node] : files) EXPECT_EQ(node->state(), below.count(path) ? 2 : 0) << path;
    EXPECT_EQ(shown[folder]->state(), 2);
    EXPECT_EQ(view->selectedRow(), -1) << "the tick box's click selects nothing";

    // The latch runs out on the kit's clock, then a second click unticks them.
    t.side.Advance(200ms);
    clickBox();
    EXPECT_EQ(tree.clicks, 2);
    controller.GetSelectedFilesAmout(&count, &size);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(size, 0u);
    for (const auto& [path, node] : files) EXPECT_EQ(node->state(), 0) << path;
    t.side.Advance(200ms);  // the latch runs out before the kit's clock goes
    EXPECT_FALSE(NewButton::clickLatched());
}

}  // namespace
