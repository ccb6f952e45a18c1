#include "bridge/Dispatch/Clock.h"

#include <atomic>
#include <thread>

namespace {

std::atomic<IClock*> g_clock{nullptr};

}  // namespace

void SystemClock::SleepFor(std::chrono::milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

IClock& BridgeClock() {
    static SystemClock system;
    IClock* clock = g_clock.load(std::memory_order_acquire);
    return clock ? *clock : system;
}

void SetBridgeClock(IClock* clock) {
    g_clock.store(clock, std::memory_order_release);
}
