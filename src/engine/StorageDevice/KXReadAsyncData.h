// The one read path of every device node and image file of the process.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "engine/Common/Types.h"
#include "platform/disks/TimedReader.h"

// Reads byteLength bytes at byteOffset of fd into buffer, in chunks of 4 MiB through one shared buffer
// under one process-wide lock, each chunk with a time-out. A chunk that fails, times out or reads
// nothing is left as zeros in buffer; a short chunk has zeros after its bytes. Every chunk is tried.
// Returns byteLength when every chunk was read, else 0 (also for bad arguments and a zero length).
i64 KXReadAsyncData(void* buffer, int fd, i64 byteOffset, i64 byteLength);
// The same, and in bytesGiven the bytes the device gave (a short chunk counts only its own): a copy that
// must not take the zeros of a short read for data checks it against byteLength.
i64 KXReadAsyncData(void* buffer, int fd, i64 byteOffset, i64 byteLength, i64* bytesGiven);

namespace kxread {

inline constexpr size_t kChunkSize = 0x400000;
inline constexpr std::chrono::milliseconds kDefaultChunkTimeout{30000};

// The seam for tests: the function that reads one chunk (fail the k-th chunk, short reads, reads that
// never return). An empty function restores the plain pread.
void SetChunkReader(platform::disks::ReadFunction reader);
// The time-out of one chunk (30 s in the product). With a byte offset, only the chunk that starts
// there gets it and every other chunk the product's: a test times out its one stuck read without
// racing the reads that must succeed on a loaded machine.
void SetChunkTimeout(std::chrono::milliseconds timeout, std::optional<i64> onlyAtOffset = std::nullopt);
// How many shared buffers were left to reads that did not finish in time.
size_t AbandonedBufferCount();

// Lets the reads of the calling thread fill a buffer of the caller's directly, without the copy
// through the shared buffer, while this object lives (one per thread at a time). Only reads that lie
// wholly inside the buffer take the direct path; the shared buffer stays for every other read.
// The buffer's ownership is shared with the read: a chunk that times out keeps the buffer alive until
// its read returns and may still write into its range at any time. The owner must then stop using the
// buffer: it takes the good bytes with CopyUsable into a new one and drops the old.
class DirectTarget {
public:
    DirectTarget(std::shared_ptr<u8[]> buffer, size_t size);
    ~DirectTarget();
    DirectTarget(const DirectTarget&) = delete;
    DirectTarget& operator=(const DirectTarget&) = delete;

    // True when a read into the buffer timed out and may still be running.
    bool Abandoned() const { return !m_abandoned.empty(); }
    // Copies the buffer's size bytes into out, with zeros over the ranges of reads that timed out
    // (those bytes are never read: the stuck read may be writing them).
    void CopyUsable(u8* out) const;

    // For the read path: the buffer when [data, data + length) lies inside it, else null.
    static DirectTarget* ForRange(const u8* data, i64 length);
    const std::shared_ptr<u8[]>& Buffer() const { return m_buffer; }
    void MarkAbandoned(const u8* data, size_t length);

private:
    std::shared_ptr<u8[]> m_buffer;
    size_t m_size;
    std::vector<std::pair<size_t, size_t>> m_abandoned;  // offset, length
    DirectTarget* m_previous;
};

}  // namespace kxread
