#include "ui/controls/TCImageWindow.h"

#include "platform/foundation/NotificationCenter.h"
#include "ui/controls/TCWindowButton.h"
#include "ui/controls/WQTitlebarView.h"
#include "ui/kit/Control.h"
#include "ui/kit/Notifications.h"

using kit::MakeRect;
using kit::Rect;
using kit::RoundHalfAway;
namespace metrics = image_window_metrics;

namespace {

void SetLooks(TCWindowButton* button, const kit::Image& active, const kit::Image& notKey, const kit::Image& disabled,
              const kit::Image& rollover, const kit::Image& pressed) {
    button->setActiveImage(active);
    button->setActiveNotKeyWindowImage(notKey);
    button->setInactiveImage(disabled);
    button->setRolloverImage(rollover);
    button->setPressedImage(pressed);
}

TCWindowButton* MakeStandardButton(int kind) {
    using kit::Image;
    auto* button = new TCWindowButton(kit::MakeSize(metrics::kWindowButtonWidth, metrics::kWindowButtonHeight),
                                      QString());
    switch (kind) {
        case TCImageWindow::kCloseButton:
            SetLooks(button, Image::named("window_close_active"), Image::named("window_close_notkey"),
                     Image::named("window_close_disabled"), Image::named("window_close_rollover"),
                     Image::named("window_close_pressed"));
            break;
        case TCImageWindow::kMinimizeButton:
            SetLooks(button, Image::named("window_minimize_active"), Image::named("window_minimize_notkey"),
                     Image::named("window_minimize_disabled"), Image::named("window_minimize_rollover"),
                     Image::named("window_minimize_pressed"));
            break;
        default:
            SetLooks(button, Image::named("window_zoom_active"), Image::named("window_zoom_notkey"),
                     Image::named("window_zoom_disabled"), Image::named("window_zoom_rollover"),
                     Image::named("window_zoom_pressed"));
            break;
    }
    return button;
}

}  // namespace

TCImageWindow::TCImageWindow(kit::Size size)
    : kit::Window(size),
      m_cachedTitleBarHeight(metrics::kMinimumTitleBarHeight),
      m_titleBarHeight(metrics::kMinimumTitleBarHeight),
      m_leftMargin(metrics::kDefaultLeftMargin),
      m_topMargin(metrics::kDefaultTopMargin),
      m_fullScreenTopMargin(metrics::kDefaultTopMargin),
      m_separation(metrics::kDefaultSeparation) {
    brelvox::foundation::NotificationCenter::Default().AddObserver(
        this, kit::kWindowDidEndSheetNotification, this,
        [this](const brelvox::foundation::Notification&) { layoutTrafficLightsAndContent(); });

    // The bar lies behind the window buttons.
    m_container = new WQTitlebarContainer(MakeRect(0, 0, 0, 0));
    frameView()->addSubview(m_container);
    m_container->lower();
    setTitleBarView(new WQTitlebarView(MakeRect(0, 0, 0, 0)));

    for (int kind = 0; kind < 3; ++kind) {
        TCWindowButton* button = MakeStandardButton(kind);
        m_standard[kind] = button;
        frameView()->addSubview(button);
        button->raise();
    }
    m_standard[kCloseButton]->setAction([this] { performClose(); });
    m_standard[kMinimizeButton]->setAction([this] { performMiniaturize(); });
    m_standard[kZoomButton]->setAction([this] { performZoom(); });

    m_settingUp = false;
    layoutTrafficLightsAndContent();
    setupTrafficLightsTrackingArea();
}

TCImageWindow::~TCImageWindow() { brelvox::foundation::NotificationCenter::Default().RemoveObserver(this); }

int TCImageWindow::slotOf(ButtonKind kind) { return kind == kFullScreenButton ? 3 : int(kind); }

void TCImageWindow::setTitleBarHeight(double height) {
    if (height == m_titleBarHeight) return;
    m_titleBarHeight = height;
    m_cachedTitleBarHeight = height;
    layoutTrafficLightsAndContent();
    displayWindowAndTitlebar();
}

void TCImageWindow::setTrafficLightButtonsLeftMargin(double margin) {
    if (margin == m_leftMargin) return;
    m_leftMargin = margin;
    layoutTrafficLightsAndContent();
    displayWindowAndTitlebar();
    setupTrafficLightsTrackingArea();
}

void TCImageWindow::setFullScreenButtonRightMargin(double margin) {
    if (margin == m_fullScreenRightMargin) return;
    m_hasFullScreenRightMargin = true;
    m_fullScreenRightMargin = margin;
    layoutTrafficLightsAndContent();
    displayWindowAndTitlebar();
}

void TCImageWindow::setShowsTitle(bool on) {
    if (on == m_showsTitle) return;
    m_showsTitle = on;
    displayWindowAndTitlebar();
}

void TCImageWindow::setShowsBaselineSeparator(bool on) {
    if (on == m_showsBaselineSeparator) return;
    m_showsBaselineSeparator = on;
    m_titleBarView->setNeedsDisplay();
}

void TCImageWindow::setCenterFullScreenButton(bool on) {
    if (on == m_centerFullScreenButton) return;
    m_centerFullScreenButton = on;
    layoutTrafficLightsAndContent();
}

void TCImageWindow::setCenterTrafficLightButtons(bool on) {
    if (on == m_centerButtons) return;
    m_centerButtons = on;
    layoutTrafficLightsAndContent();
    setupTrafficLightsTrackingArea();
}

void TCImageWindow::setVerticalTrafficLightButtons(bool on) {
    if (on == m_verticalButtons) return;
    m_verticalButtons = on;
    layoutTrafficLightsAndContent();
    setupTrafficLightsTrackingArea();
}

void TCImageWindow::setTrafficLightSeparation(double separation) {
    if (separation == m_separation) return;
    m_separation = separation;
    layoutTrafficLightsAndContent();
    setupTrafficLightsTrackingArea();
}

void TCImageWindow::setTitleBarView(kit::View* view) {
    if (!view || view == m_titleBarView) return;
    if (m_titleBarView) {
        m_titleBarView->removeFromSuperview();
        delete m_titleBarView;
    }
    m_titleBarView = view;
    view->setFrame(m_container->bounds());
    view->setAutoresizingMask(kit::kViewWidthSizable | kit::kViewHeightSizable);
    m_container->addSubview(view);
}

TCWindowButton* TCImageWindow::standardWindowButton(ButtonKind kind) const {
    return kind == kFullScreenButton ? nullptr : m_standard[kind];
}

void TCImageWindow::setProvidedButton(ButtonKind kind, TCWindowButton* button) {
    TCWindowButton*& slot = m_provided[slotOf(kind)];
    if (button == slot) return;
    if (slot) {
        slot->removeFromSuperview();
        slot->deleteLater();
    }
    slot = button;
    if (!button) return;
    switch (kind) {
        case kCloseButton: button->setAction([this] { performClose(); }); break;
        case kMinimizeButton: button->setAction([this] { performMiniaturize(); }); break;
        case kZoomButton: button->setAction([this] { performZoom(); }); break;
        case kFullScreenButton: button->setAction([this] { toggleFullScreen(); }); break;
    }
    if (TCWindowButton* standard = standardWindowButton(kind)) button->setFrameOrigin(standard->frame().origin);
    frameView()->addSubview(button);
    button->raise();
}

TCWindowButton* TCImageWindow::buttonToLayout(ButtonKind kind) {
    TCWindowButton* standard = standardWindowButton(kind);
    TCWindowButton* provided = m_provided[slotOf(kind)];
    if (provided) {
        if (standard) standard->hide();
        return provided;
    }
    if (standard) standard->show();
    return standard;
}

void TCImageWindow::recalculateFrameForTitleBarContainer() {
    const Rect frame = frameView()->bounds();
    m_container->setFrame(MakeRect(0, frame.maxY() - m_titleBarHeight, frame.width(), m_titleBarHeight));
}

void TCImageWindow::layoutTrafficLightsAndContent() {
    if (m_settingUp) return;
    recalculateFrameForTitleBarContainer();
    const Rect t = m_container->frame();

    TCWindowButton* close = buttonToLayout(kCloseButton);
    TCWindowButton* minimize = buttonToLayout(kMinimizeButton);
    TCWindowButton* zoom = buttonToLayout(kZoomButton);
    Rect c = close->frame();
    Rect m = minimize->frame();
    Rect z = zoom->frame();

    if (!m_verticalButtons) {
        double y = m_centerButtons ? RoundHalfAway(t.y() + t.height() * 0.5 - c.height() * 0.5)
                                   : t.y() + t.height() - c.height() - m_topMargin;
        y += m_topButtonMoveUp;
        c.origin = {m_leftMargin, y};
        m.origin = {c.x() + c.width() + m_separation, y};
        z.origin = {m.x() + m.width() + m_separation, y};
    } else {
        const double gap = m_separation - 2;
        const double total = c.height() + m.height() + z.height() + 2 * gap;
        const double y = m_centerButtons ? RoundHalfAway(t.y() + t.height() * 0.5 - total / 2)
                                         : t.y() + t.height() - total - m_topMargin;
        z.origin = {m_leftMargin, y};
        m.origin = {m_leftMargin, z.y() + z.height() + gap};
        c.origin = {m_leftMargin, m.y() + m.height() + gap};
    }
    close->setFrame(c);
    minimize->setFrame(m);
    zoom->setFrame(z);

    if (TCWindowButton* fullScreen = buttonToLayout(kFullScreenButton)) {
        Rect f = fullScreen->frame();
        if (!m_hasFullScreenRightMargin) {
            // Measured where the button stands now; a margin of 0 is measured again next time.
            setFullScreenButtonRightMargin(t.width() - (f.x() + f.width()));
        }
        f.origin.x = t.width() - f.width() - m_fullScreenRightMargin;
        f.origin.y = m_centerFullScreenButton ? RoundHalfAway(t.y() + t.height() * 0.5 - f.height() * 0.5)
                                              : t.y() + t.height() - f.height() - m_fullScreenTopMargin;
        fullScreen->setFrame(f);
    }
    repositionContentView();
}

void TCImageWindow::repositionContentView() {
    kit::View* content = contentView();
    const Rect old = content->frame();
    const Rect wanted = MakeRect(old.x(), old.y(), old.width(), frame().height() - m_titleBarHeight);
    if (wanted == old) return;
    content->setFrame(wanted);
    content->setNeedsDisplay();
}

void TCImageWindow::updateTitlebarView() {
    m_titleBarView->setNeedsDisplay();
    const bool enabled = drawsAsMain();
    for (QObject* child : m_titleBarView->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget && dynamic_cast<kit::Control*>(widget)) widget->setEnabled(enabled);
    }
}

void TCImageWindow::displayWindowAndTitlebar() { m_titleBarView->setNeedsDisplay(); }

void TCImageWindow::setupTrafficLightsTrackingArea() {
    // The buttons' roll-over tracking starts afresh at their new places.
    for (TCWindowButton* button : m_standard) {
        if (button) button->viewDidEndLiveResize();
    }
    for (TCWindowButton* button : m_provided) {
        if (button) button->viewDidEndLiveResize();
    }
}

void TCImageWindow::hideTitleBarView(bool hide) { m_titleBarView->setHidden(hide); }

void TCImageWindow::setTitle(const QString& title) {
    kit::Window::setTitle(title);
    layoutTrafficLightsAndContent();
    displayWindowAndTitlebar();
}

void TCImageWindow::setContentView(kit::View* view) {
    kit::Window::setContentView(view);
    repositionContentView();
}

Rect TCImageWindow::positionSheet(kit::Window*, Rect proposed) {
    proposed.origin.y = frame().height() - m_titleBarHeight;
    return proposed;
}

void TCImageWindow::becomeKeyWindow() {
    kit::Window::becomeKeyWindow();
    updateTitlebarView();
    layoutTrafficLightsAndContent();
    setupTrafficLightsTrackingArea();
}

void TCImageWindow::resignKeyWindow() {
    kit::Window::resignKeyWindow();
    updateTitlebarView();
    layoutTrafficLightsAndContent();
}

void TCImageWindow::becomeMainWindow() {
    kit::Window::becomeMainWindow();
    updateTitlebarView();
}

void TCImageWindow::resignMainWindow() {
    kit::Window::resignMainWindow();
    updateTitlebarView();
}

void TCImageWindow::applicationDidChangeActive(bool) { updateTitlebarView(); }

void TCImageWindow::windowWillEnterFullScreen() {
    kit::Window::windowWillEnterFullScreen();
    if (!m_hideTitleBarInFullScreen) return;
    m_titleBarHeight = 0;  // the cached height stays
    layoutTrafficLightsAndContent();
    displayWindowAndTitlebar();
    hideTitleBarView(true);
}

void TCImageWindow::windowWillExitFullScreen() {
    kit::Window::windowWillExitFullScreen();
    if (!m_hideTitleBarInFullScreen) return;
    m_titleBarHeight = m_cachedTitleBarHeight;
    layoutTrafficLightsAndContent();
    displayWindowAndTitlebar();
    hideTitleBarView(false);
}

void TCImageWindow::windowDidExitFullScreen() {
    kit::Window::windowDidExitFullScreen();
    setupTrafficLightsTrackingArea();
}

void TCImageWindow::windowDidResize() {
    kit::Window::windowDidResize();
    layoutTrafficLightsAndContent();
}

void TCImageWindow::windowDidMove() {
    kit::Window::windowDidMove();
    layoutTrafficLightsAndContent();
}
