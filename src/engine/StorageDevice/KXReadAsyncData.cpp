#include "engine/StorageDevice/KXReadAsyncData.h"

#include <algorithm>
#include <cstdint>
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

// A direct chunk at least this long is read as two halves at once.
constexpr size_t kSplitDirectFrom = 512 * 1024;

struct ReadState {
    TimedReader reader{kxread::kChunkSize};
    TimedReader second{0};  // the second half of a direct chunk; it has no buffer of its own
    ReadFunction chunkReader;
    std::chrono::milliseconds timeout = kxread::kDefaultChunkTimeout;
    // The chunk that has a time-out of its own, and that time-out.
    std::optional<i64> specialOffset;
    std::chrono::milliseconds specialTimeout{0};

    std::chrono::steady_clock::time_point Deadline(i64 offset) const {
        return std::chrono::steady_clock::now() + (specialOffset == offset ? specialTimeout : timeout);
    }
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
    const auto deadline = state.Deadline(offset);
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
        if (more &&
            !state.reader.Start(fd, next, std::min(pieceSize, chunk - next), offset + static_cast<i64>(next), read))
            return -1;
        std::memcpy(out + piece, state.reader.Data() + piece, bytes);
        copied += bytes;
        if (!more) break;
    }
    return copied > 0 ? static_cast<i64>(copied) : -1;
}

// Reads one chunk straight into the caller's buffer, with nothing to copy: two workers read its two
// halves at once, so two copies out of the page cache overlap. The workers hold the buffer while they
// read. Zeros the chunk as ReadChunk's caller does, except a range whose read timed out: that range is
// marked abandoned and left alone, for the stuck read may still write there.
i64 ReadChunkDirect(ReadState& state, const ReadFunction& read, kxread::DirectTarget& target, u8* out, int fd,
                    i64 offset, size_t chunk) {
    const auto deadline = state.Deadline(offset);
    // The halves meet on a page boundary.
    const size_t firstLength = chunk >= kSplitDirectFrom ? (chunk / 2 + 4095) / 4096 * 4096 : chunk;
    TimedReader* readers[2] = {&state.reader, &state.second};
    const size_t starts[2] = {0, firstLength};
    const size_t lengths[2] = {firstLength, chunk - firstLength};
    bool started[2] = {false, false};
    for (int k = 0; k < 2; ++k) {
        if (lengths[k] == 0) continue;
        started[k] = readers[k]->StartInto(fd, target.Buffer(), out + starts[k], lengths[k],
                                           offset + static_cast<i64>(starts[k]), read);
        if (!started[k]) break;
    }
    bool failed = !started[0] || (lengths[1] > 0 && !started[1]);
    bool abandoned[2] = {false, false};
    size_t bytes[2] = {0, 0};
    for (int k = 0; k < 2; ++k) {
        if (!started[k]) continue;
        const TimedReader::Outcome got = readers[k]->Wait(deadline);
        if (got.status == TimedReader::Status::TimedOut) {
            target.MarkAbandoned(out + starts[k], lengths[k]);
            abandoned[k] = true;
        }
        if (got.status != TimedReader::Status::Done)
            failed = true;
        else
            bytes[k] = std::min(lengths[k], static_cast<size_t>(got.bytes));
    }
    // A short first half ends the chunk's bytes; a failed half fails the whole chunk.
    size_t kept = bytes[0] < lengths[0] ? bytes[0] : lengths[0] + bytes[1];
    if (failed) kept = 0;
    for (int k = 0; k < 2; ++k) {
        if (abandoned[k]) continue;
        const size_t begin = std::max(starts[k], kept);
        const size_t end = starts[k] + lengths[k];
        if (begin < end) std::memset(out + begin, 0, end - begin);
    }
    return kept > 0 ? static_cast<i64>(kept) : -1;
}

i64 ReadChunks(ReadState& state, u8* out, int fd, i64 byteOffset, i64 byteLength, i64* given) {
    const ReadFunction& read = state.chunkReader ? state.chunkReader : ReadFunction(platform::disks::ReadOnce);
    kxread::DirectTarget* direct = kxread::DirectTarget::ForRange(out, byteLength);
    bool failed = false;
    for (i64 done = 0; done < byteLength;) {
        const size_t chunk = static_cast<size_t>(std::min<i64>(kxread::kChunkSize, byteLength - done));
        if (direct) {
            // Zeroed by the direct read itself, which knows what it may touch.
            const i64 got = ReadChunkDirect(state, read, *direct, out + done, fd, byteOffset + done, chunk);
            if (got <= 0) failed = true;
            if (given && got > 0) *given += got;
            done += static_cast<i64>(chunk);
            continue;
        }
        const i64 got = ReadChunk(state, read, out + done, fd, byteOffset + done, chunk);
        const size_t kept = got > 0 ? static_cast<size_t>(got) : 0;
        if (got <= 0) failed = true;
        if (given) *given += static_cast<i64>(kept);
        // A short chunk has zeros after its bytes; a failed chunk is all zeros.
        std::memset(out + done + kept, 0, chunk - kept);
        done += static_cast<i64>(chunk);
    }
    return failed ? 0 : byteLength;
}

thread_local kxread::DirectTarget* t_directTarget = nullptr;

}  // namespace

i64 KXReadAsyncData(void* buffer, int fd, i64 byteOffset, i64 byteLength) {
    return KXReadAsyncData(buffer, fd, byteOffset, byteLength, nullptr);
}

i64 KXReadAsyncData(void* buffer, int fd, i64 byteOffset, i64 byteLength, i64* bytesGiven) {
    if (bytesGiven) *bytesGiven = 0;
    if (!buffer || fd < 0 || byteLength < 0 || byteOffset < 0) return 0;
    // The last byte's offset must be representable.
    if (byteLength > std::numeric_limits<i64>::max() - byteOffset) return 0;
    std::lock_guard<std::mutex> hold(ReadLock());
    if (byteLength == 0) return 0;
    return ReadChunks(State(), static_cast<u8*>(buffer), fd, byteOffset, byteLength, bytesGiven);
}

namespace kxread {

void SetChunkReader(platform::disks::ReadFunction reader) {
    std::lock_guard<std::mutex> hold(ReadLock());
    State().chunkReader = std::move(reader);
}

void SetChunkTimeout(std::chrono::milliseconds timeout, std::optional<i64> onlyAtOffset) {
    std::lock_guard<std::mutex> hold(ReadLock());
    State().timeout = onlyAtOffset ? kDefaultChunkTimeout : timeout;
    State().specialOffset = onlyAtOffset;
    State().specialTimeout = timeout;
}

size_t AbandonedBufferCount() {
    std::lock_guard<std::mutex> hold(ReadLock());
    return State().reader.AbandonedCount() + State().second.AbandonedCount();
}

DirectTarget::DirectTarget(std::shared_ptr<u8[]> buffer, size_t size)
    : m_buffer(std::move(buffer)), m_size(m_buffer ? size : 0), m_previous(t_directTarget) {
    t_directTarget = this;
}

DirectTarget::~DirectTarget() {
    t_directTarget = m_previous;
}

DirectTarget* DirectTarget::ForRange(const u8* data, i64 length) {
    DirectTarget* target = t_directTarget;
    if (!target || !target->m_buffer || !data || length <= 0) return nullptr;
    const auto begin = reinterpret_cast<std::uintptr_t>(target->m_buffer.get());
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    if (start < begin || start - begin > target->m_size) return nullptr;
    if (static_cast<u64>(length) > target->m_size - (start - begin)) return nullptr;
    return target;
}

void DirectTarget::MarkAbandoned(const u8* data, size_t length) {
    m_abandoned.emplace_back(static_cast<size_t>(data - m_buffer.get()), length);
}

void DirectTarget::CopyUsable(u8* out) const {
    if (!m_buffer) return;
    std::vector<std::pair<size_t, size_t>> holes = m_abandoned;
    std::sort(holes.begin(), holes.end());
    size_t at = 0;
    for (const auto& [offset, length] : holes) {
        if (offset > at) {
            std::memcpy(out + at, m_buffer.get() + at, offset - at);
            at = offset;
        }
        const size_t end = std::min(m_size, std::max(at, offset + length));
        std::memset(out + at, 0, end - at);
        at = end;
    }
    if (at < m_size) std::memcpy(out + at, m_buffer.get() + at, m_size - at);
}

}  // namespace kxread
