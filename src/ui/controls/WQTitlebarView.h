// The drawn title bar of a TCImageWindow: WQTitlebarView paints a white bar with rounded top corners,
// its separator and the centred window title; WQTitlebarContainer holds it at the top of the window
// and turns a drag into a move of the window by the window system.
#pragma once

#include <QFont>
#include <QPainterPath>
#include <QVariantMap>

#include "ui/kit/Shadow.h"
#include "ui/kit/View.h"

class TCImageWindow;

// Radius of the bar's two rounded top corners.
inline constexpr double WQCornerClipRadius = 4.0;

// The rounded clipping path of r (a rectangle of a view of the given height, y up): only the two
// top corners are rounded; the path is in Qt's coordinates of that view.
QPainterPath createClippingPathWithRectAndRadius(const kit::Rect& r, double radius, double viewHeight);

// The title's look and place.
struct TitleTextAttributes {
    QFont font;
    QColor color;
    kit::Shadow shadow;
};

class WQTitlebarView : public kit::View {
public:
    explicit WQTitlebarView(const kit::Rect& frame);

    // The title's frame (in this view's coordinates) and attributes for window; either may be null.
    void getTitleFrame(kit::Rect* frame, TitleTextAttributes* attributes, const TCImageWindow* window) const;

protected:
    void drawRect(QPainter& painter, const kit::Rect& dirty) override;
    void mouseDown(QMouseEvent* event) override;
    void mouseUp(QMouseEvent* event) override;

private:
    TCImageWindow* imageWindow() const;
};

class WQTitlebarContainer : public kit::View {
public:
    explicit WQTitlebarContainer(const kit::Rect& frame) : kit::View(frame) {}

protected:
    void mouseDown(QMouseEvent* event) override;
    // Hands the drag to the window system, which moves the window (the platform frame's part).
    void mouseDragged(QMouseEvent* event) override;

private:
    bool m_moving = false;
};
