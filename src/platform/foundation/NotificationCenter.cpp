#include "platform/foundation/NotificationCenter.h"

#include <algorithm>

namespace brelvox::foundation {

NotificationCenter& NotificationCenter::Default() {
    static NotificationCenter centre;
    return centre;
}

void NotificationCenter::AddObserver(const void* observer, const std::string& name, const void* object,
                                     Handler handler) {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_registrations.push_back(
        Registration{observer, name, object, std::move(handler), std::make_shared<std::atomic<bool>>(true)});
}

void NotificationCenter::RemoveObserver(const void* observer) {
    std::lock_guard<std::mutex> hold(m_mutex);
    std::erase_if(m_registrations, [&](const Registration& r) {
        if (r.observer != observer) return false;
        r.alive->store(false);
        return true;
    });
}

void NotificationCenter::RemoveObserver(const void* observer, const std::string& name) {
    std::lock_guard<std::mutex> hold(m_mutex);
    std::erase_if(m_registrations, [&](const Registration& r) {
        if (r.observer != observer || r.name != name) return false;
        r.alive->store(false);
        return true;
    });
}

void NotificationCenter::Post(const std::string& name, const void* object, std::any userInfo) {
    // Handlers run without the lock, so they may add or remove observers; a registration removed
    // meanwhile is skipped through its alive flag.
    std::vector<Registration> matching;
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        for (const auto& r : m_registrations) {
            if (!r.name.empty() && r.name != name) continue;
            if (r.object && r.object != object) continue;
            matching.push_back(r);
        }
    }
    Notification note{name, object, std::move(userInfo)};
    for (const auto& r : matching) {
        if (r.alive->load()) r.handler(note);
    }
}

void NotificationCenter::PostOnMainThread(const std::string& name, const void* object, std::any userInfo) {
    IMainThreadQueue* queue = m_queue.load();
    if (!queue) return;
    std::weak_ptr<int> alive = m_lifetime;
    queue->Post([this, alive, name, object, info = std::move(userInfo)]() mutable {
        if (alive.expired()) return;
        Post(name, object, std::move(info));
    });
}

void NotificationCenter::SetMainThreadQueue(IMainThreadQueue* queue) { m_queue.store(queue); }

IMainThreadQueue* NotificationCenter::MainThreadQueue() const { return m_queue.load(); }

size_t NotificationCenter::ObserverCount() const {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_registrations.size();
}

}  // namespace brelvox::foundation
