// Attributed text (AppKit's NSAttributedString) for labels and button titles: runs of text, each with
// an optional font, colour, underline and link. It becomes Qt rich text with every run's text and
// link escaped, so a name read from a disk ("<b>x") shows exactly as it is written.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <optional>
#include <vector>

class QTextDocument;

namespace kit {

struct TextRun {
    QString text;
    std::optional<QFont> font{};  // none: the view's font
    QColor color{};               // invalid: the view's text colour
    bool underline = false;
    QString link{};  // an address or a path; a click on the run goes to the view's link handler
};

class AttributedString {
public:
    AttributedString() = default;
    // One run of plain text.
    explicit AttributedString(const QString& text) { append({text}); }

    AttributedString& append(TextRun run);
    // Gives the text from start, length characters long (-1: to the end), the attribute (AppKit's
    // addAttribute:value:range:); runs are split where the range begins and ends.
    AttributedString& setFont(const QFont& font, int start = 0, int length = -1);
    AttributedString& setColor(const QColor& color, int start = 0, int length = -1);
    AttributedString& setUnderline(bool underline, int start = 0, int length = -1);
    AttributedString& setLink(const QString& link, int start = 0, int length = -1);

    const std::vector<TextRun>& runs() const { return m_runs; }
    // The text without attributes.
    QString string() const;
    bool isEmpty() const { return string().isEmpty(); }
    bool hasLinks() const;

    // Qt rich text of the runs (line breaks kept, blanks kept).
    QString toHtml() const;
    // The text laid out in document with font and colour as the defaults of runs without their own.
    void layOut(QTextDocument& document, const QFont& font, const QColor& color) const;

private:
    // Splits the run that position falls inside, so that a run begins there.
    void splitAt(int position);
    template <class Change>
    AttributedString& change(int start, int length, Change change);

    std::vector<TextRun> m_runs;
};

}  // namespace kit
