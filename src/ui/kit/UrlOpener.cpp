#include "ui/kit/UrlOpener.h"

#include <QDesktopServices>
#include <QUrl>

namespace kit {

namespace {

UrlOpener* g_opener = nullptr;

}  // namespace

UrlOpener& UrlOpener::current() {
    if (g_opener) return *g_opener;
    static DesktopUrlOpener desktop;
    return desktop;
}

void UrlOpener::setCurrent(UrlOpener* opener) { g_opener = opener; }

bool DesktopUrlOpener::open(const std::string& url) {
    if (url.empty()) return false;
    const QString text = QString::fromStdString(url);
    const QUrl address = text.startsWith(QLatin1Char('/')) ? QUrl::fromLocalFile(text) : QUrl(text);
    return address.isValid() && QDesktopServices::openUrl(address);
}

}  // namespace kit
