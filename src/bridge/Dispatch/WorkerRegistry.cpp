#include "bridge/Dispatch/WorkerRegistry.h"

#include <algorithm>

#include "bridge/Dispatch/Clock.h"

namespace {

// How often a wait on another clock than the system's looks at the clock again.
constexpr std::chrono::milliseconds kWaitStep{2};

}  // namespace

Worker::~Worker() {
    Join();
}

void* Worker::Run(void* self) {
    auto* worker = static_cast<Worker*>(self);
    worker->m_function();
    worker->MarkReturned();
    return nullptr;
}

void Worker::MarkReturned() {
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        m_hasReturned = true;
        m_function = nullptr;
    }
    m_returned.notify_all();
}

bool Worker::HasReturned() {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_hasReturned;
}

bool Worker::WaitForReturn(std::chrono::milliseconds limit, IClock& clock) {
    const auto end = clock.Now() + limit;
    std::unique_lock<std::mutex> hold(m_mutex);
    while (!m_hasReturned) {
        if (clock.Now() >= end) return false;
        // The return wakes the wait at once; the step only lets a clock moved by a test be seen.
        m_returned.wait_for(hold, kWaitStep);
    }
    return true;
}

void Worker::Join() {
    std::unique_lock<std::mutex> hold(m_mutex);
    if (!m_started) return;
    if (m_joinStarted) {
        // Another thread joins it: wait until that join is over.
        m_returned.wait(hold, [this] { return m_reaped; });
        return;
    }
    m_joinStarted = true;
    const pthread_t thread = m_thread;
    // The thread takes m_mutex once, before it ends: join without holding it.
    hold.unlock();
    pthread_join(thread, nullptr);
    hold.lock();
    m_reaped = true;
    hold.unlock();
    m_returned.notify_all();
}

WorkerRegistry& WorkerRegistry::Instance() {
    static WorkerRegistry registry;
    return registry;
}

std::shared_ptr<Worker> WorkerRegistry::Start(std::string name, std::function<void()> function, size_t stackBytes) {
    auto worker = std::make_shared<Worker>(std::move(name));
    worker->m_function = std::move(function);
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return nullptr;
    pthread_attr_setstacksize(&attributes, stackBytes);
    {
        std::lock_guard<std::mutex> hold(worker->m_mutex);
        worker->m_started = pthread_create(&worker->m_thread, &attributes, &Worker::Run, worker.get()) == 0;
    }
    pthread_attr_destroy(&attributes);
    if (!worker->m_started) return nullptr;
    std::lock_guard<std::mutex> hold(m_mutex);
    m_workers.push_back(worker);
    return worker;
}

void WorkerRegistry::JoinReturned() {
    std::vector<std::shared_ptr<Worker>> done;
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        auto returned = [](const std::shared_ptr<Worker>& w) { return w->HasReturned(); };
        std::copy_if(m_workers.begin(), m_workers.end(), std::back_inserter(done), returned);
        std::erase_if(m_workers, returned);
    }
    for (auto& worker : done) worker->Join();
}

void WorkerRegistry::JoinAll() {
    // A worker may start another (a scan start from a poll handler): join until none is left.
    for (;;) {
        std::vector<std::shared_ptr<Worker>> all;
        {
            std::lock_guard<std::mutex> hold(m_mutex);
            all.swap(m_workers);
        }
        if (all.empty()) return;
        for (auto& worker : all) worker->Join();
    }
}

size_t WorkerRegistry::Count() {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_workers.size();
}

size_t WorkerRegistry::RunningCount() {
    std::lock_guard<std::mutex> hold(m_mutex);
    return size_t(std::count_if(m_workers.begin(), m_workers.end(),
                                [](const std::shared_ptr<Worker>& w) { return !w->HasReturned(); }));
}
