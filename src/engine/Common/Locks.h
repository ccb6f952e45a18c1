// Small lock types shared by the engine and the operations layer.
#pragma once

#include <condition_variable>
#include <mutex>
#include <shared_mutex>
#include <thread>

class none_copyable {
public:
    none_copyable() = default;
    virtual ~none_copyable() = default;
    none_copyable(const none_copyable&) = delete;
    none_copyable& operator=(const none_copyable&) = delete;
};

// A plain, non-recursive mutex.
class mutex_locker : public none_copyable {
public:
    void lock() { m_mutex.lock(); }
    void un_lock() { m_mutex.unlock(); }
    // For std::unique_lock and condition variables.
    void unlock() { m_mutex.unlock(); }
    std::mutex& native() { return m_mutex; }

private:
    std::mutex m_mutex;
};

// Holds a lock for its scope.
template <class Lock = mutex_locker>
class autolocker : public none_copyable {
public:
    explicit autolocker(Lock& lock) : m_lock(lock) { m_lock.lock(); }
    explicit autolocker(Lock* lock) : autolocker(*lock) {}
    ~autolocker() override { m_lock.un_lock(); }

private:
    Lock& m_lock;
};

// A condition variable with its mutex.
class cond_locker : public none_copyable {
public:
    std::mutex& mutex() { return m_mutex; }
    std::condition_variable& cond() { return m_cond; }
    void notify_one() { m_cond.notify_one(); }
    void notify_all() { m_cond.notify_all(); }

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
};

// A recursive critical section that remembers its owner thread.
class SimpleCs {
public:
    void EnterCS(const char* name = nullptr) {
        (void)name;
        m_mutex.lock();
        ++m_depth;
        m_owner = std::this_thread::get_id();
    }
    void LeaveCS() {
        // Only the outermost leave frees the owner; the depth is touched only while the mutex is held.
        if (--m_depth == 0) m_owner = std::thread::id();
        m_mutex.unlock();
    }
    std::thread::id Owner() const { return m_owner; }

private:
    std::recursive_mutex m_mutex;
    std::thread::id m_owner;
    int m_depth = 0;
};

// Holds a SimpleCs for its scope; a null lock is ignored.
class SimpleLock {
public:
    SimpleLock(SimpleCs* cs, const char* name = nullptr) : m_cs(cs) {
        if (m_cs) m_cs->EnterCS(name);
    }
    ~SimpleLock() {
        if (m_cs) m_cs->LeaveCS();
    }
    SimpleLock(const SimpleLock&) = delete;
    SimpleLock& operator=(const SimpleLock&) = delete;

private:
    SimpleCs* m_cs;
};

class RWLock {
public:
    void EnterRead() { m_lock.lock_shared(); }
    void LeaveRead() { m_lock.unlock_shared(); }
    void EnterWrite() { m_lock.lock(); }
    void LeaveWrite() { m_lock.unlock(); }

private:
    std::shared_mutex m_lock;
};

class ReadLock {
public:
    explicit ReadLock(RWLock* lock) : m_lock(lock) {
        if (m_lock) m_lock->EnterRead();
    }
    ~ReadLock() {
        if (m_lock) m_lock->LeaveRead();
    }
    ReadLock(const ReadLock&) = delete;
    ReadLock& operator=(const ReadLock&) = delete;

private:
    RWLock* m_lock;
};

class WriteLock {
public:
    explicit WriteLock(RWLock* lock) : m_lock(lock) {
        if (m_lock) m_lock->EnterWrite();
    }
    ~WriteLock() {
        if (m_lock) m_lock->LeaveWrite();
    }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

private:
    RWLock* m_lock;
};

// A one-shot wake-up: EnterWait blocks until WakeUp is called (a wake-up before the wait is kept).
class WaitEvent {
public:
    void EnterWait(int /*timeoutMs, unused by every caller*/ = 0) {
        std::unique_lock<std::mutex> hold(m_mutex);
        m_cond.wait(hold, [this] { return m_signalled; });
        m_signalled = false;
    }
    void WakeUp() {
        {
            std::lock_guard<std::mutex> hold(m_mutex);
            m_signalled = true;
        }
        m_cond.notify_one();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_signalled = false;
};
