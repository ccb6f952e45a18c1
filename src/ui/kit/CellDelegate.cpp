#include "ui/kit/CellDelegate.h"

#include <QAbstractItemView>
#include <QMouseEvent>
#include <QPainter>

#include "ui/kit/ColumnCell.h"
#include "ui/kit/ItemModelAdapter.h"

namespace kit {

namespace {

const ItemModelAdapter* AdapterOf(const QModelIndex& index) {
    return dynamic_cast<const ItemModelAdapter*>(index.model());
}

CellContext ContextOf(const QStyleOptionViewItem& option, const QModelIndex& index) {
    auto* adapter = const_cast<ItemModelAdapter*>(AdapterOf(index));
    CellContext context;
    context.view = qobject_cast<QAbstractItemView*>(const_cast<QWidget*>(option.widget));
    context.model = adapter;
    context.index = index;
    context.item = adapter ? adapter->itemForIndex(index) : nullptr;
    context.selected = option.state & QStyle::State_Selected;
    return context;
}

}  // namespace

ColumnCell* CellDelegate::columnCell(const QModelIndex& index) {
    const ItemModelAdapter* adapter = AdapterOf(index);
    if (!adapter || index.column() < 0 || index.column() >= int(adapter->columns().size())) return nullptr;
    return adapter->columns()[size_t(index.column())].dataCell.get();
}

QSize CellDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size;
    if (ColumnCell* cell = columnCell(index)) {
        size = cell->cellSize(AdapterOf(index)->cell(index));
        if (size.isEmpty()) size = QSize(option.rect.width(), option.fontMetrics.height());
    } else {
        size = QStyledItemDelegate::sizeHint(option, index);
    }
    if (m_rowHeight > 0) size.setHeight(m_rowHeight);
    return size;
}

void CellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const bool painted = m_hook && m_hook(*painter, option, index);
    ColumnCell* cell = columnCell(index);
    if (!cell) {
        if (!painted) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem plain = option;
        plain.state &= ~QStyle::State_Selected;
        plain.backgroundBrush = Qt::NoBrush;
        QStyledItemDelegate::paint(painter, plain, index);
        return;
    }
    if (!painted) {
        // The style's panel: the selection highlight, as a text cell of the row gets it.
        QStyleOptionViewItem panel = option;
        initStyleOption(&panel, index);
        panel.text.clear();
        panel.icon = QIcon();
        panel.features &= ~QStyleOptionViewItem::HasCheckIndicator;
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : nullptr;
        if (style) style->drawPrimitive(QStyle::PE_PanelItemViewItem, &panel, painter, widget);
    }
    painter->save();
    cell->drawWithFrame(*painter, option.rect, AdapterOf(index)->cell(index), ContextOf(option, index));
    painter->restore();
}

bool CellDelegate::editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                               const QModelIndex& index) {
    ColumnCell* cell = columnCell(index);
    if (!cell) return QStyledItemDelegate::editorEvent(event, model, option, index);
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (!option.rect.contains(mouse->position().toPoint())) return false;
            return cell->mouseEvent(mouse, option.rect, AdapterOf(index)->cell(index), ContextOf(option, index));
        }
        default: return false;
    }
}

}  // namespace kit
