// kit::ColumnCell: a column's own cell, as AppKit's data cell of a table column. It draws every cell
// of its column (after the row background) and may take the mouse presses and releases inside a cell
// itself, so that a click on one part of a cell (a tick box) acts and a click elsewhere selects.
#pragma once

#include <QMouseEvent>
#include <QModelIndex>
#include <QPainter>
#include <QRect>
#include <QSize>
#include <QVariant>

#include "ui/kit/ItemModelAdapter.h"

class QAbstractItemView;

namespace kit {

// Where a cell is drawn or clicked: the view, the index (for a table, index.row() is the row), the
// outline item (for a table, an opaque row handle) and whether the row is selected.
struct CellContext {
    QAbstractItemView* view = nullptr;
    ItemModelAdapter* model = nullptr;
    QModelIndex index;
    Item item = nullptr;
    bool selected = false;

    // Gives value to the data source as the cell's new object value (setObjectValue) and redraws.
    void setObjectValue(const QVariant& value) const {
        if (model) model->setObjectValue(index, value);
    }
};

class ColumnCell {
public:
    virtual ~ColumnCell() = default;

    // Draws cell into frame (Qt's coordinates of the view's viewport, y down); the row background
    // and the selection are already painted.
    virtual void drawWithFrame(QPainter& painter, const QRect& frame, const Cell& cell,
                               const CellContext& context) = 0;
    // A press, release or double click of the mouse inside frame. True when the cell took it: the
    // view then neither selects nor starts anything else with it.
    virtual bool mouseEvent(QMouseEvent* event, const QRect& frame, const Cell& cell, const CellContext& context) {
        return false;
    }
    // The size the cell wants; an empty size leaves it to the view (its row height).
    virtual QSize cellSize(const Cell& cell) const { return {}; }
};

}  // namespace kit
