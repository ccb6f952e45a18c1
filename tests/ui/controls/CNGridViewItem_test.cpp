// The grid item: where the thumbnail is drawn, the tile and ring, the check box refused while a scan
// runs unpaused, the grid-wide deselect-all, and thumbnails handed in from loader threads (applied
// on the main thread, never to an item that shows another node by then).
#include <gtest/gtest.h>

#include <QTest>
#include <atomic>
#include <deque>
#include <mutex>
#include <thread>

#include "GridTestSupport.h"
#include "bridge/ResultTree/OpNodeData.h"
#include "platform/foundation/NotificationCenter.h"
#include "support/FakeFileTree.h"
#include "support/FakeUIController.h"
#include "ui/kit/Scheduler.h"

namespace {

using kit::MakeRect;
using kit::MakeSize;

QImage Filled(int width, int height, QColor colour) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

TEST(CNGridViewItem, TheImageIsCappedAt90OnEachSideAndCentredInTheTile) {
    struct Case {
        int width, height;
        kit::Rect drawn;
    };
    const Case cases[] = {
        {300, 200, MakeRect(30, 20, 90, 90)},  {40, 30, MakeRect(55, 50, 40, 30)},
        {90, 90, MakeRect(30, 20, 90, 90)},    {200, 40, MakeRect(30, 45, 90, 40)},
        {20, 500, MakeRect(65, 20, 20, 90)},   {1, 1, MakeRect(74.5, 64.5, 1, 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        EXPECT_EQ(CNGridViewItem::imageRectForSize(MakeSize(c.width, c.height)), c.drawn);
    }
    // Drawn where computed: red inside the rectangle, the tile's grey just outside it.
    for (const Case& c : {cases[0], cases[1]}) {
        SCOPED_TRACE(testing::Message() << "drawn " << c.width << " x " << c.height);
        CNGridViewItem item;
        item.refImageWithImage(Filled(c.width, c.height, Qt::red));
        const QImage shot = uitest::Render(&item);
        const int left = int(c.drawn.x()), top = int(c.drawn.y());
        const int right = int(c.drawn.x() + c.drawn.width()) - 1, bottom = int(c.drawn.y() + c.drawn.height()) - 1;
        EXPECT_EQ(QColor(shot.pixel(left, top)), QColor(Qt::red));
        EXPECT_EQ(QColor(shot.pixel(right, bottom)), QColor(Qt::red));
        EXPECT_NE(QColor(shot.pixel(left - 1, top + 5)), QColor(Qt::red));
        EXPECT_NE(QColor(shot.pixel(right + 1, bottom)), QColor(Qt::red));
        EXPECT_NE(QColor(shot.pixel(left + 5, top - 1)), QColor(Qt::red));
        EXPECT_NE(QColor(shot.pixel(left + 5, bottom + 1)), QColor(Qt::red));
    }
}

TEST(CNGridViewItem, AnImageWithoutWidthOrHeightIsNotApplied) {
    CNGridViewItem item;
    item.refImageWithImage(Filled(40, 30, Qt::blue));
    for (const QImage& empty : {QImage(), QImage(0, 10, QImage::Format_ARGB32), QImage(10, 0, QImage::Format_ARGB32)}) {
        item.refImageWithImage(empty);
        EXPECT_EQ(item.itemImage().size(), QSize(40, 30));
    }
    item.prepareForReuse();
    EXPECT_TRUE(item.itemImage().isNull());
    EXPECT_TRUE(item.itemTitle().isEmpty());
}

TEST(CNGridViewItem, TheTileIsInsetAndRoundedAndHoverAndSelectionShow) {
    CNGridViewItem item;
    item.titleLabel()->hide();
    item.itemButton()->hide();
    const QImage plain = uitest::Render(&item);
    // Inset 5: nothing at 2, the tile at 7; the corner radius 10 leaves the corner at (6, 6) empty.
    EXPECT_EQ(qAlpha(plain.pixel(2, 75)), 0);
    EXPECT_GT(qAlpha(plain.pixel(7, 75)), 0);
    EXPECT_EQ(qAlpha(plain.pixel(6, 6)), 0);
    EXPECT_GT(qAlpha(plain.pixel(16, 16)), 0);
    item.setHovered(true);
    const QImage hovered = uitest::Render(&item);
    EXPECT_GT(qAlpha(hovered.pixel(75, 75)), qAlpha(plain.pixel(75, 75)));
    item.setHovered(false);
    item.setSelected(true);
    const QImage selected = uitest::Render(&item);
    // The ring in the default layout's colour along the tile's edge.
    EXPECT_EQ(QColor(selected.pixel(5, 75)), CNGridViewPalette::itemSelectionRingColor());
    EXPECT_EQ(item.itemButton()->frame(), MakeRect(16, 121, 13, 13));
    EXPECT_EQ(item.titleLabel()->frame(), MakeRect(30, 120, 120, 25));
    EXPECT_EQ(item.itemButton()->geometry(), QRect(16, 121, 13, 13));
}

TEST(CNGridViewItem, EveryItemOfEveryGridClearsItsSelectionOnTheGridWideDeselectAll) {
    gridtest::Harness first(600, 300, 4), second(600, 300, 4);
    first.reload();
    second.reload();
    first.grid->selectItemAtIndex(1, 0);
    second.grid->selectItemAtIndex(2, 0);
    CNGridViewItem loose;
    loose.setSelected(true);
    first.grid->deselectAllItems();
    EXPECT_FALSE(first.grid->visibleItemAtIndex(1)->selected());
    EXPECT_FALSE(second.grid->visibleItemAtIndex(2)->selected());
    EXPECT_FALSE(loose.selected());
    // The other grid's table is its own; only the items' flags followed.
    EXPECT_EQ(second.grid->selectedIndexes(), CNIndexSet{2});
    brelvox::foundation::NotificationCenter::Default().Post(CNGridViewSelectAllItemsNotification, nullptr);
    EXPECT_TRUE(loose.selected());
}

class RecordingItemDelegate : public CNGridViewItemDelegate {
public:
    std::vector<int64_t> selected;
    void doSelectItem(int64_t index) override { selected.push_back(index); }
};

struct ScanFixture {
    testsupport::FakeFileTree tree{"Stick", SEARCHER_FAT, {{"DCIM/A.JPG", 100}, {"DCIM/B.JPG", 200, 0, 0, testsupport::kFakeTicked}}};
    testsupport::FakeUIController controller;
    OpNodeData a{tree.Node("DCIM/A.JPG")};
    OpNodeData b{tree.Node("DCIM/B.JPG")};
    IUIController* previous = GetUIController();
    ScanFixture() { SetUIController(&controller); }
    ~ScanFixture() { SetUIController(previous); }
};

TEST(CNGridViewItem, TheCheckBoxIsRefusedWhileAScanRunsUnpausedAndShowsTheComingState) {
    struct Case {
        const char* name;
        bool running, paused;
        bool ticked;
        bool accepted;
        const char* image;
    };
    const Case cases[] = {
        {"running unpaused", true, false, false, false, ""},
        {"running paused, unticked", true, true, false, true, "checkbox_yes"},
        {"running paused, ticked", true, true, true, true, "checkbox_no"},
        {"no scan, unticked", false, false, false, true, "checkbox_yes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScanFixture scan;
        scan.controller.SetScanState(c.running, c.paused);
        CNGridViewItem item;
        RecordingItemDelegate delegate;
        item.setDelegate(&delegate);
        item.setIndex(4);
        item.setNode(c.ticked ? &scan.b : &scan.a);
        item.show();
        QTest::mouseClick(item.itemButton(), Qt::LeftButton, {}, QPoint(6, 6));
        EXPECT_EQ(delegate.selected, c.accepted ? std::vector<int64_t>{4} : std::vector<int64_t>{});
        EXPECT_EQ(item.itemButton()->image().name(), QString(c.image));
        // The item only shows the state; ticking is the delegate's.
        EXPECT_TRUE(scan.tree.SetChecks().empty());
    }
}

TEST(CNGridViewItem, AThumbnailFromALoaderThreadArrivesOnTheMainThreadOnlyForTheSameNode) {
    kit::ScopedManualClock clock;
    ScanFixture scan;
    CNGridViewItem item;
    item.setNode(&scan.a);
    std::thread loader([&] {
        item.updateImageViewWithImage(Filled(40, 30, Qt::green), &scan.a);
        item.updateImageViewWithImage(Filled(50, 50, Qt::red), &scan.b);  // not the item's node
    });
    loader.join();
    EXPECT_TRUE(item.itemImage().isNull());
    uitest::ProcessEvents();
    // On the main thread now, applied after the pause.
    EXPECT_TRUE(item.itemImage().isNull());
    clock.advance(0.01);
    EXPECT_EQ(item.itemImage().size(), QSize(40, 30));

    // Shown another node before the image arrives: ignored.
    std::thread late([&] { item.updateImageViewWithImage(Filled(60, 60, Qt::red), &scan.a); });
    late.join();
    item.setNode(&scan.b);
    uitest::ProcessEvents();
    clock.advance(0.01);
    EXPECT_EQ(item.itemImage().size(), QSize(40, 30));

    // An item that ended before the image arrived: the mailbox keeps the hand-off harmless.
    std::shared_ptr<CNGridViewItemMailbox> box;
    {
        CNGridViewItem gone;
        gone.setNode(&scan.a);
        box = gone.mailbox();
        std::thread t([&] { box->updateImageViewWithImage(Filled(10, 10, Qt::red), &scan.a); });
        t.join();
    }
    uitest::ProcessEvents();
    clock.advance(0.01);
}

// The result window's way, under ThreadSanitizer in the sanitizer run: four loader threads hand images
// to the items the grid shows while the grid scrolls and reloads on the main thread.
TEST(CNGridViewItem, FourLoadersHandImagesWhileTheGridScrollsAndReloads) {
    kit::ScopedManualClock clock;
    std::vector<testsupport::FakeFileRow> rows;
    for (int i = 0; i < 64; ++i) rows.push_back({"DCIM/IMG_" + std::to_string(i) + ".JPG", 100 + i});
    testsupport::FakeFileTree tree("Stick", SEARCHER_FAT, rows);
    std::vector<std::unique_ptr<OpNodeData>> nodes;
    for (auto* file : tree.Files()) nodes.push_back(std::make_unique<OpNodeData>(file));

    struct Job {
        std::shared_ptr<CNGridViewItemMailbox> box;
        const OpNodeData* node;
        int width;
    };
    std::mutex mutex;
    std::deque<Job> jobs;
    std::atomic<bool> done{false};

    struct Source : gridtest::CountingDataSource {
        std::vector<std::unique_ptr<OpNodeData>>* nodes;
        std::function<void(CNGridViewItem*, const OpNodeData*)> fetched;
        CNGridViewItemBase* gridViewItemAtIndex(CNGridView* grid, int64_t index, int64_t section) override {
            auto* item = static_cast<CNGridViewItem*>(CountingDataSource::gridViewItemAtIndex(grid, index, section));
            const OpNodeData* node = (*nodes)[size_t(index)].get();
            item->setNode(node);
            fetched(item, node);
            return item;
        }
    } source;
    source.count = nodes.size();
    source.nodes = &nodes;
    source.fetched = [&](CNGridViewItem* item, const OpNodeData* node) {
        std::lock_guard<std::mutex> lock(mutex);
        const int width = 10 + int(std::find_if(nodes.begin(), nodes.end(), [&](auto& n) { return n.get() == node; }) -
                                   nodes.begin());
        jobs.push_back({item->mailbox(), node, width});
    };

    CNGridScrollView scroll(MakeRect(0, 0, 600, 300));
    scroll.setHasVerticalScroller(false);
    auto* grid = new CNGridView(MakeRect(0, 0, 600, 0));
    grid->setDataSource(&source);
    scroll.setDocumentView(grid);
    scroll.show();

    std::vector<std::thread> loaders;
    for (int t = 0; t < 4; ++t) {
        loaders.emplace_back([&] {
            while (!done.load()) {
                std::optional<Job> job;
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    if (!jobs.empty()) {
                        job = jobs.front();
                        jobs.pop_front();
                    }
                }
                if (!job) {
                    std::this_thread::yield();
                    continue;
                }
                // The width names the node, so the main thread can tell whose image an item shows.
                job->box->updateImageViewWithImage(Filled(job->width, 20, Qt::darkCyan), job->node);
            }
        });
    }
    for (int round = 0; round < 40; ++round) {
        if (round % 10 == 0) grid->reloadData();
        scroll.scrollToY((round * 97) % 2100);
        uitest::ProcessEvents();
        clock.advance(0.01);
        for (const int64_t index : grid->indexesForVisibleItems()) {
            auto* item = static_cast<CNGridViewItem*>(grid->visibleItemAtIndex(index));
            if (item->itemImage().isNull()) continue;
            // Whatever image an item shows is its own node's.
            EXPECT_EQ(item->itemImage().width(), 10 + index) << "item " << index;
        }
    }
    // Once the loaders have handed over everything, every item shown has its own node's image.
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (jobs.empty()) break;
        }
        std::this_thread::yield();
    }
    done = true;
    for (auto& t : loaders) t.join();
    uitest::ProcessEvents();
    clock.advance(0.01);
    ASSERT_GT(grid->numberOfVisibleItems(), 0u);
    for (const int64_t index : grid->indexesForVisibleItems()) {
        auto* item = static_cast<CNGridViewItem*>(grid->visibleItemAtIndex(index));
        EXPECT_EQ(item->itemImage().width(), 10 + index) << "item " << index;
    }
}

}  // namespace
