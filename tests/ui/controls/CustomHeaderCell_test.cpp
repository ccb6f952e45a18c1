// The flat header cells in a real table's header: colour probes of background, lines and title, the
// title's place with and without the primary sort column, the invisible sort triangle, an empty title,
// and the same picture for a pressed (highlighted) section.
#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QtTest/QTest>
#include <memory>
#include <optional>

#include "ui/controls/CustomHeaderCell.h"
#include "ui/kit/OutlineView.h"
#include "ui/kit/Window.h"
#include "uisupport/UiTest.h"

namespace {

using kit::MakeRect;
using kit::MakeSize;

constexpr int kHeaderHeight = 20;

class NoRows : public kit::TableDataSource {
public:
    int numberOfRows(kit::TableView*) override { return 0; }
    QVariant objectValue(kit::TableView*, const kit::TableColumn&, int) override { return {}; }
};

// A table of two columns (Name 150, Size 100) whose header is a TableHeaderView with CustomHeaderCells.
struct HeaderUnderTest {
    NoRows rows;
    kit::Window window{MakeSize(300, 120)};
    kit::TableView* table = new kit::TableView(MakeRect(0, 0, 300, 120));
    TableHeaderView* header = new TableHeaderView;

    explicit HeaderUnderTest(const QString& first = "Name", const QString& second = "Size") {
        table->addTableColumn({"Name", first, 150});
        table->addTableColumn({"Size", second, 100});
        table->setDataSource(&rows);
        table->setHeaderView(header);
        header->setFixedHeight(kHeaderHeight);
        header->setUpCustomHeaderCells();
        window.contentView()->addSubview(table);
        table->reloadData();
        EXPECT_TRUE(uitest::ShowAndActivate(&window));
    }
    CustomHeaderCell* cell(int section) const { return dynamic_cast<CustomHeaderCell*>(header->headerCell(section)); }
    QImage grab() const { return uitest::Render(header->viewport()); }
};

QColor At(const QImage& image, int x, int y) {
    return QColor(image.pixel(x, y));
}

bool IsBackgroundOrLine(const QColor& c) {
    return c == kHeaderBackgroundColor || c == kHeaderLineColor;
}

// The ink of the title inside rect: every pixel that is neither background nor line.
struct Ink {
    std::optional<QRect> bounds;
    int darkest = 255 * 3;
    QColor darkestColour;
};

Ink InkIn(const QImage& image, const QRect& rect, bool (*plain)(const QColor&) = IsBackgroundOrLine) {
    Ink ink;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const QColor c = At(image, x, y);
            if (plain(c)) continue;
            const QRect dot(x, y, 1, 1);
            ink.bounds = ink.bounds ? ink.bounds->united(dot) : dot;
            const int sum = c.red() + c.green() + c.blue();
            if (sum < ink.darkest) {
                ink.darkest = sum;
                ink.darkestColour = c;
            }
        }
    }
    return ink;
}

TEST(CustomHeaderCell, ABackgroundLinesAlongTopRightAndBottomAndTheTitleInItsColourThreeInAndDown) {
    HeaderUnderTest t;
    const QImage shot = t.grab();
    ASSERT_EQ(shot.height(), kHeaderHeight);
    // The Name section spans x 0..149, the Size section 150..249.
    struct Probe {
        int x, y;
        QColor colour;
        const char* what;
    };
    const Probe probes[] = {
        {100, 0, kHeaderBackgroundColor, "above the top line"},
        {100, 1, kHeaderLineColor, "the top line"},
        {100, 10, kHeaderBackgroundColor, "the background"},
        {100, 19, kHeaderLineColor, "the bottom line"},
        {149, 10, kHeaderLineColor, "the line on the right of Name"},
        {148, 10, kHeaderBackgroundColor, "left of that line"},
        {0, 10, kHeaderBackgroundColor, "no line on the left"},
        {150, 10, kHeaderBackgroundColor, "the next section begins without a line"},
        {249, 10, kHeaderLineColor, "the line on the right of Size"},
        {200, 1, kHeaderLineColor, "the top line of Size"},
    };
    for (const Probe& p : probes) {
        EXPECT_EQ(At(shot, p.x, p.y), p.colour)
            << p.what << " at " << p.x << "," << p.y << ": " << uitest::Rgb(At(shot, p.x, p.y));
    }

    // The title: ink only from 3 right and 3 down of the corner, in the title colour where it is solid.
    const Ink name = InkIn(shot, QRect(0, 0, 148, kHeaderHeight));
    ASSERT_TRUE(name.bounds) << "no title drawn";
    EXPECT_GE(name.bounds->left(), 3);
    EXPECT_LE(name.bounds->left(), 5) << "the N of Name starts at its rectangle";
    // A capital's top: the line's top (3 down) plus the font's ascent less its capital height.
    const QFontMetricsF metrics(CustomHeaderCell::titleFont());
    const double capitalTop = 3 + metrics.ascent() - metrics.capHeight();
    EXPECT_GE(name.bounds->top(), 3);
    EXPECT_NEAR(name.bounds->top(), capitalTop, 1.0);
    EXPECT_LT(name.bounds->right(), 45) << "a short title";
    const QColor d = name.darkestColour;
    EXPECT_LE(std::abs(d.red() - 126) + std::abs(d.green() - 143) + std::abs(d.blue() - 164), 24)
        << "the title's solid colour " << uitest::Rgb(d);
    const Ink size = InkIn(shot, QRect(150, 0, 98, kHeaderHeight));
    ASSERT_TRUE(size.bounds);
    EXPECT_GE(size.bounds->left(), 153);
    EXPECT_LE(size.bounds->left(), 155);

    // The title is Helvetica 12 (its metric twin here), in the colour of every draw.
    const CustomHeaderCell* cell = t.cell(0);
    ASSERT_NE(cell, nullptr);
    const kit::TextRun& run = cell->attributedStringValue().runs().front();
    ASSERT_TRUE(run.font.has_value());
    EXPECT_EQ(run.font->pixelSize(), 12);
    EXPECT_EQ(run.font->family(), "Helvetica");
    EXPECT_EQ(run.color, kHeaderTitleColor);
    EXPECT_EQ(cell->stringValue(), "Name");
}

TEST(CustomHeaderCell, IsMadeFromTheColumnsCellKeepingItsTitleInTheInitialColourUntilItIsDrawn) {
    CustomTableHeaderView old("Created");
    CustomHeaderCell cell(old);
    EXPECT_EQ(cell.stringValue(), "Created");
    ASSERT_EQ(cell.attributedStringValue().runs().size(), 1u);
    EXPECT_EQ(cell.attributedStringValue().runs().front().color, kHeaderInitialTitleColor);
    EXPECT_EQ(cell.attributedStringValue().runs().front().font, CustomHeaderCell::titleFont());
    EXPECT_TRUE(cell.ascending());
    EXPECT_EQ(cell.priority(), 1);
    EXPECT_EQ(cell.getStr().runs().front().color, kHeaderTitleColor);
    EXPECT_EQ(cell.attributedStringValue().runs().front().color, kHeaderTitleColor) << "stored back";
}

TEST(CustomHeaderCell, ThePrimarySortColumnKeepsTheTitlesXAndLosesEightOfItsWidthOthersMoveThreeRight) {
    struct Case {
        bool ascending;
        long long priority;
        QRect title;
    };
    const QRect frame(10, 0, 100, 20);
    const Case cases[] = {
        {true, 1, QRect(13, 3, 100, 20)},  {true, 0, QRect(10, 3, 92, 20)},   {false, 0, QRect(10, 3, 92, 20)},
        {false, 2, QRect(13, 3, 100, 20)}, {true, -1, QRect(13, 3, 100, 20)},
    };
    for (const Case& c : cases) {
        CustomHeaderCell cell(QStringLiteral("Size"));
        cell.setSortAscending(c.ascending, c.priority);
        EXPECT_EQ(cell.titleRectForFrame(frame), c.title) << c.ascending << " " << c.priority;
    }

    // Drawn: a title too long for its column is cut 8 before the right edge for the primary sort
    // column, at the right edge otherwise; its first letter moves 3 left.
    HeaderUnderTest t(QString(40, QChar('W')), "Size");
    const QImage plain = t.grab();
    t.cell(0)->setSortAscending(true, 0);
    t.header->viewport()->update();
    const QImage primary = t.grab();
    const Ink before = InkIn(plain, QRect(0, 2, 148, 17));
    const Ink after = InkIn(primary, QRect(0, 2, 148, 17));
    ASSERT_TRUE(before.bounds && after.bounds);
    EXPECT_EQ(after.bounds->left(), before.bounds->left() - 3);
    EXPECT_GE(before.bounds->right(), 146) << "the title runs to the line";
    EXPECT_LE(after.bounds->right(), 149 - 8);
    EXPECT_GE(after.bounds->right(), 149 - 8 - 3);
    // The triangle (x 138..146, y 3..10) stays invisible all the same: the cell's drawing never
    // draws it, and the title is cut before it.
    EXPECT_EQ(At(primary, 143, 8), kHeaderBackgroundColor) << uitest::Rgb(At(primary, 143, 8));
}

TEST(CustomHeaderCell, TheSortTriangleIsWhiteOnlyForThePrimarySortColumnAndNeverDrawnByTheCell) {
    const QRect frame(0, 0, 100, 30);
    const auto triangle = [&](CustomHeaderCell& cell, bool ascending) {
        QImage image(100, 30, QImage::Format_ARGB32_Premultiplied);
        image.fill(QColor(60, 60, 60));
        QPainter painter(&image);
        cell.drawSortIndicatorWithFrame(painter, frame, nullptr, ascending, 0);
        painter.end();
        return image;
    };
    CustomHeaderCell cell(QStringLiteral("Name"));
    // Priority 1 (as made): the clear colour leaves everything as it was, whatever the argument.
    const QImage hidden = triangle(cell, true);
    EXPECT_EQ(At(hidden, 92, 17), QColor(60, 60, 60));
    cell.setSortAscending(true, 0);
    const QImage up = triangle(cell, true);
    // Ascending: base at y + h - 10 = 20, apex at 13, between x 88 and 96.
    EXPECT_EQ(At(up, 92, 18), QColor(Qt::white));
    EXPECT_EQ(At(up, 92, 11), QColor(60, 60, 60)) << "above the apex";
    EXPECT_EQ(At(up, 92, 21), QColor(60, 60, 60)) << "below the base";
    const QImage down = triangle(cell, false);
    // Descending: base at y + 10, apex 7 below it.
    EXPECT_EQ(At(down, 92, 11), QColor(Qt::white));
    EXPECT_EQ(At(down, 92, 8), QColor(60, 60, 60));
}

TEST(CustomHeaderCell, AnEmptyTitleDrawsOnlyTheBackgroundAndTheLines) {
    HeaderUnderTest t("", "");
    const QImage shot = t.grab();
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < 250; ++x) {
            ASSERT_TRUE(IsBackgroundOrLine(At(shot, x, y))) << x << "," << y << " " << uitest::Rgb(At(shot, x, y));
        }
    }
}

// Counts the highlighted draws of a cell class.
template <class Cell>
class CountingCell : public Cell {
public:
    using Cell::Cell;
    void highlight(bool flag, QPainter& painter, const QRect& frame, QWidget* view) override {
        if (flag) ++highlighted;
        Cell::highlight(flag, painter, frame, view);
    }
    int highlighted = 0;
};

TEST(CustomHeaderCell, BothCellsDrawAPressedSectionAsAPlainOne) {
    const auto check = [](auto makeCell, const char* kind) {
        HeaderUnderTest t;
        auto cell = makeCell();
        auto* counting = cell.get();
        t.header->setHeaderCell(0, std::move(cell));
        const QImage plain = t.grab();
        const QPoint inside(75, kHeaderHeight / 2);
        QTest::mousePress(t.header->viewport(), Qt::LeftButton, {}, inside);
        const QImage pressed = t.grab();
        QTest::mouseRelease(t.header->viewport(), Qt::LeftButton, {}, inside);
        EXPECT_GT(counting->highlighted, 0) << kind << ": the pressed section is drawn highlighted";
        EXPECT_EQ(pressed, plain) << kind;
    };
    check([] { return std::make_unique<CountingCell<CustomHeaderCell>>(QStringLiteral("Name")); }, "CustomHeaderCell");
    check([] { return std::make_unique<CountingCell<CustomTableHeaderView>>(QStringLiteral("Name")); },
          "CustomTableHeaderView");
}

TEST(CustomTableHeaderView, IsWhiteAboveAOnePointStripWithItsTitleInside) {
    HeaderUnderTest t;
    t.header->setHeaderCell(0, std::make_unique<CustomTableHeaderView>(QStringLiteral("Name")));
    const QImage shot = t.grab();
    EXPECT_EQ(At(shot, 100, 10), QColor(Qt::white));
    EXPECT_EQ(At(shot, 100, 2), QColor(Qt::white));
    // The right line (x 149.85..150.15) and the bottom one: faint, darker than white.
    EXPECT_LT(At(shot, 149, 10).red(), 255);
    const Ink title = InkIn(shot, QRect(0, 2, 140, 16), [](const QColor& c) { return c == QColor(Qt::white); });
    ASSERT_TRUE(title.bounds);
    EXPECT_GE(title.bounds->left(), 3);
    // The other section keeps its CustomHeaderCell.
    EXPECT_EQ(At(shot, 200, 10), kHeaderBackgroundColor);
}

}  // namespace
