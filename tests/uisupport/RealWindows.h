// The application's side for tests that run the real operations layer under real windows: the
// default notification centre posts through the kit's QtMainThreadQueue (counted, so a test knows
// when all is delivered), Qt's event loop is the main loop, and one time source moves the kit's
// scheduler and the bridge's fake clock together. Give loop() to FakeWindowSide as realWindows:
//
//     uitest::RealWindows windows;
//     testsupport::FakeWindowSide side({.devices = stick.Devices(), .realWindows = windows.loop()});
//     side.RunUntilScanEnds();        // turns Qt's loop, both clocks move by side's step per turn
//     side.Advance(2s);               // a kit timer due at 1.5 s fires with the bridge at 1.5 s
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "support/FakeWindowSide.h"
#include "ui/kit/Scheduler.h"

namespace uitest {

// A ManualScheduler that moves with another clock: advance stops at each timer's time, moves the
// other clock to it, then fires the timer.
class JointClock : public kit::ManualScheduler {
public:
    // moveOther is given each part of the way, in milliseconds.
    void advanceWith(std::chrono::milliseconds duration, const std::function<void(std::chrono::milliseconds)>& moveOther);

protected:
    std::shared_ptr<kit::Timer> schedule(double interval, bool repeats, kit::Timer::Block block,
                                         const void* target) override;

private:
    // The earliest time a valid timer fires at, if it is not after until.
    std::optional<double> nextFireDate(double until);
    void moveOtherTo(double seconds, const std::function<void(std::chrono::milliseconds)>& moveOther);

    std::vector<std::weak_ptr<kit::Timer>> m_timers;
    std::chrono::milliseconds m_otherAt{0};
};

class RealWindows {
public:
    // Installs the joint clock as the kit's scheduler and the counting queue as the default centre's.
    RealWindows();
    // The kit's real scheduler and the centre's queue before are back.
    ~RealWindows();
    RealWindows(const RealWindows&) = delete;
    RealWindows& operator=(const RealWindows&) = delete;

    testsupport::FakeWindowSide::MainLoop loop();
    JointClock& clock() { return m_clock; }
    // Queued for the main thread and not run yet.
    size_t pending() const { return size_t(m_counts->pending.load()); }

private:
    struct Counts {
        std::atomic<long> pending{0};
        std::atomic<long> ran{0};
    };
    class CountingQueue;

    JointClock m_clock;
    std::shared_ptr<Counts> m_counts;
    std::unique_ptr<CountingQueue> m_queue;
    brelvox::foundation::IMainThreadQueue* m_previousQueue;
};

}  // namespace uitest
