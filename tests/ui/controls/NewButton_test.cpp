// The tree button cell in a real outline, offscreen, on the kit's fake clock: a press in the 15 x 30
// tick box acts once and selects nothing, a press on the icon or the label selects the row; the box
// shows the "pf_checkbox_*" image of the row's state; the 0.2 s latch shared by every cell; where icon
// and label stand. And the group view's frame.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QtTest/QTest>
#include <memory>
#include <vector>

#include "bridge/ResultTree/OpNodeData.h"
#include "ui/controls/GroupView.h"
#include "ui/controls/NewButton.h"
#include "ui/kit/OutlineView.h"
#include "ui/kit/Scheduler.h"
#include "ui/kit/Window.h"
#include "uisupport/UiTest.h"

namespace {

using kit::MakeRect;
using kit::MakeSize;

constexpr int kRowHeight = 20;
const QColor kIconColour(200, 30, 30);

// Rows of result-tree group nodes with a tick state each; the delegate of the outline and of the cell.
class Rows : public kit::OutlineDataSource, public kit::OutlineDelegate, public NewButtonDelegate {
public:
    explicit Rows(std::vector<int> states) {
        for (size_t i = 0; i < states.size(); ++i) {
            nodes.push_back(OpNodeData::NewGroup(OPNODE_TYPE_TREE, "row " + std::to_string(i), 0));
            nodes.back()->setStateField(states[i]);
        }
    }
    static OpNodeData* of(kit::Item item) { return static_cast<OpNodeData*>(item); }

    int numberOfChildrenOfItem(kit::OutlineView*, kit::Item item) override { return item ? 0 : int(nodes.size()); }
    kit::Item child(kit::OutlineView*, int index, kit::Item) override { return nodes[size_t(index)].get(); }
    bool isItemExpandable(kit::OutlineView*, kit::Item) override { return false; }
    QVariant objectValue(kit::OutlineView*, const kit::TableColumn&, kit::Item item) override {
        return QString::fromStdString(of(item)->name());
    }
    void setObjectValue(kit::OutlineView*, const QVariant& value, const kit::TableColumn&, kit::Item item) override {
        values.emplace_back(of(item), value.toInt());
    }
    void willDisplayCell(kit::OutlineView*, kit::Cell& cell, const kit::TableColumn&, kit::Item item) override {
        cell.checkState = withBox ? of(item)->state() : -1;
        if (withIcon) {
            QPixmap icon(18, 18);
            icon.fill(kIconColour);
            cell.image = icon;
        }
        cell.text = withLabel ? QString::fromStdString(of(item)->name()) : QString();
    }
    // A tick-box click ticks the row's node: 0 and 1 become 2, 2 becomes 0.
    void clickButtonAction(NewButton* sender) override {
        clicked.push_back(sender->opNodeData().get());
        if (sender->opNodeData()) sender->opNodeData()->setNodeState(sender->opNodeData()->state() == 2 ? 0 : 2);
    }

    std::vector<OpNodeData::Ptr> nodes;
    std::vector<OpNodeData*> clicked;
    std::vector<std::pair<OpNodeData*, int>> values;
    bool withIcon = true;
    bool withLabel = true;
    bool withBox = true;
};

// An outline of one "Name" column drawn by a NewButton, in a window, on the fake clock.
class NewButtonTest : public testing::Test {
protected:
    void show(std::vector<int> states) {
        window.reset();  // the view of a case before goes before its rows
        rows = std::make_unique<Rows>(std::move(states));
        window = std::make_unique<kit::Window>(MakeSize(300, 200));
        view = new kit::OutlineView(MakeRect(0, 0, 300, 200));
        view->setRootIsDecorated(false);
        view->setIndentation(0);
        view->setHeaderVisible(false);
        cell = std::make_shared<NewButton>();
        cell->setDelegate(rows.get());
        view->addTableColumn({"Name", "Name", 280, 10, 1000, false, cell});
        view->setDataSource(rows.get());
        view->setDelegate(rows.get());
        view->setRowHeight(kRowHeight);
        window->contentView()->addSubview(view);
        view->reloadData();
        ASSERT_TRUE(uitest::ShowAndActivate(window.get()));
    }
    void TearDown() override { clock.advance(1.0); }  // every latch run out before the next test

    QRect cellRect(int row) const { return view->visualRect(view->adapter().index(row, 0)); }
    void clickAt(int row, int dx, int dy = kRowHeight / 2) {
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cellRect(row).topLeft() + QPoint(dx, dy));
    }

    kit::ScopedManualClock clock;
    std::unique_ptr<Rows> rows;
    std::unique_ptr<kit::Window> window;
    kit::OutlineView* view = nullptr;
    std::shared_ptr<NewButton> cell;
};

TEST_F(NewButtonTest, APressInsideTheTickBoxTicksOnceAndSelectsNothingAPressOnIconOrLabelSelectsTheRow) {
    struct Case {
        int dx;
        bool ticks;
        const char* where;
    };
    const Case cases[] = {
        {1, true, "the box's left edge"},      {7, true, "the middle of the box"},
        {14, true, "the box's last column"},   {15, false, "just right of the box"},
        {20, false, "the icon, 20 points in"}, {45, false, "the label"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        show({0, 0, 0});
        view->selectRow(-1);
        clickAt(1, c.dx);
        if (c.ticks) {
            ASSERT_EQ(rows->clicked.size(), 1u) << "one clickButtonAction";
            EXPECT_EQ(rows->clicked[0], rows->nodes[1].get()) << "the clicked row's node";
            EXPECT_EQ(rows->nodes[1]->state(), 2);
            EXPECT_EQ(view->selectedRow(), -1) << "the box's press is the cell's";
            // The release ends the click: the source gets the new state, 2 from 0.
            ASSERT_EQ(rows->values.size(), 1u);
            EXPECT_EQ(rows->values[0], std::make_pair(rows->nodes[1].get(), 2));
        } else {
            EXPECT_TRUE(rows->clicked.empty());
            EXPECT_TRUE(rows->values.empty());
            EXPECT_EQ(rows->nodes[1]->state(), 0);
            EXPECT_EQ(view->selectedRow(), 1) << "the view selects the row";
        }
        clock.advance(NewButton::kClickLatchSeconds);
    }
}

TEST_F(NewButtonTest, EachClickCyclesTheStateAndTheSourceGetsTheStateBeforeTheDelegateChangedIt) {
    show({1, 2});
    clickAt(0, 7);
    clock.advance(0.2);
    clickAt(1, 7);
    clock.advance(0.2);
    clickAt(1, 7);
    EXPECT_EQ(rows->nodes[0]->state(), 2) << "partly becomes all";
    EXPECT_EQ(rows->nodes[1]->state(), 2) << "all, then none, then all";
    const std::vector<std::pair<OpNodeData*, int>> values = {
        {rows->nodes[0].get(), 2}, {rows->nodes[1].get(), 0}, {rows->nodes[1].get(), 2}};
    EXPECT_EQ(rows->values, values);
}

TEST_F(NewButtonTest, TheBoxShowsThePfCheckboxImageOfItsStateNotTheStylesIndicator) {
    show({0, 1, 2});
    const QImage shot = uitest::Render(view->viewport());
    const char* names[] = {"pf_checkbox_no", "pf_checkbox_half", "pf_checkbox_yes"};
    std::vector<QImage> drawn;
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(names[row]);
        const kit::Image image = kit::Image::named(names[row]);
        ASSERT_FALSE(image.isPlaceholder());
        const QSize size(int(image.size().width), int(image.size().height));
        const QRect box = NewButton::tickImageRectForBounds(cellRect(row), size);
        EXPECT_GE(box.left(), cellRect(row).left());
        EXPECT_LE(box.right(), cellRect(row).left() + NewButton::kTickBoxWidth - 1) << "inside the hit area";
        // The image drawn alone over the row's white background.
        QImage expected(shot.devicePixelRatio() * box.size(), QImage::Format_ARGB32_Premultiplied);
        expected.setDevicePixelRatio(shot.devicePixelRatio());
        expected.fill(Qt::white);
        QPainter painter(&expected);
        image.draw(painter, QRectF(QPointF(0, 0), QSizeF(box.size())));
        painter.end();
        const QImage got = shot.copy(QRect(box.topLeft() * shot.devicePixelRatio(), expected.size()));
        EXPECT_EQ(got.convertToFormat(QImage::Format_RGB32), expected.convertToFormat(QImage::Format_RGB32));
        drawn.push_back(got);
    }
    EXPECT_NE(drawn[0], drawn[1]);
    EXPECT_NE(drawn[1], drawn[2]);
    EXPECT_NE(drawn[0], drawn[2]);
}

TEST_F(NewButtonTest, TwoHitsWithinTwoTenthsOfASecondActOnceOnAnyCellOfTheProcess) {
    show({0, 0});
    const QRect frame = cellRect(0);
    kit::Cell plain;
    kit::CellContext context;
    context.item = rows->nodes[0].get();
    const QPointF inside = frame.topLeft() + QPointF(5, 5);
    const unsigned hit = NewButton::kCellHitContentArea | NewButton::kCellHitTrackableArea;
    EXPECT_EQ(cell->hitTestForEvent(inside, frame, plain, context), hit);
    EXPECT_TRUE(NewButton::clickLatched());
    // The platform asks again for the same click: nothing more, on this cell or another one.
    EXPECT_EQ(cell->hitTestForEvent(inside, frame, plain, context), 0u);
    NewButton other;
    other.setDelegate(rows.get());
    EXPECT_EQ(other.hitTestForEvent(inside, frame, plain, context), 0u);
    clock.advance(0.19);
    EXPECT_EQ(cell->hitTestForEvent(inside, frame, plain, context), 0u);
    EXPECT_EQ(rows->clicked.size(), 1u);
    clock.advance(0.01);
    EXPECT_FALSE(NewButton::clickLatched());
    EXPECT_EQ(other.hitTestForEvent(inside, frame, plain, context), hit);
    EXPECT_EQ(rows->clicked.size(), 2u);
    clock.advance(0.2);

    // Two clicks in the box before the clock moves: the second press falls within the latch and is
    // left to the view, which selects the row.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, frame.topLeft() + QPoint(7, 10));
    EXPECT_EQ(view->selectedRow(), -1);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, frame.topLeft() + QPoint(7, 10));
    EXPECT_EQ(rows->clicked.size(), 3u);
    EXPECT_EQ(rows->nodes[0]->state(), 2) << "ticked once, by the first press";
    EXPECT_EQ(view->selectedRow(), 0);
}

TEST_F(NewButtonTest, ADelegateWithoutTheActionOrNoneStillGetsTheFlagsAndSetsTheLatch) {
    show({0});
    const QRect frame = cellRect(0);
    kit::Cell plain;
    kit::CellContext context;
    context.item = rows->nodes[0].get();
    NewButtonDelegate silent;
    for (NewButtonDelegate* delegate : {&silent, static_cast<NewButtonDelegate*>(nullptr)}) {
        cell->setDelegate(delegate);
        EXPECT_EQ(cell->hitTestForEvent(frame.topLeft() + QPointF(3, 3), frame, plain, context),
                  NewButton::kCellHitContentArea | NewButton::kCellHitTrackableArea);
        EXPECT_TRUE(NewButton::clickLatched());
        EXPECT_EQ(cell->opNodeData().get(), rows->nodes[0].get());
        EXPECT_EQ(rows->nodes[0]->state(), 0) << "nobody ticked";
        clock.advance(0.2);
        EXPECT_FALSE(NewButton::clickLatched());
    }
    // Outside the box the answer is 0 and the latch stays clear.
    EXPECT_EQ(cell->hitTestForEvent(frame.topLeft() + QPointF(20, 3), frame, plain, context), 0u);
    EXPECT_FALSE(NewButton::clickLatched());
    EXPECT_TRUE(rows->clicked.empty());
}

TEST(NewButtonGeometry, TheIconAndTheLabelStandAtTheirOffsetsCentredOnTheRow) {
    struct Case {
        QRect frame;
        bool icon;
        bool label;
        QRect iconRect;
        QRect labelRect;
    };
    const Case cases[] = {
        // A 20-high row: the 18-high icon at y + 1, the 22-high label at y - 1 (ceil of -1).
        {QRect(10, 40, 200, 20), true, true, QRect(27, 41, 18, 18), QRect(45, 39, 800, 22)},
        // Without an icon the label stands at x + 10.
        {QRect(10, 40, 200, 20), false, true, QRect(), QRect(20, 39, 800, 22)},
        // Neither: only the button.
        {QRect(10, 40, 200, 20), false, false, QRect(), QRect()},
        // Odd heights round the half up: (25 - 18) / 2 = 3.5 -> 4, (25 - 22) / 2 = 1.5 -> 2.
        {QRect(0, 0, 200, 25), true, true, QRect(17, 4, 18, 18), QRect(35, 2, 800, 22)},
        // 19 high: (19 - 22) / 2 = -1.5 -> -1.
        {QRect(0, 100, 200, 19), true, true, QRect(17, 101, 18, 18), QRect(35, 99, 800, 22)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NewButton::iconImageRectForBounds(c.frame, c.icon), c.iconRect);
        EXPECT_EQ(NewButton::imageRectForBounds(c.frame, c.icon, c.label), c.labelRect);
        EXPECT_EQ(NewButton::tickBoxRectForBounds(c.frame), QRect(c.frame.topLeft(), QSize(15, 30)));
    }
}

TEST_F(NewButtonTest, ARowTwentyHighShowsTheIconFromYPlusOneAndTheLabelFromXPlusTenWithoutAnIcon) {
    show({0});
    const QRect frame = cellRect(0);
    ASSERT_EQ(frame.height(), kRowHeight);
    QImage shot = uitest::Render(view->viewport());
    const auto at = [&](int x, int y) { return QColor(shot.pixel(x, y)); };
    EXPECT_EQ(at(frame.x() + 17, frame.y() + 1), kIconColour);
    EXPECT_EQ(at(frame.x() + 34, frame.y() + 18), kIconColour);
    EXPECT_NE(at(frame.x() + 17, frame.y()), kIconColour) << "above the icon";
    EXPECT_NE(at(frame.x() + 35, frame.y() + 10), kIconColour) << "right of the icon";
    EXPECT_NE(at(frame.x() + 16, frame.y() + 10), kIconColour) << "left of the icon";

    // The label's ink: from x + 35 with the icon, from x + 10 without one.
    const auto firstInk = [&](int from) {
        for (int x = from; x < frame.right(); ++x) {
            for (int y = frame.top(); y <= frame.bottom(); ++y) {
                const QColor c = at(x, y);
                if (c != QColor(Qt::white) && c != kIconColour) return x;
            }
        }
        return -1;
    };
    const int withIcon = firstInk(frame.x() + 17 + 18);
    EXPECT_GE(withIcon, frame.x() + 35);
    EXPECT_LE(withIcon, frame.x() + 37);
    // Without an icon the label starts under the tick box, which is drawn last: seen without the box.
    rows->withIcon = false;
    rows->withBox = false;
    view->viewport()->update();
    shot = uitest::Render(view->viewport());
    const int withoutIcon = firstInk(frame.x());
    EXPECT_GE(withoutIcon, frame.x() + 10);
    EXPECT_LE(withoutIcon, frame.x() + 12);
    // With neither icon nor label, only the box is drawn.
    rows->withLabel = false;
    rows->withBox = true;
    view->viewport()->update();
    shot = uitest::Render(view->viewport());
    EXPECT_EQ(firstInk(frame.x() + NewButton::kTickBoxWidth - 1), -1);
    EXPECT_GE(firstInk(frame.x()), frame.x()) << "the box";
}

TEST(GroupView, AWhiteBackgroundWithALightRoundedFrameEighteenInAndThirtyFiveFromTheTop) {
    GroupView view(MakeRect(0, 0, 200, 150));
    EXPECT_EQ(GroupView::frameBoxForBounds(view.bounds()), MakeRect(18.5, 18.5, 163, 96));
    const QImage shot = uitest::Render(&view);
    const auto at = [&](int x, int y) { return QColor(shot.pixel(x, y)); };
    // A line of black at alpha 0.15 over white: 217. Left x 18, right x 181, top y 35, bottom y 131
    // (Qt's rows, y down).
    const QColor line(217, 217, 217);
    EXPECT_EQ(at(18, 80), line) << uitest::Rgb(at(18, 80));
    EXPECT_EQ(at(181, 80), line);
    EXPECT_EQ(at(100, 35), line);
    EXPECT_EQ(at(100, 131), line);
    for (const QPoint p : {QPoint(17, 80), QPoint(19, 80), QPoint(100, 34), QPoint(100, 36), QPoint(100, 132),
                           QPoint(5, 5), QPoint(100, 80), QPoint(195, 145)}) {
        EXPECT_EQ(at(p.x(), p.y()), QColor(Qt::white)) << p.x() << "," << p.y();
    }
    // The corners are rounded: the box's very corner stays lighter than its edges.
    EXPECT_GT(at(18, 35).red(), 217);
}

}  // namespace
