// kit::View: the plain view over QWidget. drawRect paints from paintEvent; Qt's mouse and key events
// arrive as mouseDown, mouseUp, mouseDragged, mouseMoved, mouseEntered, mouseExited and keyDown. An
// event a view does not take goes on to its superview, as AppKit's responder chain does.
#pragma once

#include <QColor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>

#include "ui/kit/ViewBase.h"

namespace kit {

class View : public ViewBase<QWidget> {
public:
    explicit View(const Rect& frame = {});

    bool isFlipped() const override { return m_flipped; }
    // For views that are not subclassed only to flip (document views of scroll views, lists).
    void setFlipped(bool flipped) { m_flipped = flipped; }

    // A fill painted under drawRect; none (the default) leaves the view transparent.
    void setBackgroundColor(const QColor& color);
    QColor backgroundColor() const { return m_background; }

    // The mouse position of event in this view's coordinates.
    Point locationInView(const QMouseEvent* event) const;

protected:
    // Paints the view. painter works in Qt's coordinates (y down): convert the view's rectangles
    // with qtRect(). dirty is in the view's own coordinates.
    virtual void drawRect(QPainter& painter, const Rect& dirty);

    virtual void mouseDown(QMouseEvent* event) { event->ignore(); }
    virtual void mouseUp(QMouseEvent* event) { event->ignore(); }
    virtual void mouseDragged(QMouseEvent* event) { event->ignore(); }
    virtual void mouseMoved(QMouseEvent* event) { event->ignore(); }
    virtual void mouseEntered(QEnterEvent*) {}
    virtual void mouseExited(QEvent*) {}
    virtual void keyDown(QKeyEvent* event) { event->ignore(); }

    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

    // How many presses in a row the current one is (2 for the press of a double click).
    int clickCount() const { return m_clickCount; }

private:
    bool m_flipped = false;
    QColor m_background;
    int m_clickCount = 0;
};

}  // namespace kit
