// The clock of the operations layer: the polls, the refresh throttle, the start pause of a scan and
// the elapsed time of a task read it, so tests can run them on a clock they move themselves.
#pragma once

#include <chrono>
#include <ctime>

class IClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~IClock() = default;
    // Monotonic time (periods and throttles).
    virtual TimePoint Now() = 0;
    // Seconds since 1970 (elapsed and remaining time of a scan).
    virtual std::time_t Time() = 0;
    // Waits for the duration to pass on this clock.
    virtual void SleepFor(std::chrono::milliseconds duration) = 0;
};

// The system clock: steady time, wall time and real sleeps.
class SystemClock : public IClock {
public:
    TimePoint Now() override { return std::chrono::steady_clock::now(); }
    std::time_t Time() override { return std::time(nullptr); }
    void SleepFor(std::chrono::milliseconds duration) override;
};

// The clock of this process: the system clock unless a test set another (null restores it).
IClock& BridgeClock();
void SetBridgeClock(IClock* clock);
