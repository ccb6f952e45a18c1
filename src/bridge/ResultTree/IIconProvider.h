// Icons for the result tree, made by the windows' toolkit and only handed on by the model: the
// windows implement the provider with their kit's icons, tests with a fake. No toolkit type crosses.
#pragma once

#include <memory>
#include <string>

// An image of the toolkit; the toolkit's own subclass holds the pixels.
class IIconImage {
public:
    virtual ~IIconImage() = default;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
};

using IconImage = std::shared_ptr<const IIconImage>;

class IIconProvider {
public:
    virtual ~IIconProvider() = default;
    // The system's icon for files with this extension (no dot), or null. May be called on any thread.
    virtual IconImage IconForFileType(const std::string& extension) = 0;
    // A named image of the resources ("0IconImage" ... "11IconImage", "icon_usb"...), or null.
    virtual IconImage ImageNamed(const std::string& name) = 0;
    // A copy of image redrawn at width x height; null for a null or invalid image.
    virtual IconImage Resized(const IconImage& image, int width, int height) = 0;
};

// The provider of this process; null until the windows set one (the model then has no icons).
IIconProvider* GetIconProvider();
void SetIconProvider(IIconProvider* provider);
