// A clock that moves only when a test moves it. Sleepers wait until the clock has moved past their
// wake-up time; once released (at the end of a test) every sleep returns at once.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

#include "bridge/Dispatch/Clock.h"

namespace testsupport {

class FakeClock : public IClock {
public:
    // Starts at the given Unix time (the wall time the clock answers).
    explicit FakeClock(std::time_t start = 1700000000);
    ~FakeClock() override;

    TimePoint Now() override;
    std::time_t Time() override;
    void SleepFor(std::chrono::milliseconds duration) override;

    void Advance(std::chrono::milliseconds duration);
    // Waits until the clock reaches deadline, is released, or stop answers true (asked again each
    // time the clock moves and at Wake). Counts as a sleeper.
    void WaitUntil(TimePoint deadline, const std::function<bool()>& stop);
    // Makes the waiters of WaitUntil ask their stop again.
    void Wake();
    // Every sleep, present and future, returns at once.
    void Release();
    // Threads sleeping on the clock now.
    int Sleepers();
    std::chrono::milliseconds Elapsed();

private:
    std::mutex m_mutex;
    std::condition_variable m_moved;
    std::chrono::milliseconds m_offset{0};
    std::time_t m_start;
    bool m_released = false;
    int m_sleepers = 0;
};

// Makes a clock the bridge's clock for a scope.
class ScopedBridgeClock {
public:
    explicit ScopedBridgeClock(IClock* clock) { SetBridgeClock(clock); }
    ~ScopedBridgeClock() { SetBridgeClock(nullptr); }
    ScopedBridgeClock(const ScopedBridgeClock&) = delete;
    ScopedBridgeClock& operator=(const ScopedBridgeClock&) = delete;
};

}  // namespace testsupport
