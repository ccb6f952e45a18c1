#include "ui/controls/TCImageButton.h"

#include <QMouseEvent>
#include <QPainter>

using kit::MakeRect;

TCImageButton::TCImageButton(const kit::Rect& frame) : kit::Button(frame) { setBordered(false); }

void TCImageButton::setImageFromFileNormalName(const QString& normal, const QString& active, const QString& hover,
                                               const QString& disable) {
    m_normalImage = kit::Image::named(normal);
    m_activeImage = kit::Image::named(active);
    m_hoverImage = kit::Image::named(hover);
    m_disableImage = kit::Image::named(disable);
    const kit::Size size = m_normalImage.size();
    m_dstRect = MakeRect(0, 0, size.width, size.height);
    m_srcRect = m_dstRect;
    update();
}

void TCImageButton::setButtonEnabled(bool enabled) {
    m_isDisabled = enabled;
    repaint();
}

void TCImageButton::setButtonClicked(bool clicked) {
    m_isTracking = clicked;
    repaint();
}

void TCImageButton::setTextWithName(const QString& text, const kit::Rect& frame) {
    m_dstRect = MakeRect(0, 0, frame.width() - 4.0, frame.height());
    if (!m_textField) {
        m_textField = new kit::Label(MakeRect(0, -2.0, bounds().width(), bounds().height()));
        m_textField->setTextAlignment(Qt::AlignHCenter);
        m_textField->setBackgroundColor(palette().color(QPalette::Button));
        m_textField->setAttribute(Qt::WA_TransparentForMouseEvents);
        addSubview(m_textField);
    }
    m_textField->setStringValue(text);
}

const kit::Image& TCImageButton::imageToDraw() const {
    if (!isUsable()) return m_disableImage;
    if (m_isTracking) return m_activeImage;
    if (m_isFocus) return m_hoverImage;
    return m_normalImage;
}

void TCImageButton::paintEvent(QPaintEvent* event) {
    if (m_textField) m_textField->setTextColor(isUsable() ? Qt::white : Qt::gray);
    if (m_normalImage.isNull()) {
        paintWithStyle();
        return;
    }
    const kit::Image& image = imageToDraw();
    if (image.isNull()) return;
    QPainter painter(this);
    image.draw(painter, qtRect(m_dstRect),
               QRectF(m_srcRect.x(), m_srcRect.y(), m_srcRect.width(), m_srcRect.height()));
}

void TCImageButton::mousePressEvent(QMouseEvent* event) {
    if (!m_isDisabled) {
        event->accept();  // taken and dropped: no tracking, no action
        return;
    }
    if (isEnabled()) {
        m_isTracking = true;
        repaint();
    }
    m_isTracking = false;
    kit::Button::mousePressEvent(event);
}

void TCImageButton::mouseReleaseEvent(QMouseEvent* event) {
    kit::Button::mouseReleaseEvent(event);
    repaint();
}

void TCImageButton::enterEvent(QEnterEvent* event) {
    kit::Button::enterEvent(event);
    if (!isEnabled()) return;
    m_isFocus = true;
    repaint();
}

void TCImageButton::leaveEvent(QEvent* event) {
    kit::Button::leaveEvent(event);
    m_isFocus = false;
    repaint();
}

void KXHandButton::enterEvent(QEnterEvent* event) {
    kit::Button::enterEvent(event);
    setCursor(Qt::PointingHandCursor);
}

void KXHandButton::leaveEvent(QEvent* event) {
    kit::Button::leaveEvent(event);
    setCursor(Qt::ArrowCursor);
}
