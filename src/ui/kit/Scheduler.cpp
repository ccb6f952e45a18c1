#include "ui/kit/Scheduler.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

namespace kit {

namespace {

Scheduler* g_current = nullptr;

// The shortest interval of a repeating timer, so that one never fires in a busy loop.
constexpr double kMinimumInterval = 0.0001;

}  // namespace

Timer::Timer(Scheduler* scheduler, double interval, bool repeats, Block block, const void* target)
    : m_scheduler(scheduler),
      m_interval(repeats ? std::max(interval, kMinimumInterval) : std::max(interval, 0.0)),
      m_repeats(repeats),
      m_block(std::move(block)),
      m_target(target) {}

void Timer::invalidate() {
    if (!m_valid) return;
    m_valid = false;
    m_scheduler->unschedule(*this);
}

void Timer::fire() {
    if (!m_valid) return;
    m_scheduler->runBlock(*this);
    if (!m_repeats) invalidate();
}

Scheduler& Scheduler::current() {
    if (g_current) return *g_current;
    static QtScheduler real;
    return real;
}

void Scheduler::setCurrent(Scheduler* scheduler) { g_current = scheduler; }

std::shared_ptr<Timer> Scheduler::scheduledTimer(double interval, bool repeats, Timer::Block block) {
    return schedule(interval, repeats, std::move(block), nullptr);
}

std::shared_ptr<Timer> Scheduler::performAfterDelay(const void* target, double delay, std::function<void()> work) {
    return schedule(delay, false, [work = std::move(work)](Timer&) { work(); }, target);
}

void Scheduler::cancelPreviousPerformRequests(const void* target) {
    if (target) cancelTarget(target);
}

void Scheduler::runBlock(Timer& timer) {
    // The copies keep the timer and its block alive even when the block invalidates the timer.
    const std::shared_ptr<Timer> keep = timer.shared_from_this();
    const Timer::Block block = timer.m_block;
    if (block) block(timer);
}

// ---- QtScheduler

struct QtScheduler::Impl {
    QElapsedTimer clock;
    std::map<Timer*, std::pair<std::shared_ptr<Timer>, QTimer*>> timers;
};

QtScheduler::QtScheduler() : m_impl(std::make_unique<Impl>()) { m_impl->clock.start(); }

QtScheduler::~QtScheduler() {
    for (auto& [timer, entry] : m_impl->timers) {
        timer->m_valid = false;
        delete entry.second;
    }
}

double QtScheduler::now() const { return double(m_impl->clock.nsecsElapsed()) / 1e9; }

std::shared_ptr<Timer> QtScheduler::schedule(double interval, bool repeats, Timer::Block block, const void* target) {
    std::shared_ptr<Timer> timer(new Timer(this, interval, repeats, std::move(block), target));
    timer->m_fireDate = now() + timer->m_interval;
    auto* qtimer = new QTimer;
    qtimer->setTimerType(Qt::PreciseTimer);
    qtimer->setSingleShot(!repeats);
    qtimer->setInterval(std::max(repeats ? 1 : 0, int(std::lround(timer->m_interval * 1000))));
    std::weak_ptr<Timer> weak = timer;
    QObject::connect(qtimer, &QTimer::timeout, qtimer, [this, weak] {
        const std::shared_ptr<Timer> t = weak.lock();
        if (!t || !t->isValid()) return;
        if (t->repeats()) t->m_fireDate = now() + t->interval();
        runBlock(*t);
        if (!t->repeats()) t->invalidate();
    });
    m_impl->timers[timer.get()] = {timer, qtimer};
    qtimer->start();
    return timer;
}

void QtScheduler::unschedule(Timer& timer) {
    auto it = m_impl->timers.find(&timer);
    if (it == m_impl->timers.end()) return;
    QTimer* qtimer = it->second.second;
    qtimer->stop();
    qtimer->deleteLater();  // may be inside its own timeout
    m_impl->timers.erase(it);
}

void QtScheduler::cancelTarget(const void* target) {
    std::vector<std::shared_ptr<Timer>> doomed;
    for (auto& [timer, entry] : m_impl->timers) {
        if (timer->m_target == target) doomed.push_back(entry.first);
    }
    for (auto& timer : doomed) timer->invalidate();
}

// ---- ManualScheduler

struct ManualScheduler::Impl {
    double now = 0;
    uint64_t order = 0;
    std::vector<std::shared_ptr<Timer>> timers;
};

ManualScheduler::ManualScheduler() : m_impl(std::make_unique<Impl>()) {}

ManualScheduler::~ManualScheduler() {
    for (auto& timer : m_impl->timers) timer->m_valid = false;
}

double ManualScheduler::now() const { return m_impl->now; }

std::shared_ptr<Timer> ManualScheduler::schedule(double interval, bool repeats, Timer::Block block,
                                                 const void* target) {
    std::shared_ptr<Timer> timer(new Timer(this, interval, repeats, std::move(block), target));
    timer->m_fireDate = m_impl->now + timer->m_interval;
    timer->m_order = m_impl->order++;
    m_impl->timers.push_back(timer);
    return timer;
}

void ManualScheduler::unschedule(Timer& timer) {
    auto& timers = m_impl->timers;
    timers.erase(std::remove_if(timers.begin(), timers.end(), [&](const auto& t) { return t.get() == &timer; }),
                 timers.end());
}

void ManualScheduler::cancelTarget(const void* target) {
    std::vector<std::shared_ptr<Timer>> doomed;
    for (auto& timer : m_impl->timers) {
        if (timer->m_target == target) doomed.push_back(timer);
    }
    for (auto& timer : doomed) timer->invalidate();
}

void ManualScheduler::advance(double seconds) {
    const double until = m_impl->now + std::max(seconds, 0.0);
    for (;;) {
        std::shared_ptr<Timer> next;
        for (auto& timer : m_impl->timers) {
            if (!timer->isValid() || timer->m_fireDate > until) continue;
            if (!next || timer->m_fireDate < next->m_fireDate ||
                (timer->m_fireDate == next->m_fireDate && timer->m_order < next->m_order)) {
                next = timer;
            }
        }
        if (!next) break;
        m_impl->now = std::max(m_impl->now, next->m_fireDate);
        if (next->repeats()) {
            next->m_fireDate += next->interval();
            next->m_order = m_impl->order++;
        }
        runBlock(*next);
        if (!next->repeats()) next->invalidate();
    }
    m_impl->now = until;
}

size_t ManualScheduler::pendingCount() const {
    return size_t(std::count_if(m_impl->timers.begin(), m_impl->timers.end(),
                                [](const auto& t) { return t->isValid(); }));
}

}  // namespace kit
