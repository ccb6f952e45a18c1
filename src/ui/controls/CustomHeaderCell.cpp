#include "ui/controls/CustomHeaderCell.h"

#include <QPainterPath>
#include <QStyleOptionHeader>

namespace {

constexpr int kTitleInset = 3;
constexpr int kSortIndicatorRoom = 8;

// The text of a uniform title in its first run's font and colour, clipped to rect, from its top left.
void DrawTitle(QPainter& painter, const QRect& rect, const kit::AttributedString& title, const QFont& font,
               const QColor& colour) {
    const QString text = title.string();
    if (text.isEmpty() || rect.isEmpty()) return;
    const kit::TextRun& run = title.runs().front();
    painter.save();
    painter.setClipRect(rect, Qt::IntersectClip);
    painter.setFont(run.font.value_or(font));
    painter.setPen(run.color.isValid() ? run.color : colour);
    painter.drawText(rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    painter.restore();
}

}  // namespace

// ---- CustomHeaderCell

QFont CustomHeaderCell::titleFont() {
    QFont font(QStringLiteral("Helvetica"));
    font.setPixelSize(12);
    return font;
}

CustomHeaderCell::CustomHeaderCell(kit::AttributedString title) {
    title.setFont(titleFont()).setColor(kHeaderInitialTitleColor);
    setAttributedStringValue(std::move(title));
}

const kit::AttributedString& CustomHeaderCell::getStr() {
    kit::AttributedString title = attributedStringValue();
    title.setFont(titleFont()).setColor(kHeaderTitleColor);
    setAttributedStringValue(std::move(title));
    return attributedStringValue();
}

QRect CustomHeaderCell::titleRectForFrame(const QRect& frame) const {
    QRect title = frame;
    if (m_priority == 0) {
        title.setWidth(title.width() - kSortIndicatorRoom);
    } else {
        title.translate(kTitleInset, 0);
    }
    title.translate(0, kTitleInset);
    return title;
}

void CustomHeaderCell::drawWithFrame(QPainter& painter, const QRect& frame, QWidget*) {
    const int x = frame.x();
    const int y = frame.y();
    const int w = frame.width();
    const int h = frame.height();
    painter.fillRect(frame, kHeaderBackgroundColor);
    // Top, right and bottom; the left edge has none, so each column shows the line on its right.
    painter.fillRect(QRect(x, y + 1, w, 1), kHeaderLineColor);
    painter.fillRect(QRect(x + w - 1, y + 1, 1, h - 1), kHeaderLineColor);
    painter.fillRect(QRect(x, y + h - 1, w, 1), kHeaderLineColor);
    DrawTitle(painter, titleRectForFrame(frame), getStr(), titleFont(), kHeaderTitleColor);
}

void CustomHeaderCell::drawSortIndicatorWithFrame(QPainter& painter, const QRect& frame, QWidget*, bool ascending,
                                                  long long) {
    const double left = frame.x() + frame.width() - 12;
    const double right = frame.x() + frame.width() - 4;
    const double base = ascending ? frame.y() + frame.height() - 10 : frame.y() + 10;
    const double apex = ascending ? base - 7 : base + 7;
    QPainterPath triangle;
    triangle.moveTo(left, base);
    triangle.lineTo(right, base);
    triangle.lineTo((left + right) / 2, apex);
    triangle.closeSubpath();
    painter.fillPath(triangle, m_priority == 0 ? QColor(Qt::white) : QColor(Qt::transparent));
}

void CustomHeaderCell::setSortAscending(bool ascending, long long priority) {
    m_ascending = ascending;
    m_priority = priority;
}

// ---- CustomTableHeaderView

void CustomTableHeaderView::drawWithFrame(QPainter& painter, const QRect& frame, bool, QWidget* view) {
    const QRectF f(frame);
    // The strip one point high along the bottom edge is left out of the white part.
    const QRectF r(f.x(), f.y(), f.width(), f.height() - 1);
    painter.fillRect(r, Qt::white);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(Qt::black, 0.3));
    painter.drawLine(QPointF(r.right(), r.top()), QPointF(r.right(), r.bottom()));
    painter.drawLine(QPointF(f.left(), f.bottom()), QPointF(f.right(), f.bottom()));
    painter.drawLine(QPointF(r.left(), r.top()), QPointF(r.right(), r.top()));
    painter.restore();
    // The title as a plain header cell draws it: the view's font and text colour, centred vertically.
    const QFont font = view ? view->font() : QFont();
    const QColor colour = view ? view->palette().color(QPalette::WindowText) : QColor(Qt::black);
    const QRect inside = r.toRect().adjusted(kTitleInset, 0, -kTitleInset, 0);
    const QString text = stringValue();
    if (text.isEmpty()) return;
    painter.save();
    painter.setClipRect(inside, Qt::IntersectClip);
    painter.setFont(font);
    painter.setPen(colour);
    painter.drawText(inside, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    painter.restore();
}

// ---- TableHeaderView

void TableHeaderView::setHeaderCell(int section, std::unique_ptr<TableHeaderCell> cell) {
    if (cell) {
        m_cells[section] = std::move(cell);
    } else {
        m_cells.erase(section);
    }
    viewport()->update();
}

TableHeaderCell* TableHeaderView::headerCell(int section) const {
    const auto it = m_cells.find(section);
    return it == m_cells.end() ? nullptr : it->second.get();
}

void TableHeaderView::setUpCustomHeaderCells() {
    if (!model()) return;
    for (int section = 0; section < count(); ++section) {
        const QString title = model()->headerData(section, orientation(), Qt::DisplayRole).toString();
        setHeaderCell(section, std::make_unique<CustomHeaderCell>(title));
    }
}

void TableHeaderView::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    TableHeaderCell* cell = headerCell(logicalIndex);
    if (!cell) {
        QHeaderView::paintSection(painter, rect, logicalIndex);
        return;
    }
    // Highlighted: pressed (sunken) or a selected column (on), as the style would show it.
    QStyleOptionHeader option;
    initStyleOptionForIndex(&option, logicalIndex);
    const bool highlighted = option.state & (QStyle::State_Sunken | QStyle::State_On);
    auto* view = const_cast<TableHeaderView*>(this);
    painter->save();
    painter->setClipRect(rect, Qt::IntersectClip);
    if (highlighted) {
        cell->highlight(true, *painter, rect, view);
    } else {
        cell->drawWithFrame(*painter, rect, view);
    }
    painter->restore();
}
