#include "engine/Utility/NodeMemory.h"

#include <cstdint>
#include <atomic>
#include <new>
#include <thread>

#include "engine/Common/HugePages.h"
#include "engine/Common/Sanitizers.h"

namespace nodememory {
namespace {

// Off where the pools step aside for a sanitizer (see Sanitizers.h). Under AddressSanitizer a slot
// given back, and the room of a chunk never handed out, are poisoned: a node used after its release is
// still caught.
constexpr bool kNodeChunks = !sanitizers::kPoolsStepAside;

constexpr std::size_t kChunkBytes = 64 * 1024;  // chunks are aligned to their size
// Chunks are cut from regions of one huge page (see HugePages.h): a scan's nodes then cost one page
// fault per 2 MiB instead of one per 4 KiB. The first chunk of a region holds the region's header.
constexpr std::size_t kRegionBytes = hugepages::kPageBytes;
constexpr std::size_t kChunksPerRegion = kRegionBytes / kChunkBytes;
static_assert(kChunksPerRegion <= 32, "a region's free chunks are one 32-bit mask");
// Every chunk of a region free but the first, which holds the region's header.
constexpr std::uint32_t kAllChunksFree = static_cast<std::uint32_t>((std::uint64_t{1} << kChunksPerRegion) - 2);
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

// At the start of every region.
struct Region {
    Region* prev = nullptr;  // in the list of regions with a free chunk
    Region* next = nullptr;
    std::uint32_t freeChunks = 0;  // bit i: chunk i is free (chunk 0 never is)
    bool listed = false;
};

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
    Region* regionsWithRoom = nullptr;
    std::size_t live = 0;
    std::size_t chunks = 0;
    std::size_t regions = 0;
};

constinit Pool g_pool;

template <class T>
void Link(T*& head, T* item) {
    item->prev = nullptr;
    item->next = head;
    if (head) head->prev = item;
    head = item;
    item->listed = true;
}

template <class T>
void Unlink(T*& head, T* item) {
    if (item->prev) item->prev->next = item->next;
    if (item->next) item->next->prev = item->prev;
    if (head == item) head = item->next;
    item->prev = item->next = nullptr;
    item->listed = false;
}

Chunk* ChunkOf(void* memory) {
    return reinterpret_cast<Chunk*>(reinterpret_cast<std::uintptr_t>(memory) & ~(std::uintptr_t{kChunkBytes} - 1));
}

std::size_t SizeIndex(std::size_t bytes) {
    return bytes == 0 ? 0 : (bytes - 1) / kGrain;
}

// A region from the system, aligned to its size, or null.
Region* MapRegion() {
    void* region = hugepages::TakePage();
    if (!region) return nullptr;
    auto* header = new (region) Region();
    header->freeChunks = kAllChunksFree;
    return header;
}

void UnmapRegion(Region* region) {
    region->~Region();
    sanitizers::Unpoison(region, kRegionBytes);
    hugepages::GivePage(region);
}

Region* RegionOf(Chunk* chunk) {
    return reinterpret_cast<Region*>(reinterpret_cast<std::uintptr_t>(chunk) & ~(std::uintptr_t{kRegionBytes} - 1));
}

// A chunk for slots of size index from a region with room (lock held), or null when none has room.
Chunk* CutChunk(Pool& pool, std::size_t index) {
    Region* region = pool.regionsWithRoom;
    if (!region) return nullptr;
    const int at = __builtin_ctz(region->freeChunks);
    region->freeChunks &= region->freeChunks - 1;
    if (region->freeChunks == 0) Unlink(pool.regionsWithRoom, region);
    char* at0 = reinterpret_cast<char*>(region) + std::size_t(at) * kChunkBytes;
    sanitizers::Unpoison(at0, kChunkBytes);
    auto* chunk = new (at0) Chunk();
    chunk->slotBytes = (index + 1) * kGrain;
    chunk->capacity = (kChunkBytes - kFirstSlot) / chunk->slotBytes;
    sanitizers::Poison(at0 + kFirstSlot, kChunkBytes - kFirstSlot);
    return chunk;
}

// Takes an empty chunk back into its region (lock held); answers the region when it is all free and
// another region has room, for the caller to unmap outside the lock.
Region* ReturnChunk(Pool& pool, Chunk* chunk) {
    Region* region = RegionOf(chunk);
    const auto at = static_cast<unsigned>((reinterpret_cast<char*>(chunk) - reinterpret_cast<char*>(region)) / kChunkBytes);
    chunk->~Chunk();
    // Unused until it is cut again (CutChunk makes it usable): a node of it used after its release is
    // still caught.
    sanitizers::Poison(chunk, kChunkBytes);
    region->freeChunks |= std::uint32_t{1} << at;
    if (!region->listed) Link(pool.regionsWithRoom, region);
    // An empty region goes unless it is the only one with room (kept for the next chunk).
    if (region->freeChunks != kAllChunksFree || !(region->prev || region->next)) return nullptr;
    Unlink(pool.regionsWithRoom, region);
    return region;
}

void* TakeSlot(std::size_t bytes) noexcept {
    const std::size_t index = SizeIndex(bytes);
    Pool& pool = g_pool;
    Region* made = nullptr;
    for (;;) {
        void* slot = nullptr;
        Region* spare = nullptr;
        {
            Hold hold(pool.lock);
            Chunk* chunk = pool.withRoom[index];
            if (made) {
                // Ours, unless another thread made room meanwhile: then it goes back.
                if (chunk || pool.regionsWithRoom) {
                    spare = made;
                } else {
                    Link(pool.regionsWithRoom, made);
                    ++pool.regions;
                }
                made = nullptr;
            }
            if (!chunk) {
                chunk = CutChunk(pool, index);
                if (chunk) {
                    chunk->olderKept = pool.newestKept;
                    if (pool.newestKept) pool.newestKept->newerKept = chunk;
                    pool.newestKept = chunk;
                    ++pool.chunks;
                    Link(pool.withRoom[index], chunk);
                }
            }
            if (chunk) {
                if (chunk->freed) {
                    slot = chunk->freed;
                    sanitizers::Unpoison(slot, chunk->slotBytes);
                    chunk->freed = *static_cast<void**>(slot);
                } else {
                    slot = reinterpret_cast<char*>(chunk) + kFirstSlot + chunk->cut * chunk->slotBytes;
                    sanitizers::Unpoison(slot, chunk->slotBytes);
                    ++chunk->cut;
                }
                ++chunk->live;
                ++pool.live;
                if (chunk->live == chunk->capacity) Unlink(pool.withRoom[index], chunk);
            }
        }
        if (spare) UnmapRegion(spare);
        if (slot) return slot;
        // No room: a new region, mapped outside the lock.
        made = MapRegion();
        if (!made) return nullptr;
    }
}

void GiveSlot(void* memory) noexcept {
    Chunk* chunk = ChunkOf(memory);
    Pool& pool = g_pool;
    Region* empty = nullptr;
    {
        Hold hold(pool.lock);
        const std::size_t index = SizeIndex(chunk->slotBytes);
        *static_cast<void**>(memory) = chunk->freed;
        chunk->freed = memory;
        sanitizers::Poison(memory, chunk->slotBytes);
        --chunk->live;
        --pool.live;
        if (!chunk->listed) Link(pool.withRoom[index], chunk);
        // An empty chunk goes back to its region (cutting a chunk again costs a few instructions; a
        // kept one would keep its whole region).
        if (chunk->live != 0) return;
        Unlink(pool.withRoom[index], chunk);
        if (chunk->olderKept) chunk->olderKept->newerKept = chunk->newerKept;
        if (chunk->newerKept) chunk->newerKept->olderKept = chunk->olderKept;
        if (pool.newestKept == chunk) pool.newestKept = chunk->olderKept;
        --pool.chunks;
        empty = ReturnChunk(pool, chunk);
        if (empty) --pool.regions;
    }
    if (empty) UnmapRegion(empty);
}

bool Chunked(std::size_t bytes) {
    return kNodeChunks && bytes <= kLargest;
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
    if (kNodeChunks) {
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
    return Usage{g_pool.live, g_pool.chunks, g_pool.regions};
}

bool Pooled() {
    return kNodeChunks;
}

}  // namespace nodememory
