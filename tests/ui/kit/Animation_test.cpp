// Fades of windows and views on the kit's scheduler: stepped by a ManualScheduler, ending exactly at
// their time, completing once, and a view's opacity drawn over what lies below it.
#include <gtest/gtest.h>

#include <QtTest/QTest>

#include "ui/kit/Scheduler.h"
#include "ui/kit/View.h"
#include "ui/kit/Window.h"
#include "uisupport/UiTest.h"

namespace {

using kit::MakeRect;
using kit::MakeSize;

TEST(Animation, AWindowFadesInOnTheKitsClockAndEndsExactlyAtItsTime) {
    uitest::ScopedAnimations animations;
    kit::ScopedManualClock clock;
    kit::Window window(MakeSize(100, 100));
    window.fadeIn(0.3);
    EXPECT_TRUE(window.isVisible());
    EXPECT_DOUBLE_EQ(window.alphaValue(), 0.0);
    clock.advance(0.15);
    EXPECT_NEAR(window.alphaValue(), 0.5, 0.06);
    clock.advance(0.15);
    EXPECT_DOUBLE_EQ(window.alphaValue(), 1.0);
    EXPECT_EQ(clock.scheduler().pendingCount(), 0u) << "nothing left running";
}

TEST(Animation, AFadeOutClosesOnceAtItsEndAndAFadeStartedOnTheWayTakesOver) {
    uitest::ScopedAnimations animations;
    kit::ScopedManualClock clock;
    kit::Window window(MakeSize(100, 100));
    window.fadeIn(0.3);
    clock.advance(0.15);

    int done = 0;
    window.fadeOut([&] { ++done; }, 0.3);
    const double from = window.alphaValue();
    EXPECT_NEAR(from, 0.5, 0.06) << "a fade-out starts where the fade-in was";
    clock.advance(0.15);
    EXPECT_NEAR(window.alphaValue(), from / 2, 0.06);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(done, 0);
    clock.advance(0.15);
    EXPECT_EQ(done, 1);
    EXPECT_FALSE(window.isVisible());
    EXPECT_DOUBLE_EQ(window.alphaValue(), 1.0) << "ready to show again";
    clock.advance(1.0);
    EXPECT_EQ(done, 1);

    // A second fade-out started on the way replaces the first: only its completion runs.
    window.fadeIn(0.3);
    clock.advance(0.3);
    int first = 0, second = 0;
    window.fadeOut([&] { ++first; }, 0.3);
    clock.advance(0.1);
    window.fadeOut([&] { ++second; }, 0.3);
    clock.advance(1.0);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
}

TEST(Animation, AFadeOutMayDeleteItsWindowInItsCompletion) {
    for (const bool animated : {true, false}) {
        kit::SetAnimationsEnabled(animated);
        kit::ScopedManualClock clock;
        auto* window = new kit::Window(MakeSize(100, 100));
        window->show();
        bool deleted = false;
        QObject::connect(window, &QObject::destroyed, [&] { deleted = true; });
        window->fadeOut([window] { delete window; }, 0.2);
        clock.advance(0.2);
        EXPECT_TRUE(deleted) << (animated ? "animated" : "at once");
        EXPECT_EQ(clock.scheduler().pendingCount(), 0u);
    }
    kit::SetAnimationsEnabled(false);
}

TEST(Animation, AViewAtHalfAlphaShowsHalfOverItsSuperviewAndAnimatesItsAlpha) {
    kit::Window window(MakeSize(100, 100));
    window.setBackgroundColor(Qt::white);
    auto* red = new kit::View(MakeRect(0, 0, 50, 100));
    red->setBackgroundColor(Qt::red);
    window.contentView()->addSubview(red);
    red->setAlphaValue(0.5);
    EXPECT_DOUBLE_EQ(red->alphaValue(), 0.5);
    ASSERT_TRUE(uitest::ShowAndActivate(&window));
    QImage shot = window.grab().toImage();
    const QColor half(shot.pixel(25, 50));
    EXPECT_EQ(half.red(), 255) << uitest::Rgb(half);
    EXPECT_NEAR(half.green(), 128, 2) << uitest::Rgb(half);
    EXPECT_NEAR(half.blue(), 128, 2) << uitest::Rgb(half);
    EXPECT_EQ(QColor(shot.pixel(75, 50)), QColor(Qt::white));

    uitest::ScopedAnimations animations;
    kit::ScopedManualClock clock;
    red->setAlphaValue(0.0);
    int done = 0;
    red->animateAlphaValue(1.0, 0.35, [&] { ++done; });
    clock.advance(0.175);
    EXPECT_NEAR(red->alphaValue(), 0.5, 0.06);
    clock.advance(0.175);
    EXPECT_DOUBLE_EQ(red->alphaValue(), 1.0);
    EXPECT_EQ(done, 1);
    shot = window.grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(25, 50)), QColor(Qt::red)) << "opaque again";
}

}  // namespace
