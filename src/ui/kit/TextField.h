// Text: kit::TextField over QLineEdit (editable text, its action sent on Return) and kit::Label over
// QLabel (AppKit's non-editable text field), which also shows attributed text whose links call a
// handler. Both are controls.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <functional>

#include "ui/kit/AttributedString.h"
#include "ui/kit/Control.h"
#include "ui/kit/ViewBase.h"

namespace kit {

class TextField : public ViewBase<QLineEdit>, public Control {
public:
    explicit TextField(const Rect& frame = {});

    QString stringValue() const { return text(); }
    void setStringValue(const QString& value) { setText(value); }
    void setEditable(bool editable) { setReadOnly(!editable); }
    bool isEditable() const { return !isReadOnly(); }
    void setBordered(bool bordered) { QLineEdit::setFrame(bordered); }
    void setPlaceholderString(const QString& text) { setPlaceholderText(text); }
    void setTextColor(const QColor& color);
    // Fills the background with color; an invalid colour draws none.
    void setBackgroundColor(const QColor& color);

protected:
    // Return was pressed: sends the action.
    virtual void didPressReturn() { sendAction(); }
};

class Label : public ViewBase<QLabel>, public Control {
public:
    explicit Label(const Rect& frame = {}, const QString& text = {});

    // The text shown, without attributes.
    QString stringValue() const;
    // Plain text, shown exactly as given.
    void setStringValue(const QString& value);
    // Text with attributes (fonts, colours, underlines, links); its texts are shown exactly as given.
    void setAttributedStringValue(const AttributedString& value);
    const AttributedString& attributedStringValue() const { return m_attributed; }
    // What a click on a link does with the link's address; by default UrlOpener::current() opens it.
    void setLinkHandler(std::function<void(const QString&)> handler) { m_linkHandler = std::move(handler); }
    void setTextColor(const QColor& color);
    void setBackgroundColor(const QColor& color);
    // Left, centred or right, at the top of the frame (AppKit draws a label's text from its top).
    void setTextAlignment(Qt::Alignment horizontal);
    void setWraps(bool wraps) { setWordWrap(wraps); }

private:
    void linkActivated(const QString& link) const;

    AttributedString m_attributed;  // set by setAttributedStringValue, else the plain text
    std::function<void(const QString&)> m_linkHandler;
};

}  // namespace kit
