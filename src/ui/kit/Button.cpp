#include "ui/kit/Button.h"

#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTextDocument>

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

void Button::setTitle(const QString& title) {
    m_hasAttributedTitle = false;
    m_attributedTitle = {};
    setText(title);
}

void Button::setAttributedTitle(const AttributedString& title) {
    m_attributedTitle = title;
    m_hasAttributedTitle = true;
    setText(title.string());
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
    option.text = m_hasAttributedTitle ? QString() : text();
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
    if (!m_hasAttributedTitle) return;
    // The attributed title where the style puts a title: centred in a push button, after the box
    // of a switch or radio button.
    const QStyle::SubElement element = m_type == Type::Switch  ? QStyle::SE_CheckBoxContents
                                       : m_type == Type::Radio ? QStyle::SE_RadioButtonContents
                                                               : QStyle::SE_PushButtonContents;
    const QRect contents = style()->subElementRect(element, &option, this);
    QTextDocument document;
    m_attributedTitle.layOut(document, font(), palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                                              QPalette::ButtonText));
    const QSizeF size = document.size();
    const bool centred = m_type == Type::MomentaryPush || m_type == Type::Toggle;
    const double x = centred ? contents.x() + (contents.width() - size.width()) / 2 : contents.x();
    const double y = contents.y() + (contents.height() - size.height()) / 2;
    painter.save();
    painter.translate(x, y);
    document.drawContents(&painter);
    painter.restore();
}

}  // namespace kit
