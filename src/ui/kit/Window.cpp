#include "ui/kit/Window.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <algorithm>

#include "platform/foundation/NotificationCenter.h"
#include "ui/kit/Application.h"
#include "ui/kit/Modal.h"
#include "ui/kit/Notifications.h"

namespace kit {

namespace {

// The window that became key last, which a window taking no key gives the activation back to.
QPointer<Window> g_keyWindow;

QRect PrimaryScreenGeometry() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : QRect(0, 0, 1280, 800);
}

}  // namespace

Qt::WindowFlags Window::FlagsOf(WindowStyle style) {
    switch (style) {
        case WindowStyle::Tool: return Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus;
        case WindowStyle::Standard: break;
    }
    return Qt::Window | Qt::FramelessWindowHint;
}

Window::Window(Size size, WindowStyle style) : QWidget(nullptr, FlagsOf(style)), m_style(style) {
    Application::shared();  // follows the application's activation for every window
    if (style == WindowStyle::Tool) {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_ShowWithoutActivating);
    }
    resize(int(size.width), int(size.height));
    m_frameView = new View(MakeRect(0, 0, size.width, size.height));
    m_frameView->setParent(this);
    m_contentView = new View(MakeRect(0, 0, size.width, size.height));
    m_contentView->setAutoresizingMask(kViewWidthSizable | kViewHeightSizable);
    m_frameView->addSubview(m_contentView);
}

Window::~Window() {
    m_fade.reset();
    // A sheet, a child window or a parent may outlive this window: none deletes another.
    if (m_sheet) {
        m_sheet->m_sheetParent = nullptr;
        m_sheet->hide();
        m_sheet->becomeTopLevel();
    }
    if (m_sheetParent) m_sheetParent->m_sheet = nullptr;
    for (Window* child : std::vector<Window*>(m_children)) removeChildWindow(child);
    if (m_parentWindow) m_parentWindow->removeChildWindow(this);
    Application::shared().widgetDestroyed(this);
}

void Window::becomeTopLevel() {
    if (parentWidget()) setParent(nullptr, FlagsOf(m_style));
}

void Window::addChildWindow(Window* child) {
    if (!child || child == this || child->m_parentWindow == this || child->m_sheetParent) return;
    if (child->m_parentWindow) child->m_parentWindow->removeChildWindow(child);
    // A window with a parent widget is the parent's transient: the window system keeps it above.
    const QRect place = child->geometry();
    const bool visible = child->isVisible();
    child->setParent(this, FlagsOf(child->m_style));
    child->setGeometry(place);
    if (visible) child->orderFront();
    child->m_parentWindow = this;
    m_children.push_back(child);
    m_lastPosition = pos();
}

void Window::removeChildWindow(Window* child) {
    const auto it = std::find(m_children.begin(), m_children.end(), child);
    if (it == m_children.end()) return;
    m_children.erase(it);
    child->m_parentWindow = nullptr;
    const QRect place = child->geometry();
    const bool visible = child->isVisible();
    child->becomeTopLevel();
    child->setGeometry(place);
    if (visible) child->orderFront();
}

void Window::moveChildWindows() {
    const QPoint delta = pos() - m_lastPosition;
    m_lastPosition = pos();
    if (delta.isNull()) return;
    for (Window* child : m_children) child->move(child->pos() + delta);
}

void Window::raiseChildWindows() {
    for (Window* child : m_children) {
        if (child->isVisible()) child->raise();
    }
}

Rect Window::frame() const {
    const QRect g = geometry();
    const QRect screen = PrimaryScreenGeometry();
    return MakeRect(g.x() - screen.x(), screen.y() + screen.height() - g.y() - g.height(), g.width(), g.height());
}

QPoint Window::ScreenTopLeft(const Rect& frame) {
    const QRect screen = PrimaryScreenGeometry();
    return QPoint(screen.x() + int(RoundHalfAway(frame.x())),
                  screen.y() + screen.height() - int(RoundHalfAway(frame.maxY())));
}

void Window::setFrame(const Rect& frame) {
    setGeometry(QRect(ScreenTopLeft(frame), QSize(int(RoundHalfAway(frame.width())), int(RoundHalfAway(frame.height())))));
    sizeChanged();
    moveChildWindows();  // at once, also while hidden (Qt tells a hidden window of its move only when it shows)
}

void Window::setFrameOrigin(Point origin) {
    Rect r = frame();
    r.origin = origin;
    setFrame(r);
}

void Window::setContentSize(Size size) {
    resize(int(RoundHalfAway(size.width)), int(RoundHalfAway(size.height)));
    sizeChanged();
}

void Window::sizeChanged() {
    // Qt tells a hidden window of its new size only when it shows; AppKit lays out at once.
    if (isVisible() || m_frameView->frame().size == MakeSize(width(), height())) return;
    m_frameView->setFrame(MakeRect(0, 0, width(), height()));
    windowDidResize();
}

void Window::center() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : PrimaryScreenGeometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    moveChildWindows();
}

void Window::setContentView(View* view) {
    if (!view || view == m_contentView) return;
    view->setFrame(m_contentView->frame());
    view->setAutoresizingMask(m_contentView->autoresizingMask());
    delete m_contentView;
    m_contentView = view;
    m_frameView->addSubview(view);
}

void Window::setTitle(const QString& title) { setWindowTitle(title); }

void Window::setBackgroundColor(const QColor& color) { m_frameView->setBackgroundColor(color); }

bool Window::drawsAsMain() const { return m_main && QGuiApplication::applicationState() == Qt::ApplicationActive; }

void Window::makeKeyAndOrderFront() {
    orderFront();
    if (canBecomeKeyWindow()) activateWindow();
}

void Window::orderFront() {
    show();
    raise();
    raiseChildWindows();
}

void Window::orderOut() { hide(); }

void Window::performClose() {
    if (m_delegate && !m_delegate->windowShouldClose(this)) return;
    m_closeAgreed = true;
    close();
    m_closeAgreed = false;
}

void Window::performMiniaturize() { showMinimized(); }

void Window::performZoom() {
    if (isMaximized()) {
        showNormal();
    } else {
        showMaximized();
    }
}

void Window::toggleFullScreen() {
    if (isFullScreen()) {
        windowWillExitFullScreen();
        showNormal();
        windowDidExitFullScreen();
    } else {
        windowWillEnterFullScreen();
        showFullScreen();
    }
}

void Window::fadeIn(double seconds) {
    m_fade.reset();
    setWindowOpacity(AnimationsEnabled() && seconds > 0 ? 0.0 : 1.0);
    show();
    Animation::run(m_fade, seconds, [this](double progress) { setWindowOpacity(progress); });
}

void Window::fadeOut(std::function<void()> done, double seconds) {
    const double from = windowOpacity();
    Animation::run(
        m_fade, seconds, [this, from](double progress) { setWindowOpacity(from * (1.0 - progress)); },
        [this, done = std::move(done)] {
            close();
            setWindowOpacity(1.0);
            if (done) done();  // may delete the window: the last thing done here
        });
}

Rect Window::positionSheet(Window* sheet, Rect proposed) {
    return m_delegate ? m_delegate->windowWillPositionSheet(this, sheet, proposed) : proposed;
}

void Window::beginSheet(Window* sheet, std::function<void(int)> completion) {
    if (!sheet || m_sheet || sheet == this) return;
    m_sheet = sheet;
    sheet->m_sheetParent = this;
    m_sheetCompletion = std::move(completion);

    // The proposed place: centred, its top at the top of the window.
    const Rect proposed = MakeRect((width() - sheet->width()) / 2.0, height(), sheet->width(), sheet->height());
    const Rect place = positionSheet(sheet, proposed);
    sheet->setParent(this, Qt::Dialog | Qt::FramelessWindowHint);
    sheet->setWindowModality(Qt::WindowModal);
    const QPoint topLeft = geometry().topLeft() +
                           QPoint(int(RoundHalfAway(place.x())), int(RoundHalfAway(height() - place.y())));
    sheet->move(topLeft);

    if (ModalResponder* responder = CurrentModalResponder()) {
        if (auto answer = responder->answerSheet(*sheet)) {
            const int code = *answer;
            QTimer::singleShot(0, this, [this, sheet, code] { endSheet(sheet, code); });
            return;
        }
    }
    sheet->show();
    sheet->raise();
    sheet->activateWindow();
}

void Window::endSheet(Window* sheet, int code) {
    if (!sheet || sheet != m_sheet) return;
    m_sheet = nullptr;
    sheet->m_sheetParent = nullptr;
    sheet->hide();
    sheet->setWindowModality(Qt::NonModal);
    sheet->becomeTopLevel();
    auto completion = std::move(m_sheetCompletion);
    m_sheetCompletion = nullptr;
    post(kWindowDidEndSheetNotification);
    if (completion) completion(code);
}

void Window::post(const char* name) { brelvox::foundation::NotificationCenter::Default().Post(name, this); }

void Window::becomeKeyWindow() {
    if (m_delegate) m_delegate->windowDidBecomeKey(this);
    post(kWindowDidBecomeKeyNotification);
}

void Window::resignKeyWindow() {
    if (m_delegate) m_delegate->windowDidResignKey(this);
    post(kWindowDidResignKeyNotification);
}

void Window::becomeMainWindow() {
    if (m_delegate) m_delegate->windowDidBecomeMain(this);
    post(kWindowDidBecomeMainNotification);
}

void Window::resignMainWindow() {
    if (m_delegate) m_delegate->windowDidResignMain(this);
    post(kWindowDidResignMainNotification);
}

void Window::windowWillEnterFullScreen() { post(kWindowWillEnterFullScreenNotification); }
void Window::windowWillExitFullScreen() { post(kWindowWillExitFullScreenNotification); }
void Window::windowDidExitFullScreen() { post(kWindowDidExitFullScreenNotification); }

void Window::windowDidResize() {
    if (m_delegate) m_delegate->windowDidResize(this);
    post(kWindowDidResizeNotification);
}

void Window::windowDidMove() { post(kWindowDidMoveNotification); }

void Window::updateKeyAndMainState() {
    const QWidget* active = QApplication::activeWindow();
    // A window that takes no key leaves the key where it was (some platforms activate it anyway).
    if (const auto* window = dynamic_cast<const Window*>(active); window && !window->canBecomeKeyWindow()) return;
    const bool key = active == this;
    const bool main = key || (m_sheet && active == m_sheet);
    if (key != m_key) {
        m_key = key;
        if (key) {
            g_keyWindow = this;
            becomeKeyWindow();
        } else {
            resignKeyWindow();
        }
    }
    if (main != m_main) {
        m_main = main;
        if (main) {
            becomeMainWindow();
        } else {
            resignMainWindow();
        }
    }
}

void Window::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_frameView->setFrame(MakeRect(0, 0, width(), height()));
    windowDidResize();
}

void Window::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    moveChildWindows();
    windowDidMove();
}

void Window::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::ActivationChange) return;
    if (!canBecomeKeyWindow() && isActiveWindow() && g_keyWindow && g_keyWindow != this) {
        g_keyWindow->activateWindow();  // keys go on to the key window
        return;
    }
    updateKeyAndMainState();
    if (m_sheetParent) m_sheetParent->updateKeyAndMainState();
}

void Window::contextMenuEvent(QContextMenuEvent* event) {
    Application& app = Application::shared();
    if (!app.mainMenu()) {
        event->ignore();
        return;
    }
    app.popUpMainMenu(event->globalPos());
    event->accept();
}

void Window::closeEvent(QCloseEvent* event) {
    // A close asked by the window system goes through the delegate as the close button does.
    if (event->spontaneous() && !m_closeAgreed && m_delegate && !m_delegate->windowShouldClose(this)) {
        event->ignore();
        return;
    }
    if (m_delegate) m_delegate->windowWillClose(this);
    post(kWindowWillCloseNotification);
    event->accept();
}

}  // namespace kit
