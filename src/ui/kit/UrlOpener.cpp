#include "ui/kit/UrlOpener.h"

#include <QDesktopServices>
#include <QUrl>

namespace kit {

namespace {

UrlOpener* g_current = nullptr;

}  // namespace

// A path becomes a file URL; anything else must already carry a scheme. Relative paths and words
// are refused rather than guessed at (QUrl would take "x" for a relative URL).
QUrl DesktopUrlOpener::urlFor(const std::string& target) {
    if (target.empty()) return {};
    const QString text = QString::fromStdString(target);
    if (text.startsWith(QLatin1Char('/'))) return QUrl::fromLocalFile(text);
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.isRelative()) return {};
    return url;
}

UrlOpener& UrlOpener::current() {
    if (g_current) return *g_current;
    static DesktopUrlOpener desktop;
    return desktop;
}

void UrlOpener::setCurrent(UrlOpener* opener) { g_current = opener; }

bool DesktopUrlOpener::open(const std::string& target) {
    const QUrl url = urlFor(target);
    return url.isValid() && QDesktopServices::openUrl(url);
}

}  // namespace kit
