#include "ui/kit/TextField.h"

#include <QPalette>

namespace kit {

namespace {

void SetRole(QWidget* widget, QPalette::ColorRole role, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(role, color);
    widget->setPalette(palette);
}

}  // namespace

TextField::TextField(const Rect& frame) : ViewBase<QLineEdit>(frame) {
    QObject::connect(this, &QLineEdit::returnPressed, this, [this] { sendAction(); });
}

void TextField::setTextColor(const QColor& color) { SetRole(this, QPalette::Text, color); }

void TextField::setBackgroundColor(const QColor& color) {
    SetRole(this, QPalette::Base, color.isValid() ? color : QColor(Qt::transparent));
}

Label::Label(const Rect& frame, const QString& text) : ViewBase<QLabel>(frame) {
    setText(text);
    setTextAlignment(Qt::AlignLeft);
    setTextFormat(Qt::PlainText);
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
