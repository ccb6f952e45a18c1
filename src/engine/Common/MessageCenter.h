// The engine's process-wide event queue: producers push small events from any thread, and one
// delivery thread hands at most one queued event per interval to every registered receiver.
#pragma once

#include <chrono>
#include <condition_variable>
#include <list>
#include <map>
#include <mutex>
#include <thread>

#include "engine/Common/Locks.h"
#include "engine/Common/Types.h"

enum EVENT_TYPE : u32 {
    EVENT_BAD_SECTOR = 1,  // a device read failed (no payload)
};

// One event: a single heap block of 12 bytes + payload length.
struct _MSG_EVENT {
    i32 type;
    i32 length;
    u8 reserved[4];
    u8 payload[1];  // `length` bytes follow
};

// A receiver of engine events, registered under an integer type. Notify runs on the delivery thread
// with the queue's lock held: a receiver only copies and posts, and never calls back into the queue.
class INotifyCenter {
public:
    virtual ~INotifyCenter() = default;
    virtual bool Notify(_MSG_EVENT* event) = 0;
    void SetType(int type) { m_type = type; }
    int GetType() const { return m_type; }

private:
    int m_type = 0;
};

class CMessageCenter {
public:
    static CMessageCenter* Instance();

    CMessageCenter();
    ~CMessageCenter();
    CMessageCenter(const CMessageCenter&) = delete;
    CMessageCenter& operator=(const CMessageCenter&) = delete;

    // Starts delivery (discarding anything still queued) unless it already runs.
    void StartReceiveMessage();
    // Stops delivery and waits for the delivery thread.
    void StopReceiveMessage();
    // Queues a copy of the payload while delivery runs; dropped otherwise. A negative length, or a
    // positive length without payload, is refused (false).
    bool PushEvent(EVENT_TYPE type, int length, const void* payload);
    _MSG_EVENT* PopEvent();
    void SendEvent(_MSG_EVENT* event);

    bool RegisterNotifyCenter(int type, INotifyCenter* centre);
    void UnregisterNotifyCenter(int type);
    INotifyCenter* GetNotifyCenter(int type);
    void UpdateNotifyCenter(int type, INotifyCenter* centre);
    void Clear();

    // The pause between two deliveries: 1 s in the product; tests shorten it.
    void SetDeliveryInterval(std::chrono::milliseconds interval);
    size_t QueuedCount();
    bool IsDelivering();

private:
    void DeliveryLoop();
    void ClearLocked();

    std::map<int, INotifyCenter*> m_receivers;
    std::list<_MSG_EVENT*> m_queue;
    _MSG_EVENT* m_current = nullptr;
    bool m_stop = false;
    // True while a delivery thread is kept (guarded by g_lockerMSG): events are queued only then.
    bool m_accepting = false;
    std::thread m_thread;
    std::chrono::milliseconds m_interval{1000};
    // Serialises StartReceiveMessage and StopReceiveMessage (they own m_thread).
    std::mutex m_lifecycleMutex;
    // Wakes the delivery thread early when it is told to stop.
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
};

// The lock over the receivers, the queue and the current event.
extern mutex_locker g_lockerMSG;
