// Header cells of table columns, flat and light in place of the style's header, and the header view
// that draws each of its sections with its column's cell.
//
// - CustomHeaderCell, the one the lists use: background (250,251,252), lines (231,233,237) along the
//   top, the right and the bottom, the title in Helvetica 12 in (126,143,164) 3 right and 3 down of
//   the cell's corner. Its sort triangle is drawn with the clear colour unless the cell is the
//   primary sort column, and the cell's own drawing never draws it.
// - CustomTableHeaderView (a cell despite its name): white, with thin black lines; available to the
//   windows' builders, used by none.
// - TableHeaderView: a QHeaderView whose paintSection draws a section with its header cell (the
//   style's section where it has none); install it with the outline's or table's setHeaderView.
//
// Frames are Qt's coordinates of the header view (y down, as AppKit's flipped header view). A line of
// width 1 takes the row or column of pixels inside the cell next to its coordinate: the top line the
// row y + 1, the right line the column x + w - 1, the bottom line the row y + h - 1.
#pragma once

#include <QColor>
#include <QFont>
#include <QHeaderView>
#include <QPainter>
#include <QRect>
#include <QString>
#include <map>
#include <memory>

#include "ui/kit/AttributedString.h"

// Colours of the header cells (device RGB).
inline const QColor kHeaderBackgroundColor(250, 251, 252);
inline const QColor kHeaderLineColor(231, 233, 237);
inline const QColor kHeaderTitleColor(126, 143, 164);
// The title colour a cell takes when it is made; every draw replaces it by kHeaderTitleColor.
inline const QColor kHeaderInitialTitleColor(194, 200, 230);

// AppKit's NSTableHeaderCell: the title of a column's header and its drawing.
class TableHeaderCell {
public:
    explicit TableHeaderCell(const QString& title = {}) : m_title(title) {}
    virtual ~TableHeaderCell() = default;

    QString stringValue() const { return m_title.string(); }
    const kit::AttributedString& attributedStringValue() const { return m_title; }
    void setAttributedStringValue(kit::AttributedString title) { m_title = std::move(title); }

    // Draws the whole cell into frame.
    virtual void drawWithFrame(QPainter& painter, const QRect& frame, QWidget* view) = 0;
    // Draws the cell highlighted (the pressed or selected column) or not; by default as drawWithFrame.
    virtual void highlight(bool flag, QPainter& painter, const QRect& frame, QWidget* view) {
        drawWithFrame(painter, frame, view);
    }

private:
    kit::AttributedString m_title;
};

class CustomHeaderCell : public TableHeaderCell {
public:
    // initWithCell: the old cell's title, in the title font and kHeaderInitialTitleColor;
    // ascending, priority 1.
    explicit CustomHeaderCell(const TableHeaderCell& cell) : CustomHeaderCell(cell.attributedStringValue()) {}
    explicit CustomHeaderCell(const QString& title) : CustomHeaderCell(kit::AttributedString(title)) {}
    explicit CustomHeaderCell(kit::AttributedString title);

    // Helvetica at 12 points (fontconfig gives Nimbus Sans, its metric twin, where Helvetica is absent).
    static QFont titleFont();

    void drawWithFrame(QPainter& painter, const QRect& frame, QWidget* view) override;
    // The title as drawn: the title font and kHeaderTitleColor over its whole length, also stored
    // as the cell's own title.
    const kit::AttributedString& getStr();
    // The rectangle the title is drawn into: 3 down; 8 narrower for the primary sort column
    // (priority 0), else 3 right.
    QRect titleRectForFrame(const QRect& frame) const;

    // A white triangle 8 wide and 7 high, 4 from the right edge, apex up when ascending (base 10
    // above the bottom), down when not (base 10 below the top); filled with the clear colour unless
    // the stored priority is 0 (the argument takes no part).
    void drawSortIndicatorWithFrame(QPainter& painter, const QRect& frame, QWidget* view, bool ascending,
                                    long long priority);
    // Stores the sort direction and priority; draws nothing.
    void setSortAscending(bool ascending, long long priority);
    bool ascending() const { return m_ascending; }
    long long priority() const { return m_priority; }

private:
    bool m_ascending = true;
    long long m_priority = 1;
};

class CustomTableHeaderView : public TableHeaderCell {
public:
    using TableHeaderCell::TableHeaderCell;

    // White above a one-point strip along the bottom; black lines of width 0.3 along the right, the
    // bottom and the top; the title in the view's font inside. The flag changes nothing.
    void drawWithFrame(QPainter& painter, const QRect& frame, bool highlighted, QWidget* view);
    void drawWithFrame(QPainter& painter, const QRect& frame, QWidget* view) override {
        drawWithFrame(painter, frame, false, view);
    }
    void highlight(bool flag, QPainter& painter, const QRect& frame, QWidget* view) override {
        drawWithFrame(painter, frame, flag, view);
    }
};

class TableHeaderView : public QHeaderView {
public:
    explicit TableHeaderView(Qt::Orientation orientation = Qt::Horizontal, QWidget* parent = nullptr)
        : QHeaderView(orientation, parent) {}

    // The cell of a section (owned); null draws the style's section.
    void setHeaderCell(int section, std::unique_ptr<TableHeaderCell> cell);
    TableHeaderCell* headerCell(int section) const;
    // Gives every section a CustomHeaderCell made from its title (the model's header text).
    void setUpCustomHeaderCells();

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    std::map<int, std::unique_ptr<TableHeaderCell>> m_cells;
};
