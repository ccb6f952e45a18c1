// The receiver of engine events: registered with CMessageCenter, it fans every event out to its
// observers. It runs on the engine queue's delivery thread with the queue lock held, so it and its
// observers only copy and post; they never wait for another thread.
#pragma once

#include <vector>

#include "bridge/Notify/INotifyObserver.h"
#include "engine/Common/MessageCenter.h"

class CMyNotifyCenter : public INotifyCenter {
public:
    // The process-wide centre.
    static CMyNotifyCenter* Instance();

    CMyNotifyCenter() = default;
    ~CMyNotifyCenter() override;
    CMyNotifyCenter(const CMyNotifyCenter&) = delete;
    CMyNotifyCenter& operator=(const CMyNotifyCenter&) = delete;

    void AddObserver(INotifyObserver* observer);
    // Removes the first occurrence; nothing when absent. Once it returns, the observer is not being
    // called and will not be called again.
    void RemoveObserver(INotifyObserver* observer);
    // Calls every observer in the order of adding with the copy of the last event's payload.
    void NotifyObserver(int type);
    // Keeps a copy of the event's payload (none for length 0) and notifies the observers. False for a
    // null event or a payload copy that cannot be made.
    bool Notify(_MSG_EVENT* event) override;

    size_t ObserverCount();

private:
    std::vector<INotifyObserver*> m_observers;
    unsigned char* m_payload = nullptr;
};
