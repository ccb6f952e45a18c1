// The device outline's row fills, probed in a real outline offscreen: the chosen row in the device
// colour, disk rows grey, the others white, the chosen colour over a disk row; and the page's
// delegate hearing everything else.
#include <gtest/gtest.h>

#include <QtTest/QTest>
#include <memory>

#include "DeviceRows.h"
#include "ui/browser/KXCustomOutlineView.h"
#include "ui/kit/Window.h"
#include "uisupport/UiTest.h"

namespace {

using browsertest::DeviceRows;
using browsertest::DiskRow;
using kit::MakeRect;
using kit::MakeSize;

// A page's delegate: counts what reaches it, and would paint every row red if asked.
class Page : public kit::OutlineDelegate {
public:
    void willDisplayCell(kit::OutlineView*, kit::Cell&, const kit::TableColumn&, kit::Item) override { ++cells; }
    bool shouldSelectItem(kit::OutlineView*, kit::Item item) override {
        asked.push_back(DeviceRows::of(item)->name());
        return true;
    }
    void selectionDidChange(kit::OutlineView*) override { ++changes; }
    bool drawRowBackground(kit::OutlineView*, QPainter& painter, const QRect& rect, kit::Item, bool) override {
        painter.fillRect(rect, Qt::red);
        return true;
    }
    int cells = 0;
    int changes = 0;
    std::vector<std::string> asked;
};

class KXCustomOutlineViewTest : public testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<kit::Window>(MakeSize(300, 200));
        view = new KXCustomOutlineView(MakeRect(0, 0, 300, 200));
        view->addTableColumn({"Name", "Name", 200});
        view->setDataSource(&rows);
        view->setDelegate(&page);
        view->setRowHeight(24);
        window->contentView()->addSubview(view);
        view->reloadData();
        for (const auto& disk : rows.rows) view->expandItem(disk.get());
        ASSERT_TRUE(uitest::ShowAndActivate(window.get()));
        ASSERT_EQ(view->numberOfRows(), 5);
    }
    // The colour at the right of a row, away from its text.
    QColor fill(int row) {
        const QImage shot = uitest::Render(view->viewport());
        const QRect rowRect = view->visualRect(view->adapter().indexForItem(view->itemAtRow(row)));
        return QColor(shot.pixel(280, rowRect.center().y()));
    }

    // Rows: 0 Disk A, 1 A1, 2 A2, 3 Disk B, 4 B1.
    DeviceRows rows{{DiskRow("Disk A", {"A1", "A2"}), DiskRow("Disk B", {"B1"})}};
    Page page;
    std::unique_ptr<kit::Window> window;
    KXCustomOutlineView* view = nullptr;
};

TEST_F(KXCustomOutlineViewTest, TheChosenRowTakesTheDeviceColourDiskRowsGreyAndTheOthersWhite) {
    struct Case {
        QStringList disks;
        int chosen;
        std::vector<QColor> fills;
        const char* what;
    };
    const QColor blue = kDeviceSelectedRowColor;
    const QColor grey = kDeviceDiskRowColor;
    const QColor white = kDeviceRowColor;
    const Case cases[] = {
        {{}, -1, {white, white, white, white, white}, "nothing chosen, no disk rows"},
        {{"0", "3"}, -1, {grey, white, white, grey, white}, "two disk rows"},
        {{"0", "3"}, 1, {grey, blue, white, grey, white}, "a volume chosen"},
        {{"0", "3"}, 3, {grey, white, white, blue, white}, "a disk row chosen: the device colour wins"},
        {{"3"}, 0, {blue, white, white, grey, white}, "the first row chosen without being a disk row"},
        {{"0", "3", "7"}, 9, {grey, white, white, grey, white}, "rows past the end change nothing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        view->setIsRootArr(c.disks);
        view->setSelectCellBackgroundColorWithRow(c.chosen);
        EXPECT_EQ(view->isSelectRow(), c.chosen);
        for (int row = 0; row < 5; ++row) {
            EXPECT_EQ(fill(row), c.fills[size_t(row)]) << "row " << row << ": " << uitest::Rgb(fill(row));
            EXPECT_EQ(view->rowBackgroundColor(row), c.fills[size_t(row)]) << "row " << row;
        }
    }
}

TEST_F(KXCustomOutlineViewTest, TheFillTakesThePlaceOfTheSelectionAndThePageHearsTheRest) {
    view->setIsRootArr({"0", "3"});
    view->setSelectCellBackgroundColorWithRow(3);
    EXPECT_GT(page.cells, 0) << "the page sets up the cells";
    const QRect a2 = view->visualRect(view->adapter().indexForItem(view->itemAtRow(2)));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, a2.center());
    EXPECT_EQ(view->selectedRow(), 2);
    EXPECT_EQ(page.asked, std::vector<std::string>{"A2"});
    EXPECT_EQ(page.changes, 1);
    // Qt's selection is not drawn, nor the page's own row paint, nor the focus frame of the current
    // cell: the view's fills stand, also inside the name column.
    EXPECT_EQ(fill(2), kDeviceRowColor) << uitest::Rgb(fill(2));
    EXPECT_EQ(fill(3), kDeviceSelectedRowColor);
    view->setFocus();
    ASSERT_TRUE(view->hasFocus());
    const QImage shot = uitest::Render(view->viewport());
    for (int x : {1, 100, 198}) {
        for (int y : {a2.top(), a2.top() + 2, a2.bottom() - 1, a2.bottom()}) {
            EXPECT_EQ(QColor(shot.pixel(x, y)), kDeviceRowColor) << x << "," << y << " " << uitest::Rgb(shot.pixel(x, y));
        }
    }
    EXPECT_EQ(view->delegate(), &page);
}

}  // namespace
