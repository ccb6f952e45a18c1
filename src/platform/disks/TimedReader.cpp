#include "platform/disks/TimedReader.h"

#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

namespace platform::disks {

ssize_t ReadOnce(int fd, void* buffer, size_t length, std::int64_t offset) {
    for (;;) {
        ssize_t n = ::pread(fd, buffer, length, static_cast<off_t>(offset));
        if (n < 0 && errno == ESPIPE) n = ::read(fd, buffer, length);
        if (n >= 0 || errno != EINTR) return n;
    }
}

// The worker's state is shared between the owner and the worker thread: whoever lets go last frees it,
// buffer included. Both sides sleep until the other has something for them (a request, a result, a
// stop): a wait costs no processor time, however long the read or the machine's queue of threads.
struct TimedReader::Worker {
    std::mutex mutex;
    std::condition_variable requested;  // the worker waits here for a request or a stop
    std::condition_variable finished;   // the owner waits here for the result
    std::unique_ptr<std::uint8_t[]> buffer;
    // Guarded by mutex, with the request and its result.
    bool pending = false;
    bool done = false;
    bool stop = false;
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
            w.requested.wait(hold, [&] { return w.pending || w.stop; });
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
            // Told after the lock is let go, so the owner does not wake only to wait for it. The
            // thread's own share keeps the worker alive meanwhile, even when the owner left.
            hold.unlock();
            w.finished.notify_one();
            hold.lock();
        }
    }
};

TimedReader::TimedReader(size_t capacity) : m_capacity(capacity) {}

TimedReader::~TimedReader() {
    if (!m_worker) return;
    std::lock_guard<std::mutex> hold(m_worker->mutex);
    m_worker->stop = true;
    m_worker->requested.notify_one();
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
    std::unique_lock<std::mutex> hold(worker.mutex);
    worker.fd = fd;
    worker.bufferOffset = bufferOffset;
    worker.length = length;
    worker.offset = offset;
    worker.target = target;
    worker.keepAlive = std::move(keepAlive);
    worker.read = read;
    worker.done = false;
    worker.pending = true;
    hold.unlock();
    worker.requested.notify_one();
    return true;
}

TimedReader::Outcome TimedReader::Wait(std::chrono::steady_clock::time_point deadline) {
    Outcome outcome;
    if (!m_worker) return outcome;
    Worker& worker = *m_worker;
    std::unique_lock<std::mutex> hold(worker.mutex);
    if (!worker.finished.wait_until(hold, deadline, [&] { return worker.done; })) {
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
    return outcome;
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
