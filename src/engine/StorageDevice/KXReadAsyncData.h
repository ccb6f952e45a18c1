// The one read path of every device node and image file of the process.
#pragma once

#include <chrono>
#include <cstddef>

#include "engine/Common/Types.h"
#include "platform/disks/TimedReader.h"

// Reads byteLength bytes at byteOffset of fd into buffer, in chunks of 4 MiB through one shared buffer
// under one process-wide lock, each chunk with a time-out. A chunk that fails, times out or reads
// nothing is left as zeros in buffer; a short chunk has zeros after its bytes. Every chunk is tried.
// Returns byteLength when every chunk was read, else 0 (also for bad arguments and a zero length).
i64 KXReadAsyncData(void* buffer, int fd, i64 byteOffset, i64 byteLength);

namespace kxread {

inline constexpr size_t kChunkSize = 0x400000;
inline constexpr std::chrono::milliseconds kDefaultChunkTimeout{30000};

// The seam for tests: the function that reads one chunk (fail the k-th chunk, short reads, reads that
// never return). An empty function restores the plain pread.
void SetChunkReader(platform::disks::ReadFunction reader);
// The time-out of one chunk (30 s in the product).
void SetChunkTimeout(std::chrono::milliseconds timeout);
// How many shared buffers were left to reads that did not finish in time.
size_t AbandonedBufferCount();

}  // namespace kxread
