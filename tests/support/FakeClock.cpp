#include "support/FakeClock.h"

namespace testsupport {

FakeClock::FakeClock(std::time_t start) : m_start(start) {}

FakeClock::~FakeClock() {
    Release();
}

IClock::TimePoint FakeClock::Now() {
    std::lock_guard<std::mutex> hold(m_mutex);
    return TimePoint(m_offset);
}

std::time_t FakeClock::Time() {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_start + std::time_t(std::chrono::duration_cast<std::chrono::seconds>(m_offset).count());
}

void FakeClock::SleepFor(std::chrono::milliseconds duration) {
    std::unique_lock<std::mutex> hold(m_mutex);
    const auto wake = m_offset + duration;
    ++m_sleepers;
    m_moved.wait(hold, [&] { return m_released || m_offset >= wake; });
    --m_sleepers;
}

void FakeClock::WaitUntil(TimePoint deadline, const std::function<bool()>& stop) {
    std::unique_lock<std::mutex> hold(m_mutex);
    ++m_sleepers;
    m_moved.wait(hold, [&] { return m_released || TimePoint(m_offset) >= deadline || (stop && stop()); });
    --m_sleepers;
}

void FakeClock::Wake() {
    // Taking the lock orders the wake after a waiter's check of its stop.
    { std::lock_guard<std::mutex> hold(m_mutex); }
    m_moved.notify_all();
}

void FakeClock::Advance(std::chrono::milliseconds duration) {
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        m_offset += duration;
    }
    m_moved.notify_all();
}

void FakeClock::Release() {
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        m_released = true;
    }
    m_moved.notify_all();
}

int FakeClock::Sleepers() {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_sleepers;
}

std::chrono::milliseconds FakeClock::Elapsed() {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_offset;
}

}  // namespace testsupport
