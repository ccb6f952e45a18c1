// Pictures of the thumbnail grid for review (kept in the suite's folder of
// build/artifacts/screenshots/): items with placeholders, items with thumbnails, a hovered and a
// selected item, drawn by the real widgets; each picture is probed at known points.
#include <gtest/gtest.h>

#include <QDir>
#include <QLinearGradient>
#include <QPainter>
#include <QTest>

#include "ui/controls/CNGridView.h"
#include "ui/kit/Image.h"
#include "uisupport/UiTest.h"

#ifndef BRELVOX_SCREENSHOT_DIR
#define BRELVOX_SCREENSHOT_DIR "artifacts/screenshots/grid"
#endif

namespace {

// A photograph-like picture: a sky-to-grass gradient with a sun, width x height.
QImage Photo(int width, int height, QColor sky) {
    QImage image(width, height, QImage::Format_ARGB32);
    QPainter p(&image);
    QLinearGradient gradient(0, 0, 0, height);
    gradient.setColorAt(0, sky);
    gradient.setColorAt(0.6, sky.lighter(150));
    gradient.setColorAt(0.61, QColor(70, 140, 60));
    gradient.setColorAt(1, QColor(40, 90, 40));
    p.fillRect(image.rect(), gradient);
    p.setBrush(QColor(250, 210, 60));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(width * 0.75, height * 0.25), height * 0.12, height * 0.12);
    return image;
}

class PictureSource : public CNGridViewDataSource {
public:
    bool thumbnails = false;
    uint64_t gridViewNumberOfItemsInSection(CNGridView*, int64_t) override { return 11; }
    CNGridViewItemBase* gridViewItemAtIndex(CNGridView* grid, int64_t index, int64_t) override {
        auto* item = static_cast<CNGridViewItem*>(grid->dequeueReusableItemWithIdentifier(kCNDefaultItemIdentifier));
        if (!item) item = new CNGridViewItem;
        item->titleLabel()->setStringValue(QStringLiteral("IMG_%1.JPG").arg(1000 + index));
        item->itemButton()->setImage(index % 3 == 0 ? kit::Image::named("checkbox_yes") : kit::Image::named("checkbox_no"));
        static const QColor skies[] = {QColor(90, 150, 230), QColor(240, 150, 90), QColor(120, 90, 200)};
        const QSize sizes[] = {{300, 200}, {120, 200}, {40, 30}, {200, 200}};
        const QSize size = sizes[index % 4];
        item->refImageWithImage(thumbnails ? Photo(size.width(), size.height(), skies[index % 3])
                                           : kit::Image::loadImage("icon_file", 3.0));
        return item;
    }
};

QString Save(const QImage& image, const QString& name) {
    const QString folder = QStringLiteral(BRELVOX_SCREENSHOT_DIR);
    EXPECT_TRUE(QDir().mkpath(folder));
    const QString path = folder + "/" + name;
    EXPECT_TRUE(image.save(path)) << path.toStdString();
    return path;
}

struct Shown {
    CNGridScrollView scroll{kit::MakeRect(0, 0, 640, 420)};
    CNGridView* grid = new CNGridView(kit::MakeRect(0, 0, 640, 0));
    PictureSource source;
    explicit Shown(bool thumbnails) {
        source.thumbnails = thumbnails;
        grid->setUseCenterAlignment(true);
        grid->setDataSource(&source);
        scroll.setDocumentView(grid);
        EXPECT_TRUE(uitest::ShowAndActivate(&scroll));
        grid->reloadData();
        uitest::ProcessEvents();
    }
    QImage shot() {
        uitest::ProcessEvents();
        return scroll.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    }
};

TEST(GridScreenshots, PlaceholdersBeforeTheThumbnailsArrive) {
    Shown shown(false);
    const QImage image = shown.shot();
    Save(image, "grid-placeholders.png");
    // 4 columns centred in what the scroll bar leaves; the tile of item 0 starts 5 into its cell.
    const int inset = int(shown.grid->contentInset());
    EXPECT_EQ(shown.grid->columnsInGridView(), 4u);
    EXPECT_EQ(inset, (shown.scroll.viewport()->width() - 600) / 2);
    const QColor background = image.pixel(inset / 2, 200);
    const QColor tile = image.pixel(inset + 10, 100);
    EXPECT_EQ(background, QColor(236, 236, 236)) << uitest::Rgb(background);
    EXPECT_LT(tile.value(), background.value()) << uitest::Rgb(tile);
}

TEST(GridScreenshots, ThumbnailsWithAHoveredAndASelectedItem) {
    Shown shown(true);
    shown.grid->selectItemAtIndex(5, 0);
    const int inset = int(shown.grid->contentInset());
    QTest::mouseMove(shown.grid, QPoint(inset + 150 * 2 + 75, inset + 40));
    ASSERT_EQ(shown.grid->lastHoveredIndex(), 2);
    const QImage image = shown.shot();
    Save(image, "grid-thumbnails-hover-selection.png");
    // Item 0's 300 x 200 picture is drawn 90 x 90 at (30, 20) of its cell: sky at the top.
    const QColor sky = image.pixel(inset + 30 + 10, inset + 20 + 5);
    EXPECT_GT(sky.blue(), sky.red()) << uitest::Rgb(sky);
    // The selected item 5 (second row, second column) has the blue ring on its tile's left edge.
    const QColor ring = image.pixel(inset + 150 + 5, inset + 150 + 75);
    EXPECT_EQ(ring, CNGridViewPalette::itemSelectionRingColor()) << uitest::Rgb(ring);
    // The hovered item 2 is darker than the plain item 3 at the same place of the tile.
    const QColor hovered = image.pixel(inset + 300 + 10, inset + 110);
    const QColor plain = image.pixel(inset + 450 + 10, inset + 110);
    EXPECT_LT(hovered.value(), plain.value()) << uitest::Rgb(hovered) << " vs " << uitest::Rgb(plain);
}

}  // namespace
