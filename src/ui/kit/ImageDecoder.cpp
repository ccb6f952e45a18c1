#include "ui/kit/ImageDecoder.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QString>
#include <climits>

namespace kit {

namespace {

// Reads the device's picture, scaled down (never up) to fit the thumbnail square.
IconImage Decode(QImageReader& reader) {
    reader.setAutoTransform(true);
    const int side = IImageDecoder::kThumbnailSide;
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > side || size.height() > side))
        reader.setScaledSize(size.scaled(side, side, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    QImage image = reader.read();
    if (image.isNull()) return nullptr;
    if (image.width() > side || image.height() > side)
        image = image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return std::make_shared<DecodedPicture>(std::move(image));
}

}  // namespace

IconImage ImageDecoder::DecodeBytes(const char* data, size_t size) {
    if (!data || size == 0 || size > size_t(INT_MAX)) return nullptr;
    // No copy: the buffer reads the caller's bytes in place while this call runs.
    QByteArray bytes = QByteArray::fromRawData(data, qsizetype(size));
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::ReadOnly)) return nullptr;
    QImageReader reader(&buffer);
    return Decode(reader);
}

IconImage ImageDecoder::DecodeFile(const std::string& path) {
    if (path.empty()) return nullptr;
    QImageReader reader(QString::fromStdString(path));
    return Decode(reader);
}

QImage ImageDecoder::ImageOf(const IconImage& image) {
    const auto* picture = dynamic_cast<const DecodedPicture*>(image.get());
    return picture ? picture->image() : QImage();
}

}  // namespace kit
