#include "engine/Utility/NodeMemory.h"

#include <cstdint>
#include <cstdlib>
#include <atomic>
#include <new>
#include <thread>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define BRELVOX_NODE_CHUNKS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define BRELVOX_NODE_CHUNKS 0
#endif
#endif
#ifndef BRELVOX_NODE_CHUNKS
#define BRELVOX_NODE_CHUNKS 1
#endif

namespace nodememory {
namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;  // chunks are aligned to their size
constexpr std::size_t kGrain = 16;
constexpr std::size_t kSizes = kLargest / kGrain;

// At the start of every chunk.
struct Chunk {
    Chunk* prev = nullptr;  // in its size's list of chunks with a free slot
    Chunk* next = nullptr;
    Chunk* olderKept = nullptr;  // every chunk kept, for GiveUnsized
    Chunk* newerKept = nullptr;
    void* freed = nullptr;  // slots given back, each holding the next one's address
    std::size_t slotBytes = 0;
    std::size_t capacity = 0;
    std::size_t live = 0;
    std::size_t cut = 0;  // slots handed out from the never-used end
    bool listed = false;
};

constexpr std::size_t kFirstSlot = (sizeof(Chunk) + 63) / 64 * 64;

// Held for a few instructions at a time: a spinning lock costs less than a mutex here.
class SpinLock {
public:
    void lock() noexcept {
        while (m_flag.test_and_set(std::memory_order_acquire)) {
            while (m_flag.test(std::memory_order_relaxed)) std::this_thread::yield();
        }
    }
    void unlock() noexcept { m_flag.clear(std::memory_order_release); }

private:
    std::atomic_flag m_flag;
};

struct Hold {
    explicit Hold(SpinLock& lock) : m_lock(lock) { m_lock.lock(); }
    ~Hold() { m_lock.unlock(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    SpinLock& m_lock;
};

// Trivially destroyed, so nodes freed during static destruction still find it.
struct Pool {
    SpinLock lock;
    Chunk* withRoom[kSizes] = {};
    Chunk* newestKept = nullptr;
    std::size_t live = 0;
    std::size_t chunks = 0;
};

constinit Pool g_pool;

void Link(Chunk*& head, Chunk* chunk) {
    chunk->prev = nullptr;
    chunk->next = head;
    if (head) head->prev = chunk;
    head = chunk;
    chunk->listed = true;
}

void Unlink(Chunk*& head, Chunk* chunk) {
    if (chunk->prev) chunk->prev->next = chunk->next;
    if (chunk->next) chunk->next->prev = chunk->prev;
    if (head == chunk) head = chunk->next;
    chunk->prev = chunk->next = nullptr;
    chunk->listed = false;
}

Chunk* ChunkOf(void* memory) {
    return reinterpret_cast<Chunk*>(reinterpret_cast<std::uintptr_t>(memory) & ~(std::uintptr_t{kChunkBytes} - 1));
}

std::size_t SizeIndex(std::size_t bytes) {
    return bytes == 0 ? 0 : (bytes - 1) / kGrain;
}

Chunk* NewChunk(std::size_t index) {
    void* memory = std::aligned_alloc(kChunkBytes, kChunkBytes);
    if (!memory) return nullptr;
    auto* chunk = new (memory) Chunk();
    chunk->slotBytes = (index + 1) * kGrain;
    chunk->capacity = (kChunkBytes - kFirstSlot) / chunk->slotBytes;
    return chunk;
}

void* TakeSlot(std::size_t bytes) noexcept {
    const std::size_t index = SizeIndex(bytes);
    Pool& pool = g_pool;
    Chunk* made = nullptr;
    for (;;) {
        {
            Hold hold(pool.lock);
            Chunk* chunk = pool.withRoom[index];
            if (!chunk && made) {
                chunk = made;
                made = nullptr;
                chunk->olderKept = pool.newestKept;
                if (pool.newestKept) pool.newestKept->newerKept = chunk;
                pool.newestKept = chunk;
                ++pool.chunks;
                Link(pool.withRoom[index], chunk);
            }
            if (chunk) {
                void* slot = nullptr;
                if (chunk->freed) {
                    slot = chunk->freed;
                    chunk->freed = *static_cast<void**>(slot);
                } else {
                    slot = reinterpret_cast<char*>(chunk) + kFirstSlot + chunk->cut * chunk->slotBytes;
                    ++chunk->cut;
                }
                ++chunk->live;
                ++pool.live;
                if (chunk->live == chunk->capacity) Unlink(pool.withRoom[index], chunk);
                if (made) std::free(made);  // another thread made one meanwhile
                return slot;
            }
        }
        // No room: a new chunk, made outside the lock.
        made = NewChunk(index);
        if (!made) return nullptr;
    }
}

void GiveSlot(void* memory) noexcept {
    Chunk* chunk = ChunkOf(memory);
    Pool& pool = g_pool;
    {
        Hold hold(pool.lock);
        const std::size_t index = SizeIndex(chunk->slotBytes);
        *static_cast<void**>(memory) = chunk->freed;
        chunk->freed = memory;
        --chunk->live;
        --pool.live;
        if (!chunk->listed) Link(pool.withRoom[index], chunk);
        // An empty chunk goes unless it is the only one of its size with room (kept for the next node).
        if (chunk->live != 0 || !(chunk->prev || chunk->next)) return;
        Unlink(pool.withRoom[index], chunk);
        if (chunk->olderKept) chunk->olderKept->newerKept = chunk->newerKept;
        if (chunk->newerKept) chunk->newerKept->olderKept = chunk->olderKept;
        if (pool.newestKept == chunk) pool.newestKept = chunk->olderKept;
        --pool.chunks;
    }
    chunk->~Chunk();
    std::free(chunk);
}

bool Chunked(std::size_t bytes) {
    return BRELVOX_NODE_CHUNKS != 0 && bytes <= kLargest;
}

}  // namespace

void* TryTake(std::size_t bytes) noexcept {
    if (!Chunked(bytes)) return ::operator new(bytes, std::nothrow);
    return TakeSlot(bytes);
}

void* Take(std::size_t bytes) {
    if (!Chunked(bytes)) return ::operator new(bytes);
    void* memory = TakeSlot(bytes);
    if (!memory) throw std::bad_alloc();
    return memory;
}

void Give(void* memory, std::size_t bytes) noexcept {
    if (!memory) return;
    if (!Chunked(bytes)) {
        ::operator delete(memory);
        return;
    }
    GiveSlot(memory);
}

void GiveUnsized(void* memory) noexcept {
    if (!memory) return;
    if (BRELVOX_NODE_CHUNKS != 0) {
        // Rare (a constructor threw): a walk of the chunks kept tells whether the memory is a slot.
        bool chunked = false;
        {
            Hold hold(g_pool.lock);
            const Chunk* wanted = ChunkOf(memory);
            for (const Chunk* c = g_pool.newestKept; c && !chunked; c = c->olderKept) chunked = c == wanted;
        }
        if (chunked) {
            GiveSlot(memory);
            return;
        }
    }
    ::operator delete(memory);
}

Usage CurrentUsage() {
    Hold hold(g_pool.lock);
    return Usage{g_pool.live, g_pool.chunks};
}

bool Pooled() {
    return BRELVOX_NODE_CHUNKS != 0;
}

}  // namespace nodememory
