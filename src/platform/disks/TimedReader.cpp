#include "platform/disks/TimedReader.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

namespace platform::disks {

ssize_t ReadOnce(int fd, void* buffer, size_t length, std::int64_t offset) {
    for (;;) {
        ssize_t n = ::pread(fd, buffer, length, static_cast<off_t>(offset));
        if (n < 0 && errno == ESPIPE) n = ::read(fd, buffer, length);
        if (n >= 0 || errno != EINTR) return n;
    }
}

// Waking a sleeping thread costs tens of microseconds, a large share of a 1 MiB read from the page
// cache; both sides therefore poll briefly before they sleep. A read expected to end soon is polled
// for longer (a 4 MiB read from memory takes about half a millisecond), a slow one not.
constexpr auto kSpinBeforeSleep = std::chrono::microseconds(300);
constexpr auto kLongestSpin = std::chrono::microseconds(4000);

// Polls ready() until limit. After a short while it yields between polls, so that on a busy machine
// the thread it waits for gets the processor.
template <class Ready>
bool SpinUntil(Ready ready, std::chrono::steady_clock::time_point limit) {
    for (unsigned i = 0;; ++i) {
        if (ready()) return true;
        // Once it yields, one round can last a whole time slice of other threads on a busy machine:
        // the clock is then read every round, or the spin would run far past its limit.
        if ((i >= 1024 || (i & 63) == 0) && std::chrono::steady_clock::now() >= limit) return false;
        if (i >= 1024) {
            std::this_thread::yield();
            continue;
        }
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }
}

// The worker's state is shared between the owner and the worker thread: whoever lets go last frees it,
// buffer included. The flags change only under mutex; they are atomic so that the polling before a
// sleep may look at them without it.
struct TimedReader::Worker {
    std::mutex mutex;
    std::condition_variable cond;
    std::unique_ptr<std::uint8_t[]> buffer;
    std::atomic<bool> pending{false};
    std::atomic<bool> done{false};
    std::atomic<bool> stop{false};
    // The request and its result, guarded by mutex.
    int fd = -1;
    size_t bufferOffset = 0;
    size_t length = 0;
    std::int64_t offset = 0;
    std::uint8_t* target = nullptr;   // memory of the caller's, or null for the buffer
    std::shared_ptr<void> keepAlive;  // owns target while its read runs
    ReadFunction read;
    ssize_t result = 0;
    int error = 0;

    static void Run(std::shared_ptr<Worker> self) {
        Worker& w = *self;
        std::unique_lock<std::mutex> hold(w.mutex);
        for (;;) {
            if (!w.pending && !w.stop) {
                hold.unlock();
                SpinUntil([&] { return w.pending.load() || w.stop.load(); },
                          std::chrono::steady_clock::now() + kSpinBeforeSleep);
                hold.lock();
            }
            w.cond.wait(hold, [&] { return w.pending.load() || w.stop.load(); });
            if (w.stop) return;
            w.pending = false;
            const int fd = w.fd;
            std::uint8_t* target = w.target ? w.target : w.buffer.get() + w.bufferOffset;
            std::shared_ptr<void> keep = std::move(w.keepAlive);
            const size_t length = w.length;
            const std::int64_t offset = w.offset;
            ReadFunction read = w.read;
            hold.unlock();
            errno = 0;
            const ssize_t n = read(fd, target, length, offset);
            const int error = errno;
            // The caller's memory is let go once nothing writes into it any more.
            keep.reset();
            hold.lock();
            w.result = n;
            w.error = error;
            w.done = true;
            w.cond.notify_all();
        }
    }
};

TimedReader::TimedReader(size_t capacity) : m_capacity(capacity) {}

TimedReader::~TimedReader() {
    if (!m_worker) return;
    {
        std::lock_guard<std::mutex> hold(m_worker->mutex);
        m_worker->stop = true;
    }
    m_worker->cond.notify_all();
}

bool TimedReader::EnsureWorker() {
    if (m_worker) return true;
    auto worker = std::shared_ptr<Worker>(new (std::nothrow) Worker);
    if (!worker) return false;
    worker->buffer.reset(new (std::nothrow) std::uint8_t[m_capacity]);
    if (!worker->buffer) return false;
    try {
        // Detached: the thread keeps its own reference, so an abandoned worker frees itself when its
        // read returns, and a stopped one as soon as it wakes.
        std::thread(Worker::Run, worker).detach();
    } catch (...) {
        return false;
    }
    m_worker = std::move(worker);
    return true;
}

bool TimedReader::Start(int fd, size_t bufferOffset, size_t length, std::int64_t offset, const ReadFunction& read) {
    if (bufferOffset > m_capacity || length > m_capacity - bufferOffset || !read) return false;
    return Submit(fd, bufferOffset, nullptr, nullptr, length, offset, read);
}

bool TimedReader::StartInto(int fd, std::shared_ptr<void> keepAlive, std::uint8_t* target, size_t length,
                            std::int64_t offset, const ReadFunction& read) {
    if (!keepAlive || !target || !read) return false;
    return Submit(fd, 0, target, std::move(keepAlive), length, offset, read);
}

bool TimedReader::Submit(int fd, size_t bufferOffset, std::uint8_t* target, std::shared_ptr<void> keepAlive,
                         size_t length, std::int64_t offset, const ReadFunction& read) {
    if (!EnsureWorker()) return false;
    Worker& worker = *m_worker;
    std::lock_guard<std::mutex> hold(worker.mutex);
    worker.fd = fd;
    worker.bufferOffset = bufferOffset;
    worker.length = length;
    worker.offset = offset;
    worker.target = target;
    worker.keepAlive = std::move(keepAlive);
    worker.read = read;
    worker.done = false;
    worker.pending = true;
    m_started = std::chrono::steady_clock::now();
    m_pendingLength = length;
    worker.cond.notify_all();
    return true;
}

TimedReader::Outcome TimedReader::Wait(std::chrono::steady_clock::time_point deadline) {
    Outcome outcome;
    if (!m_worker) return outcome;
    Worker& worker = *m_worker;
    SpinUntil([&] { return worker.done.load(); }, std::min(deadline, m_started + SpinTime()));
    std::unique_lock<std::mutex> hold(worker.mutex);
    if (!worker.cond.wait_until(hold, deadline, [&] { return worker.done.load(); })) {
        // The read goes on without us: leave the worker and its buffer to it.
        worker.stop = true;
        hold.unlock();
        m_worker.reset();
        ++m_abandoned;
        outcome.status = Status::TimedOut;
        return outcome;
    }
    outcome.bytes = worker.result;
    outcome.error = worker.error;
    outcome.status = worker.result < 0 ? Status::Failed : Status::Done;
    if (outcome.bytes > 0) {
        m_lastBytes = static_cast<size_t>(outcome.bytes);
        m_lastTime = std::chrono::steady_clock::now() - m_started;
    }
    return outcome;
}

std::chrono::steady_clock::duration TimedReader::SpinTime() const {
    if (m_lastBytes == 0) return kSpinBeforeSleep;
    // The time the last read's rate gives for this length, doubled for safety.
    const double expected = static_cast<double>(m_lastTime.count()) * static_cast<double>(m_pendingLength) /
                            static_cast<double>(m_lastBytes);
    const auto spin = std::chrono::steady_clock::duration(static_cast<std::int64_t>(2 * expected));
    if (spin > kLongestSpin) return kSpinBeforeSleep;
    return std::max<std::chrono::steady_clock::duration>(spin, kSpinBeforeSleep);
}

TimedReader::Outcome TimedReader::Read(int fd, size_t bufferOffset, size_t length, std::int64_t offset,
                                       std::chrono::milliseconds timeout, const ReadFunction& read) {
    Outcome outcome;
    if (bufferOffset > m_capacity || length > m_capacity - bufferOffset || !read) {
        outcome.error = EINVAL;
        return outcome;
    }
    if (!Start(fd, bufferOffset, length, offset, read)) {
        outcome.status = Status::NoMemory;
        return outcome;
    }
    return Wait(std::chrono::steady_clock::now() + timeout);
}

const std::uint8_t* TimedReader::Data() const {
    return m_worker ? m_worker->buffer.get() : nullptr;
}

}  // namespace platform::disks
