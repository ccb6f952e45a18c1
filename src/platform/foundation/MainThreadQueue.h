// The queue of work to run on the main thread. The application implements it with its event loop;
// tests use PumpedMainThreadQueue and run the queued work themselves.
#pragma once

#include <deque>
#include <functional>
#include <mutex>

namespace brelvox::foundation {

class IMainThreadQueue {
public:
    virtual ~IMainThreadQueue() = default;
    // Queues work to run later on the main thread, in order; never runs it inside the call.
    virtual void Post(std::function<void()> work) = 0;
};

// A queue whose work runs when the owner calls Pump().
class PumpedMainThreadQueue : public IMainThreadQueue {
public:
    void Post(std::function<void()> work) override;
    // Runs everything queued so far, and what that work queues in turn; returns how many ran.
    size_t Pump();
    size_t Pending() const;

private:
    mutable std::mutex m_mutex;
    std::deque<std::function<void()>> m_work;
};

}  // namespace brelvox::foundation
