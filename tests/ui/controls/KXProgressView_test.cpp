// The progress strip: the bar's width rule, its place and its colours.
#include <gtest/gtest.h>

#include "ui/controls/KXProgressView.h"
#include "uisupport/UiTest.h"

namespace {

using kit::MakeRect;

TEST(KXProgressView, TheBarWidthFollowsThePercentageWithAStubAndAFullEnd) {
    struct Case {
        float value;
        double width;
    };
    const Case cases[] = {
        {0.0f, 10},     {1.0f, 10},    {2.0f, 18},    {50.0f, 450},   {53.0f, 477},
        {99.8f, 898.2}, {99.95f, 900}, {100.0f, 900}, {150.0f, 900},  {-5.0f, 10},
    };
    KXProgressView view(MakeRect(0, 86, 900, 4));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        view.changeProgressValue(c.value);
        EXPECT_NEAR(view.progressBar()->frame().width(), c.width, 1e-3);
        EXPECT_EQ(view.progressBar()->frame().height(), 4);
        EXPECT_EQ(view.progressBar()->frame().origin, kit::MakePoint(0, 0));
    }
}

TEST(KXProgressView, TheBarSitsAtTheBottomLeftInBlueOnTheGreyTrack) {
    KXProgressView view(MakeRect(0, 0, 900, 20));
    view.changeProgressValue(50);
    EXPECT_EQ(view.progressBar()->geometry(), QRect(0, 16, 450, 4));
    const QImage shot = uitest::Render(&view);
    EXPECT_EQ(QColor(shot.pixel(100, 18)), QColor(53, 130, 248));
    EXPECT_EQ(QColor(shot.pixel(449, 19)), QColor(53, 130, 248));
    EXPECT_EQ(QColor(shot.pixel(450, 18)), QColor(194, 198, 204));
    EXPECT_EQ(QColor(shot.pixel(100, 5)), QColor(194, 198, 204));
}

TEST(KXProgressView, AResizeWidensTheBarUntilTheNextValueRecomputesIt) {
    kit::View super(MakeRect(0, 0, 900, 100));
    auto* view = new KXProgressView(MakeRect(0, 0, 900, 4));
    view->setAutoresizingMask(kit::kViewWidthSizable);
    super.addSubview(view);
    view->changeProgressValue(50);
    super.setFrameSize(kit::MakeSize(1000, 100));
    // Width sizable and a flexible right margin share the 100 points.
    EXPECT_EQ(view->progressBar()->frame().width(), 500);
    view->changeProgressValue(50);
    EXPECT_EQ(view->progressBar()->frame().width(), 500);
    view->changeProgressValue(10);
    EXPECT_EQ(view->progressBar()->frame().width(), 100);
}

}  // namespace
