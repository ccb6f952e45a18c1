// Joinable threads of the operations layer. Every worker (a scan, a recovery, a poll thread) is kept
// in one registry, so that a new start can wait for the old worker to have returned, and quitting (or
// a test) can join them all instead of leaving detached threads behind.
#pragma once

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class IClock;

// One thread. Its function has returned once HasReturned() is true; Join() then reaps the thread.
class Worker {
public:
    explicit Worker(std::string name) : m_name(std::move(name)) {}
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    const std::string& Name() const { return m_name; }
    bool HasReturned();
    // Waits until the function has returned or limit has passed on clock; true when it returned.
    bool WaitForReturn(std::chrono::milliseconds limit, IClock& clock);
    // Waits for the thread to end and reaps it; nothing when already joined. Never call it on the
    // worker's own thread.
    void Join();

private:
    friend class WorkerRegistry;
    static void* Run(void* self);
    void MarkReturned();

    std::string m_name;
    std::function<void()> m_function;
    std::mutex m_mutex;
    std::condition_variable m_returned;
    bool m_hasReturned = false;
    bool m_started = false;
    bool m_joinStarted = false;
    bool m_reaped = false;
    pthread_t m_thread{};
};

class WorkerRegistry {
public:
    // Engine work keeps large records on the stack: every worker gets 2 MiB.
    static constexpr size_t kWorkerStackBytes = 0x200000;

    static WorkerRegistry& Instance();

    // Runs function on a new joinable thread with the given stack; null when no thread can be made.
    std::shared_ptr<Worker> Start(std::string name, std::function<void()> function,
                                  size_t stackBytes = kWorkerStackBytes);
    // Joins and forgets the workers whose function has returned.
    void JoinReturned();
    // Joins every worker (at quitting, and at the end of a test).
    void JoinAll();
    // Workers not yet joined.
    size_t Count();
    // Workers whose function has not returned yet.
    size_t RunningCount();

private:
    std::mutex m_mutex;
    std::vector<std::shared_ptr<Worker>> m_workers;
};
