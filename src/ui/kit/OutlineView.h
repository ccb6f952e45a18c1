// kit::OutlineView over QTreeView and kit::TableView over QTableView, both on the one
// ItemModelAdapter: a data source gives the rows (or items) and values, a delegate sets up each cell
// before it is drawn, decides what may be selected, hears of selection changes and header clicks,
// may take key presses before the view does, and may paint row backgrounds. Rows are counted as shown
// (expanded items' children included). Reloads keep what the source still gives: the expanded items
// and the selected item of an outline, the selected row of a table.
#pragma once

#include <QHeaderView>
#include <QKeyEvent>
#include <QTableView>
#include <QTreeView>
#include <functional>
#include <memory>

#include "ui/kit/CellDelegate.h"
#include "ui/kit/ItemModelAdapter.h"
#include "ui/kit/ViewBase.h"

namespace kit {

class OutlineView;

class OutlineDataSource {
public:
    virtual ~OutlineDataSource() = default;
    // item null is the root.
    virtual int numberOfChildrenOfItem(OutlineView* view, Item item) = 0;
    virtual Item child(OutlineView* view, int index, Item item) = 0;
    virtual bool isItemExpandable(OutlineView* view, Item item) = 0;
    virtual QVariant objectValue(OutlineView* view, const TableColumn& column, Item item) = 0;
    // A tick box clicked: value is the new state (0 or 2; 1 never comes from a click).
    virtual void setObjectValue(OutlineView* view, const QVariant& value, const TableColumn& column, Item item) {}
};

class OutlineDelegate {
public:
    virtual ~OutlineDelegate() = default;
    virtual void willDisplayCell(OutlineView* view, Cell& cell, const TableColumn& column, Item item) {}
    virtual bool shouldSelectItem(OutlineView* view, Item item) { return true; }
    virtual void selectionDidChange(OutlineView* view) {}
    virtual void didClickTableColumn(OutlineView* view, const TableColumn& column) {}
    // A key pressed in the view, before the view's own handling (arrows, type-ahead selection by
    // letters); true when the delegate took it.
    virtual bool keyDown(OutlineView* view, QKeyEvent* event) { return false; }
    // Paints the background of item's row into rect (Qt's coordinates of the viewport); true when
    // it painted.
    virtual bool drawRowBackground(OutlineView* view, QPainter& painter, const QRect& rect, Item item,
                                   bool selected) {
        return false;
    }
};

class OutlineView : public ViewBase<QTreeView>, private ItemSource {
public:
    explicit OutlineView(const Rect& frame = {});
    ~OutlineView() override;

    void addTableColumn(TableColumn column);
    const std::vector<TableColumn>& tableColumns() const { return m_model->columns(); }
    int columnWithIdentifier(const QString& identifier) const { return m_model->columnWithIdentifier(identifier); }

    void setDataSource(OutlineDataSource* source) { m_source = source; }
    void setDelegate(OutlineDelegate* delegate) { m_delegate = delegate; }
    // Asks the source for everything again; the items it still gives stay expanded and selected.
    void reloadData();
    // Redraws item's row; with children also asks for item's children again, keeping the expanded
    // and selected items below it that the source still gives.
    void reloadItem(Item item, bool reloadChildren = false);

    void expandItem(Item item, bool expandChildren = false);
    void collapseItem(Item item);
    bool isItemExpanded(Item item) const;

    int numberOfRows() const;
    Item itemAtRow(int row) const;
    int rowForItem(Item item) const;
    int selectedRow() const;
    // Selects row (-1: nothing) without asking the delegate.
    void selectRow(int row);
    // The row of the last click, -1 when it was not on a row.
    int clickedRow() const { return m_clickedRow; }
    void setDoubleAction(std::function<void()> action) { m_doubleAction = std::move(action); }
    void setHeaderVisible(bool visible);
    // Puts header (the caller's, which may paint its own sections) in place of the view's; the view
    // takes it over. Its clicks reach didClickTableColumn; it shows no sort indicator.
    void setHeaderView(QHeaderView* header);
    void setRowHeight(double height);

    ItemModelAdapter& adapter() { return *m_model; }

protected:
    // A key press: the delegate's keyDown first, then the view's own keys (arrows, type-ahead).
    // Subclasses override it as AppKit's keyDown: and call this one for the keys they leave.
    virtual void keyDown(QKeyEvent* event);

    void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    struct SavedState {
        std::vector<Item> expanded;  // parents before their children
        Item selected = nullptr;
    };
    SavedState saveState(Item under) const;
    void restoreState(const SavedState& state);
    void reloadKeepingState(Item under, const std::function<void()>& reload);
    Item selectedItem() const;
    void columnClicked(int section);

    int childCount(Item parent) override;
    Item child(int index, Item parent) override;
    bool isExpandable(Item item) override;
    QVariant objectValue(int column, Item item) override;
    void setObjectValue(const QVariant& value, int column, Item item) override;
    void setUpCell(Cell& cell, int column, Item item) override;

    ItemModelAdapter* m_model;  // a child of the view
    CellDelegate* m_cells;
    OutlineDataSource* m_source = nullptr;
    OutlineDelegate* m_delegate = nullptr;
    std::function<void()> m_doubleAction;
    int m_clickedRow = -1;
    bool m_restoring = false;
    // Set while a row whose background the delegate painted draws its cells (without selection).
    mutable bool m_rowBackgroundPainted = false;
};

class TableView;

class TableDataSource {
public:
    virtual ~TableDataSource() = default;
    virtual int numberOfRows(TableView* view) = 0;
    virtual QVariant objectValue(TableView* view, const TableColumn& column, int row) = 0;
    virtual void setObjectValue(TableView* view, const QVariant& value, const TableColumn& column, int row) {}
};

class TableDelegate {
public:
    virtual ~TableDelegate() = default;
    virtual void willDisplayCell(TableView* view, Cell& cell, const TableColumn& column, int row) {}
    virtual bool shouldSelectRow(TableView* view, int row) { return true; }
    virtual void selectionDidChange(TableView* view) {}
    virtual void didClickTableColumn(TableView* view, const TableColumn& column) {}
    // A key pressed in the view, before the view's own handling; true when the delegate took it.
    virtual bool keyDown(TableView* view, QKeyEvent* event) { return false; }
    // Paints the background of one cell of row into rect; true when it painted.
    virtual bool drawRowBackground(TableView* view, QPainter& painter, const QRect& rect, int row, bool selected) {
        return false;
    }
};

class TableView : public ViewBase<QTableView>, private ItemSource {
public:
    explicit TableView(const Rect& frame = {});
    ~TableView() override;

    void addTableColumn(TableColumn column);
    const std::vector<TableColumn>& tableColumns() const { return m_model->columns(); }
    int columnWithIdentifier(const QString& identifier) const { return m_model->columnWithIdentifier(identifier); }

    void setDataSource(TableDataSource* source) { m_source = source; }
    void setDelegate(TableDelegate* delegate) { m_delegate = delegate; }
    // Asks the source for every row again; the selected row stays selected while it exists.
    void reloadData();
    // Redraws one row.
    void reloadRow(int row);

    int numberOfRows() const { return m_model->rowCount(); }
    int selectedRow() const;
    void selectRow(int row);
    int clickedRow() const { return m_clickedRow; }
    void setDoubleAction(std::function<void()> action) { m_doubleAction = std::move(action); }
    void setHeaderVisible(bool visible);
    // Puts header (the caller's) in place of the view's horizontal header; as for the outline.
    void setHeaderView(QHeaderView* header);
    void setRowHeight(double height);

    ItemModelAdapter& adapter() { return *m_model; }

protected:
    // A key press: the delegate's keyDown first, then the view's own keys; see OutlineView::keyDown.
    virtual void keyDown(QKeyEvent* event);

    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    int childCount(Item parent) override;
    Item child(int index, Item parent) override;
    bool isExpandable(Item) override { return false; }
    QVariant objectValue(int column, Item item) override;
    void setObjectValue(const QVariant& value, int column, Item item) override;
    void setUpCell(Cell& cell, int column, Item item) override;
    static int rowOf(Item item) { return int(reinterpret_cast<intptr_t>(item)) - 1; }
    void columnClicked(int section);

    ItemModelAdapter* m_model;  // a child of the view
    CellDelegate* m_cells;
    TableDataSource* m_source = nullptr;
    TableDelegate* m_delegate = nullptr;
    std::function<void()> m_doubleAction;
    int m_clickedRow = -1;
    bool m_restoring = false;
};

}  // namespace kit
