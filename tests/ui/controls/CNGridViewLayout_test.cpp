// The thumbnail grid's layout: columns, centring, height, the visible range, hit testing, a grid taller
// than Qt's largest widget, the reuse pool, insertion, removal, the deferred refresh and the fade-in.
#include <gtest/gtest.h>

#include <QScrollBar>

#include "GridTestSupport.h"
#include "ui/kit/Scheduler.h"

namespace {

using gridtest::Harness;
using kit::MakePoint;
using kit::MakeRect;

TEST(CNGridViewLayout, ColumnsAreTheWholeCellsOfTheClipWidthAndAtLeastOne) {
    struct Case {
        double width;
        uint64_t columns;
    };
    const Case cases[] = {{299, 1}, {300, 2}, {100, 1}, {10, 1}, {449, 2}, {450, 3}, {640, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        Harness h(c.width, 300, 10);
        h.reload();
        EXPECT_EQ(h.grid->columnsInGridView(), c.columns);
        EXPECT_EQ(h.grid->clippedRect().width(), c.width);
        // Cells are 150 apart whatever the width.
        EXPECT_EQ(h.grid->rectForItemAtIndex(1), c.columns > 1 ? MakeRect(150, 0, 150, 150) : MakeRect(0, 150, 150, 150));
    }
}

TEST(CNGridViewLayout, CentringInsetsTheColumnsOnTheLeftAndTopAndTheHeightFollowsTheRows) {
    Harness h(640, 300, 10);
    h.grid->setUseCenterAlignment(true);
    h.reload();
    EXPECT_EQ(h.grid->contentInset(), 20);
    EXPECT_EQ(h.grid->rectForItemAtIndex(0), MakeRect(20, 20, 150, 150));
    EXPECT_EQ(h.grid->rectForItemAtIndex(5), MakeRect(170, 170, 150, 150));
    EXPECT_EQ(h.grid->visibleItemAtIndex(5)->frame(), MakeRect(170, 170, 150, 150));
    // 10 items in 4 columns: 3 rows, 450 tall plus twice the inset (the height takes the inset that
    // stood before the refresh, so the second refresh shows it).
    h.reload();
    EXPECT_EQ(h.grid->frame().height(), 490);

    Harness plain(600, 300, 10);
    plain.reload();
    EXPECT_EQ(plain.grid->contentInset(), 0);
    EXPECT_EQ(plain.grid->frame().height(), 450);
    // A height within 1 point of the wanted one is left alone; further off it is set again.
    plain.grid->setFrame(MakeRect(0, 0, 600, 449));
    EXPECT_EQ(plain.grid->frame().height(), 449);
    plain.grid->setFrame(MakeRect(0, 0, 600, 451));
    EXPECT_EQ(plain.grid->frame().height(), 451);
    plain.grid->setFrame(MakeRect(0, 0, 600, 448.5));
    EXPECT_EQ(plain.grid->frame().height(), 450);
}

TEST(CNGridViewLayout, TheVisibleRangeIsTheVisibleRowsPlusOneNeverPastTheLastItem) {
    struct Case {
        double y;
        uint64_t items;
        int64_t start;
        int64_t length;
    };
    // 4 columns, 2 visible rows (300 points): 12 items at most.
    const Case cases[] = {
        {0, 30, 0, 12},   {150, 30, 0, 12},  {151, 30, 4, 12}, {300, 30, 4, 12},
        {301, 30, 8, 12}, {450, 18, 8, 10},  {0, 5, 0, 5},     {0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "y " << c.y << " items " << c.items);
        Harness h(600, 300, c.items);
        h.reload();
        h.scrollTo(c.y);
        ASSERT_EQ(h.grid->clippedRect().y(), c.y);
        const auto [start, length] = h.grid->visibleItemRange();
        EXPECT_EQ(start, c.start);
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(h.grid->numberOfVisibleItems(), size_t(c.length));
        if (c.length > 0) {
            EXPECT_EQ(*h.grid->indexesForVisibleItems().begin(), c.start);
            EXPECT_EQ(*h.grid->indexesForVisibleItems().rbegin(), c.start + c.length - 1);
        }
    }
}

TEST(CNGridViewLayout, APointRightOfTheColumnsOrBelowTheLastItemHasNoIndex) {
    struct Case {
        double x, y;
        int64_t index;
    };
    // 640 wide, 4 columns of 600, 10 items: the last row holds 8 and 9.
    const Case cases[] = {
        {1, 1, 0},         {599, 1, 3},       {601, 1, CNNotFound}, {639, 200, CNNotFound},
        {160, 160, 5},     {299, 449, 9},     {301, 301, CNNotFound}, {10, 460, CNNotFound},
    };
    Harness h(640, 500, 10);
    h.reload();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << ", " << c.y);
        EXPECT_EQ(h.grid->indexForItemAtLocation(MakePoint(c.x, c.y)), c.index);
    }
    EXPECT_EQ(h.grid->locationForItemAtIndex(9), CNMakeItemPoint(2, 3));
    EXPECT_EQ(h.grid->locationForItemAtIndex(0), CNMakeItemPoint(1, 1));
    // The rubber band's index has neither inset nor item bound.
    EXPECT_EQ(h.grid->boundIndexForItemAtLocation(MakePoint(900, 460)), 16);
}

TEST(CNGridViewLayout, AGridTallerThanQtsLargestWidgetScrollsToDrawsAndHitsItsLastItem) {
    // 200,000 rows of 150 points: 30,000,000 points, past Qt's 16,777,215-pixel widget limit.
    Harness h(200, 600, 200000);
    h.reload();
    EXPECT_EQ(h.grid->frame().height(), 30000000.0);
    EXPECT_LE(h.grid->height(), QWIDGETSIZE_MAX);
    EXPECT_EQ(h.grid->height(), 600);
    h.scrollTo(30000000.0);
    EXPECT_EQ(h.grid->clippedRect().y(), 30000000.0 - 600);
    CNGridViewItemBase* last = h.grid->visibleItemAtIndex(199999);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->frame(), MakeRect(0, 29999850, 150, 150));
    // Placed in the visible part: the last 150 points of the 600.
    EXPECT_EQ(last->geometry(), QRect(0, 450, 150, 150));
    EXPECT_TRUE(last->isVisible());
    EXPECT_EQ(h.grid->indexForItemAtLocation(MakePoint(75, 29999900)), 199999);
    EXPECT_EQ(h.grid->indexForItemAtLocation(h.grid->gridPointFromWidget(QPointF(75, 500))), 199999);
    EXPECT_EQ(h.grid->indexForItemAtLocation(MakePoint(75, 30000001)), CNNotFound);
    // Drawn: the tile darkens the background inside its inset, not outside.
    const QImage shot = uitest::Render(h.scroll.viewport());
    EXPECT_NE(shot.pixel(75, 500), shot.pixel(2, 500));
    EXPECT_EQ(shot.pixel(2, 500), shot.pixel(175, 500));
    // Only the visible rows plus one hold views.
    EXPECT_LE(h.grid->numberOfVisibleItems(), 5u);
}

TEST(CNGridViewLayout, ScrollingRecyclesItemViewsSoTheirNumberStaysThatOfTheVisibleRows) {
    Harness h(600, 300, 100000);
    h.reload();
    const size_t first = h.grid->itemViewCount();
    EXPECT_EQ(first, 12u);
    for (double y = 0; y < 150000; y += 37 * 150 + 11) h.scrollTo(y);
    EXPECT_GT(h.source.dequeued, 0);
    // Visible rows plus one, and at most one more screenful waiting in the pool.
    EXPECT_LE(h.grid->itemViewCount(), 2 * first);
    for (const int64_t index : h.grid->indexesForVisibleItems()) {
        EXPECT_EQ(h.grid->visibleItemAtIndex(index)->index(), index);
    }
}

TEST(CNGridViewLayout, WhileAnItemIsSelectedScrollingReturnsNothingToThePool) {
    Harness h(600, 300, 200);
    h.reload();
    h.grid->selectItemAtIndex(1, 0);
    const int created = h.source.created;
    h.scrollTo(900);
    h.scrollTo(1800);
    EXPECT_EQ(h.grid->reusePoolCount(), 0u);
    EXPECT_GT(h.source.created, created);
    EXPECT_EQ(h.source.dequeued, 0);
    // Once nothing is selected, the next scroll recycles what is out of sight.
    h.grid->deselectAllItems();
    h.scrollTo(2700);
    EXPECT_GT(h.grid->reusePoolCount(), 0u);
}

TEST(CNGridViewLayout, TheReusePoolAnswersNothingForAnUnknownIdentifierOrAfterAReload) {
    // 14 items, 12 shown at the top; at the bottom 0-3 leave and 12-13 come: two stay pooled.
    Harness h(600, 300, 14);
    h.reload();
    h.scrollTo(300);
    ASSERT_EQ(h.grid->reusePoolCount(), 2u);
    EXPECT_EQ(h.grid->dequeueReusableItemWithIdentifier("NoSuchItem"), nullptr);
    CNGridViewItemBase* pooled = h.grid->dequeueReusableItemWithIdentifier(kCNDefaultItemIdentifier);
    ASSERT_NE(pooled, nullptr);
    // A pooled item went through prepareForReuse and has no represented object.
    EXPECT_EQ(pooled->index(), CNNotFound);
    EXPECT_FALSE(pooled->selected());
    EXPECT_FALSE(pooled->hovered());
    EXPECT_EQ(pooled->representedObject(), nullptr);
    h.grid->reloadData();
    EXPECT_EQ(h.grid->reusePoolCount(), 0u);
    EXPECT_EQ(h.grid->dequeueReusableItemWithIdentifier(kCNDefaultItemIdentifier), nullptr);
}

TEST(CNGridViewLayout, ASelectedItemIsNeverReusable) {
    CNGridViewItem item;
    EXPECT_TRUE(item.isReuseable());
    item.setSelected(true);
    EXPECT_FALSE(item.isReuseable());
    item.setHovered(true);
    item.setIndex(7);
    item.prepareForReuse();
    EXPECT_TRUE(item.isReuseable());
    EXPECT_FALSE(item.hovered());
    EXPECT_EQ(item.index(), CNNotFound);
    EXPECT_EQ(item.reuseIdentifier(), "CNGridViewItem");
}

TEST(CNGridViewLayout, InsertingRenumbersTheItemsAfterAndFetchesTheNewOne) {
    Harness h(600, 450, 10);
    h.reload();
    ASSERT_EQ(h.grid->numberOfVisibleItems(), 10u);
    std::vector<CNGridViewItemBase*> before;
    for (int64_t i = 0; i < 10; ++i) before.push_back(h.grid->visibleItemAtIndex(i));
    h.source.count = 11;
    h.source.asked.clear();
    h.grid->insertItemAtIndex(3, false);
    uitest::ProcessEvents();
    EXPECT_EQ(h.grid->numberOfItems(), 11u);
    for (int64_t i = 0; i < 3; ++i) EXPECT_EQ(h.grid->visibleItemAtIndex(i), before[size_t(i)]);
    for (int64_t i = 3; i < 10; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(h.grid->visibleItemAtIndex(i + 1), before[size_t(i)]);
        EXPECT_EQ(before[size_t(i)]->index(), i + 1);
        EXPECT_EQ(before[size_t(i)]->frame(), h.grid->rectForItemAtIndex(i + 1));
    }
    EXPECT_EQ(h.source.asked, (std::vector<int64_t>{3}));
    ASSERT_NE(h.grid->visibleItemAtIndex(3), nullptr);

    // Several at once: each moves by the inserted indexes at or before it.
    h.source.count = 13;
    CNGridViewItemBase* nine = h.grid->visibleItemAtIndex(9);
    h.grid->insertItemsAtIndexes({1, 5}, false);
    uitest::ProcessEvents();
    EXPECT_EQ(nine->index(), 11);
    EXPECT_EQ(h.grid->numberOfItems(), 13u);
    // A run moves everything from its start by its whole length.
    h.source.count = 16;
    CNGridViewItemBase* four = h.grid->visibleItemAtIndex(4);
    h.grid->insertItemsAtIndexes({4, 5, 6}, false);
    uitest::ProcessEvents();
    EXPECT_EQ(four->index(), 7);
}

TEST(CNGridViewLayout, RemovingAndReloadingItemsFetchesTheSurvivorsAgain) {
    Harness h(600, 450, 10);
    h.reload();
    h.source.count = 8;
    h.source.asked.clear();
    h.grid->removeItemsAtIndexes({2, 4}, false);
    uitest::ProcessEvents();
    EXPECT_EQ(h.grid->numberOfItems(), 8u);
    EXPECT_EQ(h.source.asked, (std::vector<int64_t>{2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(h.grid->numberOfVisibleItems(), 8u);
    EXPECT_EQ(h.grid->frame().height(), 300);

    h.source.asked.clear();
    h.grid->reloadItemsAtIndexes({0, 6}, false);
    uitest::ProcessEvents();
    EXPECT_EQ(h.source.asked, (std::vector<int64_t>{0, 6}));
    h.grid->removeItemsAtIndexes({}, false);
    h.grid->reloadItemsAtIndexes({}, false);
    uitest::ProcessEvents();
    EXPECT_EQ(h.source.asked.size(), 2u);
}

TEST(CNGridViewLayout, AnEmptyAnswerLeavesTheCellEmptyUntilTheNextFill) {
    Harness h(600, 450, 10);
    h.source.refuse = {4};
    h.reload();
    EXPECT_EQ(h.grid->visibleItemAtIndex(4), nullptr);
    EXPECT_EQ(h.grid->numberOfVisibleItems(), 9u);
    h.source.refuse.clear();
    h.grid->updateVisibleRect();
    EXPECT_NE(h.grid->visibleItemAtIndex(4), nullptr);
}

TEST(CNGridViewLayout, TheRefreshRunsOneEventLoopTurnLaterAndFadesTheGridIn) {
    kit::ScopedManualClock clock;
    uitest::ScopedAnimations animations;
    Harness h(600, 300, 10);
    h.grid->reloadData();
    EXPECT_EQ(h.grid->numberOfVisibleItems(), 0u);
    uitest::ProcessEvents();
    ASSERT_EQ(h.grid->numberOfVisibleItems(), 10u);
    CNGridViewItemBase* item = h.grid->visibleItemAtIndex(0);
    EXPECT_EQ(item->alphaValue(), 0.0);
    clock.advance(0.2);
    EXPECT_GT(item->alphaValue(), 0.0);
    EXPECT_LT(item->alphaValue(), 1.0);
    clock.advance(0.15);
    EXPECT_EQ(item->alphaValue(), 1.0);
}

TEST(CNGridViewLayout, TheFixedSettersKeepTheirValuesWhateverIsPassed) {
    Harness h(600, 300, 10);
    h.reload();
    h.grid->setItemSize(kit::MakeSize(40, 40));
    uitest::ProcessEvents();
    EXPECT_EQ(h.grid->rectForItemAtIndex(1), MakeRect(150, 0, 150, 150));
    EXPECT_EQ(h.grid->itemSize(), kit::MakeSize(0, 0));
    h.grid->setBackgroundColor(Qt::red);
    EXPECT_EQ(h.scroll.backgroundColor(), QColor(236, 236, 236));
    EXPECT_FALSE(h.grid->backgroundColor().isValid());
    h.grid->setScrollElasticity(false);
    EXPECT_EQ(h.scroll.verticalScrollElasticity(), 2);
    EXPECT_FALSE(h.grid->scrollElasticity());
}

TEST(CNGridViewLayout, ANewWidthReflowsTheItemsIntoItsColumns) {
    Harness h(600, 600, 10);
    h.reload();
    EXPECT_EQ(h.grid->visibleItemAtIndex(5)->frame(), MakeRect(150, 150, 150, 150));
    h.scroll.setFrameSize(kit::MakeSize(300, 600));
    uitest::ProcessEvents();
    EXPECT_EQ(h.grid->columnsInGridView(), 2u);
    EXPECT_EQ(h.grid->frame().height(), 750);
    EXPECT_EQ(h.grid->visibleItemAtIndex(5)->frame(), MakeRect(150, 300, 150, 150));
}

}  // namespace
