// The image view: one image centred in the view, at its own size, fitted or filling the view.
#include <gtest/gtest.h>

#include <QPainter>

#include "ui/kit/ImageView.h"
#include "ui/kit/Window.h"
#include "uisupport/UiTest.h"

namespace {

using kit::ImageScaling;
using kit::MakeRect;

QPixmap Solid(int width, int height, const QColor& colour) {
    QPixmap pixmap(width, height);
    pixmap.fill(colour);
    return pixmap;
}

// The bounding box of the opaque pixels of image.
QRect Painted(const QImage& image) {
    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) > 128) box |= QRect(x, y, 1, 1);
        }
    }
    return box;
}

TEST(ImageView, TheImageIsCentredAtItsSizeFittedOrFillingTheView) {
    struct Case {
        const char* what;
        QSize image;
        ImageScaling scaling;
        kit::Rect expected;  // in the view's coordinates (y up)
        QRect drawn;         // Qt's pixels
    };
    const double third = 100.0 / 3;
    const Case cases[] = {
        {"wide, fitted", {300, 200}, ImageScaling::ProportionallyUpOrDown, MakeRect(0, 50 - third, 100, 2 * third),
         QRect(0, 17, 100, 67)},
        {"wide, reduced", {300, 200}, ImageScaling::ProportionallyDown, MakeRect(0, 50 - third, 100, 2 * third),
         QRect(0, 17, 100, 67)},
        {"wide, filling", {300, 200}, ImageScaling::AxesIndependently, MakeRect(0, 0, 100, 100), QRect(0, 0, 100, 100)},
        {"wide, own size", {300, 200}, ImageScaling::None, MakeRect(-100, -50, 300, 200), QRect(0, 0, 100, 100)},
        {"small, reduced only", {50, 20}, ImageScaling::ProportionallyDown, MakeRect(25, 40, 50, 20),
         QRect(25, 40, 50, 20)},
        {"small, fitted", {50, 20}, ImageScaling::ProportionallyUpOrDown, MakeRect(0, 30, 100, 40),
         QRect(0, 30, 100, 40)},
        {"tall, fitted", {20, 80}, ImageScaling::ProportionallyUpOrDown, MakeRect(37.5, 0, 25, 100),
         QRect(38, 0, 25, 100)},
    };
    kit::Window window(kit::MakeSize(100, 100));
    auto* view = new kit::ImageView(MakeRect(0, 0, 100, 100));
    window.contentView()->addSubview(view);
    ASSERT_TRUE(uitest::ShowAndActivate(&window));
    EXPECT_EQ(view->imageRect(), kit::Rect{}) << "no image, nothing drawn";
    for (const Case& c : cases) {
        view->setImage(Solid(c.image.width(), c.image.height(), Qt::red));
        view->setImageScaling(c.scaling);
        const kit::Rect r = view->imageRect();
        EXPECT_NEAR(r.x(), c.expected.x(), 1e-9) << c.what;
        EXPECT_NEAR(r.y(), c.expected.y(), 1e-9) << c.what;
        EXPECT_NEAR(r.width(), c.expected.width(), 1e-9) << c.what;
        EXPECT_NEAR(r.height(), c.expected.height(), 1e-9) << c.what;
        const QImage shot = uitest::Render(view);
        EXPECT_EQ(Painted(shot), c.drawn) << c.what;
        EXPECT_EQ(QColor(shot.pixel(c.drawn.center())), QColor(Qt::red)) << c.what;
    }
}

TEST(ImageView, ANamedImageShowsAtItsSizeInPoints) {
    kit::ImageView view(MakeRect(0, 0, 100, 100));
    view.setImage(kit::Image::named("window_close_active"));  // 14 x 16 points
    ASSERT_TRUE(view.hasImage());
    EXPECT_EQ(view.imageRect(), MakeRect(43, 42, 14, 16));
}

}  // namespace
