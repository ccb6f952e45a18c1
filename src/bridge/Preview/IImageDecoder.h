// Pictures for previews and thumbnails, made by the windows' toolkit: the operations layer hands it
// the bytes of a found file, or a private copy of the file, and gets an image back. The windows
// implement the decoder with their toolkit, tests with a fake. No toolkit type crosses.
#pragma once

#include <cstddef>
#include <string>

#include "bridge/ResultTree/IIconProvider.h"

class IImageDecoder {
public:
    // Thumbnails fit in a square of this side, keeping their proportions.
    static constexpr int kThumbnailSide = 192;

    virtual ~IImageDecoder() = default;
    // The picture held by size bytes, scaled down to fit the thumbnail square; null when the bytes
    // are no picture the decoder reads. May be called on any thread.
    virtual IconImage DecodeBytes(const char* data, size_t size) = 0;
    // The same for the file at path (a raw camera file or a movie: null unless the decoder reads it).
    virtual IconImage DecodeFile(const std::string& path) = 0;
};

// The decoder of this process; null until the windows set one (previews then show icons).
IImageDecoder* GetImageDecoder();
void SetImageDecoder(IImageDecoder* decoder);

// A non-null image whose width and height are both above 0.
bool IsUsableImage(const IconImage& image);
