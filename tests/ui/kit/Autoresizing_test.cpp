// Frames in y-up coordinates and the autoresizing masks the windows use (1, 2, 6, 13, 18), in a
// superview that is flipped and in one that is not.
#include <gtest/gtest.h>

#include "ui/kit/View.h"

namespace {

using kit::MakeRect;
using kit::Rect;

struct MaskCase {
    unsigned mask;
    Rect expected;  // after the superview grows from 400 x 300 to 500 x 360
};

// A subview at (50, 40, 100, 60); the superview grows by 100 in width and 60 in height.
const MaskCase kCases[] = {
    {0, MakeRect(50, 40, 100, 60)},
    {kit::kViewMinXMargin, MakeRect(150, 40, 100, 60)},
    {kit::kViewWidthSizable, MakeRect(50, 40, 200, 60)},
    {kit::kViewWidthSizable | kit::kViewMaxXMargin, MakeRect(50, 40, 150, 60)},
    {kit::kViewMinXMargin | kit::kViewMaxXMargin | kit::kViewMinYMargin, MakeRect(100, 100, 100, 60)},
    {kit::kViewWidthSizable | kit::kViewHeightSizable, MakeRect(50, 40, 200, 120)},
};

class AutoresizingTest : public testing::TestWithParam<bool> {};

TEST_P(AutoresizingTest, MasksShareTheChangeAndQtGeometryFollows) {
    const bool flipped = GetParam();
    for (const MaskCase& c : kCases) {
        SCOPED_TRACE("mask " + std::to_string(c.mask));
        kit::View super(MakeRect(0, 0, 400, 300));
        super.setFlipped(flipped);
        auto* sub = new kit::View(MakeRect(50, 40, 100, 60));
        sub->setAutoresizingMask(c.mask);
        super.addSubview(sub);
        EXPECT_EQ(sub->geometry(), QRect(50, flipped ? 40 : 300 - 100, 100, 60));

        super.setFrameSize(kit::MakeSize(500, 360));
        EXPECT_EQ(sub->frame(), c.expected);
        const Rect& e = c.expected;
        const int top = flipped ? int(e.y()) : int(360 - e.maxY());
        EXPECT_EQ(sub->geometry(), QRect(int(e.x()), top, int(e.width()), int(e.height())));
    }
}

INSTANTIATE_TEST_SUITE_P(FlippedOrNot, AutoresizingTest, testing::Bool(),
                         [](const auto& info) { return info.param ? "Flipped" : "YUp"; });

TEST(Autoresizing, FractionsOfAnEvenShareAreKeptSoAResizeBackRestoresTheFrame) {
    kit::View super(MakeRect(0, 0, 400, 300));
    auto* sub = new kit::View(MakeRect(10, 10, 100, 20));
    sub->setAutoresizingMask(kit::kViewWidthSizable | kit::kViewMaxXMargin);
    super.addSubview(sub);
    super.setFrameSize(kit::MakeSize(405, 300));
    EXPECT_DOUBLE_EQ(sub->frame().width(), 102.5);
    super.setFrameSize(kit::MakeSize(400, 300));
    EXPECT_EQ(sub->frame(), MakeRect(10, 10, 100, 20));
}

TEST(Autoresizing, ShrinkingNeverMakesANegativeSizeAndNestedViewsFollow) {
    kit::View super(MakeRect(0, 0, 400, 300));
    auto* middle = new kit::View(MakeRect(0, 0, 400, 300));
    middle->setAutoresizingMask(kit::kViewWidthSizable | kit::kViewHeightSizable);
    auto* inner = new kit::View(MakeRect(0, 0, 100, 50));
    inner->setAutoresizingMask(kit::kViewWidthSizable);
    middle->addSubview(inner);
    super.addSubview(middle);
    super.setFrameSize(kit::MakeSize(250, 300));
    EXPECT_EQ(inner->frame().width(), 0);
    super.setFrameSize(kit::MakeSize(200, 200));
    EXPECT_EQ(middle->frame(), MakeRect(0, 0, 200, 200));
    EXPECT_EQ(inner->frame().width(), 0);
    // The y-up subview stays at the bottom of its shrunk superview.
    EXPECT_EQ(inner->geometry().bottom() + 1, 200);
}

TEST(Autoresizing, AutoresizesSubviewsOffKeepsFramesButStillPlacesYUpViewsFromTheBottom) {
    kit::View super(MakeRect(0, 0, 400, 300));
    super.setAutoresizesSubviews(false);
    auto* sub = new kit::View(MakeRect(0, 0, 100, 50));
    sub->setAutoresizingMask(kit::kViewWidthSizable);
    super.addSubview(sub);
    super.setFrameSize(kit::MakeSize(500, 400));
    EXPECT_EQ(sub->frame(), MakeRect(0, 0, 100, 50));
    EXPECT_EQ(sub->geometry(), QRect(0, 350, 100, 50));
}

TEST(Autoresizing, PointsAndRectanglesConvertBetweenYUpAndQt) {
    kit::View view(MakeRect(0, 0, 200, 100));
    EXPECT_EQ(view.qtRect(MakeRect(10, 0, 20, 4)), QRectF(10, 96, 20, 4));
    EXPECT_EQ(view.pointFromQt(QPointF(5, 0)), kit::MakePoint(5, 100));
    view.setFlipped(true);
    EXPECT_EQ(view.qtRect(MakeRect(10, 0, 20, 4)), QRectF(10, 0, 20, 4));
}

}  // namespace
