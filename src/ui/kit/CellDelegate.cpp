#include "ui/kit/CellDelegate.h"

#include <QPainter>

namespace kit {

QSize CellDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    if (m_rowHeight > 0) size.setHeight(m_rowHeight);
    return size;
}

void CellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    if (m_hook && m_hook(*painter, option, index)) {
        QStyleOptionViewItem plain = option;
        plain.state &= ~QStyle::State_Selected;
        plain.backgroundBrush = Qt::NoBrush;
        QStyledItemDelegate::paint(painter, plain, index);
        return;
    }
    QStyledItemDelegate::paint(painter, option, index);
}

}  // namespace kit
