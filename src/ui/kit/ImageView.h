// kit::ImageView: a view that shows one image (AppKit's NSImageView), centred, scaled by the view's
// image scaling. The values are AppKit's, so a Part's "image scaling 1" is AxesIndependently.
#pragma once

#include <QPixmap>
#include <QWidget>

#include "ui/kit/Image.h"
#include "ui/kit/ViewBase.h"

namespace kit {

enum class ImageScaling {
    ProportionallyDown = 0,      // fit inside, never enlarged (the default)
    AxesIndependently = 1,       // fill the view, each axis on its own
    None = 2,                    // the image's own size
    ProportionallyUpOrDown = 3,  // fit inside, enlarged or reduced
};

class ImageView : public ViewBase<QWidget> {
public:
    explicit ImageView(const Rect& frame = {});

    // A named image (its size in points) or a picture (its size without the device pixel ratio).
    void setImage(const Image& image);
    void setImage(const QPixmap& pixmap);
    const QPixmap& image() const { return m_pixmap; }
    bool hasImage() const { return !m_pixmap.isNull(); }

    ImageScaling imageScaling() const { return m_scaling; }
    void setImageScaling(ImageScaling scaling);

    // Where the image is drawn, in the view's coordinates; empty without an image.
    Rect imageRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap m_pixmap;
    Size m_imageSize;
    ImageScaling m_scaling = ImageScaling::ProportionallyDown;
};

}  // namespace kit
