// Opening an address or a path of this machine with the desktop's handler (AppKit's shared workspace
// openURL:), behind a small interface so that tests record what would be opened. The default opener
// uses QDesktopServices; links in attributed labels go through the current one.
#pragma once

#include <string>

namespace kit {

class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    // Opens url: an address with a scheme ("https://...", "file:///..."), or a path ("/home/..."),
    // which opens as a local file or folder. False when there is nothing to open or the desktop refused.
    virtual bool open(const std::string& url) = 0;

    // The installed opener: the desktop's unless a test or the composition root installed another.
    static UrlOpener& current();
    // Installs opener (not owned); null restores the desktop's.
    static void setCurrent(UrlOpener* opener);
};

// The desktop's opener, through QDesktopServices.
class DesktopUrlOpener : public UrlOpener {
public:
    bool open(const std::string& url) override;
};

}  // namespace kit
