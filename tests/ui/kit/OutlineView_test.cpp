// The outline and table views over the one model adapter: data source, per-row cell set-up, lazy
// children, selection rules, header clicks, tick boxes and the row-paint hook.
#include <gtest/gtest.h>

#include <QHeaderView>
#include <QScrollBar>
#include <QStyleOptionViewItem>
#include <QtTest/QTest>
#include <functional>
#include <memory>
#include <vector>

#include "ui/kit/OutlineView.h"
#include "ui/kit/Window.h"
#include "uisupport/UiTest.h"

namespace {

struct Node {
    QString name;
    int state = 0;
    std::vector<Node*> children{};
    bool folder = false;
};

class Tree : public kit::OutlineDataSource, public kit::OutlineDelegate {
public:
    Tree() {
        for (const char* n : {"a", "b", "folder"}) roots.push_back(make(n));
        roots[2]->folder = true;
        for (const char* n : {"x", "y"}) roots[2]->children.push_back(make(n));
    }
    Node* make(const char* name) {
        nodes.push_back(std::make_unique<Node>(Node{name}));
        return nodes.back().get();
    }
    static Node* of(kit::Item item) { return static_cast<Node*>(item); }

    int numberOfChildrenOfItem(kit::OutlineView*, kit::Item item) override {
        if (item) ++childQuestions;
        return int(item ? of(item)->children.size() : roots.size());
    }
    kit::Item child(kit::OutlineView*, int index, kit::Item item) override {
        return item ? of(item)->children[size_t(index)] : roots[size_t(index)];
    }
    bool isItemExpandable(kit::OutlineView*, kit::Item item) override { return of(item)->folder; }
    QVariant objectValue(kit::OutlineView*, const kit::TableColumn& column, kit::Item item) override {
        return column.identifier == "isSelect" ? QVariant(of(item)->state) : QVariant(of(item)->name);
    }
    void setObjectValue(kit::OutlineView*, const QVariant& value, const kit::TableColumn&, kit::Item item) override {
        of(item)->state = value.toInt();
    }
    void willDisplayCell(kit::OutlineView*, kit::Cell& cell, const kit::TableColumn& column, kit::Item item) override {
        if (of(item)->name == "b" && column.identifier == "Name") cell.textColor = Qt::red;
    }
    bool shouldSelectItem(kit::OutlineView*, kit::Item item) override { return of(item)->name != "a"; }
    void selectionDidChange(kit::OutlineView*) override { ++selectionChanges; }
    void didClickTableColumn(kit::OutlineView*, const kit::TableColumn& column) override {
        clickedColumns.push_back(column.identifier);
    }
    bool drawRowBackground(kit::OutlineView*, QPainter& painter, const QRect& rect, kit::Item item, bool) override {
        painter.fillRect(rect, of(item)->name == "b" ? QColor(242, 242, 242) : QColor(Qt::white));
        ++rowPaints;
        return true;
    }

    std::vector<std::unique_ptr<Node>> nodes;
    std::vector<Node*> roots;
    int childQuestions = 0;
    int selectionChanges = 0;
    int rowPaints = 0;
    std::vector<QString> clickedColumns;
};

class OutlineViewTest : public testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<kit::Window>(kit::MakeSize(400, 300));
        view = new kit::OutlineView(kit::MakeRect(0, 0, 400, 300));
        view->setAutoresizingMask(kit::kViewWidthSizable | kit::kViewHeightSizable);
        view->addTableColumn({"isSelect", "", 30, 10, 100, true});
        view->addTableColumn({"Name", "Name", 200});
        view->setDataSource(&tree);
        view->setDelegate(&tree);
        view->setRowHeight(24);
        window->contentView()->addSubview(view);
        view->reloadData();
        ASSERT_TRUE(uitest::ShowAndActivate(window.get()));
    }
    QPoint centreOfRow(int row, int column = 1) {
        return view->visualRect(view->adapter().indexForItem(view->itemAtRow(row)).siblingAtColumn(column)).center();
    }

    Tree tree;
    std::unique_ptr<kit::Window> window;
    kit::OutlineView* view = nullptr;
};

TEST_F(OutlineViewTest, ChildrenAreAskedForOnlyWhenAnItemExpands) {
    EXPECT_EQ(view->numberOfRows(), 3);
    EXPECT_EQ(tree.childQuestions, 0);
    Node* folder = tree.roots[2];
    view->expandItem(folder);
    EXPECT_TRUE(view->isItemExpanded(folder));
    EXPECT_EQ(tree.childQuestions, 1);
    EXPECT_EQ(view->numberOfRows(), 5);
    EXPECT_EQ(view->itemAtRow(3), folder->children[0]);
    EXPECT_EQ(view->rowForItem(folder->children[1]), 4);
    EXPECT_EQ(view->columnWithIdentifier("Name"), 1);

    // The source changes: reloading the item with its children asks again.
    folder->children.pop_back();
    view->reloadItem(folder, true);
    EXPECT_EQ(view->numberOfRows(), 4);
    view->collapseItem(folder);
    EXPECT_EQ(view->numberOfRows(), 3);
}

TEST_F(OutlineViewTest, TheDelegateSetsUpEachCellAndPaintsRows) {
    const QModelIndex b = view->adapter().indexForItem(tree.roots[1]).siblingAtColumn(1);
    EXPECT_EQ(b.data(Qt::DisplayRole).toString(), "b");
    EXPECT_EQ(b.data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::red));
    EXPECT_FALSE(b.siblingAtColumn(0).data(Qt::DisplayRole).isValid());
    EXPECT_EQ(b.siblingAtColumn(0).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    const QImage shot = uitest::Render(view->viewport());
    EXPECT_GT(tree.rowPaints, 0);
    const QPoint inRowB = centreOfRow(1, 1) + QPoint(80, 0);
    EXPECT_EQ(QColor(shot.pixel(inRowB)), QColor(242, 242, 242));
}

TEST_F(OutlineViewTest, ASelectedRowWhoseBackgroundTheDelegatePaintsShowsItInsideItsCellsToo) {
    view->selectRow(1);
    ASSERT_EQ(view->selectedRow(), 1);
    const QImage shot = uitest::Render(view->viewport());
    const QRect name = view->visualRect(view->adapter().indexForItem(tree.roots[1]).siblingAtColumn(1));
    for (const int x : {name.left() + 30, name.right() - 2}) {
        const QPoint inside(x, name.center().y());
        EXPECT_EQ(QColor(shot.pixel(inside)), QColor(242, 242, 242))
            << inside.x() << "," << inside.y() << ": " << uitest::Rgb(shot.pixel(inside));
    }
}

TEST_F(OutlineViewTest, ClicksSelectWhatTheDelegateAllowsAndHeaderClicksReachIt) {
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, centreOfRow(0));
    EXPECT_EQ(view->selectedRow(), -1) << "row a may not be selected";
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, centreOfRow(1));
    EXPECT_EQ(view->selectedRow(), 1);
    EXPECT_EQ(view->clickedRow(), 1);
    EXPECT_GE(tree.selectionChanges, 1);
    view->selectRow(-1);
    EXPECT_EQ(view->selectedRow(), -1);

    QHeaderView* header = view->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(1) + 20, header->height() / 2));
    EXPECT_EQ(tree.clickedColumns, (std::vector<QString>{"Name"}));
}

TEST_F(OutlineViewTest, ClickingATickBoxSetsTheValueThroughTheDataSource) {
    const QModelIndex tick = view->adapter().indexForItem(tree.roots[1]).siblingAtColumn(0);
    QStyleOptionViewItem option;
    option.initFrom(view);
    option.rect = view->visualRect(tick);
    option.features |= QStyleOptionViewItem::HasCheckIndicator;
    const QRect box = view->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, view);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, box.center());
    EXPECT_EQ(tree.roots[1]->state, 2);
    EXPECT_EQ(tick.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
}

class Rows : public kit::TableDataSource, public kit::TableDelegate {
public:
    int numberOfRows(kit::TableView*) override { return int(names.size()); }
    QVariant objectValue(kit::TableView*, const kit::TableColumn& column, int row) override {
        return column.identifier == "Size" ? QVariant(QString::number(row * 100)) : QVariant(names[size_t(row)]);
    }
    void willDisplayCell(kit::TableView*, kit::Cell& cell, const kit::TableColumn&, int row) override {
        if (row == 0) cell.alignment = Qt::AlignRight | Qt::AlignVCenter;
    }
    void didClickTableColumn(kit::TableView*, const kit::TableColumn& column) override { clicked = column.identifier; }
    std::vector<QString> names{"one", "two", "three"};
    QString clicked;
};

TEST(TableView, RowsComeFromTheDataSourceAndADoubleClickSendsTheDoubleAction) {
    Rows rows;
    kit::Window window(kit::MakeSize(300, 200));
    auto* table = new kit::TableView(kit::MakeRect(0, 0, 300, 200));
    table->addTableColumn({"Name", "Name", 150});
    table->addTableColumn({"Size", "Size", 100});
    table->setDataSource(&rows);
    table->setDelegate(&rows);
    window.contentView()->addSubview(table);
    table->reloadData();
    ASSERT_TRUE(uitest::ShowAndActivate(&window));

    EXPECT_EQ(table->numberOfRows(), 3);
    EXPECT_EQ(table->adapter().index(2, 1).data().toString(), "200");
    EXPECT_EQ(table->adapter().index(0, 0).data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight | Qt::AlignVCenter));
    int doubles = 0;
    table->setDoubleAction([&] { ++doubles; });
    const QPoint second = table->visualRect(table->adapter().index(1, 0)).center();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, second);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, second);
    EXPECT_EQ(doubles, 1);
    EXPECT_EQ(table->selectedRow(), 1);
    EXPECT_EQ(table->clickedRow(), 1);
    rows.names.push_back("four");
    table->reloadData();
    EXPECT_EQ(table->numberOfRows(), 4);
    QHeaderView* header = table->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(1) + 10, header->height() / 2));
    EXPECT_EQ(rows.clicked, "Size");
}

// ---- Reloads keep what the source still gives

struct Branch {
    QString name;
    std::vector<std::unique_ptr<Branch>> children{};
    Branch* add(const char* child) {
        children.push_back(std::make_unique<Branch>(Branch{child}));
        return children.back().get();
    }
};

class Branches : public kit::OutlineDataSource, public kit::OutlineDelegate {
public:
    Branches() {
        a = root.add("a");
        a->add("a1");
        a->add("a2");
        b = root.add("b");
        b1 = b->add("b1");
        c = b1->add("c");
        root.add("d");
    }
    static Branch* of(kit::Item item) { return static_cast<Branch*>(item); }
    Branch& at(kit::Item item) { return item ? *of(item) : root; }
    int numberOfChildrenOfItem(kit::OutlineView*, kit::Item item) override { return int(at(item).children.size()); }
    kit::Item child(kit::OutlineView*, int index, kit::Item item) override {
        return at(item).children[size_t(index)].get();
    }
    bool isItemExpandable(kit::OutlineView*, kit::Item item) override { return !of(item)->children.empty(); }
    QVariant objectValue(kit::OutlineView*, const kit::TableColumn&, kit::Item item) override {
        return of(item)->name;
    }
    void selectionDidChange(kit::OutlineView*) override { ++selectionChanges; }

    Branch root;
    Branch* a;
    Branch* b;
    Branch* b1;
    Branch* c;
    int selectionChanges = 0;
};

TEST(OutlineReload, ExpandedAndSelectedItemsStayThroughReloadsAndADroppedOneGoesQuietly) {
    Branches tree;
    kit::Window window(kit::MakeSize(300, 300));
    auto* view = new kit::OutlineView(kit::MakeRect(0, 0, 300, 300));
    view->setRowHeight(20);
    view->addTableColumn({"Name", "Name", 200});
    view->setDataSource(&tree);
    view->setDelegate(&tree);
    window.contentView()->addSubview(view);
    view->reloadData();
    ASSERT_TRUE(uitest::ShowAndActivate(&window));

    view->expandItem(tree.a);
    view->expandItem(tree.b);
    view->expandItem(tree.b1);
    view->selectRow(view->rowForItem(tree.c));
    const int cRow = view->selectedRow();
    ASSERT_EQ(cRow, 5);  // a a1 a2 b b1 c
    tree.selectionChanges = 0;
    // Low enough to scroll: the rows stay where the user scrolled them, the selection out of sight.
    view->setFrameSize(kit::MakeSize(300, 70));
    uitest::ProcessEvents();
    view->verticalScrollBar()->setValue(0);
    const int scroll = view->verticalScrollBar()->value();
    ASSERT_GT(view->verticalScrollBar()->maximum(), 0);

    struct Step {
        const char* what;
        std::function<void()> reload;
    };
    const Step steps[] = {
        {"reloadData", [&] { view->reloadData(); }},
        {"reloadItem(b, true)", [&] { view->reloadItem(tree.b, true); }},
        {"reloadItem(a, true)", [&] { view->reloadItem(tree.a, true); }},
        {"reloadItem(null, true)", [&] { view->reloadItem(nullptr, true); }},
    };
    for (const Step& step : steps) {
        step.reload();
        EXPECT_TRUE(view->isItemExpanded(tree.a)) << step.what;
        EXPECT_TRUE(view->isItemExpanded(tree.b)) << step.what;
        EXPECT_TRUE(view->isItemExpanded(tree.b1)) << step.what;
        EXPECT_EQ(view->selectedRow(), cRow) << step.what;
        EXPECT_EQ(view->itemAtRow(view->selectedRow()), tree.c) << step.what;
        EXPECT_EQ(view->numberOfRows(), 7) << step.what;
        EXPECT_EQ(view->verticalScrollBar()->value(), scroll) << step.what;
    }
    EXPECT_EQ(tree.selectionChanges, 0) << "a selection kept is no change";

    // The source drops b1 (and c below it): the item is gone, b stays open, nothing is selected and
    // the delegate hears of it once.
    tree.b->children.clear();
    view->reloadData();
    EXPECT_TRUE(view->isItemExpanded(tree.a));
    EXPECT_EQ(view->selectedRow(), -1);
    EXPECT_EQ(view->numberOfRows(), 5);
    EXPECT_EQ(tree.selectionChanges, 1);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(view->adapter().index(0, 0)).center());
    EXPECT_EQ(view->selectedRow(), 0);
}

TEST(TableReload, TheSelectedRowStaysWhileItExists) {
    Rows rows;
    rows.names = {"0", "1", "2", "3", "4"};
    kit::Window window(kit::MakeSize(300, 200));
    auto* table = new kit::TableView(kit::MakeRect(0, 0, 300, 200));
    table->addTableColumn({"Name", "Name", 150});
    table->setDataSource(&rows);
    table->setDelegate(&rows);
    window.contentView()->addSubview(table);
    table->setRowHeight(20);
    table->reloadData();
    ASSERT_TRUE(uitest::ShowAndActivate(&window));
    table->setFrameSize(kit::MakeSize(300, 50));
    table->selectRow(3);
    table->verticalScrollBar()->setValue(0);
    table->reloadData();
    EXPECT_EQ(table->selectedRow(), 3);
    EXPECT_EQ(table->verticalScrollBar()->value(), 0) << "a kept selection scrolls nowhere";
    rows.names.resize(2);
    table->reloadData();
    EXPECT_EQ(table->selectedRow(), -1);
    EXPECT_EQ(table->numberOfRows(), 2);
}

}  // namespace
