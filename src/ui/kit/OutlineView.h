// kit::OutlineView over QTreeView and kit::TableView over QTableView, both on the one
// ItemModelAdapter: a data source gives the rows (or items) and values, a delegate sets up each cell
// before it is drawn, decides what may be selected, hears of selection changes and header clicks,
// and may paint row backgrounds. Rows are counted as shown (expanded items' children included).
#pragma once

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
    void reloadData();
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
    void setRowHeight(double height);

    ItemModelAdapter& adapter() { return *m_model; }

protected:
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;
    void mousePressEvent(QMouseEvent* event) override;

private:
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
    void reloadData();
    // Redraws one row.
    void reloadRow(int row);

    int numberOfRows() const { return m_model->rowCount(); }
    int selectedRow() const;
    void selectRow(int row);
    int clickedRow() const { return m_clickedRow; }
    void setDoubleAction(std::function<void()> action) { m_doubleAction = std::move(action); }
    void setHeaderVisible(bool visible);
    void setRowHeight(double height);

    ItemModelAdapter& adapter() { return *m_model; }

protected:
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    int childCount(Item parent) override;
    Item child(int index, Item parent) override;
    bool isExpandable(Item) override { return false; }
    QVariant objectValue(int column, Item item) override;
    void setObjectValue(const QVariant& value, int column, Item item) override;
    void setUpCell(Cell& cell, int column, Item item) override;
    static int rowOf(Item item) { return int(reinterpret_cast<intptr_t>(item)) - 1; }

    ItemModelAdapter* m_model;  // a child of the view
    CellDelegate* m_cells;
    TableDataSource* m_source = nullptr;
    TableDelegate* m_delegate = nullptr;
    std::function<void()> m_doubleAction;
    int m_clickedRow = -1;
};

}  // namespace kit
