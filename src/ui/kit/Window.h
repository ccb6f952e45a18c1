// kit::Window: a frameless top-level QWidget with AppKit's window idioms. Its style chooses the Qt
// flags: a standard window becomes key; a tool window (pop-ups, snapshots) is translucent where it
// paints nothing and never takes the key from the window it stands by. Its frame view fills the
// window and holds the content view (and whatever a subclass draws around it). The window is key
// while Qt makes it the active window and main while it or its sheet is; becoming and leaving either
// state calls the hooks below, tells the delegate and posts the window notifications. Fades animate
// the window's opacity on the kit's scheduler (instantly when animations are off, as in tests).
#pragma once

#include <QCloseEvent>
#include <QColor>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "ui/kit/Animation.h"
#include "ui/kit/Geometry.h"
#include "ui/kit/View.h"

namespace kit {

class Window;

// The window's delegate; every method is optional. Not owned by the window.
class WindowDelegate {
public:
    virtual ~WindowDelegate() = default;
    virtual bool windowShouldClose(Window*) { return true; }
    virtual void windowWillClose(Window*) {}
    virtual void windowDidResize(Window*) {}
    virtual void windowDidBecomeKey(Window*) {}
    virtual void windowDidResignKey(Window*) {}
    virtual void windowDidBecomeMain(Window*) {}
    virtual void windowDidResignMain(Window*) {}
    // Where a sheet attaches: the returned rectangle's y is the sheet's top edge in the window's
    // coordinates (y up from the window's bottom edge).
    virtual Rect windowWillPositionSheet(Window*, Window* /*sheet*/, Rect proposed) { return proposed; }
};

enum class WindowStyle {
    Standard,  // frameless top-level window (Qt::Window | Qt::FramelessWindowHint)
    Tool,      // frameless, translucent tool window that takes no key (Qt::Tool, no focus, shown unactivated)
};

class Window : public QWidget {
public:
    // A window whose frame (and, without a title bar of the platform, content) has the given size.
    explicit Window(Size size, WindowStyle style = WindowStyle::Standard);
    ~Window() override;

    WindowStyle style() const { return m_style; }
    // Whether the window may become the key window (a tool window may not).
    virtual bool canBecomeKeyWindow() const { return m_style != WindowStyle::Tool; }

    // The frame in screen coordinates, y up from the bottom of the primary screen.
    Rect frame() const;
    // Frame changes lay the window out at once, also while it is hidden.
    void setFrame(const Rect& frame);
    void setFrameOrigin(Point origin);
    void setContentSize(Size size);
    void center();

    // The view that fills the window; the content view is its subview.
    View* frameView() const { return m_frameView; }
    View* contentView() const { return m_contentView; }
    // Replaces the content view (the window owns it); it takes the frame of the old one.
    virtual void setContentView(View* view);

    QString title() const { return windowTitle(); }
    virtual void setTitle(const QString& title);
    void setBackgroundColor(const QColor& color);

    WindowDelegate* delegate() const { return m_delegate; }
    virtual void setDelegate(WindowDelegate* delegate) { m_delegate = delegate; }

    bool isKeyWindow() const { return m_key; }
    bool isMainWindow() const { return m_main; }
    // The window draws as main: it is main and the application is active.
    bool drawsAsMain() const;

    void makeKeyAndOrderFront();
    void orderFront();
    void orderOut();
    // Asks the delegate (windowShouldClose) and closes when it agrees.
    void performClose();
    void performMiniaturize();
    void performZoom();
    void toggleFullScreen();
    bool isInFullScreen() const { return isFullScreen(); }

    double alphaValue() const { return windowOpacity(); }
    void setAlphaValue(double alpha) { setWindowOpacity(alpha); }
    // Shows the window, animating its opacity from 0 to 1. A fade replaces the one running.
    void fadeIn(double seconds = 0.25);
    // Animates the opacity to 0, then closes the window, restores the opacity and calls done (if
    // any) once; a fade started before it ends drops done.
    void fadeOut(std::function<void()> done = {}, double seconds = 0.25);

    // Sheets: sheet is shown window-modal, hanging from positionSheet's rectangle; endSheet hides it
    // and calls completion with the code. Neither call blocks.
    void beginSheet(Window* sheet, std::function<void(int)> completion = {});
    void endSheet(Window* sheet, int code = 0);
    Window* attachedSheet() const { return m_sheet; }
    Window* sheetParent() const { return m_sheetParent; }
    // Where a sheet's top edge goes; by default the delegate decides from the top of the window.
    virtual Rect positionSheet(Window* sheet, Rect proposed);

    // Child windows: child stands above this window and moves with it, until removed or either ends
    // (neither deletes the other).
    void addChildWindow(Window* child);
    void removeChildWindow(Window* child);
    const std::vector<Window*>& childWindows() const { return m_children; }
    Window* parentWindow() const { return m_parentWindow; }

    // The top-left corner of a frame rectangle in Qt's screen coordinates.
    static QPoint ScreenTopLeft(const Rect& frame);
    // The Qt flags of a style.
    static Qt::WindowFlags FlagsOf(WindowStyle style);

protected:
    virtual void becomeKeyWindow();
    virtual void resignKeyWindow();
    virtual void becomeMainWindow();
    virtual void resignMainWindow();
    virtual void applicationDidChangeActive(bool active) {}
    virtual void windowWillEnterFullScreen();
    virtual void windowWillExitFullScreen();
    virtual void windowDidExitFullScreen();
    virtual void windowDidResize();
    virtual void windowDidMove();

    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // A right click that no view took: the application's main menu.
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    friend class Application;
    void updateKeyAndMainState();
    void sizeChanged();
    void moveChildWindows();
    void raiseChildWindows();
    // Leaves any parent widget (a sheet's or child window's parent) as a top-level window of its style.
    void becomeTopLevel();
    void post(const char* name);

    WindowStyle m_style;
    View* m_frameView;
    View* m_contentView;
    WindowDelegate* m_delegate = nullptr;
    bool m_key = false;
    bool m_main = false;
    bool m_closeAgreed = false;
    Window* m_sheet = nullptr;
    Window* m_sheetParent = nullptr;
    std::function<void(int)> m_sheetCompletion;
    std::shared_ptr<Animation> m_fade;
    std::vector<Window*> m_children;
    Window* m_parentWindow = nullptr;
    QPoint m_lastPosition;  // where the child windows were last moved along
};

}  // namespace kit
