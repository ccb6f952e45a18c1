#include "ui/browser/KXCustomOutlineView.h"

#include <QApplication>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>

namespace {

// The application's style without the marks of the selected and the current row that the fills
// stand for: no highlight in the indentation left of a selected row, no focus frame around the
// current cell.
class RowFillStyle : public QProxyStyle {
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        if (element == PE_FrameFocusRect) return;
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returned) const override {
        if (hint == SH_ItemView_ShowDecorationSelected) return 0;
        return QProxyStyle::styleHint(hint, option, widget, returned);
    }
};

// One for every device outline, living as long as the application (a widget never owns its style).
QStyle* DeviceOutlineStyle() {
    static QPointer<RowFillStyle> style;
    if (!style) {
        style = new RowFillStyle;
        style->setParent(QCoreApplication::instance());
    }
    return style;
}

}  // namespace

// Paints the rows and passes everything else on to the page's delegate.
class KXCustomOutlineView::RowPainter : public kit::OutlineDelegate {
public:
    explicit RowPainter(KXCustomOutlineView& view) : m_view(view) {}

    kit::OutlineDelegate* page = nullptr;

    void willDisplayCell(kit::OutlineView* view, kit::Cell& cell, const kit::TableColumn& column,
                         kit::Item item) override {
        if (page) page->willDisplayCell(view, cell, column, item);
    }
    bool shouldSelectItem(kit::OutlineView* view, kit::Item item) override {
        return page ? page->shouldSelectItem(view, item) : true;
    }
    void selectionDidChange(kit::OutlineView* view) override {
        if (page) page->selectionDidChange(view);
    }
    void didClickTableColumn(kit::OutlineView* view, const kit::TableColumn& column) override {
        if (page) page->didClickTableColumn(view, column);
    }
    bool keyDown(kit::OutlineView* view, QKeyEvent* event) override { return page && page->keyDown(view, event); }
    bool drawRowBackground(kit::OutlineView*, QPainter& painter, const QRect& rect, kit::Item item, bool) override {
        painter.fillRect(rect, m_view.rowBackgroundColor(m_view.rowForItem(item)));
        return true;
    }

private:
    KXCustomOutlineView& m_view;
};

KXCustomOutlineView::KXCustomOutlineView(const kit::Rect& frame)
    : kit::OutlineView(frame), m_rows(std::make_unique<RowPainter>(*this)) {
    kit::OutlineView::setDelegate(m_rows.get());
    setStyle(DeviceOutlineStyle());
}

KXCustomOutlineView::~KXCustomOutlineView() {
    kit::OutlineView::setDelegate(nullptr);
}

void KXCustomOutlineView::setDelegate(kit::OutlineDelegate* delegate) {
    m_rows->page = delegate;
}

kit::OutlineDelegate* KXCustomOutlineView::delegate() const {
    return m_rows->page;
}

void KXCustomOutlineView::setIsRootArr(QStringList rows) {
    m_isRootArr = std::move(rows);
    viewport()->update();
}

void KXCustomOutlineView::setIsSelectRow(int row) {
    m_isSelectRow = row;
    viewport()->update();
}

QColor KXCustomOutlineView::rowBackgroundColor(int row) const {
    if (row >= 0 && row == m_isSelectRow) return kDeviceSelectedRowColor;
    if (m_isRootArr.contains(QString::number(row))) return kDeviceDiskRowColor;
    return kDeviceRowColor;
}
