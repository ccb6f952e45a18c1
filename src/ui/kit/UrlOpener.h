// Opening a web address or a local file or folder in the desktop's own application for it (a
// browser, the file manager). The windows call UrlOpener::current(); the application uses the
// desktop's opener, tests install a recording one.
#pragma once

#include <QUrl>
#include <string>

namespace kit {

class UrlOpener {
public:
    virtual ~UrlOpener() = default;

    // The installed opener (the desktop's unless a test installed another).
    static UrlOpener& current();
    // Installs opener (not owned); null restores the desktop's.
    static void setCurrent(UrlOpener* opener);

    // Opens target: a URL with a scheme ("https://...", "mailto:...", "file:///..."), or an absolute
    // path of a file or folder. False when target is empty or neither, or when the desktop has
    // nothing to open it with.
    virtual bool open(const std::string& target) = 0;
};

// QDesktopServices: the desktop's handler of the URL's scheme; a path opens as a local file.
class DesktopUrlOpener : public UrlOpener {
public:
    bool open(const std::string& target) override;
    // The URL open() hands on; invalid for a target it refuses.
    static QUrl urlFor(const std::string& target);
};

}  // namespace kit
