#include "ui/kit/Animation.h"

#include <algorithm>

#include "ui/kit/Scheduler.h"

namespace kit {

namespace {

bool g_animations = true;

constexpr double kStepInterval = 1.0 / 60.0;

}  // namespace

void SetAnimationsEnabled(bool enabled) { g_animations = enabled; }
bool AnimationsEnabled() { return g_animations; }

void Animation::run(std::shared_ptr<Animation>& slot, double seconds, Step step, std::function<void()> done) {
    slot.reset();
    if (!g_animations || !(seconds > 0)) {
        if (step) step(1.0);
        if (done) done();  // may end slot's owner: nothing is touched after it
        return;
    }
    slot.reset(new Animation(seconds, std::move(step), std::move(done)));
}

Animation::Animation(double seconds, Step step, std::function<void()> done)
    : m_scheduler(&Scheduler::current()),
      m_start(m_scheduler->now()),
      m_seconds(seconds),
      m_step(std::move(step)),
      m_done(std::move(done)) {
    if (m_step) m_step(0.0);
    m_ticker = m_scheduler->scheduledTimer(kStepInterval, true, [this](Timer&) { tick(); });
    // The end has a timer of its own, so that it comes exactly at its time whatever the steps'.
    m_end = m_scheduler->scheduledTimer(seconds, false, [this](Timer&) { end(); });
}

Animation::~Animation() { stop(); }

void Animation::stop() {
    m_running = false;
    if (m_ticker) m_ticker->invalidate();
    if (m_end) m_end->invalidate();
}

void Animation::tick() {
    if (!m_running) return;
    const double progress = (m_scheduler->now() - m_start) / m_seconds;
    if (progress < 1.0 && m_step) m_step(std::max(0.0, progress));
}

void Animation::end() {
    if (!m_running) return;
    stop();
    if (m_step) m_step(1.0);
    // The completion may end the animation's owner, and with it this animation: it runs last.
    if (std::function<void()> done = std::move(m_done)) done();
}

}  // namespace kit
