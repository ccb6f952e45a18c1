#include "ui/kit/OutlineView.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <cmath>

#include "ui/kit/ColumnCell.h"

namespace kit {

namespace {

void SizeSections(const ItemModelAdapter& model, QHeaderView* header) {
    const std::vector<TableColumn>& columns = model.columns();
    for (size_t i = 0; i < columns.size(); ++i) {
        const TableColumn& c = columns[i];
        header->resizeSection(int(i), int(std::lround(std::clamp(c.width, c.minWidth, c.maxWidth))));
    }
}

// A header of the view (its own or the caller's): clickable sections of the columns' widths, no sort
// indicator, clicks to onColumn with the column's index.
void SetUpHeader(QAbstractItemView* view, QHeaderView* header, const ItemModelAdapter* model,
                 std::function<void(int)> onColumn) {
    header->setSectionsClickable(true);
    header->setStretchLastSection(false);
    header->setSortIndicatorShown(false);
    SizeSections(*model, header);
    QObject::connect(header, &QHeaderView::sectionClicked, view, [model, onColumn = std::move(onColumn)](int section) {
        if (section >= 0 && section < int(model->columns().size())) onColumn(section);
    });
}

// What the outline and the table share: single row selection, no editing, the adapter and the cell
// delegate, header clicks to onColumn (with the column's index) and double clicks on a row to onDouble.
void SetUpItemView(QAbstractItemView* view, QHeaderView* header, ItemModelAdapter* model, CellDelegate* cells,
                   std::function<void(int)> onColumn, std::function<void()> onDouble) {
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setFrameShape(QFrame::NoFrame);
    view->setItemDelegate(cells);
    view->setModel(model);
    SetUpHeader(view, header, model, std::move(onColumn));
    QObject::connect(view, &QAbstractItemView::doubleClicked, view,
                     [onDouble = std::move(onDouble)](const QModelIndex&) { onDouble(); });
}

void AddColumn(ItemModelAdapter& model, QHeaderView* header, TableColumn column) {
    std::vector<TableColumn> columns = model.columns();
    columns.push_back(std::move(column));
    model.setColumns(columns);
    SizeSections(model, header);
}

// Selects index alone (rows), or nothing for an invalid index.
void SelectOnly(QItemSelectionModel* selection, const QModelIndex& index) {
    if (!index.isValid()) {
        selection->clearSelection();
        return;
    }
    selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

// A view's scroll position across a reload: kept, and the reselection scrolls nowhere.
class KeptScrollPosition {
public:
    explicit KeptScrollPosition(QAbstractItemView* view)
        : m_view(view),
          m_x(view->horizontalScrollBar()->value()),
          m_y(view->verticalScrollBar()->value()),
          m_autoScroll(view->hasAutoScroll()) {
        view->setAutoScroll(false);
    }
    // Puts the position back once the view has laid out its rows again.
    void restore(const std::function<void()>& layOut) {
        layOut();
        m_view->horizontalScrollBar()->setValue(m_x);
        m_view->verticalScrollBar()->setValue(m_y);
    }
    ~KeptScrollPosition() { m_view->setAutoScroll(m_autoScroll); }

private:
    QAbstractItemView* m_view;
    int m_x;
    int m_y;
    bool m_autoScroll;
};

}  // namespace

// ---- OutlineView

OutlineView::OutlineView(const Rect& frame)
    : ViewBase<QTreeView>(frame), m_model(new ItemModelAdapter(*this, false, this)), m_cells(new CellDelegate(this)) {
    SetUpItemView(
        this, header(), m_model, m_cells,
        [this](int section) { columnClicked(section); },
        [this] {
            if (m_doubleAction) m_doubleAction();
        });
    // The cells of a row whose background the delegate painted draw without the selection highlight.
    m_cells->setBackgroundHook(
        [this](QPainter&, const QStyleOptionViewItem&, const QModelIndex&) { return m_rowBackgroundPainted; });
}

OutlineView::~OutlineView() { setModel(nullptr); }

void OutlineView::addTableColumn(TableColumn column) { AddColumn(*m_model, header(), std::move(column)); }

void OutlineView::setHeaderView(QHeaderView* view) {
    if (!view || view == header()) return;
    setHeader(view);
    SetUpHeader(this, view, m_model, [this](int section) { columnClicked(section); });
}

Item OutlineView::selectedItem() const {
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? nullptr : m_model->itemForIndex(rows.front());
}

OutlineView::SavedState OutlineView::saveState(Item under) const {
    SavedState state;
    state.selected = selectedItem();
    m_model->visitFetched(under, [&](const QModelIndex& index) {
        if (isExpanded(index)) state.expanded.push_back(m_model->itemForIndex(index));
    });
    return state;
}

void OutlineView::restoreState(const SavedState& state) {
    // Items are compared, never used: one the source no longer gives is simply not found.
    m_model->rowCount();  // the roots are met
    for (Item item : state.expanded) {
        const QModelIndex index = m_model->indexForItem(item);
        if (!index.isValid()) continue;
        m_model->rowCount(index);  // its children are met, so expanded ones below it are found
        expand(index);
    }
    SelectOnly(selectionModel(), state.selected ? m_model->indexForItem(state.selected) : QModelIndex());
}

void OutlineView::reloadKeepingState(Item under, const std::function<void()>& reload) {
    const SavedState state = saveState(under);
    KeptScrollPosition scroll(this);
    m_restoring = true;
    reload();
    restoreState(state);
    scroll.restore([this] { executeDelayedItemsLayout(); });
    m_restoring = false;
    // The delegate hears of a change only when the selected item went away.
    if (m_delegate && selectedItem() != state.selected) m_delegate->selectionDidChange(this);
}

void OutlineView::reloadData() {
    reloadKeepingState(nullptr, [this] { m_model->reloadData(); });
}

void OutlineView::reloadItem(Item item, bool reloadChildren) {
    if (!item) {
        reloadData();
    } else if (!reloadChildren) {
        m_model->reloadItem(item, false);
    } else {
        reloadKeepingState(item, [this, item] { m_model->reloadItem(item, true); });
    }
}

void OutlineView::columnClicked(int section) {
    if (m_delegate) m_delegate->didClickTableColumn(this, tableColumns()[size_t(section)]);
}

void OutlineView::expandItem(Item item, bool expandChildren) {
    const QModelIndex index = m_model->indexForItem(item);
    if (!index.isValid()) return;
    if (expandChildren) {
        expandRecursively(index);
    } else {
        expand(index);
    }
}

void OutlineView::collapseItem(Item item) {
    const QModelIndex index = m_model->indexForItem(item);
    if (index.isValid()) collapse(index);
}

bool OutlineView::isItemExpanded(Item item) const {
    const QModelIndex index = m_model->indexForItem(item);
    return index.isValid() && isExpanded(index);
}

int OutlineView::numberOfRows() const {
    int rows = 0;
    for (QModelIndex i = m_model->index(0, 0); i.isValid(); i = indexBelow(i)) ++rows;
    return rows;
}

Item OutlineView::itemAtRow(int row) const {
    if (row < 0) return nullptr;
    QModelIndex i = m_model->index(0, 0);
    for (int r = 0; i.isValid() && r < row; ++r) i = indexBelow(i);
    return i.isValid() ? m_model->itemForIndex(i) : nullptr;
}

int OutlineView::rowForItem(Item item) const {
    int row = 0;
    for (QModelIndex i = m_model->index(0, 0); i.isValid(); i = indexBelow(i), ++row) {
        if (m_model->itemForIndex(i) == item) return row;
    }
    return -1;
}

int OutlineView::selectedRow() const {
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rowForItem(m_model->itemForIndex(rows.front()));
}

void OutlineView::selectRow(int row) {
    const Item item = itemAtRow(row);
    SelectOnly(selectionModel(), item ? m_model->indexForItem(item) : QModelIndex());
}

void OutlineView::setHeaderVisible(bool visible) { header()->setVisible(visible); }

void OutlineView::setRowHeight(double height) {
    setUniformRowHeights(true);
    m_cells->setRowHeight(int(std::lround(height)));
    doItemsLayout();
}

void OutlineView::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    if (m_delegate) {
        const bool selected = selectionModel()->isSelected(index);
        QRect rowRect = option.rect;
        rowRect.setLeft(0);
        rowRect.setRight(viewport()->width());
        if (m_delegate->drawRowBackground(const_cast<OutlineView*>(this), *painter, rowRect,
                                          m_model->itemForIndex(index), selected)) {
            QStyleOptionViewItem plain = option;
            plain.state &= ~QStyle::State_Selected;
            m_rowBackgroundPainted = true;
            QTreeView::drawRow(painter, plain, index);
            m_rowBackgroundPainted = false;
            return;
        }
    }
    QTreeView::drawRow(painter, option, index);
}

void OutlineView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    QTreeView::selectionChanged(selected, deselected);
    if (m_delegate && !m_restoring) m_delegate->selectionDidChange(this);
}

QItemSelectionModel::SelectionFlags OutlineView::selectionCommand(const QModelIndex& index,
                                                                  const QEvent* event) const {
    if (index.isValid() && m_delegate &&
        !m_delegate->shouldSelectItem(const_cast<OutlineView*>(this), m_model->itemForIndex(index))) {
        return QItemSelectionModel::NoUpdate;
    }
    return QTreeView::selectionCommand(index, event);
}

void OutlineView::mousePressEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    m_clickedRow = index.isValid() ? rowForItem(m_model->itemForIndex(index)) : -1;
    QTreeView::mousePressEvent(event);
}

void OutlineView::keyPressEvent(QKeyEvent* event) { keyDown(event); }

void OutlineView::keyDown(QKeyEvent* event) {
    if (m_delegate && m_delegate->keyDown(this, event)) {
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void OutlineView::paintEvent(QPaintEvent* event) {
    const ItemModelAdapter::PaintScope cells(*m_model);
    QTreeView::paintEvent(event);
}

int OutlineView::childCount(Item parent) { return m_source ? m_source->numberOfChildrenOfItem(this, parent) : 0; }

Item OutlineView::child(int index, Item parent) { return m_source ? m_source->child(this, index, parent) : nullptr; }

bool OutlineView::isExpandable(Item item) { return m_source && m_source->isItemExpandable(this, item); }

QVariant OutlineView::objectValue(int column, Item item) {
    return m_source ? m_source->objectValue(this, tableColumns()[size_t(column)], item) : QVariant();
}

void OutlineView::setObjectValue(const QVariant& value, int column, Item item) {
    if (m_source) m_source->setObjectValue(this, value, tableColumns()[size_t(column)], item);
}

void OutlineView::setUpCell(Cell& cell, int column, Item item) {
    if (m_delegate) m_delegate->willDisplayCell(this, cell, tableColumns()[size_t(column)], item);
}

// ---- TableView

TableView::TableView(const Rect& frame)
    : ViewBase<QTableView>(frame), m_model(new ItemModelAdapter(*this, true, this)), m_cells(new CellDelegate(this)) {
    SetUpItemView(
        this, horizontalHeader(), m_model, m_cells,
        [this](int section) { columnClicked(section); },
        [this] {
            if (m_doubleAction) m_doubleAction();
        });
    verticalHeader()->hide();
    setShowGrid(false);
    horizontalHeader()->setHighlightSections(false);
    m_cells->setBackgroundHook([this](QPainter& painter, const QStyleOptionViewItem& option, const QModelIndex& index) {
        if (!m_delegate) return false;
        const bool selected = option.state & QStyle::State_Selected;
        return m_delegate->drawRowBackground(this, painter, option.rect, index.row(), selected);
    });
}

TableView::~TableView() { setModel(nullptr); }

void TableView::addTableColumn(TableColumn column) { AddColumn(*m_model, horizontalHeader(), std::move(column)); }

void TableView::setHeaderView(QHeaderView* view) {
    if (!view || view == horizontalHeader()) return;
    setHorizontalHeader(view);
    view->setHighlightSections(false);
    SetUpHeader(this, view, m_model, [this](int section) { columnClicked(section); });
}

void TableView::columnClicked(int section) {
    if (m_delegate) m_delegate->didClickTableColumn(this, tableColumns()[size_t(section)]);
}

void TableView::reloadData() {
    const int selected = selectedRow();
    KeptScrollPosition scroll(this);
    m_restoring = true;
    m_model->reloadData();
    if (selected >= 0 && selected < numberOfRows()) selectRow(selected);
    scroll.restore([this] { executeDelayedItemsLayout(); });
    m_restoring = false;
    if (m_delegate && selectedRow() != selected) m_delegate->selectionDidChange(this);
}

void TableView::reloadRow(int row) {
    if (row < 0 || row >= numberOfRows() || tableColumns().empty()) return;
    emit m_model->dataChanged(m_model->index(row, 0), m_model->index(row, int(tableColumns().size()) - 1));
}

int TableView::selectedRow() const {
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

void TableView::selectRow(int row) {
    SelectOnly(selectionModel(), row >= 0 && row < numberOfRows() ? m_model->index(row, 0) : QModelIndex());
}

void TableView::setHeaderVisible(bool visible) { horizontalHeader()->setVisible(visible); }

void TableView::setRowHeight(double height) {
    const int h = int(std::lround(height));
    m_cells->setRowHeight(h);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(h);
}

void TableView::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
    QTableView::selectionChanged(selected, deselected);
    if (m_delegate && !m_restoring) m_delegate->selectionDidChange(this);
}

QItemSelectionModel::SelectionFlags TableView::selectionCommand(const QModelIndex& index, const QEvent* event) const {
    if (index.isValid() && m_delegate && !m_delegate->shouldSelectRow(const_cast<TableView*>(this), index.row())) {
        return QItemSelectionModel::NoUpdate;
    }
    return QTableView::selectionCommand(index, event);
}

void TableView::mousePressEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    m_clickedRow = index.isValid() ? index.row() : -1;
    QTableView::mousePressEvent(event);
}

void TableView::keyPressEvent(QKeyEvent* event) { keyDown(event); }

void TableView::keyDown(QKeyEvent* event) {
    if (m_delegate && m_delegate->keyDown(this, event)) {
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void TableView::paintEvent(QPaintEvent* event) {
    const ItemModelAdapter::PaintScope cells(*m_model);
    QTableView::paintEvent(event);
}

int TableView::childCount(Item parent) { return !parent && m_source ? m_source->numberOfRows(this) : 0; }

// Rows are the items of a table: row r is the item r + 1 (null stays the root).
Item TableView::child(int index, Item) { return reinterpret_cast<Item>(intptr_t(index) + 1); }

QVariant TableView::objectValue(int column, Item item) {
    return m_source ? m_source->objectValue(this, tableColumns()[size_t(column)], rowOf(item)) : QVariant();
}

void TableView::setObjectValue(const QVariant& value, int column, Item item) {
    if (m_source) m_source->setObjectValue(this, value, tableColumns()[size_t(column)], rowOf(item));
}

void TableView::setUpCell(Cell& cell, int column, Item item) {
    if (m_delegate) m_delegate->willDisplayCell(this, cell, tableColumns()[size_t(column)], rowOf(item));
}

}  // namespace kit
