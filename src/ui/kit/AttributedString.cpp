#include "ui/kit/AttributedString.h"

#include <QTextDocument>

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

AttributedString& AttributedString::setFont(const QFont& font) {
    for (TextRun& run : m_runs) run.font = font;
    return *this;
}

AttributedString& AttributedString::setColor(const QColor& color) {
    for (TextRun& run : m_runs) run.color = color;
    return *this;
}

AttributedString& AttributedString::setUnderline(bool underline) {
    for (TextRun& run : m_runs) run.underline = underline;
    return *this;
}

AttributedString& AttributedString::setLink(const QString& link) {
    for (TextRun& run : m_runs) run.link = link;
    return *this;
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
