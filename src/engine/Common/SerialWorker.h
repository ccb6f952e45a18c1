// A thread of its own that runs tasks one after another, in the order they were posted, with a bounded
// number waiting. A deep searcher hands it the blocks it was given (held in the read-ahead cache) and the
// scan goes on with the other searchers meanwhile; the searcher settles the worker before anything reads
// what the tasks build.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

class CSerialWorker {
public:
    // At most `depth` tasks wait (at least one); Post waits for room beyond that. A sleeping thread is
    // woken once half of them wait (or by Settle): waking it for every task costs the caller more
    // than a task's worth when tasks are short. With a `spin`, the thread looks for the next task that
    // long before it sleeps, keeping a processor busy meanwhile: tasks posted one by one at a steady
    // pace then start at once, with no wake-up at all, and a thread asleep after a longer gap is woken
    // by the next task.
    explicit CSerialWorker(size_t depth, std::chrono::microseconds spin = std::chrono::microseconds(0));
    // Runs what was posted, then stops the thread (a task's exception is dropped here). Never from one
    // of its own tasks: that ends the process.
    ~CSerialWorker();
    CSerialWorker(const CSerialWorker&) = delete;
    CSerialWorker& operator=(const CSerialWorker&) = delete;

    // Queues the task. False when no thread could be started: the caller runs the work itself (nothing
    // of its own is queued then). Rethrows, once, an exception that an earlier task threw (the tasks
    // that waited behind that one were dropped), and then does not queue this task.
    bool Post(std::function<void()> task);
    // Waits until every posted task has run, then rethrows (once) the exception a task threw. Called on
    // the worker's own thread (from a task) it returns at once.
    void Settle();
    // True while a task waits or runs.
    bool Busy();

private:
    void Run();
    // The lock is held; returns with it held, once a task is queued, a stop is asked or the spin is over.
    void SpinForTasks(std::unique_lock<std::mutex>& hold);
    // The lock is held; rethrows and clears a failure.
    void RethrowFailure(std::unique_lock<std::mutex>& hold);

    const size_t m_depth;
    const std::chrono::microseconds m_spin;
    std::mutex m_lock;
    std::condition_variable m_posted;  // a task was queued, or the thread is to stop
    std::condition_variable m_taken;   // a task was taken off the queue or finished
    std::deque<std::function<void()>> m_tasks;
    bool m_running = false;  // the thread runs a task
    bool m_sleeping = false;  // the thread waits for tasks
    // Set and read under the lock, and watched without it by a spinning thread, with the tasks' count.
    std::atomic<bool> m_stop{false};
    std::atomic<size_t> m_queued{0};
    std::exception_ptr m_failure;  // what a task threw, until it is handed over
    std::thread m_thread;
};
