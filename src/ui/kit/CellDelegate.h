// The item delegate of the kit's table and outline views: a fixed row height, a hook that may paint
// a cell's background first (the row-paint hook of the views), and the columns' own cells
// (TableColumn::dataCell), which draw their cells and may take their clicks. Every value comes from
// the adapter's cell, set up once per paint.
#pragma once

#include <QStyledItemDelegate>
#include <functional>

namespace kit {

class ColumnCell;
class ItemModelAdapter;

class CellDelegate : public QStyledItemDelegate {
public:
    // Paints under the cell; true when it painted (the selection highlight is then left out).
    using BackgroundHook = std::function<bool(QPainter&, const QStyleOptionViewItem&, const QModelIndex&)>;

    explicit CellDelegate(QObject* parent = nullptr) : QStyledItemDelegate(parent) {}

    void setRowHeight(int height) { m_rowHeight = height; }
    int rowHeight() const { return m_rowHeight; }
    void setBackgroundHook(BackgroundHook hook) { m_hook = std::move(hook); }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

protected:
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

private:
    static ColumnCell* columnCell(const QModelIndex& index);

    int m_rowHeight = 0;
    BackgroundHook m_hook;
};

}  // namespace kit
