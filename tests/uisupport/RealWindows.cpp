#include "uisupport/RealWindows.h"

#include <QCoreApplication>
#include <cmath>

#include "platform/foundation/NotificationCenter.h"
#include "ui/kit/Application.h"

namespace uitest {

using std::chrono::milliseconds;

// ---- JointClock

std::shared_ptr<kit::Timer> JointClock::schedule(double interval, bool repeats, kit::Timer::Block block,
                                                 const void* target) {
    std::shared_ptr<kit::Timer> timer = ManualScheduler::schedule(interval, repeats, std::move(block), target);
    std::erase_if(m_timers, [](const std::weak_ptr<kit::Timer>& t) { return t.expired(); });
    m_timers.push_back(timer);
    return timer;
}

std::optional<double> JointClock::nextFireDate(double until) {
    std::optional<double> next;
    for (const auto& weak : m_timers) {
        const auto timer = weak.lock();
        if (!timer || !timer->isValid() || timer->fireDate() > until) continue;
        if (!next || timer->fireDate() < *next) next = timer->fireDate();
    }
    return next;
}

void JointClock::moveOtherTo(double seconds, const std::function<void(milliseconds)>& moveOther) {
    const milliseconds to(std::llround(seconds * 1000));
    if (to <= m_otherAt) return;
    moveOther(to - m_otherAt);
    m_otherAt = to;
}

void JointClock::advanceWith(milliseconds duration, const std::function<void(milliseconds)>& moveOther) {
    const double until = now() + double(duration.count()) / 1000;
    // Each step ends at the next timer's time: the other clock gets there first, then the timers
    // due then fire (repeating ones move on, one-shot ones go, so every step makes progress).
    while (const std::optional<double> next = nextFireDate(until)) {
        const double at = std::max(*next, now());
        moveOtherTo(at, moveOther);
        advance(at - now());
    }
    moveOtherTo(until, moveOther);
    advance(until - now());
}

// ---- RealWindows

class RealWindows::CountingQueue : public brelvox::foundation::IMainThreadQueue {
public:
    // Made on the main thread: the kit's queue delivers to the thread that made it.
    CountingQueue(std::shared_ptr<Counts> counts, kit::QtMainThreadQueue& kitQueue)
        : m_counts(std::move(counts)), m_kitQueue(kitQueue) {}
    void Post(std::function<void()> work) override {
        ++m_counts->pending;
        m_kitQueue.Post([counts = m_counts, work = std::move(work)] {
            --counts->pending;
            ++counts->ran;
            if (work) work();
        });
    }

private:
    std::shared_ptr<Counts> m_counts;
    kit::QtMainThreadQueue& m_kitQueue;
};

RealWindows::RealWindows()
    : m_counts(std::make_shared<Counts>()),
      m_queue(std::make_unique<CountingQueue>(m_counts, kit::Application::shared().mainThreadQueue())),
      m_previousQueue(brelvox::foundation::NotificationCenter::Default().MainThreadQueue()) {
    kit::Scheduler::setCurrent(&m_clock);
    brelvox::foundation::NotificationCenter::Default().SetMainThreadQueue(m_queue.get());
}

RealWindows::~RealWindows() {
    brelvox::foundation::NotificationCenter::Default().SetMainThreadQueue(m_previousQueue);
    kit::Scheduler::setCurrent(nullptr);
}

testsupport::FakeWindowSide::MainLoop RealWindows::loop() {
    testsupport::FakeWindowSide::MainLoop loop;
    loop.turn = [counts = m_counts] {
        const long before = counts->ran.load();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        return size_t(counts->ran.load() - before);
    };
    loop.pending = [counts = m_counts] { return size_t(counts->pending.load()); };
    loop.advance = [this](milliseconds duration, const std::function<void(milliseconds)>& moveFake) {
        m_clock.advanceWith(duration, moveFake);
    };
    return loop;
}

}  // namespace uitest
