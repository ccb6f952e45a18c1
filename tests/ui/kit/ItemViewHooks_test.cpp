// What windows hook into the outline and table views: a column's own cell (drawing and clicks), a
// header view of the caller's, key presses before the view's own, and cells set up once per paint.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QPainter>
#include <QtTest/QTest>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "ui/kit/ColumnCell.h"
#include "ui/kit/OutlineView.h"
#include "ui/kit/Window.h"
#include "uisupport/UiTest.h"

namespace {

// Fills the left 12 points of its cells with its colour; a press there ticks (value 2) and is taken.
class SwatchCell : public kit::ColumnCell {
public:
    explicit SwatchCell(QColor colour) : colour(colour) {}
    void drawWithFrame(QPainter& painter, const QRect& frame, const kit::Cell& cell,
                       const kit::CellContext&) override {
        painter.fillRect(QRect(frame.x(), frame.y(), 12, frame.height()), colour);
        drawn.push_back(cell.objectValue.toString());
    }
    bool mouseEvent(QMouseEvent* event, const QRect& frame, const kit::Cell&, const kit::CellContext& context) override {
        if (event->position().x() >= frame.x() + 12) return false;
        if (event->type() == QEvent::MouseButtonRelease) context.setObjectValue(2);
        return true;
    }
    QColor colour;
    std::vector<QString> drawn;
};

// A list of names in two columns, counting what it is asked per (row, column).
class Names : public kit::OutlineDataSource,
              public kit::OutlineDelegate,
              public kit::TableDataSource,
              public kit::TableDelegate {
public:
    Names() {
        for (const char* n : {"apple", "banana", "cherry", "damson"}) names.push_back(n);
    }
    int indexOf(kit::Item item) const { return int(reinterpret_cast<intptr_t>(item)) - 1; }

    int numberOfChildrenOfItem(kit::OutlineView*, kit::Item item) override { return item ? 0 : int(names.size()); }
    kit::Item child(kit::OutlineView*, int index, kit::Item) override {
        return reinterpret_cast<kit::Item>(intptr_t(index) + 1);
    }
    bool isItemExpandable(kit::OutlineView*, kit::Item) override { return false; }
    QVariant objectValue(kit::OutlineView*, const kit::TableColumn& column, kit::Item item) override {
        return value(column, indexOf(item));
    }
    void setObjectValue(kit::OutlineView*, const QVariant& v, const kit::TableColumn& column, kit::Item item) override {
        set.emplace_back(indexOf(item), column.identifier + "=" + v.toString());
    }
    void willDisplayCell(kit::OutlineView*, kit::Cell&, const kit::TableColumn& column, kit::Item item) override {
        ++setUps[{indexOf(item), column.identifier}];
    }
    bool drawRowBackground(kit::OutlineView*, QPainter& painter, const QRect& rect, kit::Item item, bool) override {
        painter.fillRect(rect, background(indexOf(item)));
        return true;
    }
    void didClickTableColumn(kit::OutlineView*, const kit::TableColumn& column) override {
        clicked.push_back(column.identifier);
    }
    bool keyDown(kit::OutlineView*, QKeyEvent* event) override { return takeKey(event); }

    int numberOfRows(kit::TableView*) override { return int(names.size()); }
    QVariant objectValue(kit::TableView*, const kit::TableColumn& column, int row) override {
        return value(column, row);
    }
    void setObjectValue(kit::TableView*, const QVariant& v, const kit::TableColumn& column, int row) override {
        set.emplace_back(row, column.identifier + "=" + v.toString());
    }
    void willDisplayCell(kit::TableView*, kit::Cell&, const kit::TableColumn& column, int row) override {
        ++setUps[{row, column.identifier}];
    }
    bool drawRowBackground(kit::TableView*, QPainter& painter, const QRect& rect, int row, bool) override {
        painter.fillRect(rect, background(row));
        return true;
    }
    void didClickTableColumn(kit::TableView*, const kit::TableColumn& column) override {
        clicked.push_back(column.identifier);
    }
    bool keyDown(kit::TableView*, QKeyEvent* event) override { return takeKey(event); }

    QVariant value(const kit::TableColumn& column, int row) {
        ++asked[{row, column.identifier}];
        return column.identifier == "Size" ? QVariant(QString::number(row)) : QVariant(names[size_t(row)]);
    }
    static QColor background(int row) { return row % 2 ? QColor(242, 242, 242) : QColor(Qt::white); }
    bool takeKey(QKeyEvent* event) {
        const bool letter = !event->text().isEmpty() && event->text().front().isLetter();
        return takeLetters && letter;
    }

    std::vector<QString> names;
    std::map<std::pair<int, QString>, int> asked;
    std::map<std::pair<int, QString>, int> setUps;
    std::vector<std::pair<int, QString>> set;
    std::vector<QString> clicked;
    bool takeLetters = true;
};

// A header that paints its sections itself: a flat fill and a line at the right edge.
class FlatHeader : public QHeaderView {
public:
    FlatHeader() : QHeaderView(Qt::Horizontal) {}
    mutable int painted = 0;

protected:
    void paintSection(QPainter* painter, const QRect& rect, int) const override {
        painter->fillRect(rect, QColor(250, 251, 252));
        painter->fillRect(QRect(rect.right(), rect.top(), 1, rect.height()), QColor(231, 233, 237));
        ++painted;
    }
};

// One outline or one table in a window, both over Names with two columns.
struct ViewUnderTest {
    const char* kind;
    std::unique_ptr<kit::Window> window;
    QAbstractItemView* view = nullptr;
    kit::ItemModelAdapter* model = nullptr;
    std::function<void(kit::TableColumn)> addColumn;
    std::function<void(QHeaderView*)> setHeader;
    std::function<QHeaderView*()> header;
    std::function<int()> selectedRow;
    std::function<void(int)> selectRow;
    std::function<void()> reload;

    QRect cellRect(int row, int column) const { return view->visualRect(model->index(row, column)); }
};

// Hooks t up to view v (an outline or a table) over names.
template <class View, class QtView>
void Bind(ViewUnderTest& t, View* v, Names& names, const char* kind, QHeaderView* (QtView::*header)() const) {
    v->setDataSource(&names);
    v->setDelegate(&names);
    v->setRowHeight(24);
    t.kind = kind;
    t.view = v;
    t.model = &v->adapter();
    t.addColumn = [v](kit::TableColumn c) { v->addTableColumn(std::move(c)); };
    t.setHeader = [v](QHeaderView* h) { v->setHeaderView(h); };
    t.header = [v, header] { return (v->*header)(); };
    t.selectedRow = [v] { return v->selectedRow(); };
    t.selectRow = [v](int r) { v->selectRow(r); };
    t.reload = [v] { v->reloadData(); };
    t.window->contentView()->addSubview(v);
}

ViewUnderTest MakeView(bool outline, Names& names) {
    ViewUnderTest t;
    t.window = std::make_unique<kit::Window>(kit::MakeSize(300, 200));
    if (outline) {
        auto* v = new kit::OutlineView(kit::MakeRect(0, 0, 300, 200));
        v->setRootIsDecorated(false);
        v->setIndentation(0);
        Bind(t, v, names, "outline", &QTreeView::header);
    } else {
        auto* v = new kit::TableView(kit::MakeRect(0, 0, 300, 200));
        Bind(t, v, names, "table", &QTableView::horizontalHeader);
    }
    return t;
}

class ItemViewHooks : public testing::TestWithParam<bool> {};

TEST_P(ItemViewHooks, EachColumnPaintsItsOwnCellsOverTheRowBackgroundsAndTakesItsOwnClicks) {
    Names names;
    ViewUnderTest t = MakeView(GetParam(), names);
    auto red = std::make_shared<SwatchCell>(QColor(255, 0, 0));
    auto blue = std::make_shared<SwatchCell>(QColor(0, 0, 255));
    t.addColumn({"Name", "Name", 150, 10, 1000, false, red});
    t.addColumn({"Size", "Size", 100, 10, 1000, false, blue});
    t.reload();
    ASSERT_TRUE(uitest::ShowAndActivate(t.window.get()));

    const QImage shot = uitest::Render(t.view->viewport());
    for (int row = 0; row < 2; ++row) {
        const QRect name = t.cellRect(row, 0);
        const QRect size = t.cellRect(row, 1);
        EXPECT_EQ(QColor(shot.pixel(name.left() + 4, name.center().y())), QColor(255, 0, 0)) << t.kind << row;
        EXPECT_EQ(QColor(shot.pixel(size.left() + 4, size.center().y())), QColor(0, 0, 255)) << t.kind << row;
        EXPECT_EQ(QColor(shot.pixel(name.left() + 60, name.center().y())), Names::background(row)) << t.kind << row;
        EXPECT_EQ(QColor(shot.pixel(size.left() + 60, size.center().y())), Names::background(row)) << t.kind << row;
    }
    EXPECT_FALSE(red->drawn.empty());
    EXPECT_EQ(red->drawn.front(), "apple") << "the cell gets the source's object value";
    EXPECT_EQ(blue->drawn.front(), "0");

    // A click in the swatch is the cell's: a value for that row and column, no selection. A click
    // beside it selects the row.
    QTest::mouseClick(t.view->viewport(), Qt::LeftButton, {}, t.cellRect(2, 1).topLeft() + QPoint(4, 10));
    EXPECT_EQ(names.set, (std::vector<std::pair<int, QString>>{{2, "Size=2"}})) << t.kind;
    EXPECT_EQ(t.selectedRow(), -1) << t.kind;
    QTest::mouseClick(t.view->viewport(), Qt::LeftButton, {}, t.cellRect(2, 1).topLeft() + QPoint(40, 10));
    EXPECT_EQ(t.selectedRow(), 2) << t.kind;
    EXPECT_EQ(names.set.size(), 1u) << t.kind;
}

TEST_P(ItemViewHooks, ACallersHeaderPaintsItsSectionsShowsNoSortIndicatorAndPassesClicks) {
    Names names;
    ViewUnderTest t = MakeView(GetParam(), names);
    t.addColumn({"Name", "Name", 150});
    t.addColumn({"Size", "Size", 100});
    auto* header = new FlatHeader;
    t.setHeader(header);
    t.reload();
    ASSERT_TRUE(uitest::ShowAndActivate(t.window.get()));
    ASSERT_EQ(t.header(), header);
    EXPECT_FALSE(header->isSortIndicatorShown());
    EXPECT_EQ(header->sectionSize(0), 150);
    EXPECT_EQ(header->sectionSize(1), 100);

    const QImage shot = uitest::Render(header->viewport());
    EXPECT_GT(header->painted, 0);
    EXPECT_EQ(QColor(shot.pixel(20, header->height() / 2)), QColor(250, 251, 252)) << t.kind;
    EXPECT_EQ(QColor(shot.pixel(149, header->height() / 2)), QColor(231, 233, 237)) << t.kind;

    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(180, header->height() / 2));
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(20, header->height() / 2));
    EXPECT_EQ(names.clicked, (std::vector<QString>{"Size", "Name"})) << t.kind;
}

TEST_P(ItemViewHooks, ADelegateTakingLettersKeepsThemFromSelectingWhileArrowsStillMove) {
    Names names;
    ViewUnderTest t = MakeView(GetParam(), names);
    t.addColumn({"Name", "Name", 150});
    t.reload();
    ASSERT_TRUE(uitest::ShowAndActivate(t.window.get()));
    t.view->setFocus();
    t.selectRow(0);

    QTest::keyClick(t.view, Qt::Key_B);
    EXPECT_EQ(t.selectedRow(), 0) << t.kind << ": the delegate took \"b\"";
    QTest::keyClick(t.view, Qt::Key_Down);
    EXPECT_EQ(t.selectedRow(), 1) << t.kind;

    // Without the delegate taking it, the view's type-ahead selects by the letter.
    names.takeLetters = false;
    QTest::keyClick(t.view, Qt::Key_D);
    EXPECT_EQ(t.selectedRow(), 3) << t.kind;
}

TEST_P(ItemViewHooks, EachCellIsSetUpOncePerPaint) {
    Names names;
    ViewUnderTest t = MakeView(GetParam(), names);
    t.addColumn({"Name", "Name", 150});
    t.addColumn({"Size", "Size", 100});
    t.reload();
    t.selectRow(1);
    ASSERT_TRUE(uitest::ShowAndActivate(t.window.get()));
    uitest::ProcessEvents();

    for (int paint = 0; paint < 2; ++paint) {
        names.asked.clear();
        names.setUps.clear();
        uitest::Render(t.view->viewport());
        EXPECT_EQ(names.asked.size(), 8u) << t.kind << ": four rows, two columns";
        for (const auto& [cell, count] : names.asked) {
            EXPECT_EQ(count, 1) << t.kind << " row " << cell.first << " " << cell.second.toStdString();
        }
        EXPECT_EQ(names.setUps, names.asked) << t.kind;
    }
    // Outside a paint a value is fresh each time it is asked.
    names.names[0] = "apricot";
    EXPECT_EQ(t.model->index(0, 0).data().toString(), "apricot");
}

INSTANTIATE_TEST_SUITE_P(OutlineAndTable, ItemViewHooks, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Outline" : "Table"; });

}  // namespace
