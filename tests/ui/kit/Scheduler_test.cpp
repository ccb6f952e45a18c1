// Timers and delayed calls on the fake clock (the tests never sleep), and one real timer.
#include <gtest/gtest.h>

#include <QtTest/QTest>
#include <string>
#include <vector>

#include "ui/kit/Scheduler.h"

namespace {

TEST(Scheduler, DelayedCallsRunAtTheirTimeInOrderAndNotBefore) {
    kit::ScopedManualClock clock;
    kit::Scheduler& s = kit::Scheduler::current();
    std::vector<std::string> ran;
    s.performAfterDelay(nullptr, 0.3, [&] { ran.push_back("0.3"); });
    s.performAfterDelay(nullptr, 0.1, [&] { ran.push_back("0.1 first"); });
    s.performAfterDelay(nullptr, 0.1, [&] { ran.push_back("0.1 second"); });
    clock.advance(0.0999);
    EXPECT_TRUE(ran.empty());
    clock.advance(0.0001);
    EXPECT_EQ(ran, (std::vector<std::string>{"0.1 first", "0.1 second"}));
    clock.advance(1.0);
    EXPECT_EQ(ran.back(), "0.3");
    EXPECT_DOUBLE_EQ(s.now(), 1.1);
    EXPECT_EQ(clock.scheduler().pendingCount(), 0u);
}

TEST(Scheduler, CancellingATargetDropsOnlyItsCallsThatHaveNotRun) {
    kit::ScopedManualClock clock;
    kit::Scheduler& s = kit::Scheduler::current();
    int a = 0, b = 0;
    const int targetA = 0, targetB = 0;
    s.performAfterDelay(&targetA, 0.5, [&] { ++a; });
    s.performAfterDelay(&targetA, 2.0, [&] { ++a; });
    s.performAfterDelay(&targetB, 2.0, [&] { ++b; });
    clock.advance(1.0);
    s.cancelPreviousPerformRequests(&targetA);
    clock.advance(5.0);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 1);
}

TEST(Scheduler, ARepeatingTimerFiresEachIntervalOnTheWayUntilInvalidatedInItsOwnBlock) {
    kit::ScopedManualClock clock;
    std::vector<double> times;
    auto timer = kit::Scheduler::current().scheduledTimer(1.5, true, [&](kit::Timer& t) {
        times.push_back(kit::Scheduler::current().now());
        if (times.size() == 3) t.invalidate();
    });
    clock.advance(4.0);
    EXPECT_EQ(times, (std::vector<double>{1.5, 3.0}));
    EXPECT_TRUE(timer->isValid());
    EXPECT_DOUBLE_EQ(timer->fireDate(), 4.5);
    clock.advance(30);
    EXPECT_EQ(times.size(), 3u);
    EXPECT_FALSE(timer->isValid());
}

TEST(Scheduler, AnInvalidatedOneShotNeverFiresAndFireRunsItNow) {
    kit::ScopedManualClock clock;
    int fired = 0;
    auto once = kit::Scheduler::current().scheduledTimer(8, false, [&](kit::Timer&) { ++fired; });
    once->invalidate();
    clock.advance(10);
    EXPECT_EQ(fired, 0);
    auto other = kit::Scheduler::current().scheduledTimer(8, false, [&](kit::Timer&) { ++fired; });
    other->fire();
    EXPECT_EQ(fired, 1);
    EXPECT_FALSE(other->isValid());
    clock.advance(10);
    EXPECT_EQ(fired, 1);
}

TEST(Scheduler, TheQtSchedulerRunsOnTheEventLoop) {
    kit::QtScheduler real;
    bool ran = false;
    real.performAfterDelay(nullptr, 0, [&] { ran = true; });
    EXPECT_FALSE(ran);
    EXPECT_TRUE(QTest::qWaitFor([&] { return ran; }, 2000));
    int ticks = 0;
    auto timer = real.scheduledTimer(0.001, true, [&](kit::Timer& t) {
        if (++ticks == 3) t.invalidate();
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return !timer->isValid(); }, 2000));
    EXPECT_EQ(ticks, 3);
}

}  // namespace
