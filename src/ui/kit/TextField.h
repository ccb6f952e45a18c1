// Text: kit::TextField over QLineEdit (editable text, its action sent on Return) and kit::Label over
// QLabel (AppKit's non-editable text field). Both are controls.
#pragma once

#include <QLabel>
#include <QLineEdit>

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
};

class Label : public ViewBase<QLabel>, public Control {
public:
    explicit Label(const Rect& frame = {}, const QString& text = {});

    QString stringValue() const { return text(); }
    void setStringValue(const QString& value) { setText(value); }
    void setTextColor(const QColor& color);
    void setBackgroundColor(const QColor& color);
    // Left, centred or right, at the top of the frame (AppKit draws a label's text from its top).
    void setTextAlignment(Qt::Alignment horizontal);
    void setWraps(bool wraps) { setWordWrap(wraps); }
};

}  // namespace kit
