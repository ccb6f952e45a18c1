// The windows' icons for the operations layer: an extension's file-type icon (the desktop theme's icon
// of its MIME type, else the kit's generic file icon; offscreen has no theme) and the named images of the
// resources, as images the layer only hands back to the windows. Callable on any thread: theme icons
// are drawn on the main thread only, where they are kept per extension; another thread gets the kept
// icon or, before the main thread drew one, the generic file icon.
#pragma once

#include <QImage>
#include <QString>
#include <map>
#include <mutex>
#include <string>

#include "bridge/ResultTree/IIconProvider.h"

namespace kit {

class IconProvider : public IIconProvider {
public:
    // The largest side of a file-type icon, in pixels.
    static constexpr int kIconSide = 32;

    IconImage IconForFileType(const std::string& extension) override;
    IconImage ImageNamed(const std::string& name) override;
    IconImage Resized(const IconImage& image, int width, int height) override;

private:
    IconImage GenericIcon();

    std::mutex m_mutex;
    std::map<std::string, IconImage> m_types;
    IconImage m_generic;
};

}  // namespace kit
