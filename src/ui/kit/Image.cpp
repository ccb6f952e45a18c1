#include "ui/kit/Image.h"

#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QImageReader>
#include <QMimeDatabase>
#include <QSvgRenderer>
#include <cmath>

namespace kit {

namespace {

constexpr double kPlaceholderSide = 16;

double ScreenScale() {
    const auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    return app ? app->devicePixelRatio() : 1.0;
}

QPixmap MakePlaceholder(double scale) {
    const int side = int(std::lround(kPlaceholderSide * scale));
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::white);
    QPainter painter(&pixmap);
    painter.setPen(QPen(QColor(220, 0, 0), 1.0 * scale));
    painter.drawRect(QRectF(0.5, 0.5, side - 1, side - 1));
    painter.drawLine(QPointF(0, 0), QPointF(side, side));
    painter.drawLine(QPointF(side, 0), QPointF(0, side));
    painter.end();
    pixmap.setDevicePixelRatio(scale);
    return pixmap;
}

}  // namespace

QString Image::resourcePath(const QString& name) {
    if (name.isEmpty()) return {};
    for (const char* suffix : {".svg", ".png"}) {
        const QString path = QStringLiteral(":/images/") + name + QLatin1String(suffix);
        if (QFile::exists(path)) return path;
    }
    return {};
}

bool Image::exists(const QString& name) { return !resourcePath(name).isEmpty(); }

QImage Image::loadImage(const QString& name, double scale) {
    const QString path = resourcePath(name);
    if (path.isEmpty()) return {};
    if (path.endsWith(QLatin1String(".svg"))) {
        QSvgRenderer renderer(path);
        if (!renderer.isValid()) return {};
        const QSize size = renderer.defaultSize();
        QImage image(QSize(int(std::lround(size.width() * scale)), int(std::lround(size.height() * scale))),
                     QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        renderer.render(&painter);
        painter.end();
        image.setDevicePixelRatio(scale);
        return image;
    }
    QImageReader reader(path);
    QImage image = reader.read();
    if (!image.isNull() && scale != 1.0) {
        image = image.scaled(image.size() * scale, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        image.setDevicePixelRatio(scale);
    }
    return image;
}

Image Image::named(const QString& name) {
    if (name.isEmpty()) return {};
    static QHash<QString, Image> cache;
    if (auto it = cache.constFind(name); it != cache.constEnd()) return *it;

    Image image;
    image.m_name = name;
    const double scale = ScreenScale();
    const QImage loaded = loadImage(name, scale);
    if (loaded.isNull()) {
        qWarning("kit: no image named \"%s\"", qPrintable(name));
        image.m_pixmap = MakePlaceholder(scale);
        image.m_size = MakeSize(kPlaceholderSide, kPlaceholderSide);
        image.m_placeholder = true;
    } else {
        image.m_pixmap = QPixmap::fromImage(loaded);
        image.m_size = MakeSize(loaded.width() / scale, loaded.height() / scale);
    }
    cache.insert(name, image);
    return image;
}

void Image::draw(QPainter& painter, const QRectF& dst, const QRectF& src) const {
    if (isNull()) return;
    const double ratio = m_pixmap.devicePixelRatio();
    const QRectF pixels(src.x() * ratio, src.y() * ratio, src.width() * ratio, src.height() * ratio);
    painter.drawPixmap(dst, m_pixmap, pixels);
}

void Image::draw(QPainter& painter, const QRectF& dst) const {
    draw(painter, dst, QRectF(0, 0, m_size.width, m_size.height));
}

QIcon IconForFileType(const QString& extension) {
    static QMimeDatabase database;
    const QMimeType type = database.mimeTypeForFile(QStringLiteral("file.") + extension, QMimeDatabase::MatchExtension);
    if (type.isValid() && !type.isDefault()) {
        QIcon icon = QIcon::fromTheme(type.iconName());
        if (icon.isNull()) icon = QIcon::fromTheme(type.genericIconName());
        if (!icon.isNull()) return icon;
    }
    return QIcon(Image::named(QStringLiteral("icon_file")).pixmap());
}

}  // namespace kit
