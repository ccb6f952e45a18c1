// The attached pop-up window: where it stands for each side, which side it picks near the screen's
// edges and its parent's, the setters' clamps, what its panel draws (the arrow strip, the corner beside
// the arrow) and that a change of its size lays it out once.
#include <gtest/gtest.h>

#include <memory>

#include "ui/controls/MAAttachedWindow.h"
#include "ui/kit/Window.h"
#include "uisupport/UiTest.h"

namespace {

using kit::MakePoint;
using kit::MakeRect;
using kit::MakeSize;
using kit::Point;
using kit::Rect;

// The view shown: 100 x 50, so the window is 104 x 54 with the default margin of 2.
kit::View* ShownView(double width = 100, double height = 50) {
    return new kit::View(MakeRect(0, 0, width, height));
}

std::unique_ptr<MAAttachedWindow> Attached(Point point, int side, float distance = 0, kit::Window* parent = nullptr,
                                           kit::View* view = ShownView()) {
    return MAAttachedWindow::initWithView(view, point, parent, side, distance);
}

int Alpha(const QImage& image, int x, int y) {
    return qAlpha(image.pixel(x, y));
}

TEST(MAAttachedWindow, ANullViewMakesNoWindowAndTheDefaultsAreThoseOfThePopUp) {
    EXPECT_EQ(MAAttachedWindow::initWithView(nullptr, MakePoint(10, 10)), nullptr);
    auto window = Attached(MakePoint(400, 300), MAAttachedWindow::kBelowExtendingRight, 10);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->style(), kit::WindowStyle::Tool);
    EXPECT_FALSE(window->canBecomeMainWindow());
    EXPECT_EQ(window->borderColor(), QColor(Qt::white));
    EXPECT_EQ(window->windowBackgroundColor().color(), QColor(Qt::white));
    EXPECT_FLOAT_EQ(window->borderWidth(), 0.2f);
    EXPECT_FLOAT_EQ(window->viewMargin(), 2.0f);
    EXPECT_FLOAT_EQ(window->arrowBaseWidth(), 0.0f);
    EXPECT_FLOAT_EQ(window->arrowHeight(), 0.0f);
    EXPECT_FLOAT_EQ(window->hasArrow(), 1.0f);
    EXPECT_FLOAT_EQ(window->cornerRadius(), 8.0f);
    EXPECT_FLOAT_EQ(window->drawsRoundCornerBesideArrow(), 1.0f);
    EXPECT_EQ(window->viewFrame(), MakeRect(2, 2, 100, 50));
    EXPECT_EQ(window->view()->superview(), window->contentView());
    EXPECT_EQ(window->view()->frame(), window->viewFrame());
}

TEST(MAAttachedWindow, EachSideStandsAtItsOriginForAPointAndADistance) {
    struct Case {
        int side;
        Rect plain;      // defaults: no arrow, ai = 8
        Rect withArrow;  // arrow 6 high and 10 wide: ai = 8 + 5
        Point viewOrigin;
    };
    // The point (400, 300), distance 10.
    const Case cases[] = {
        {0, MakeRect(286, 273, 104, 54), MakeRect(280, 273, 110, 54), MakePoint(2, 2)},
        {1, MakeRect(348, 236, 104, 54), MakeRect(348, 230, 104, 60), MakePoint(2, 2)},
        {2, MakeRect(410, 273, 104, 54), MakeRect(410, 273, 110, 54), MakePoint(8, 2)},
        {3, MakeRect(348, 310, 104, 54), MakeRect(348, 310, 104, 60), MakePoint(2, 8)},
        {4, MakeRect(286, 292, 104, 54), MakeRect(280, 287, 110, 54), MakePoint(2, 2)},
        {5, MakeRect(286, 254, 104, 54), MakeRect(280, 259, 110, 54), MakePoint(2, 2)},
        {6, MakeRect(410, 292, 104, 54), MakeRect(410, 287, 110, 54), MakePoint(8, 2)},
        {7, MakeRect(410, 254, 104, 54), MakeRect(410, 259, 110, 54), MakePoint(8, 2)},
        {8, MakeRect(304, 310, 104, 54), MakeRect(309, 310, 104, 60), MakePoint(2, 8)},
        {9, MakeRect(392, 310, 104, 54), MakeRect(387, 310, 104, 60), MakePoint(2, 8)},
        {10, MakeRect(304, 236, 104, 54), MakeRect(309, 230, 104, 60), MakePoint(2, 2)},
        {11, MakeRect(392, 236, 104, 54), MakeRect(387, 230, 104, 60), MakePoint(2, 2)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.side);
        auto window = Attached(MakePoint(400, 300), c.side, 10);
        EXPECT_EQ(window->side(), c.side);
        EXPECT_EQ(window->frame(), c.plain);
        window->setArrowBaseWidth(10);
        window->setArrowHeight(6);
        EXPECT_EQ(window->frame(), c.withArrow);
        EXPECT_EQ(window->viewFrame().origin, c.viewOrigin);
        EXPECT_EQ(window->view()->frame().origin, c.viewOrigin);
    }
    // Side 11 at distance 10 with the defaults: the top edge 10 below the point, the left edge 8 left
    // of it (the corner radius and half of an arrow of no width).
    auto hint = Attached(MakePoint(400, 300), MAAttachedWindow::kBelowExtendingRight, 10);
    EXPECT_EQ(hint->frame().maxY(), 300 - 10);
    EXPECT_EQ(hint->frame().minX(), 400 - 8);

    // In a parent window the point is in the parent's coordinates.
    kit::Window parent(MakeSize(400, 300));
    parent.setFrame(MakeRect(100, 100, 400, 300));
    auto inParent = Attached(MakePoint(300, 200), MAAttachedWindow::kBelowExtendingRight, 10, &parent);
    EXPECT_EQ(inParent->attachedToWindow(), &parent);
    EXPECT_EQ(inParent->frame(), MakeRect(392, 236, 104, 54));
    // A code outside the table leaves the window's lower-left corner at the point, without a strip.
    inParent->setPoint(MakePoint(50, 60), MAAttachedWindow::kAutomatic);
    EXPECT_EQ(inParent->side(), MAAttachedWindow::kAutomatic);
    EXPECT_EQ(inParent->frame(), MakeRect(150, 160, 104, 54));
}

TEST(MAAttachedWindow, TheAutomaticSideKeepsToTheScreenAndTurnsAlongTheParentsEdges) {
    auto probe = Attached(MakePoint(0, 0), MAAttachedWindow::kBelow);
    const Rect s = probe->screenVisibleFrame();
    // Room for the parent window below and a pop-up beside it.
    ASSERT_GT(s.width(), 700) << s.width();
    ASSERT_GT(s.height(), 500) << s.height();
    const double midX = s.midX();
    const double midY = s.midY();
    struct Case {
        const char* where;
        Point point;
        double width = 100;
        double height = 50;
        int side;
    };
    // The window is 104 x 54 (the arrow strip left out); the arrow inset is 8.
    const Case cases[] = {
        {"the middle of the screen: below", MakePoint(midX, midY), 100, 50, 1},
        {"the top edge: below still fits", MakePoint(midX, s.maxY() - 5), 100, 50, 1},
        {"near the bottom: right", MakePoint(midX, s.minY() + 40), 100, 50, 2},
        {"very near the bottom: right, extending upward", MakePoint(midX, s.minY() + 20), 100, 50, 6},
        {"near the bottom right corner: left", MakePoint(s.maxX() - 50, s.minY() + 40), 100, 50, 0},
        {"in the bottom right corner: left, extending upward", MakePoint(s.maxX() - 50, s.minY() + 20), 100, 50, 4},
        {"near the bottom, wider than either side: above", MakePoint(midX, s.minY() + 40), s.width() - 100, 50, 3},
        {"nothing fits: below all the same", MakePoint(midX, s.minY() + 40), s.width() - 100, s.height() + 10, 1},
        {"the left edge: below, extending rightward", MakePoint(s.minX() + 10, midY), 100, 50, 11},
        {"the right edge: below, extending leftward", MakePoint(s.maxX() - 10, midY), 100, 50, 10},
        {"near the bottom left corner: right, extending upward", MakePoint(s.minX() + 10, s.minY() + 20), 100, 50, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.where);
        auto window = Attached(c.point, MAAttachedWindow::kAutomatic, 0, nullptr, ShownView(c.width, c.height));
        EXPECT_EQ(window->side(), c.side);
    }

    // Beside a parent window, its edges decide the variants: near its left edge below turns into
    // below extending rightward, near its right edge leftward, though the screen has room either way.
    kit::Window parent(MakeSize(400, 300));
    parent.setFrame(MakeRect(s.minX() + 150, s.minY() + 100, 400, 300));
    struct InParent {
        const char* where;
        Point point;
        int side;
    };
    const InParent inParent[] = {
        {"the parent's middle", MakePoint(200, 150), 1},
        {"near the parent's left edge", MakePoint(10, 150), 11},
        {"near the parent's right edge", MakePoint(390, 150), 10},
    };
    for (const InParent& c : inParent) {
        SCOPED_TRACE(c.where);
        auto window = Attached(c.point, MAAttachedWindow::kAutomatic, 0, &parent);
        EXPECT_EQ(window->side(), c.side);
    }
}

TEST(MAAttachedWindow, TheSettersClampBorderRadiusArrowAndMargin) {
    auto w = Attached(MakePoint(400, 300), MAAttachedWindow::kBelowExtendingRight, 10);
    // Border: at most the margin.
    w->setBorderWidth(5);
    EXPECT_FLOAT_EQ(w->borderWidth(), 2);
    w->setBorderWidth(1);
    EXPECT_FLOAT_EQ(w->borderWidth(), 1);
    // Radius: between 0 and (50 + 2 * 2 - 0) / 2.
    w->setCornerRadius(100);
    EXPECT_FLOAT_EQ(w->cornerRadius(), 27);
    w->setCornerRadius(-3);
    EXPECT_FLOAT_EQ(w->cornerRadius(), 0);
    w->setCornerRadius(8);
    // Arrow width: at most 50 + 4 - 8, less 8 again while the corner beside it is rounded.
    w->setArrowBaseWidth(100);
    EXPECT_FLOAT_EQ(w->arrowBaseWidth(), 38);
    w->setDrawsRoundCornerBesideArrow(0.7f);  // truncated: 0, off
    EXPECT_FLOAT_EQ(w->drawsRoundCornerBesideArrow(), 0);
    w->setArrowBaseWidth(100);
    EXPECT_FLOAT_EQ(w->arrowBaseWidth(), 46);
    // The radius leaves room for the arrow: (54 - 46) / 2.
    w->setCornerRadius(20);
    EXPECT_FLOAT_EQ(w->cornerRadius(), 4);
    // Margin: at least 0.
    w->setViewMargin(-4);
    EXPECT_FLOAT_EQ(w->viewMargin(), 0);

    // A change of margin applies both limits again.
    auto m = Attached(MakePoint(400, 300), MAAttachedWindow::kBelowExtendingRight, 10);
    m->setViewMargin(10);
    m->setCornerRadius(30);
    EXPECT_FLOAT_EQ(m->cornerRadius(), 30);
    m->setViewMargin(2);
    EXPECT_FLOAT_EQ(m->cornerRadius(), 27);
    m->setViewMargin(10);
    m->setCornerRadius(0);
    m->setArrowBaseWidth(70);
    EXPECT_FLOAT_EQ(m->arrowBaseWidth(), 70);
    m->setViewMargin(2);
    EXPECT_FLOAT_EQ(m->arrowBaseWidth(), 54);
    EXPECT_FLOAT_EQ(m->cornerRadius(), 0);
    // The margin lays the window out again: 100 + 2 * 2 wide.
    EXPECT_EQ(m->frame().size, MakeSize(104, 54));
}

TEST(MAAttachedWindow, WithoutTheArrowItsStripStaysTransparentSpace) {
    // Below the point: the arrow, 20 wide and 10 high, points up from the middle of the top edge.
    auto w = Attached(MakePoint(400, 300), MAAttachedWindow::kBelow, 10);
    w->setArrowBaseWidth(20);
    w->setArrowHeight(10);
    ASSERT_EQ(w->frame().size, MakeSize(104, 64));
    const QImage with = uitest::Render(w.get());
    // The strip is the top 10 rows (y down); the tip is at x 52, y 1.
    EXPECT_EQ(Alpha(with, 52, 6), 255) << "the arrow near its tip";
    EXPECT_EQ(Alpha(with, 52, 30), 255) << "the panel";
    EXPECT_EQ(Alpha(with, 10, 5), 0) << "the strip beside the arrow";
    EXPECT_EQ(QColor(with.pixel(52, 30)), QColor(Qt::white));

    w->setHasArrow(0);
    EXPECT_FLOAT_EQ(w->hasArrow(), 0);
    EXPECT_EQ(w->frame().size, MakeSize(104, 64)) << "the strip is kept";
    const QImage without = uitest::Render(w.get());
    EXPECT_EQ(Alpha(without, 52, 6), 0);
    EXPECT_EQ(Alpha(without, 52, 2), 0);
    EXPECT_EQ(Alpha(without, 52, 30), 255);
    EXPECT_EQ(w->viewFrame(), MakeRect(2, 2, 100, 50));
}

TEST(MAAttachedWindow, ACornerBesideTheArrowIsSquareWhenItIsNotToBeRounded) {
    // Below, extending rightward: the arrow sits at the top left corner. The panel's corners on whole
    // pixels: left x 1, right x 103; top y 7 (y down, below the 6-point strip), bottom y 59.
    auto w = Attached(MakePoint(400, 300), MAAttachedWindow::kBelowExtendingRight, 10);
    w->setArrowBaseWidth(10);
    w->setArrowHeight(6);
    ASSERT_EQ(w->frame().size, MakeSize(104, 60));
    struct Corner {
        int x, y;
        const char* name;
    };
    const Corner topLeft{1, 7, "top left"};
    const Corner others[] = {{102, 7, "top right"}, {102, 58, "bottom right"}, {1, 58, "bottom left"}};
    QImage shot = uitest::Render(w.get());
    EXPECT_EQ(Alpha(shot, topLeft.x, topLeft.y), 0) << "rounded beside the arrow";
    for (const Corner& c : others) EXPECT_EQ(Alpha(shot, c.x, c.y), 0) << c.name;

    w->setDrawsRoundCornerBesideArrow(0);
    shot = uitest::Render(w.get());
    EXPECT_EQ(Alpha(shot, topLeft.x, topLeft.y), 255) << "square beside the arrow";
    for (const Corner& c : others) EXPECT_EQ(Alpha(shot, c.x, c.y), 0) << c.name << " stays rounded";
    // The arrow starts right at the corner: at x 1 + 5 it rises into the strip.
    EXPECT_EQ(Alpha(shot, 6, 3), 255);
    EXPECT_EQ(Alpha(shot, 20, 3), 0);
}

TEST(MAAttachedWindow, AChangeOfItsSizeLaysTheWindowOutOnceAndAMoveNotAtAll) {
    auto w = Attached(MakePoint(400, 300), MAAttachedWindow::kBelowExtendingRight, 10);
    // Showing it changes no size: Qt's late word of the size the window gave itself is no change.
    w->orderFront();
    uitest::ProcessEvents();
    EXPECT_EQ(w->redisplayCount(), 0);
    w->orderOut();
    for (bool shown : {false, true}) {
        SCOPED_TRACE(shown ? "shown" : "hidden");
        if (shown) w->orderFront();
        uitest::ProcessEvents();
        const int before = w->redisplayCount();
        w->setFrame(MakeRect(392, 236, 300, 200));
        uitest::ProcessEvents();
        EXPECT_EQ(w->redisplayCount(), before + 1);
        EXPECT_EQ(w->frame(), MakeRect(392, 236, 104, 54)) << "laid out around its view again";
        w->setFrameOrigin(MakePoint(10, 10));
        uitest::ProcessEvents();
        EXPECT_EQ(w->redisplayCount(), before + 1);
    }
    // A setter that lays out again is one redisplay, not a cascade of resizes.
    const int before = w->redisplayCount();
    w->setArrowHeight(6);
    uitest::ProcessEvents();
    EXPECT_EQ(w->redisplayCount(), before + 1);
    EXPECT_EQ(w->frame().size, MakeSize(104, 60));
    w->orderOut();
}

TEST(MAAttachedWindow, AsAChildWindowItFollowsTheMovesOfTheWindowItExplains) {
    kit::Window parent(MakeSize(400, 300));
    parent.setFrame(MakeRect(100, 100, 400, 300));
    ASSERT_TRUE(uitest::ShowAndActivate(&parent));
    auto hint = Attached(MakePoint(80, 250), MAAttachedWindow::kBelowExtendingRight, 10, &parent);
    parent.addChildWindow(hint.get());
    hint->orderFront();
    uitest::ProcessEvents();
    const Rect before = hint->frame();
    parent.setFrameOrigin(MakePoint(130, 120));
    uitest::ProcessEvents();
    EXPECT_EQ(hint->frame().origin, MakePoint(before.x() + 30, before.y() + 20));
    EXPECT_TRUE(parent.isKeyWindow()) << "the pop-up takes no key";
    parent.removeChildWindow(hint.get());
}

}  // namespace
