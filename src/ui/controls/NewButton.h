// NewButton: the cell of the result trees' name column. From the left it draws a tick box (the
// "pf_checkbox_*" image of the row's tick state), an 18 x 18 icon at 17 and a label at 35 (10 without
// an icon); a press inside the first 15 x 30 points of the cell is a click on the tick box, which it
// reports to its delegate, and a press anywhere else is left to the view (it selects the row). After
// a tick-box click every NewButton of the process ignores hits for 0.2 s on the kit's clock, so a
// click the view asks about twice (press, double click) acts once.
//
// It is a column's own cell (kit::ColumnCell): one cell serves every row of its column, and the row's
// looks come from the cell the outline's delegate sets up in willDisplayCell: checkState the tick
// state (0, 1 partly, 2; -1 no tick box), image the icon (none without one), text the label (none when
// empty), with its font and colour. The rows are the bridge's result-tree nodes: the outline's items
// are OpNodeData nodes, read in place, and the clicked row's node is the cell's opNodeData while its
// delegate hears of the click.
//
// A tick-box click also gives the data source the row's new state (2 from 0 or 1, 0 from 2) through
// setObjectValue when the mouse is released, as an editable button cell of an outline does.
#pragma once

#include <QMouseEvent>
#include <QPainter>
#include <QRect>
#include <QString>

#include "bridge/ResultTree/OpNodeData.h"
#include "ui/kit/ColumnCell.h"
#include "ui/kit/Image.h"

class NewButton;

class NewButtonDelegate {
public:
    virtual ~NewButtonDelegate() = default;
    // A click on sender's tick box; sender->opNodeData() is the clicked row's node. A delegate that
    // leaves it as it is hears nothing.
    virtual void clickButtonAction(NewButton* sender) {}
};

class NewButton : public kit::ColumnCell {
public:
    // What a hit test answers (AppKit's cell hit results).
    enum HitResult : unsigned {
        kCellHitNone = 0,
        kCellHitContentArea = 1,
        kCellHitEditableTextArea = 2,
        kCellHitTrackableArea = 4,
    };

    // Sizes and offsets from the cell's left edge.
    static constexpr int kTickBoxWidth = 15;
    static constexpr int kTickBoxHeight = 30;
    static constexpr int kIconX = 17;
    static constexpr int kIconSide = 18;
    static constexpr int kLabelXWithIcon = 35;
    static constexpr int kLabelXWithoutIcon = 10;
    static constexpr int kLabelWidth = 800;
    static constexpr int kLabelHeight = 22;
    // How long a tick-box click keeps every NewButton from acting again.
    static constexpr double kClickLatchSeconds = 0.2;

    NewButtonDelegate* delegate() const { return m_delegate; }
    // Not owned.
    void setDelegate(NewButtonDelegate* delegate) { m_delegate = delegate; }
    // The node of the row whose tick box was clicked last (kept).
    const OpNodeData::Ptr& opNodeData() const { return m_opNodeData; }
    void setOpNodeData(OpNodeData::Ptr node) { m_opNodeData = std::move(node); }
    const QString& name() const { return m_name; }
    void setName(QString name) { m_name = std::move(name); }

    // Frames are Qt's coordinates of the view's viewport (y down, the cell's origin its top left).
    // The tick box's hit area: (x, y, 15, 30).
    static QRect tickBoxRectForBounds(const QRect& frame);
    // Where the tick-box image of imageSize is drawn: in the middle of the hit area's width, centred
    // on the row's height.
    static QRect tickImageRectForBounds(const QRect& frame, QSize imageSize);
    // The icon: (x + 17, y + ceil((h - 18) / 2), 18, 18); empty without an icon.
    static QRect iconImageRectForBounds(const QRect& frame, bool hasIcon);
    // The label: (x + 35 with an icon or x + 10 without, y + ceil((h - 22) / 2), 800, 22); empty
    // without a label.
    static QRect imageRectForBounds(const QRect& frame, bool hasIcon, bool hasLabel);
    // The image a tick state shows: "pf_checkbox_no" for 0, "pf_checkbox_yes" for 2, else
    // "pf_checkbox_half".
    static kit::Image tickImageForState(int state);

    // A press at location (the view's coordinates) in the cell at frame. Inside the tick box while no
    // NewButton has been clicked in the last 0.2 s: the delegate hears clickButtonAction with the
    // row's node as opNodeData, the latch is set for 0.2 s and the answer is content | trackable.
    // Anywhere else, or within the 0.2 s: 0 (the view handles the press).
    unsigned hitTestForEvent(const QPointF& location, const QRect& frame, const kit::Cell& cell,
                             const kit::CellContext& context);
    // Clears the latch; scheduled 0.2 s after a tick-box click.
    static void changeVlaue();
    // Whether a tick-box click happened in the last 0.2 s.
    static bool clickLatched() { return s_clickLatch != 0; }

    // kit::ColumnCell
    void drawWithFrame(QPainter& painter, const QRect& frame, const kit::Cell& cell,
                       const kit::CellContext& context) override;
    bool mouseEvent(QMouseEvent* event, const QRect& frame, const kit::Cell& cell,
                    const kit::CellContext& context) override;

private:
    // Set while a tick-box click has been taken and its release not seen.
    struct Tracking {
        bool active = false;
        int newState = 0;
    };

    static int s_clickLatch;

    NewButtonDelegate* m_delegate = nullptr;
    OpNodeData::Ptr m_opNodeData;
    QString m_name;
    Tracking m_tracking;
};
