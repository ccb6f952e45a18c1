// A device read that a threaded test holds up on purpose: the reading thread waits in Hold() until the
// test lets it go, then writes its late bytes (0xEE) into the buffer it was given, as a read that comes
// back after its time-out would.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "support/Wait.h"

namespace testsupport {

class StuckRead {
public:
    // Called on the reading thread: blocks until LetGo, fills the buffer, answers n.
    ssize_t Hold(void* buffer, size_t n) {
        {
            std::unique_lock<std::mutex> hold(m_mutex);
            m_cond.wait(hold, [&] { return m_release; });
        }
        std::memset(buffer, 0xEE, n);  // the late bytes
        m_returned = true;             // the last touch of this object by the reading thread
        return static_cast<ssize_t>(n);
    }
    void LetGo() {
        std::lock_guard<std::mutex> hold(m_mutex);
        m_release = true;
        m_cond.notify_all();
    }
    bool Returned() const { return m_returned.load(); }
    // The limit only keeps a broken build from hanging.
    bool WaitReturned(std::chrono::milliseconds limit = std::chrono::seconds(60)) const {
        return WaitUntil([&] { return m_returned.load(); }, limit);
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_release = false;
    std::atomic<bool> m_returned{false};
};

}  // namespace testsupport
