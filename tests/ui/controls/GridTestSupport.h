// The grid suites' harness: a scroll view of a chosen size holding a grid, shown offscreen, with a data
// source that hands out CNGridViewItems the way the result window does (dequeue first, create when
// the pool is empty) and records what it was asked.
#pragma once

#include <QApplication>
#include <string>
#include <vector>

#include "ui/controls/CNGridView.h"
#include "uisupport/UiTest.h"

namespace gridtest {

class CountingDataSource : public CNGridViewDataSource {
public:
    uint64_t count = 0;
    std::vector<int64_t> asked;  // indexes asked for, in order
    int created = 0;
    int dequeued = 0;
    // Indexes answered with null.
    std::vector<int64_t> refuse;

    uint64_t gridViewNumberOfItemsInSection(CNGridView*, int64_t) override { return count; }
    CNGridViewItemBase* gridViewItemAtIndex(CNGridView* grid, int64_t index, int64_t) override {
        asked.push_back(index);
        for (int64_t r : refuse) {
            if (r == index) return nullptr;
        }
        auto* item = static_cast<CNGridViewItem*>(grid->dequeueReusableItemWithIdentifier(kCNDefaultItemIdentifier));
        if (item) {
            ++dequeued;
        } else {
            item = new CNGridViewItem(kit::MakeRect(0, 0, 150, 150));
            ++created;
        }
        item->titleLabel()->setStringValue(QStringLiteral("Item %1").arg(index));
        return item;
    }
};

// A scroll view width x height (no scroll bar unless asked, so the clip is exactly that size) with a
// grid over source, shown and laid out.
struct Harness {
    CNGridScrollView scroll;
    CNGridView* grid;
    CountingDataSource source;

    Harness(double width, double height, uint64_t count, bool scroller = false)
        : scroll(kit::MakeRect(0, 0, width, height)), grid(new CNGridView(kit::MakeRect(0, 0, width, 0))) {
        scroll.setHasVerticalScroller(scroller);
        source.count = count;
        grid->setDataSource(&source);
        scroll.setDocumentView(grid);
        scroll.show();
        uitest::ProcessEvents();
    }
    // Reloads and lets the deferred refresh run.
    void reload() {
        grid->reloadData();
        uitest::ProcessEvents();
    }
    void scrollTo(double y) {
        scroll.scrollToY(y);
        uitest::ProcessEvents();
    }
};

}  // namespace gridtest
