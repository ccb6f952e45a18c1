// The windows' picture decoder: pictures in the formats the previews meet come back fitting the
// thumbnail square with their colours in place; what is no picture gives nothing.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include "ui/kit/ImageDecoder.h"

namespace {

// Four quadrants: red, green / blue, white.
QImage Quadrants(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.fillRect(0, 0, width / 2, height / 2, Qt::red);
    painter.fillRect(width / 2, 0, width - width / 2, height / 2, Qt::green);
    painter.fillRect(0, height / 2, width / 2, height - height / 2, Qt::blue);
    painter.fillRect(width / 2, height / 2, width - width / 2, height - height / 2, Qt::white);
    return image;
}

QByteArray Encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, 90);
    return bytes;
}

bool Near(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) < 40 && std::abs(a.green() - b.green()) < 40 && std::abs(a.blue() - b.blue()) < 40;
}

struct Case {
    const char* format;
    int width, height;
    int expectedWidth, expectedHeight;
};

TEST(ImageDecoder, PicturesFitTheThumbnailSquareWithTheirColours) {
    const Case cases[] = {
        {"PNG", 800, 400, 192, 96}, {"JPEG", 1200, 1600, 144, 192}, {"BMP", 100, 60, 100, 60},
        {"PNG", 192, 192, 192, 192}, {"JPEG", 3000, 20, 192, 1},
    };
    kit::ImageDecoder decoder;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " " + std::to_string(c.width) + "x" + std::to_string(c.height));
        const QByteArray bytes = Encoded(Quadrants(c.width, c.height), c.format);
        ASSERT_FALSE(bytes.isEmpty());
        const IconImage image = decoder.DecodeBytes(bytes.constData(), size_t(bytes.size()));
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->Width(), c.expectedWidth);
        EXPECT_EQ(image->Height(), c.expectedHeight);
        const QImage pixels = kit::ImageDecoder::ImageOf(image);
        if (c.expectedHeight < 8) continue;
        const int w = pixels.width(), h = pixels.height();
        EXPECT_TRUE(Near(pixels.pixelColor(w / 4, h / 4), Qt::red));
        EXPECT_TRUE(Near(pixels.pixelColor(3 * w / 4, h / 4), Qt::green));
        EXPECT_TRUE(Near(pixels.pixelColor(w / 4, 3 * h / 4), Qt::blue));
        EXPECT_TRUE(Near(pixels.pixelColor(3 * w / 4, 3 * h / 4), Qt::white));
    }
}

TEST(ImageDecoder, FilesDecodeAsBytesDoAndNoPictureGivesNothing) {
    kit::ImageDecoder decoder;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("x.png");
    ASSERT_TRUE(Quadrants(400, 300).save(path));
    const IconImage image = decoder.DecodeFile(path.toStdString());
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->Width(), 192);
    EXPECT_EQ(image->Height(), 144);

    const std::string noise(5000, '\x5a');
    EXPECT_EQ(decoder.DecodeBytes(noise.data(), noise.size()), nullptr);
    EXPECT_EQ(decoder.DecodeBytes(nullptr, 10), nullptr);
    EXPECT_EQ(decoder.DecodeFile(dir.filePath("missing.png").toStdString()), nullptr);
    // A picture cut in half still gives no crash (a partial picture or nothing).
    const QByteArray bytes = Encoded(Quadrants(400, 300), "PNG");
    decoder.DecodeBytes(bytes.constData(), size_t(bytes.size() / 2));
}

}  // namespace
