#include "engine/StorageDevice/KXReadAsyncData.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>

namespace {

using platform::disks::ReadFunction;
using platform::disks::TimedReader;

// Everything below is guarded by ReadLock(): the shared buffer (inside the reader), the seam and the
// time-out.
// A chunk is read in pieces so that copying one piece out overlaps the read of the next.
constexpr size_t kPieceSize = 256 * 1024;

struct ReadState {
    TimedReader reader{kxread::kChunkSize};
    ReadFunction chunkReader;
    std::chrono::milliseconds timeout = kxread::kDefaultChunkTimeout;
};

std::mutex& ReadLock() {
    static std::mutex lock;
    return lock;
}

ReadState& State() {
    static ReadState state;
    return state;
}

// Reads one chunk into the shared buffer piece by piece, copying each piece out while the next one is
// read. Returns the bytes of the chunk that were read, or -1 when the chunk failed (a failed or
// timed-out piece, or nothing read at all). Stops after a short piece: the rest of the chunk is zeros.
i64 ReadChunk(ReadState& state, const ReadFunction& read, u8* out, int fd, i64 offset, size_t chunk) {
    const auto deadline = std::chrono::steady_clock::now() + state.timeout;
    const size_t pieceSize = std::min(chunk, kPieceSize);
    if (!state.reader.Start(fd, 0, pieceSize, offset, read)) return -1;
    size_t copied = 0;
    for (size_t piece = 0;; piece += pieceSize) {
        const size_t length = std::min(pieceSize, chunk - piece);
        TimedReader::Outcome got = state.reader.Wait(deadline);
        if (got.status != TimedReader::Status::Done) return -1;
        const size_t bytes = std::min(length, static_cast<size_t>(got.bytes));
        const size_t next = piece + pieceSize;
        const bool more = bytes == length && next < chunk;
        if (more && !state.reader.Start(fd, next, std::min(pieceSize, chunk - next), offset + static_cast<i64>(next),
                                        read))
            return -1;
        std::memcpy(out + piece, state.reader.Data() + piece, bytes);
        copied += bytes;
        if (!more) break;
    }
    return copied > 0 ? static_cast<i64>(copied) : -1;
}

i64 ReadChunks(ReadState& state, u8* out, int fd, i64 byteOffset, i64 byteLength) {
    const ReadFunction& read = state.chunkReader ? state.chunkReader : ReadFunction(platform::disks::ReadOnce);
    bool failed = false;
    for (i64 done = 0; done < byteLength;) {
        const size_t chunk = static_cast<size_t>(std::min<i64>(kxread::kChunkSize, byteLength - done));
        const i64 got = ReadChunk(state, read, out + done, fd, byteOffset + done, chunk);
        const size_t kept = got > 0 ? static_cast<size_t>(got) : 0;
        if (got <= 0) failed = true;
        // A short chunk has zeros after its bytes; a failed chunk is all zeros.
        std::memset(out + done + kept, 0, chunk - kept);
        done += static_cast<i64>(chunk);
    }
    return failed ? 0 : byteLength;
}

}  // namespace

i64 KXReadAsyncData(void* buffer, int fd, i64 byteOffset, i64 byteLength) {
    if (!buffer || fd < 0 || byteLength < 0 || byteOffset < 0) return 0;
    // The last byte's offset must be representable.
    if (byteLength > std::numeric_limits<i64>::max() - byteOffset) return 0;
    std::lock_guard<std::mutex> hold(ReadLock());
    if (byteLength == 0) return 0;
    return ReadChunks(State(), static_cast<u8*>(buffer), fd, byteOffset, byteLength);
}

namespace kxread {

void SetChunkReader(platform::disks::ReadFunction reader) {
    std::lock_guard<std::mutex> hold(ReadLock());
    State().chunkReader = std::move(reader);
}

void SetChunkTimeout(std::chrono::milliseconds timeout) {
    std::lock_guard<std::mutex> hold(ReadLock());
    State().timeout = timeout;
}

size_t AbandonedBufferCount() {
    std::lock_guard<std::mutex> hold(ReadLock());
    return State().reader.AbandonedCount();
}

}  // namespace kxread
