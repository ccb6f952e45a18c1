#include "ui/kit/IconProvider.h"

#include <QCoreApplication>
#include <QIcon>
#include <QPixmap>
#include <QThread>
#include <algorithm>

#include "ui/kit/Image.h"
#include "ui/kit/ImageDecoder.h"

namespace kit {

namespace {

IconImage Wrap(QImage image) {
    if (image.isNull()) return nullptr;
    return std::make_shared<DecodedPicture>(std::move(image));
}

bool OnMainThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

}  // namespace

IconImage IconProvider::GenericIcon() {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (!m_generic) {
        // At its own size, as the main thread's file-type icons show it (an icon is never drawn larger).
        m_generic = Wrap(Image::loadImage(QStringLiteral("icon_file")));
    }
    return m_generic;
}

IconImage IconProvider::IconForFileType(const std::string& extension) {
    std::string key = extension;
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        const auto found = m_types.find(key);
        if (found != m_types.end()) return found->second;
    }
    if (!OnMainThread()) return GenericIcon();
    const QIcon icon = kit::IconForFileType(QString::fromStdString(key));
    IconImage image = Wrap(icon.pixmap(kIconSide, kIconSide).toImage());
    if (!image) image = GenericIcon();
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_types.emplace(key, image).first->second;
}

IconImage IconProvider::ImageNamed(const std::string& name) {
    return name.empty() ? nullptr : Wrap(Image::loadImage(QString::fromStdString(name)));
}

IconImage IconProvider::Resized(const IconImage& image, int width, int height) {
    const QImage source = ImageDecoder::ImageOf(image);
    if (source.isNull() || width <= 0 || height <= 0) return nullptr;
    return Wrap(source.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
}

}  // namespace kit
