// Named images from the resources (SVG or PNG compiled in with rcc under ":/images/"). A name that
// has no image gives a visible placeholder (a red-crossed box) so that a missing file shows in the
// window; an empty name gives no image at all. Pixmaps are made on the main thread and cached;
// loadImage makes a QImage on any thread.
#pragma once

#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QString>

#include "ui/kit/Geometry.h"

namespace kit {

class Image {
public:
    Image() = default;

    // The image of name (main thread), the placeholder when there is none, null for an empty name.
    static Image named(const QString& name);
    // Whether the resources hold an image of this name.
    static bool exists(const QString& name);
    // The resource path of name (":/images/name.svg" or ".png"), empty when there is none.
    static QString resourcePath(const QString& name);
    // The image of name at its own size and the given scale, on any thread; null when missing.
    static QImage loadImage(const QString& name, double scale = 1.0);

    bool isNull() const { return m_pixmap.isNull(); }
    bool isPlaceholder() const { return m_placeholder; }
    const QString& name() const { return m_name; }
    // The size in points.
    Size size() const { return m_size; }
    const QPixmap& pixmap() const { return m_pixmap; }

    // Draws the part src of the image (in the image's points, y down) into the Qt rectangle dst.
    void draw(QPainter& painter, const QRectF& dst, const QRectF& src) const;
    // Draws the whole image into the Qt rectangle dst.
    void draw(QPainter& painter, const QRectF& dst) const;

private:
    QPixmap m_pixmap;
    Size m_size;
    QString m_name;
    bool m_placeholder = false;
};

// The icon of a file type given by its extension (without the dot): the desktop theme's icon for
// its MIME type, else the generic icon of the MIME type, else the kit's "icon_file" image.
QIcon IconForFileType(const QString& extension);

}  // namespace kit
