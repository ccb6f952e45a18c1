#include "ui/kit/Button.h"

#include <QStyleOptionButton>
#include <QStylePainter>

namespace kit {

Button::Button(const Rect& frame) : ViewBase<QAbstractButton>(frame) {
    setFocusPolicy(Qt::NoFocus);
    QObject::connect(this, &QAbstractButton::clicked, this, [this] { sendAction(); });
}

void Button::setButtonType(Type type) {
    m_type = type;
    setCheckable(type != Type::MomentaryPush);
    setAutoExclusive(type == Type::Radio);
    update();
}

void Button::setBordered(bool bordered) {
    m_bordered = bordered;
    update();
}

void Button::paintEvent(QPaintEvent*) { paintWithStyle(); }

void Button::paintWithStyle() {
    QStylePainter painter(this);
    QStyleOptionButton option;
    option.initFrom(this);
    option.text = text();
    option.icon = icon();
    option.iconSize = iconSize();
    if (isDown()) option.state |= QStyle::State_Sunken;
    option.state |= isChecked() ? QStyle::State_On : QStyle::State_Off;
    switch (m_type) {
        case Type::Switch: painter.drawControl(QStyle::CE_CheckBox, option); break;
        case Type::Radio: painter.drawControl(QStyle::CE_RadioButton, option); break;
        case Type::MomentaryPush:
        case Type::Toggle:
            if (!m_bordered) option.features |= QStyleOptionButton::Flat;
            painter.drawControl(QStyle::CE_PushButton, option);
            break;
    }
}

}  // namespace kit
