// The thumbnail grid's selection, hover, right click and menu, Escape, the rubber band and collected
// clicks, with the notification of each delegate call posted before the call.
#include <gtest/gtest.h>

#include <QMenu>
#include <QTest>
#include <QTimer>
#include <any>

#include "GridTestSupport.h"
#include "platform/foundation/NotificationCenter.h"

namespace {

using brelvox::foundation::NotificationCenter;
using gridtest::Harness;
using kit::MakePoint;

// Records the grid's notifications and delegate calls in one log, in the order they come.
class Recorder : public CNGridViewDelegate {
public:
    explicit Recorder(CNGridView* grid) : m_grid(grid) {
        for (const char* name :
             {CNGridViewWillHoverItemNotification, CNGridViewWillUnhoverItemNotification,
              CNGridViewWillSelectItemNotification, CNGridViewDidSelectItemNotification,
              CNGridViewWillDeselectItemNotification, CNGridViewDidDeselectItemNotification,
              CNGridViewWillDeselectAllItemsNotification, CNGridViewDidDeselectAllItemsNotification,
              CNGridViewDidClickItemNotification, CNGridViewDidDoubleClickItemNotification,
              CNGridViewRightMouseButtonClickedOnItemNotification, CNGridViewDeSelectAllItemsNotification}) {
            NotificationCenter::Default().AddObserver(this, name, grid, [this](const auto& n) {
                std::string entry = "post " + n.name;
                if (const auto* info = std::any_cast<CNGridViewNotificationInfo>(&n.userInfo)) {
                    if (n.name.find("Hover") != std::string::npos || info->index != CNNotFound) {
                        entry += " " + Index(info->index);
                    }
                }
                log.push_back(entry);
            });
        }
        grid->setDelegate(this);
    }
    ~Recorder() override {
        NotificationCenter::Default().RemoveObserver(this);
        m_grid->setDelegate(nullptr);
    }

    static std::string Index(int64_t i) { return i == CNNotFound ? "none" : std::to_string(i); }
    static std::string Index(uint64_t i) { return Index(int64_t(i)); }

    void gridViewWillHoverItemAtIndex(CNGridView*, uint64_t i, uint64_t) override { log.push_back("willHover " + Index(i)); }
    void gridViewWillUnhoverItemAtIndex(CNGridView*, uint64_t i, uint64_t) override {
        log.push_back("willUnhover " + Index(i));
    }
    void gridViewWillSelectItemAtIndex(CNGridView*, uint64_t i, uint64_t) override { log.push_back("willSelect " + Index(i)); }
    void gridViewDidSelectItemAtIndex(CNGridView*, uint64_t i, uint64_t) override { log.push_back("didSelect " + Index(i)); }
    void gridViewWillDeselectItemAtIndex(CNGridView*, uint64_t i, uint64_t) override {
        log.push_back("willDeselect " + Index(i));
    }
    void gridViewDidDeselectItemAtIndex(CNGridView*, uint64_t i, uint64_t) override {
        log.push_back("didDeselect " + Index(i));
    }
    void gridViewWillDeselectAllItems(CNGridView*, const std::vector<CNGridViewItemBase*>& items) override {
        log.push_back("willDeselectAll " + std::to_string(items.size()));
    }
    void gridViewDidDeselectAllItems(CNGridView*) override { log.push_back("didDeselectAll"); }
    void gridViewDidClickItemAtIndex(CNGridView*, uint64_t i, uint64_t) override { log.push_back("click " + Index(i)); }
    void gridViewDidDoubleClickItemAtIndex(CNGridView*, uint64_t i, uint64_t) override {
        log.push_back("doubleClick " + Index(i));
    }
    void gridViewDidActivateContextMenuWithIndexes(CNGridView*, const CNIndexSet& set, uint64_t) override {
        std::string entry = "menu";
        for (int64_t i : set) entry += " " + std::to_string(i);
        log.push_back(entry);
    }

    std::vector<std::string> log;

private:
    CNGridView* m_grid;
};

// The centre of item index's cell in the grid widget (the grid is scrolled to the top).
QPoint CellCentre(CNGridView* grid, int64_t index) {
    const kit::Rect r = grid->rectForItemAtIndex(index);
    return QPoint(int(r.x() + 75), int(r.y() + 60));
}

void WhenPopUpShows(std::function<void(QMenu*)> chooser) {
    QTimer::singleShot(0, [chooser = std::move(chooser)] {
        auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(popup, nullptr);
        chooser(popup);
    });
}

TEST(CNGridViewSelection, SingleSelectionFollowsTheModifierRules) {
    struct Click {
        int64_t index;
        uint64_t flags;
    };
    struct Case {
        const char* name;
        std::vector<Click> clicks;
        CNIndexSet selected;
    };
    const uint64_t cmd = CNCommandKeyMask, shift = CNShiftKeyMask;
    const Case cases[] = {
        {"5 then 8 leaves 8", {{5, 0}, {8, 0}}, {8}},
        {"the same twice stays", {{5, 0}, {5, 0}}, {5}},
        {"command toggles off", {{5, 0}, {5, cmd}}, {}},
        {"command on another still replaces", {{5, 0}, {8, cmd}}, {8}},
        {"shift selects just that one", {{5, 0}, {8, shift}}, {8}},
        {"no index changes nothing", {{5, 0}, {CNNotFound, 0}}, {5}},
        {"an index without a view changes nothing", {{40, 0}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h(600, 450, 12);
        h.reload();
        for (const Click& click : c.clicks) h.grid->selectItemAtIndex(click.index, click.flags);
        EXPECT_EQ(h.grid->selectedIndexes(), c.selected);
        for (int64_t i = 0; i < 12; ++i) EXPECT_EQ(h.grid->visibleItemAtIndex(i)->selected(), c.selected.count(i) == 1);
    }
}

TEST(CNGridViewSelection, EachNotificationIsPostedBeforeItsDelegateCall) {
    Harness h(600, 450, 12);
    h.reload();
    Recorder rec(h.grid);
    h.grid->selectItemAtIndex(5, 0);
    h.grid->selectItemAtIndex(8, 0);
    h.grid->deselectAllItems();
    EXPECT_EQ(rec.log, (std::vector<std::string>{
                           "post CNGridViewWillSelectItem 5", "willSelect 5", "post CNGridViewDidSelectItem 5",
                           "didSelect 5", "post CNGridViewWillDeselectItem 5", "willDeselect 5",
                           "post CNGridViewDidDeselectItem 5", "didDeselect 5", "post CNGridViewWillSelectItem 8",
                           "willSelect 8", "post CNGridViewDidSelectItem 8", "didSelect 8",
                           "post CNGridViewWillDeselectAllItems", "willDeselectAll 1", "post CNGridViewDeSelectAllItems",
                           "post CNGridViewDidDeselectAllItems", "didDeselectAll"}));
    // Every item heard the grid-wide deselect-all.
    EXPECT_FALSE(h.grid->visibleItemAtIndex(8)->selected());
    // Nothing selected: deselect-all posts nothing and calls nothing.
    rec.log.clear();
    h.grid->deselectAllItems();
    EXPECT_TRUE(rec.log.empty());
}

TEST(CNGridViewSelection, ARightClickSelectsAndShowsTheMenuOnlyOverAnItem) {
    Harness h(600, 450, 10);
    h.reload();
    Recorder rec(h.grid);
    kit::Menu menu;
    int chosen = 0;
    menu.addItemWithTitle("Recover", [&chosen] { ++chosen; });
    h.grid->setItemContextMenu(&menu);

    // On an unselected item: only that item is selected, the menu shows, then the delegate hears it.
    h.grid->selectItemAtIndex(1, 0);
    WhenPopUpShows([](QMenu* popup) { QTest::keyClick(popup, Qt::Key_Escape); });
    QTest::mouseClick(h.grid, Qt::RightButton, {}, CellCentre(h.grid, 6));
    EXPECT_EQ(h.grid->selectedIndexes(), CNIndexSet{6});
    EXPECT_EQ(rec.log.back(), "menu 6");
    EXPECT_EQ(rec.log[rec.log.size() - 2], "post CNGridViewRightMouseButtonClickedOnItem");

    // Inside the selection (two items, as the programming interface allows): kept and reported whole.
    h.grid->setAllowsMultipleSelection(true);
    h.grid->selectItemAtIndex(7, CNCommandKeyMask);
    ASSERT_EQ(h.grid->selectedIndexes(), (CNIndexSet{6, 7}));
    kit::MenuItem* recover = menu.itemAtIndex(0);
    WhenPopUpShows([recover](QMenu* popup) {
        QTest::mouseClick(popup, Qt::LeftButton, {}, popup->actionGeometry(recover).center());
    });
    QTest::mouseClick(h.grid, Qt::RightButton, {}, CellCentre(h.grid, 7));
    EXPECT_EQ(h.grid->selectedIndexes(), (CNIndexSet{6, 7}));
    EXPECT_EQ(rec.log.back(), "menu 6 7");
    EXPECT_EQ(chosen, 1);

    // On empty space: the selection clears and no menu shows (a menu would fail the pop-up check).
    rec.log.clear();
    QTest::mouseClick(h.grid, Qt::RightButton, {}, QPoint(400, 400));
    EXPECT_TRUE(h.grid->selectedIndexes().empty());
    EXPECT_EQ(rec.log.back(), "didDeselectAll");
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

TEST(CNGridViewSelection, WithoutAMenuARightClickSelectsButCallsNoDelegate) {
    Harness h(600, 450, 10);
    h.reload();
    Recorder rec(h.grid);
    QTest::mouseClick(h.grid, Qt::RightButton, {}, CellCentre(h.grid, 3));
    EXPECT_EQ(h.grid->selectedIndexes(), CNIndexSet{3});
    for (const std::string& entry : rec.log) EXPECT_EQ(entry.find("menu"), std::string::npos) << entry;
    for (const std::string& entry : rec.log) EXPECT_EQ(entry.find("RightMouse"), std::string::npos) << entry;
}

TEST(CNGridViewSelection, HoverFollowsThePointerAndEmptySpaceHoversNoIndex) {
    Harness h(600, 450, 5);
    h.reload();
    ASSERT_TRUE(uitest::ShowAndActivate(&h.scroll));
    Recorder rec(h.grid);
    QTest::mouseMove(h.grid, CellCentre(h.grid, 1));

    EXPECT_EQ(h.grid->lastHoveredIndex(), 1);
    EXPECT_TRUE(h.grid->visibleItemAtIndex(1)->hovered());
    QTest::mouseMove(h.grid, CellCentre(h.grid, 2));
    EXPECT_FALSE(h.grid->visibleItemAtIndex(1)->hovered());
    EXPECT_TRUE(h.grid->visibleItemAtIndex(2)->hovered());
    // From an item to empty space (below the last item): unhover it, then hover no index.
    QTest::mouseMove(h.grid, QPoint(300, 300));
    EXPECT_EQ(h.grid->lastHoveredIndex(), CNNotFound);
    EXPECT_FALSE(h.grid->visibleItemAtIndex(2)->hovered());
    EXPECT_EQ(rec.log, (std::vector<std::string>{"post CNGridViewWillHoverItem 1", "willHover 1",
                                                 "post CNGridViewWillUnhoverItem 1", "willUnhover 1",
                                                 "post CNGridViewWillHoverItem 2", "willHover 2",
                                                 "post CNGridViewWillUnhoverItem 2", "willUnhover 2",
                                                 "post CNGridViewWillHoverItem none", "willHover none"}));
    // Empty space to empty space: nothing.
    rec.log.clear();
    QTest::mouseMove(h.grid, QPoint(320, 320));
    EXPECT_TRUE(rec.log.empty());
    // Hover off: the pointer is not followed.
    h.grid->setUseHover(false);
    QTest::mouseMove(h.grid, CellCentre(h.grid, 0));
    EXPECT_TRUE(rec.log.empty());
}

TEST(CNGridViewSelection, MultipleSelectionFollowsTheModifierTable) {
    struct Click {
        int64_t index;
        uint64_t flags;
    };
    struct Case {
        const char* name;
        std::vector<Click> clicks;
        CNIndexSet selected;
    };
    const uint64_t cmd = CNCommandKeyMask, shift = CNShiftKeyMask;
    const Case cases[] = {
        {"a plain click replaces", {{5, 0}, {8, 0}}, {8}},
        {"command adds", {{5, 0}, {8, cmd}}, {5, 8}},
        {"command removes", {{5, 0}, {8, cmd}, {5, cmd}}, {8}},
        {"shift from 7 to 3", {{7, 0}, {3, shift}}, {3, 4, 5, 6, 7}},
        {"shift with nothing selected", {{3, shift}}, {3}},
        {"a plain click inside keeps only it", {{5, 0}, {8, cmd}, {8, 0}}, {8}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h(600, 450, 12);
        h.grid->setAllowsMultipleSelection(true);
        h.reload();
        for (const Click& click : c.clicks) h.grid->selectItemAtIndex(click.index, click.flags);
        EXPECT_EQ(h.grid->selectedIndexes(), c.selected);
    }
    // Turning multiple selection off drops the selection with one grid-wide notification.
    Harness h(600, 450, 12);
    h.grid->setAllowsMultipleSelection(true);
    h.reload();
    h.grid->selectItemAtIndex(2, 0);
    h.grid->selectItemAtIndex(4, cmd);
    Recorder rec(h.grid);
    h.grid->setAllowsMultipleSelection(false);
    EXPECT_TRUE(h.grid->selectedIndexes().empty());
    EXPECT_FALSE(h.grid->visibleItemAtIndex(4)->selected());
    EXPECT_EQ(rec.log, (std::vector<std::string>{"post CNGridViewDeSelectAllItems"}));
}

void Drag(QWidget* grid, QPoint from, QPoint to, Qt::KeyboardModifiers modifiers = {}) {
    QTest::mousePress(grid, Qt::LeftButton, modifiers, from);
    for (int step = 1; step <= 4; ++step) {
        const QPoint at = from + (to - from) * step / 4;
        QMouseEvent move(QEvent::MouseMove, at, grid->mapToGlobal(at), Qt::NoButton, Qt::LeftButton, modifiers);
        QApplication::sendEvent(grid, &move);
    }
    QTest::mouseRelease(grid, Qt::LeftButton, modifiers, to);
}

TEST(CNGridViewSelection, ARubberBandOverThreeItemsSelectsThemAndEscapeEndsIt) {
    Harness h(600, 450, 12);
    h.grid->setAllowsMultipleSelection(true);
    h.grid->setAllowsMultipleSelectionWithDrag(true);
    h.reload();
    // Inside item 1 to inside item 3 (the top row); the band starts where the first drag event is.
    Drag(h.grid, QPoint(200, 40), QPoint(520, 100));
    ASSERT_NE(h.grid->selectionFrameView(), nullptr);
    EXPECT_EQ(h.grid->selectionFrameView()->geometry(), QRect(280, 55, 240, 45));
    for (int64_t i = 0; i < 12; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(h.grid->visibleItemAtIndex(i)->selected(), i >= 1 && i <= 3);
    }
    // The band changes only the items' flags, not the selection table.
    EXPECT_TRUE(h.grid->selectedIndexes().empty());

    // Drag is off by default: nothing is drawn.
    Harness off(600, 450, 12);
    off.grid->setAllowsMultipleSelection(true);
    off.reload();
    Drag(off.grid, QPoint(200, 40), QPoint(520, 100));
    EXPECT_EQ(off.grid->selectionFrameView(), nullptr);

    // After Escape no drag draws a frame.
    Harness esc(600, 450, 12);
    esc.grid->setAllowsMultipleSelection(true);
    esc.grid->setAllowsMultipleSelectionWithDrag(true);
    esc.reload();
    QTest::keyClick(esc.grid, Qt::Key_Escape);
    EXPECT_TRUE(esc.grid->abortSelection());
    Drag(esc.grid, QPoint(200, 40), QPoint(520, 100));
    EXPECT_EQ(esc.grid->selectionFrameView(), nullptr);
}

TEST(CNGridViewSelection, CollectedClicksBecomeSingleAndDoubleClicks) {
    struct Case {
        std::vector<int64_t> items;  // the item each click falls on, -1 for empty space
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {{2}, {"click 2"}},
        {{-1}, {}},
        {{2, 2}, {"doubleClick 2"}},
        {{2, 3}, {"click 2", "click 3"}},
        {{2, 2, 2}, {"doubleClick 2"}},
        {{2, 2, 3}, {"doubleClick 2", "click 3"}},
        {{2, 3, 3}, {"click 2", "doubleClick 3"}},
        {{2, 3, 2}, {"click 2", "click 3", "click 2"}},
    };
    Harness h(600, 450, 5);
    h.reload();
    Recorder rec(h.grid);
    for (const Case& c : cases) {
        rec.log.clear();
        for (int64_t item : c.items) {
            const kit::Rect r = h.grid->rectForItemAtIndex(item);
            h.grid->addClickEvent(item < 0 ? MakePoint(400, 400) : MakePoint(r.x() + 10, r.y() + 10));
        }
        h.grid->handleClicks();
        std::vector<std::string> calls;
        for (const std::string& entry : rec.log) {
            if (entry.rfind("post", 0) != 0) calls.push_back(entry);
        }
        EXPECT_EQ(calls, c.calls);
    }
}

}  // namespace
