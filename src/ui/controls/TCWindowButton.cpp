#include "ui/controls/TCWindowButton.h"

#include <QHash>
#include <QPainter>
#include <memory>

#include "platform/foundation/NotificationCenter.h"
#include "ui/kit/Notifications.h"
#include "ui/kit/Window.h"

using brelvox::foundation::Notification;
using brelvox::foundation::NotificationCenter;

TCWindowButtonGroup* TCWindowButtonGroup::groupWithIdentifier(const QString& identifier) {
    static QHash<QString, std::shared_ptr<TCWindowButtonGroup>> registry;
    const QString key = identifier.isEmpty() ? QString::fromLatin1(kTCWindowButtonGroupDefault) : identifier;
    auto& group = registry[key];
    if (!group) group = std::make_shared<TCWindowButtonGroup>(key);
    return group.get();
}

void TCWindowButtonGroup::setNumberOfCaptures(int64_t count) {
    if (count == m_captures || count < 0) return;
    m_captures = count;
    NotificationCenter::Default().Post(TCWindowButtonGroupDidUpdateRolloverStateNotification, this);
}

TCWindowButton::TCWindowButton(kit::Size size, const QString& groupIdentifier)
    : kit::Button(kit::MakeRect(0, 0, size.width, size.height)),
      m_groupIdentifier(groupIdentifier),
      m_group(TCWindowButtonGroup::groupWithIdentifier(groupIdentifier)) {
    setButtonType(Type::MomentaryPush);
    setBordered(false);
    setTitle(QString());
    NotificationCenter::Default().AddObserver(this, TCWindowButtonGroupDidUpdateRolloverStateNotification, m_group,
                                              [this](const Notification&) { updateRollOverImage(); });
}

TCWindowButton::~TCWindowButton() {
    NotificationCenter::Default().RemoveObserver(this);
    NotificationCenter::Default().RemoveObserver(windowObservation());
}

void TCWindowButton::observeWindow(QWidget* window) {
    NotificationCenter& centre = NotificationCenter::Default();
    centre.RemoveObserver(windowObservation());
    m_observedWindow = window;
    // The kit window posts with itself as the object.
    const auto* kitWindow = dynamic_cast<const kit::Window*>(window);
    if (!kitWindow) return;
    const void* object = kitWindow;
    auto focus = [this](const Notification&) { updateImage(); };
    centre.AddObserver(windowObservation(), kit::kWindowDidBecomeKeyNotification, object, focus);
    centre.AddObserver(windowObservation(), kit::kWindowDidResignKeyNotification, object, focus);
    centre.AddObserver(windowObservation(), kit::kWindowWillEnterFullScreenNotification, object,
                       [this](const Notification&) {
                           m_group->resetMouseCaptures();
                           hide();
                       });
    centre.AddObserver(windowObservation(), kit::kWindowWillExitFullScreenNotification, object,
                       [this](const Notification&) {
                           m_group->resetMouseCaptures();
                           show();
                       });
}

void TCWindowButton::viewDidMoveToWindow() {
    QWidget* top = parentWidget() ? window() : nullptr;
    observeWindow(top);
    if (top) updateImage();
}

void TCWindowButton::updateImage() {
    if (isEnabled()) {
        updateActiveImage();
    } else {
        m_image = m_inactiveImage;
        update();
    }
}

void TCWindowButton::updateActiveImage() {
    const auto* kitWindow = dynamic_cast<const kit::Window*>(window());
    m_image = kitWindow && kitWindow->isKeyWindow() ? m_activeImage : m_activeNotKeyWindowImage;
    update();
}

void TCWindowButton::updateRollOverImage() {
    if (m_group->shouldDisplayRollOver() && isEnabled()) {
        m_image = m_rolloverImage;
        update();
    } else {
        updateImage();
    }
}

void TCWindowButton::viewDidEndLiveResize() {
    m_group->resetMouseCaptures();
    m_inside = false;
}

void TCWindowButton::paintEvent(QPaintEvent*) {
    const kit::Image& shown = isDown() && !m_pressedImage.isNull() ? m_pressedImage : m_image;
    if (shown.isNull()) return;
    QPainter painter(this);
    const kit::Size size = shown.size();
    shown.draw(painter, QRectF((width() - size.width) / 2, (height() - size.height) / 2, size.width, size.height));
}

void TCWindowButton::enterEvent(QEnterEvent* event) {
    kit::Button::enterEvent(event);
    // Qt may repeat an enter without a leave between: the button counts once while inside.
    if (!m_inside) m_group->didCaptureMousePointer();
    m_inside = true;
    updateRollOverImage();
}

void TCWindowButton::leaveEvent(QEvent* event) {
    kit::Button::leaveEvent(event);
    if (m_inside) m_group->didReleaseMousePointer();
    m_inside = false;
    updateRollOverImage();
}

void TCWindowButton::changeEvent(QEvent* event) {
    kit::Button::changeEvent(event);
    if (event->type() != QEvent::EnabledChange) return;
    m_image = isEnabled() ? m_activeImage : m_inactiveImage;
    update();
}
