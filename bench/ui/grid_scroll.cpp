// Scrolling the thumbnail grid: the average time to lay out and paint one frame while scrolling a grid
// of 100,000 items (offscreen), beside the same scroll of a QListView in icon mode over the same items,
// and the item views the grid holds (which stay those of the visible rows however far it scrolls).
//
//   grid_scroll [--smoke] [--items N] [--frames N]
// --smoke: 2,000 items and 30 frames; fails (exit 1) only when the grid holds more item views than two
// screens' worth, or a frame shows no item.
#include <QAbstractListModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <QPainter>
#include <QScrollBar>
#include <cstdio>
#include <cstring>
#include <string>

#include "ui/controls/CNGridView.h"

namespace {

constexpr int kWidth = 900;
constexpr int kHeight = 600;
constexpr int kStep = 37;  // points per frame, a brisk wheel scroll

std::vector<QImage> Thumbnails() {
    std::vector<QImage> images;
    const QSize sizes[] = {{300, 200}, {120, 200}, {90, 90}, {40, 30}};
    int n = 0;
    for (const QSize& size : sizes) {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(QColor::fromHsv((n++ * 70) % 360, 160, 220));
        images.push_back(image);
    }
    return images;
}

class Source : public CNGridViewDataSource {
public:
    explicit Source(uint64_t count) : m_count(count), m_images(Thumbnails()) {}
    uint64_t gridViewNumberOfItemsInSection(CNGridView*, int64_t) override { return m_count; }
    CNGridViewItemBase* gridViewItemAtIndex(CNGridView* grid, int64_t index, int64_t) override {
        auto* item = static_cast<CNGridViewItem*>(grid->dequeueReusableItemWithIdentifier(kCNDefaultItemIdentifier));
        if (!item) item = new CNGridViewItem;
        item->titleLabel()->setStringValue(QStringLiteral("IMG_%1.JPG").arg(index));
        item->refImageWithImage(m_images[size_t(index) % m_images.size()]);
        return item;
    }

private:
    uint64_t m_count;
    std::vector<QImage> m_images;
};

class ListModel : public QAbstractListModel {
public:
    explicit ListModel(int count) : m_count(count) {
        for (const QImage& image : Thumbnails()) m_icons.push_back(QIcon(QPixmap::fromImage(image)));
    }
    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : m_count; }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role == Qt::DisplayRole) return QStringLiteral("IMG_%1.JPG").arg(index.row());
        if (role == Qt::DecorationRole) return m_icons[size_t(index.row()) % m_icons.size()];
        return {};
    }

private:
    int m_count;
    std::vector<QIcon> m_icons;
};

// Scrolls frames steps down from the top, painting each frame into target; the average ms per frame.
template <class ScrollTo>
double TimeFrames(QWidget* viewport, int frames, ScrollTo scrollTo, const std::function<void()>& afterFrame = {}) {
    QImage target(viewport->size(), QImage::Format_ARGB32_Premultiplied);
    QElapsedTimer timer;
    timer.start();
    for (int frame = 1; frame <= frames; ++frame) {
        scrollTo(frame * kStep);
        QCoreApplication::sendPostedEvents();
        viewport->render(&target);
        if (afterFrame) afterFrame();
    }
    return double(timer.nsecsElapsed()) / 1e6 / frames;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    bool smoke = false;
    int items = 100000;
    int frames = 600;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--smoke")) {
            smoke = true;
            items = 2000;
            frames = 30;
        } else if (!std::strcmp(argv[i], "--items") && i + 1 < argc) {
            items = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--frames") && i + 1 < argc) {
            frames = std::atoi(argv[++i]);
        }
    }
    QApplication app(argc, argv);

    Source source{uint64_t(items)};
    CNGridScrollView scroll(kit::MakeRect(0, 0, kWidth, kHeight));
    auto* grid = new CNGridView(kit::MakeRect(0, 0, kWidth, 0));
    grid->setDataSource(&source);
    scroll.setDocumentView(grid);
    scroll.show();
    grid->reloadData();
    QCoreApplication::processEvents();
    size_t mostViews = 0;
    bool emptyFrame = false;
    const double gridMs = TimeFrames(
        scroll.viewport(), frames, [&](int y) { scroll.scrollToY(y); },
        [&] {
            mostViews = std::max(mostViews, grid->itemViewCount());
            emptyFrame = emptyFrame || grid->numberOfVisibleItems() == 0;
        });
    const size_t visibleCapacity = grid->columnsInGridView() * (grid->visibleRowsInGridView() + 1);

    ListModel model(items);
    QListView list;
    list.setViewMode(QListView::IconMode);
    list.setUniformItemSizes(true);
    list.setGridSize(QSize(150, 150));
    list.setIconSize(QSize(90, 90));
    list.setMovement(QListView::Static);
    list.setResizeMode(QListView::Adjust);
    list.setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list.setModel(&model);
    list.resize(kWidth, kHeight);
    list.show();
    QCoreApplication::processEvents();
    const double listMs = TimeFrames(list.viewport(), frames, [&](int y) { list.verticalScrollBar()->setValue(y); });

    std::printf("grid_scroll: %d items, %d frames of %d points, %dx%d offscreen\n", items, frames, kStep, kWidth,
                kHeight);
    std::printf("  grid      %.3f ms per frame (layout and paint)\n", gridMs);
    std::printf("  QListView %.3f ms per frame (icon mode, same items)\n", listMs);
    std::printf("  ratio     %.2f (grid / list)\n", listMs > 0 ? gridMs / listMs : 0.0);
    std::printf("  item views at most %zu for %zu cells of the visible rows plus one (grid height %.0f points)\n",
                mostViews, visibleCapacity, grid->frame().height());
    if (smoke && (mostViews > 2 * visibleCapacity || emptyFrame)) {
        std::printf("grid_scroll: FAILED (%s)\n", emptyFrame ? "a frame showed no item" : "item views grew");
        return 1;
    }
    return 0;
}
