#include "platform/foundation/MainThreadQueue.h"

namespace brelvox::foundation {

void PumpedMainThreadQueue::Post(std::function<void()> work) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_work.push_back(std::move(work));
}

size_t PumpedMainThreadQueue::Pump() {
    size_t ran = 0;
    for (;;) {
        std::function<void()> next;
        {
            std::lock_guard<std::mutex> hold(m_mutex);
            if (m_work.empty()) return ran;
            next = std::move(m_work.front());
            m_work.pop_front();
        }
        next();
        ++ran;
    }
}

size_t PumpedMainThreadQueue::Pending() const {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_work.size();
}

}  // namespace brelvox::foundation
