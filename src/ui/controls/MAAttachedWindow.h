// MAAttachedWindow: a frameless, translucent pop-up window that shows one view inside a rounded panel
// beside a point (of a parent window, or of the screen), optionally with an arrow pointing at it. It
// lays itself out around the view, picks a side of the point when asked to (side 12), and draws its
// panel (fill, border, arrow) once per change into an image that its content view paints. Its owner
// adds it to the window it explains as a child window, so that it follows that window's moves.
//
// Coordinates are AppKit's: screen frames y up from the bottom of the primary screen, the point in the
// parent window's coordinates (y up from its bottom left) or, without a parent, on the screen. Lengths
// are points, which are Qt's logical pixels: the screen's user-space scale is 1.
#pragma once

#include <QBrush>
#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QPointer>
#include <memory>

#include "ui/kit/Geometry.h"
#include "ui/kit/View.h"
#include "ui/kit/Window.h"

class MAAttachedWindow : public kit::Window {
public:
    // Where the window stands relative to the point (and where the arrow sits on the panel).
    enum Side : int {
        kLeft = 0,                  // arrow on the right edge, centred
        kBelow = 1,                 // arrow on the top edge, centred
        kRight = 2,                 // arrow on the left edge, centred
        kAbove = 3,                 // arrow on the bottom edge, centred
        kLeftExtendingUp = 4,       // arrow at the right edge's lower end
        kLeftExtendingDown = 5,     // arrow at the right edge's upper end
        kRightExtendingUp = 6,      // arrow at the left edge's lower end
        kRightExtendingDown = 7,    // arrow at the left edge's upper end
        kAboveExtendingLeft = 8,    // arrow at the bottom edge's right end
        kAboveExtendingRight = 9,   // arrow at the bottom edge's left end
        kBelowExtendingLeft = 10,   // arrow at the top edge's right end
        kBelowExtendingRight = 11,  // arrow at the top edge's left end
        kAutomatic = 12,            // the initialiser picks the side
    };

    // initWithView:attachedToPoint:inWindow:onSide:atDistance: and its shorter forms (no window, side
    // 12, distance 0 for what they lack). Null for a null view. The view (any kit view) becomes the
    // content view's subview (the window takes it over).
    static std::unique_ptr<MAAttachedWindow> initWithView(kit::ViewFrame* view, kit::Point point,
                                                          kit::Window* window = nullptr, int side = kAutomatic,
                                                          float distance = 0);
    ~MAAttachedWindow() override;

    // Stores point and side (12 is kept as it is: the window then stands with its lower-left corner
    // at the point, without an arrow strip), then lays the window out and draws its panel again.
    void setPoint(kit::Point point, int side);
    kit::Point point() const { return m_point; }
    int side() const { return m_side; }
    float distance() const { return m_distance; }
    // The parent window whose coordinates the point is in (not owned; null once it is gone).
    kit::Window* attachedToWindow() const { return m_window.data(); }
    kit::ViewFrame* view() const { return m_view; }
    // The view's frame inside the window.
    kit::Rect viewFrame() const { return m_viewFrame; }

    const QColor& borderColor() const { return m_borderColor; }
    void setBorderColor(const QColor& color);
    float borderWidth() const { return m_borderWidth; }
    // At most the view margin.
    void setBorderWidth(float width);
    float viewMargin() const { return m_viewMargin; }
    // At least 0; the corner radius and the arrow's width are then clamped again.
    void setViewMargin(float margin);
    float arrowBaseWidth() const { return m_arrowBaseWidth; }
    // At most min(view width, view height) + 2 margins - radius (- radius again when the corner beside
    // the arrow is rounded).
    void setArrowBaseWidth(float width);
    float arrowHeight() const { return m_arrowHeight; }
    void setArrowHeight(float height);
    // Exchanged as a float (0 or 1), stored truncated toward zero.
    float hasArrow() const { return m_hasArrow ? 1.0f : 0.0f; }
    void setHasArrow(float flag);
    float cornerRadius() const { return m_cornerRadius; }
    // Between 0 and (min(view width, view height) + 2 margins - arrow width) / 2; the arrow's width is
    // then clamped again.
    void setCornerRadius(float radius);
    float drawsRoundCornerBesideArrow() const { return m_drawsRoundCornerBesideArrow ? 1.0f : 0.0f; }
    void setDrawsRoundCornerBesideArrow(float flag);

    // The panel's fill (a colour, or a pattern made from an image).
    const QBrush& windowBackgroundColor() const { return m_backgroundColor; }
    void setBackgroundColor(const QColor& color);
    // A null image changes nothing.
    void setBackgroundImage(const QImage& image);

    // A pop-up never becomes the main window.
    bool canBecomeMainWindow() const { return false; }

    // The panel's outline in the window's coordinates (y up), as it is drawn.
    QPainterPath backgroundPath() const;
    // The panel as drawn last (the window's size, transparent outside the panel).
    const QImage& backgroundImage() const { return m_background; }
    // How many times geometry and panel were computed again for a change of the window's size.
    int redisplayCount() const { return m_redisplays; }

    // The side the automatic placement picks for the current view, point, window and distance.
    int bestSideForAutomaticPosition() const;
    // The visible part of the screen the placement keeps to: the parent window's screen, else the
    // primary screen (screen coordinates, y up).
    kit::Rect screenVisibleFrame() const;

protected:
    // A change of size that the window did not make itself computes geometry and panel again once.
    void windowDidResize() override;

private:
    class PanelView;

    MAAttachedWindow(kit::ViewFrame* view, kit::Point point, kit::Window* window, int side, float distance);

    float arrowInset() const;
    void updateGeometry();
    void updateBackground();
    void appendArrowToPath(QPainterPath& path) const;
    void redisplay();
    // The point on the screen.
    kit::Point screenPoint() const;

    kit::ViewFrame* m_view;
    QPointer<kit::Window> m_window;
    kit::Point m_point;
    int m_side;
    float m_distance;
    kit::Rect m_viewFrame;
    bool m_resizing = false;

    QColor m_borderColor = Qt::white;
    float m_borderWidth = 0.2f;
    float m_viewMargin = 2.0f;
    float m_arrowBaseWidth = 0.0f;
    float m_arrowHeight = 0.0f;
    bool m_hasArrow = true;
    float m_cornerRadius = 8.0f;
    bool m_drawsRoundCornerBesideArrow = true;
    QBrush m_backgroundColor{Qt::white};

    PanelView* m_panel;
    QImage m_background;
    kit::Size m_laidOutSize;  // the size the last geometry step gave the window
    int m_redisplays = 0;
};
