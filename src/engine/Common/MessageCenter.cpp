#include "engine/Common/MessageCenter.h"

#include <cstdlib>
#include <cstring>
#include <new>

mutex_locker g_lockerMSG;

CMessageCenter* CMessageCenter::Instance() {
    static CMessageCenter centre;
    return &centre;
}

CMessageCenter::CMessageCenter() = default;

CMessageCenter::~CMessageCenter() {
    StopReceiveMessage();
    autolocker<> hold(g_lockerMSG);
    ClearLocked();
    m_receivers.clear();
}

void CMessageCenter::StartReceiveMessage() {
    std::lock_guard<std::mutex> lifecycle(m_lifecycleMutex);
    {
        std::lock_guard<std::mutex> wake(m_wakeMutex);
        m_stop = false;
    }
    if (m_thread.joinable()) return;
    {
        autolocker<> hold(g_lockerMSG);
        ClearLocked();
        m_accepting = true;
    }
    m_thread = std::thread([this] { DeliveryLoop(); });
}

void CMessageCenter::StopReceiveMessage() {
    std::lock_guard<std::mutex> lifecycle(m_lifecycleMutex);
    {
        std::lock_guard<std::mutex> wake(m_wakeMutex);
        m_stop = true;
    }
    m_wake.notify_all();
    {
        autolocker<> hold(g_lockerMSG);
        m_accepting = false;
    }
    // A thread cannot join itself: left to itself, the delivery thread ends at its next look at the
    // stop flag.
    if (!m_thread.joinable()) return;
    if (m_thread.get_id() == std::this_thread::get_id())
        m_thread.detach();
    else
        m_thread.join();
}

bool CMessageCenter::PushEvent(EVENT_TYPE type, int length, const void* payload) {
    if (length < 0 || (length > 0 && !payload)) return false;
    autolocker<> hold(g_lockerMSG);
    if (!m_accepting) return false;
    auto* event = static_cast<_MSG_EVENT*>(std::malloc(static_cast<size_t>(length) + 12));
    if (!event) return false;
    event->type = static_cast<i32>(type);
    event->length = length;
    std::memset(event->reserved, 0, sizeof(event->reserved));
    if (length > 0) std::memcpy(event->payload, payload, static_cast<size_t>(length));
    m_queue.push_back(event);
    return true;
}

_MSG_EVENT* CMessageCenter::PopEvent() {
    autolocker<> hold(g_lockerMSG);
    if (m_queue.empty()) return nullptr;
    m_current = m_queue.front();
    m_queue.pop_front();
    return m_current;
}

void CMessageCenter::SendEvent(_MSG_EVENT* event) {
    autolocker<> hold(g_lockerMSG);
    if (!event) return;
    for (auto& [type, receiver] : m_receivers) {
        if (receiver) receiver->Notify(event);
    }
    if (m_current == event) m_current = nullptr;
    std::free(event);
}

bool CMessageCenter::RegisterNotifyCenter(int type, INotifyCenter* centre) {
    if (!centre) return false;
    autolocker<> hold(g_lockerMSG);
    return m_receivers.emplace(type, centre).second;
}

void CMessageCenter::UnregisterNotifyCenter(int type) {
    autolocker<> hold(g_lockerMSG);
    m_receivers.erase(type);
}

INotifyCenter* CMessageCenter::GetNotifyCenter(int type) {
    autolocker<> hold(g_lockerMSG);
    auto it = m_receivers.find(type);
    return it == m_receivers.end() ? nullptr : it->second;
}

void CMessageCenter::UpdateNotifyCenter(int type, INotifyCenter* centre) {
    autolocker<> hold(g_lockerMSG);
    if (centre)
        m_receivers[type] = centre;
    else
        m_receivers.erase(type);
}

void CMessageCenter::Clear() {
    autolocker<> hold(g_lockerMSG);
    ClearLocked();
}

void CMessageCenter::ClearLocked() {
    for (_MSG_EVENT* event : m_queue) std::free(event);
    m_queue.clear();
}

void CMessageCenter::SetDeliveryInterval(std::chrono::milliseconds interval) {
    std::lock_guard<std::mutex> wake(m_wakeMutex);
    m_interval = interval;
}

size_t CMessageCenter::QueuedCount() {
    autolocker<> hold(g_lockerMSG);
    return m_queue.size();
}

bool CMessageCenter::IsDelivering() {
    autolocker<> hold(g_lockerMSG);
    return m_accepting;
}

void CMessageCenter::DeliveryLoop() {
    for (;;) {
        {
            std::lock_guard<std::mutex> wake(m_wakeMutex);
            if (m_stop) break;
        }
        SendEvent(PopEvent());
        std::unique_lock<std::mutex> wake(m_wakeMutex);
        m_wake.wait_for(wake, m_interval, [this] { return m_stop; });
        if (m_stop) break;
    }
    Clear();
}
