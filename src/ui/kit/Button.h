// kit::Button over QAbstractButton: a push button, a switch (check box) or a radio button drawn by
// the Qt style, sending its action when clicked; its title may be attributed text. Subclasses that
// paint themselves override paintEvent.
#pragma once

#include <QAbstractButton>

#include "ui/kit/AttributedString.h"
#include "ui/kit/Control.h"
#include "ui/kit/ViewBase.h"

namespace kit {

class Button : public ViewBase<QAbstractButton>, public Control {
public:
    enum class Type { MomentaryPush, Switch, Radio, Toggle };

    explicit Button(const Rect& frame = {});

    void setButtonType(Type type);
    Type buttonType() const { return m_type; }
    QString titleText() const { return text(); }
    void setTitle(const QString& title);
    // A title with attributes (fonts, colours, underlines), drawn where the style puts the title.
    void setAttributedTitle(const AttributedString& title);
    const AttributedString& attributedTitle() const { return m_attributedTitle; }
    bool hasAttributedTitle() const { return m_hasAttributedTitle; }
    // 0 off, 1 on (switches, radio and toggle buttons).
    int state() const { return isChecked() ? 1 : 0; }
    void setState(int state) { setChecked(state != 0); }
    void setBordered(bool bordered);
    bool isBordered() const { return m_bordered; }

protected:
    void paintEvent(QPaintEvent* event) override;
    // The style's drawing of the button (the look of a button without images of its own).
    void paintWithStyle();

private:
    Type m_type = Type::MomentaryPush;
    bool m_bordered = true;
    AttributedString m_attributedTitle;
    bool m_hasAttributedTitle = false;
};

}  // namespace kit
