// Timers and delayed calls on an injectable clock. The application uses QtScheduler (QTimer on the
// event loop); tests install a ManualScheduler and move its clock forward, so they never sleep.
// Timers fire on the main thread; a repeating timer fires until it is invalidated.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace kit {

class Scheduler;

// A scheduled timer (NSTimer): the scheduler keeps it alive until it is invalidated or, for a
// one-shot timer, has fired.
class Timer : public std::enable_shared_from_this<Timer> {
public:
    using Block = std::function<void(Timer&)>;
    virtual ~Timer() = default;

    double interval() const { return m_interval; }
    bool repeats() const { return m_repeats; }
    bool isValid() const { return m_valid; }
    // When the timer fires next, on its scheduler's clock.
    double fireDate() const { return m_fireDate; }
    // Stops the timer; it never fires again. Safe inside its own block.
    void invalidate();
    // Runs the block now (a one-shot timer is then invalidated; a repeating one keeps its schedule).
    void fire();

protected:
    Timer(Scheduler* scheduler, double interval, bool repeats, Block block, const void* target);

private:
    friend class Scheduler;
    friend class QtScheduler;
    friend class ManualScheduler;

    Scheduler* m_scheduler;
    double m_interval;
    bool m_repeats;
    Block m_block;
    const void* m_target;
    bool m_valid = true;
    double m_fireDate = 0;
    uint64_t m_order = 0;
};

class Scheduler {
public:
    virtual ~Scheduler() = default;

    // The installed scheduler (a QtScheduler unless a test installed another).
    static Scheduler& current();
    // Installs scheduler (not owned); null restores the QtScheduler.
    static void setCurrent(Scheduler* scheduler);

    // Seconds on this scheduler's clock.
    virtual double now() const = 0;

    // A timer that fires after interval seconds (and then every interval seconds when repeating).
    std::shared_ptr<Timer> scheduledTimer(double interval, bool repeats, Timer::Block block);
    // Runs work once after delay seconds; target groups the calls for cancelPreviousPerformRequests.
    std::shared_ptr<Timer> performAfterDelay(const void* target, double delay, std::function<void()> work);
    // Cancels every delayed call of target that has not run yet.
    void cancelPreviousPerformRequests(const void* target);

protected:
    friend class Timer;
    virtual std::shared_ptr<Timer> schedule(double interval, bool repeats, Timer::Block block,
                                            const void* target) = 0;
    virtual void unschedule(Timer& timer) = 0;
    virtual void cancelTarget(const void* target) = 0;
    void runBlock(Timer& timer);
};

// Real time, through QTimer on the thread that schedules (the main thread).
class QtScheduler : public Scheduler {
public:
    QtScheduler();
    ~QtScheduler() override;
    double now() const override;

protected:
    std::shared_ptr<Timer> schedule(double interval, bool repeats, Timer::Block block, const void* target) override;
    void unschedule(Timer& timer) override;
    void cancelTarget(const void* target) override;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// A clock that moves only when the test says so.
class ManualScheduler : public Scheduler {
public:
    ManualScheduler();
    ~ManualScheduler() override;
    double now() const override;

    // Moves the clock forward by seconds, firing every timer that falls due on the way in time
    // order (equal times in the order they were scheduled), at its own time.
    void advance(double seconds);
    // Timers still scheduled.
    size_t pendingCount() const;

protected:
    std::shared_ptr<Timer> schedule(double interval, bool repeats, Timer::Block block, const void* target) override;
    void unschedule(Timer& timer) override;
    void cancelTarget(const void* target) override;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// Installs a ManualScheduler for a scope (tests).
class ScopedManualClock {
public:
    ScopedManualClock() { Scheduler::setCurrent(&m_scheduler); }
    ~ScopedManualClock() { Scheduler::setCurrent(nullptr); }
    ScopedManualClock(const ScopedManualClock&) = delete;
    ScopedManualClock& operator=(const ScopedManualClock&) = delete;
    ManualScheduler& scheduler() { return m_scheduler; }
    void advance(double seconds) { m_scheduler.advance(seconds); }

private:
    ManualScheduler m_scheduler;
};

}  // namespace kit
