// Animations on the kit's scheduler: a progress from 0 to 1 over a duration, stepped about 60 times a
// second and exactly once at the end, then a completion. On the application's QtScheduler this runs in
// real time; in tests a ManualScheduler moves it with advance(), so tests see every stage without
// sleeping. With animations switched off (the ui tests' default) or no duration, the end comes at once.
#pragma once

#include <functional>
#include <memory>

namespace kit {

class Scheduler;
class Timer;

// Animation lengths: tests switch animations off, and every fade then ends at once.
void SetAnimationsEnabled(bool enabled);
bool AnimationsEnabled();

class Animation {
public:
    using Step = std::function<void(double progress)>;

    // Replaces the animation in slot (stopped without its completion) by a new one: step(0) now,
    // step(p) on the way, step(1) when seconds have passed, then done. When it ends at once, step(1)
    // and done run inside this call and slot is left empty; nothing of slot's owner is touched after
    // done, so done may delete the owner.
    static void run(std::shared_ptr<Animation>& slot, double seconds, Step step, std::function<void()> done = {});

    ~Animation();
    Animation(const Animation&) = delete;
    Animation& operator=(const Animation&) = delete;

    // Stops without the last step and without the completion.
    void stop();
    bool isRunning() const { return m_running; }

private:
    Animation(double seconds, Step step, std::function<void()> done);
    void tick();
    void end();

    Scheduler* m_scheduler;  // the one current when the animation started
    double m_start;
    double m_seconds;
    Step m_step;
    std::function<void()> m_done;
    std::shared_ptr<Timer> m_ticker;
    std::shared_ptr<Timer> m_end;
    bool m_running = true;
};

}  // namespace kit
