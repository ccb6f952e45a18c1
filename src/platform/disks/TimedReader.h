// Reads with a time-out into a buffer that a read which cannot be stopped never shares with later reads.
//
// A read of a failing disk can block in the kernel for minutes and cannot be cancelled. The read runs on
// a worker thread that owns its buffer; when the caller stops waiting, the worker and its buffer are
// abandoned to the stuck read (they are freed when it finally returns) and the next read gets a new
// worker and a new buffer. So late bytes never land in memory that anyone still uses.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace platform::disks {

// One read attempt: returns the bytes read (0 at the end) or -1 with errno set. It may return fewer
// bytes than asked. Called on the worker thread.
using ReadFunction = std::function<ssize_t(int fd, void* buffer, size_t length, std::int64_t offset)>;

// The plain read: one pread, retried on EINTR. Descriptors that cannot seek (pipes, sockets) are read
// from their current position.
ssize_t ReadOnce(int fd, void* buffer, size_t length, std::int64_t offset);

class TimedReader {
public:
    enum class Status { Done, Failed, TimedOut, NoMemory };
    struct Outcome {
        Status status = Status::Failed;
        ssize_t bytes = 0;  // bytes read when Done
        int error = 0;      // errno when Failed
    };

    // capacity: the largest read; the buffer is allocated on first use, without throwing.
    explicit TimedReader(size_t capacity);
    ~TimedReader();
    TimedReader(const TimedReader&) = delete;
    TimedReader& operator=(const TimedReader&) = delete;

    // Reads up to length bytes at offset into the buffer at bufferOffset (bufferOffset + length <=
    // capacity) and waits at most timeout. Not thread-safe: callers serialise their reads.
    Outcome Read(int fd, size_t bufferOffset, size_t length, std::int64_t offset, std::chrono::milliseconds timeout,
                 const ReadFunction& read);

    // The same in two steps, so the caller can use bytes read before while the next read runs. At most
    // one read is started and not yet waited for. Start answers false for a bad range or no memory.
    bool Start(int fd, size_t bufferOffset, size_t length, std::int64_t offset, const ReadFunction& read);
    // Starts a read into memory of the caller's instead of the buffer. keepAlive owns that memory: the
    // worker holds it until the read returns, so a read the caller stopped waiting for still writes
    // into live memory, which the caller must then never use again.
    bool StartInto(int fd, std::shared_ptr<void> keepAlive, std::uint8_t* target, size_t length, std::int64_t offset,
                   const ReadFunction& read);
    Outcome Wait(std::chrono::steady_clock::time_point deadline);

    // The start of the buffer; the bytes of a Done read stay valid until a read of the same range.
    // After a time-out the buffer is a new one.
    const std::uint8_t* Data() const;
    size_t Capacity() const { return m_capacity; }
    // How many workers (with their buffers) were left to reads that did not finish in time.
    size_t AbandonedCount() const { return m_abandoned; }

private:
    struct Worker;
    bool EnsureWorker();
    bool Submit(int fd, size_t bufferOffset, std::uint8_t* target, std::shared_ptr<void> keepAlive, size_t length,
                std::int64_t offset, const ReadFunction& read);

    size_t m_capacity;
    std::shared_ptr<Worker> m_worker;
    size_t m_abandoned = 0;
};

}  // namespace platform::disks
