#include "ui/kit/AttributedString.h"

#include <QTextDocument>
#include <algorithm>
#include <cstddef>

namespace kit {

namespace {

QString CssOf(const QFont& font) {
    QString css = QStringLiteral("font-family:'%1';").arg(font.family().toHtmlEscaped());
    if (font.pixelSize() > 0) {
        css += QStringLiteral("font-size:%1px;").arg(font.pixelSize());
    } else if (font.pointSizeF() > 0) {
        css += QStringLiteral("font-size:%1pt;").arg(font.pointSizeF());
    }
    css += QStringLiteral("font-weight:%1;").arg(int(font.weight()));
    if (font.italic()) css += QStringLiteral("font-style:italic;");
    return css;
}

QString Escaped(const QString& text) {
    QString html = text.toHtmlEscaped();
    html.replace(QLatin1Char('\n'), QStringLiteral("<br/>"));
    return html;
}

}  // namespace

AttributedString& AttributedString::append(TextRun run) {
    m_runs.push_back(std::move(run));
    return *this;
}

void AttributedString::splitAt(int position) {
    int begin = 0;
    for (size_t i = 0; i < m_runs.size(); ++i) {
        const int end = begin + int(m_runs[i].text.size());
        if (position > begin && position < end) {
            TextRun tail = m_runs[i];
            tail.text = m_runs[i].text.mid(position - begin);
            m_runs[i].text.truncate(position - begin);
            m_runs.insert(m_runs.begin() + std::ptrdiff_t(i) + 1, std::move(tail));
            return;
        }
        begin = end;
    }
}

template <class Change>
AttributedString& AttributedString::change(int start, int length, Change change) {
    const int total = int(string().size());
    start = std::clamp(start, 0, total);
    const int end = length < 0 ? total : std::clamp(start + length, start, total);
    splitAt(start);
    splitAt(end);
    int begin = 0;
    for (TextRun& run : m_runs) {
        if (begin >= start && begin < end) change(run);
        begin += int(run.text.size());
    }
    return *this;
}

AttributedString& AttributedString::setFont(const QFont& font, int start, int length) {
    return change(start, length, [&](TextRun& run) { run.font = font; });
}

AttributedString& AttributedString::setColor(const QColor& color, int start, int length) {
    return change(start, length, [&](TextRun& run) { run.color = color; });
}

AttributedString& AttributedString::setUnderline(bool underline, int start, int length) {
    return change(start, length, [&](TextRun& run) { run.underline = underline; });
}

AttributedString& AttributedString::setLink(const QString& link, int start, int length) {
    return change(start, length, [&](TextRun& run) { run.link = link; });
}

QString AttributedString::string() const {
    QString text;
    for (const TextRun& run : m_runs) text += run.text;
    return text;
}

bool AttributedString::hasLinks() const {
    for (const TextRun& run : m_runs) {
        if (!run.link.isEmpty()) return true;
    }
    return false;
}

QString AttributedString::toHtml() const {
    QString html = QStringLiteral("<span style=\"white-space:pre-wrap;\">");
    for (const TextRun& run : m_runs) {
        QString css;
        if (run.font) css += CssOf(*run.font);
        if (run.color.isValid()) css += QStringLiteral("color:%1;").arg(run.color.name(QColor::HexRgb));
        // A link is underlined only when its run says so, like any other run.
        css += run.underline ? QStringLiteral("text-decoration:underline;") : QStringLiteral("text-decoration:none;");
        const QString span = QStringLiteral("<span style=\"%1\">%2</span>").arg(css, Escaped(run.text));
        if (run.link.isEmpty()) {
            html += span;
        } else {
            html += QStringLiteral("<a href=\"%1\" style=\"%2\">%3</a>").arg(run.link.toHtmlEscaped(), css, span);
        }
    }
    return html + QStringLiteral("</span>");
}

void AttributedString::layOut(QTextDocument& document, const QFont& font, const QColor& color) const {
    document.setDefaultFont(font);
    document.setDocumentMargin(0);
    document.setDefaultStyleSheet(QStringLiteral("body { color:%1; }").arg(color.name(QColor::HexRgb)));
    document.setHtml(QStringLiteral("<body>%1</body>").arg(toHtml()));
}

}  // namespace kit
