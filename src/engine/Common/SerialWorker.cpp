#include "engine/Common/SerialWorker.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <system_error>
#include <utility>

CSerialWorker::CSerialWorker(size_t depth, std::chrono::microseconds spin)
    : m_depth(std::max<size_t>(depth, 1)), m_spin(std::max(spin, std::chrono::microseconds(0))) {}

CSerialWorker::~CSerialWorker() {
    // A task that destroys its own worker is a program error: the thread would go on in the destroyed
    // object. It ends the process here, in every build, rather than later at random.
    if (m_thread.get_id() == std::this_thread::get_id()) {
        static constexpr char kMessage[] = "CSerialWorker: destroyed by one of its own tasks\n";
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
        std::abort();
    }
    {
        std::unique_lock<std::mutex> hold(m_lock);
        if (!m_tasks.empty()) m_posted.notify_one();
        m_taken.wait(hold, [this] { return m_tasks.empty() && !m_running; });
        m_stop = true;
    }
    m_posted.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

bool CSerialWorker::Post(std::function<void()> task) {
    std::unique_lock<std::mutex> hold(m_lock);
    RethrowFailure(hold);
    if (!m_thread.joinable()) {
        try {
            m_thread = std::thread(&CSerialWorker::Run, this);
        } catch (const std::system_error&) {
            return false;
        }
    }
    m_taken.wait(hold, [this] { return m_tasks.size() < m_depth || m_failure; });
    RethrowFailure(hold);
    m_tasks.push_back(std::move(task));
    m_queued.store(m_tasks.size(), std::memory_order_release);
    // A thread that spins and still fell asleep met a gap between tasks: the next task wakes it (one
    // wake-up per gap).
    const bool wake = m_sleeping && (m_spin.count() != 0 || m_tasks.size() * 2 >= m_depth);
    hold.unlock();
    if (wake) m_posted.notify_one();
    return true;
}

void CSerialWorker::Settle() {
    std::unique_lock<std::mutex> hold(m_lock);
    if (m_thread.get_id() == std::this_thread::get_id()) return;
    if (!m_tasks.empty()) m_posted.notify_one();
    m_taken.wait(hold, [this] { return m_tasks.empty() && !m_running; });
    RethrowFailure(hold);
}

bool CSerialWorker::Busy() {
    std::lock_guard<std::mutex> hold(m_lock);
    return !m_tasks.empty() || m_running;
}

void CSerialWorker::RethrowFailure(std::unique_lock<std::mutex>& hold) {
    (void)hold;
    if (!m_failure) return;
    std::exception_ptr failure = std::exchange(m_failure, nullptr);
    std::rethrow_exception(failure);
}

void CSerialWorker::SpinForTasks(std::unique_lock<std::mutex>& hold) {
    if (m_spin.count() == 0 || !m_tasks.empty() || m_stop) return;
    hold.unlock();
    const auto until = std::chrono::steady_clock::now() + m_spin;
    for (unsigned n = 1; m_queued.load(std::memory_order_acquire) == 0 && !m_stop.load(std::memory_order_acquire);
         ++n) {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#else
        std::this_thread::yield();
#endif
        if (n % 64 == 0 && std::chrono::steady_clock::now() >= until) break;
    }
    hold.lock();
}

void CSerialWorker::Run() {
    std::unique_lock<std::mutex> hold(m_lock);
    for (;;) {
        SpinForTasks(hold);
        m_sleeping = true;
        m_posted.wait(hold, [this] { return !m_tasks.empty() || m_stop; });
        m_sleeping = false;
        if (m_tasks.empty()) return;  // stopped with nothing left
        std::function<void()> task = std::move(m_tasks.front());
        m_tasks.pop_front();
        m_queued.store(m_tasks.size(), std::memory_order_release);
        m_running = true;
        hold.unlock();
        m_taken.notify_all();
        std::exception_ptr failure;
        try {
            task();
        } catch (...) {
            failure = std::current_exception();
        }
        task = nullptr;  // what the task holds is released before the caller hears it ran
        hold.lock();
        m_running = false;
        if (failure) {
            // The tasks behind a failed one are dropped: they would build on what it left undone.
            if (!m_failure) m_failure = failure;
            m_tasks.clear();
            m_queued.store(0, std::memory_order_release);
        }
        m_taken.notify_all();
    }
}
