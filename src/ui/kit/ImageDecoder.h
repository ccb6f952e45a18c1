// The windows' picture decoder for previews and thumbnails: QImageReader over the bytes or the file
// the operations layer hands over, decoded straight to a size that fits the thumbnail square (a
// JPEG is then decoded at a fraction of its size). Safe on any thread.
#pragma once

#include <QImage>

#include "bridge/Preview/IImageDecoder.h"

namespace kit {

// A decoded picture handed back to the operations layer.
class DecodedPicture : public IIconImage {
public:
    explicit DecodedPicture(QImage image) : m_image(std::move(image)) {}
    int Width() const override { return m_image.width(); }
    int Height() const override { return m_image.height(); }
    const QImage& image() const { return m_image; }

private:
    QImage m_image;
};

class ImageDecoder : public IImageDecoder {
public:
    IconImage DecodeBytes(const char* data, size_t size) override;
    IconImage DecodeFile(const std::string& path) override;

    // The QImage of an image this decoder made; null for any other.
    static QImage ImageOf(const IconImage& image);
};

}  // namespace kit
