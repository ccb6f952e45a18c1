#include "bridge/Notify/CMyNotifyCenter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/Common/Locks.h"

namespace {

// One lock over the observer lists of every centre; never destroyed, like the process-wide centre.
mutex_locker& ObserverLock() {
    static mutex_locker* lock = new mutex_locker;
    return *lock;
}

}  // namespace

CMyNotifyCenter* CMyNotifyCenter::Instance() {
    // Never destroyed: the engine queue may hold it as a receiver until the very end of the process.
    static CMyNotifyCenter* centre = new CMyNotifyCenter;
    return centre;
}

CMyNotifyCenter::~CMyNotifyCenter() { std::free(m_payload); }

void CMyNotifyCenter::AddObserver(INotifyObserver* observer) {
    if (!observer) return;
    autolocker<> hold(ObserverLock());
    m_observers.push_back(observer);
}

void CMyNotifyCenter::RemoveObserver(INotifyObserver* observer) {
    autolocker<> hold(ObserverLock());
    auto it = std::find(m_observers.begin(), m_observers.end(), observer);
    if (it != m_observers.end()) m_observers.erase(it);
}

void CMyNotifyCenter::NotifyObserver(int type) {
    autolocker<> hold(ObserverLock());
    for (INotifyObserver* observer : m_observers) observer->Notify(type, m_payload);
}

bool CMyNotifyCenter::Notify(_MSG_EVENT* event) {
    if (!event) return false;
    unsigned char* copy = nullptr;
    if (event->length > 0) {
        copy = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(event->length)));
        if (!copy) return false;
        std::memcpy(copy, event->payload, static_cast<size_t>(event->length));
    }
    {
        // Replaced under the observer lock so that a direct call never races a delivery.
        autolocker<> hold(ObserverLock());
        std::free(m_payload);
        m_payload = copy;
    }
    NotifyObserver(event->type);
    return true;
}

size_t CMyNotifyCenter::ObserverCount() {
    autolocker<> hold(ObserverLock());
    return m_observers.size();
}
