// Named notifications: observers register for a name, optionally only for one sender object, and
// are called synchronously by Post() or later on the main thread by PostOnMainThread().
#pragma once

#include <any>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/MainThreadQueue.h"

namespace brelvox::foundation {

struct Notification {
    std::string name;
    const void* object = nullptr;  // the sender, or null
    std::any userInfo;             // optional payload
};

class NotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;

    // The process-wide centre.
    static NotificationCenter& Default();

    // Registers handler for name (empty name: every notification). With a non-null object only
    // notifications from that sender reach it. observer identifies the registration for removal.
    void AddObserver(const void* observer, const std::string& name, const void* object, Handler handler);
    // Removes every registration of observer; safe during a post (a removed observer is not called again).
    void RemoveObserver(const void* observer);
    // Removes observer's registrations for one name.
    void RemoveObserver(const void* observer, const std::string& name);

    // Calls the matching observers now, on this thread, in the order they were added.
    void Post(const std::string& name, const void* object = nullptr, std::any userInfo = {});
    // Queues the post onto the main thread and returns at once. Without a main-thread queue it is
    // dropped (nothing can run it).
    // A post still queued when the centre ends is dropped.
    void PostOnMainThread(const std::string& name, const void* object = nullptr, std::any userInfo = {});

    void SetMainThreadQueue(IMainThreadQueue* queue);
    IMainThreadQueue* MainThreadQueue() const;

    size_t ObserverCount() const;

private:
    struct Registration {
        const void* observer;
        std::string name;
        const void* object;
        Handler handler;
        std::shared_ptr<std::atomic<bool>> alive;
    };

    mutable std::mutex m_mutex;
    std::vector<Registration> m_registrations;
    std::atomic<IMainThreadQueue*> m_queue{nullptr};
    // Queued posts hold a weak reference to this token, so they never reach a destroyed centre.
    std::shared_ptr<int> m_lifetime = std::make_shared<int>(0);
};

}  // namespace brelvox::foundation
