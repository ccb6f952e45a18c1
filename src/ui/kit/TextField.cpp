#include "ui/kit/TextField.h"

#include <QPalette>

#include "ui/kit/UrlOpener.h"

namespace kit {

namespace {

void SetRole(QWidget* widget, QPalette::ColorRole role, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(role, color);
    widget->setPalette(palette);
}

}  // namespace

TextField::TextField(const Rect& frame) : ViewBase<QLineEdit>(frame) {
    QObject::connect(this, &QLineEdit::returnPressed, this, [this] { didPressReturn(); });
}

void TextField::setTextColor(const QColor& color) { SetRole(this, QPalette::Text, color); }

void TextField::setBackgroundColor(const QColor& color) {
    SetRole(this, QPalette::Base, color.isValid() ? color : QColor(Qt::transparent));
}

Label::Label(const Rect& frame, const QString& text) : ViewBase<QLabel>(frame) {
    setTextAlignment(Qt::AlignLeft);
    setOpenExternalLinks(false);
    QObject::connect(this, &QLabel::linkActivated, this, [this](const QString& link) { linkActivated(link); });
    setStringValue(text);
}

QString Label::stringValue() const { return m_attributed.string(); }

void Label::setStringValue(const QString& value) {
    m_attributed = AttributedString(value);
    setTextFormat(Qt::PlainText);
    setTextInteractionFlags(Qt::NoTextInteraction);
    setText(value);
}

void Label::setAttributedStringValue(const AttributedString& value) {
    m_attributed = value;
    setTextFormat(Qt::RichText);
    setTextInteractionFlags(value.hasLinks() ? Qt::LinksAccessibleByMouse : Qt::NoTextInteraction);
    setText(value.toHtml());
}

void Label::linkActivated(const QString& link) const {
    if (m_linkHandler) {
        m_linkHandler(link);
        return;
    }
    UrlOpener::current().open(link.toStdString());
}

void Label::setTextColor(const QColor& color) {
    SetRole(this, QPalette::WindowText, color);
    SetRole(this, QPalette::Text, color);
}

void Label::setBackgroundColor(const QColor& color) {
    setAutoFillBackground(color.isValid());
    if (color.isValid()) SetRole(this, QPalette::Window, color);
}

void Label::setTextAlignment(Qt::Alignment horizontal) { setAlignment(horizontal | Qt::AlignTop); }

}  // namespace kit
