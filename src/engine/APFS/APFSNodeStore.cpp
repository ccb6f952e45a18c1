#include "engine/APFS/APFSNodeStore.h"

#include <atomic>
#include <cstdlib>
#include <new>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
#define BRELVOX_NODE_STORE_OFF 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define BRELVOX_NODE_STORE_OFF 1
#endif
#endif

namespace apfs {

namespace {

constexpr size_t kSlabBytes = size_t{256} << 10;
constexpr size_t kAlign = alignof(std::max_align_t);
// A slab starts with the link to the slab made before it; places follow, aligned.
constexpr size_t kSlabHead = (sizeof(void*) + kAlign - 1) / kAlign * kAlign;
// Places of the size asked for first; other sizes (none so far) go to the general allocator.
constexpr size_t kMaxPlace = 1024;

struct Slabs {
    std::atomic<bool> busy{false};
    size_t place = 0;       // the place size, fixed by the first Take
    void* free = nullptr;   // given-back places, linked through their first word
    void* newest = nullptr; // the last slab made, linked to the ones before
    char* next = nullptr;   // the next untouched place of the newest slab
    char* end = nullptr;
    size_t live = 0;
};

// Trivially destructible: never torn down at exit, so a node released by another static object's
// destructor still finds it.
constinit Slabs g_slabs;

class Hold {
public:
    Hold() {
        while (g_slabs.busy.exchange(true, std::memory_order_acquire)) {
            while (g_slabs.busy.load(std::memory_order_relaxed)) std::this_thread::yield();
        }
    }
    ~Hold() { g_slabs.busy.store(false, std::memory_order_release); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
};

size_t Rounded(size_t size) {
    return (size + kAlign - 1) / kAlign * kAlign;
}

void ReleaseSlabs() {
    for (void* slab = g_slabs.newest; slab;) {
        void* before = *static_cast<void**>(slab);
        std::free(slab);
        slab = before;
    }
    g_slabs.newest = nullptr;
    g_slabs.free = nullptr;
    g_slabs.next = nullptr;
    g_slabs.end = nullptr;
}

}  // namespace

void* NodeStore::Take(size_t size) noexcept {
#ifdef BRELVOX_NODE_STORE_OFF
    return ::operator new(size, std::nothrow);
#else
    const size_t place = Rounded(size == 0 ? 1 : size);
    Hold hold;
    if (g_slabs.place == 0 && place <= kMaxPlace) g_slabs.place = place;
    if (place != g_slabs.place) return std::malloc(size);
    void* taken = nullptr;
    if (g_slabs.free) {
        taken = g_slabs.free;
        g_slabs.free = *static_cast<void**>(taken);
    } else {
        if (static_cast<size_t>(g_slabs.end - g_slabs.next) < place) {
            void* slab = std::malloc(kSlabBytes);
            if (!slab) return nullptr;
            *static_cast<void**>(slab) = g_slabs.newest;
            g_slabs.newest = slab;
            g_slabs.next = static_cast<char*>(slab) + kSlabHead;
            g_slabs.end = static_cast<char*>(slab) + kSlabBytes;
        }
        taken = g_slabs.next;
        g_slabs.next += place;
    }
    ++g_slabs.live;
    return taken;
#endif
}

void NodeStore::Give(void* place, size_t size) noexcept {
    if (!place) return;
#ifdef BRELVOX_NODE_STORE_OFF
    (void)size;
    ::operator delete(place);
#else
    Hold hold;
    if (Rounded(size == 0 ? 1 : size) != g_slabs.place) {
        std::free(place);
        return;
    }
    *static_cast<void**>(place) = g_slabs.free;
    g_slabs.free = place;
    if (--g_slabs.live == 0) ReleaseSlabs();
#endif
}

size_t NodeStore::Live() noexcept {
#ifdef BRELVOX_NODE_STORE_OFF
    return 0;
#else
    Hold hold;
    return g_slabs.live;
#endif
}

bool NodeStore::Pooled() noexcept {
#ifdef BRELVOX_NODE_STORE_OFF
    return false;
#else
    return true;
#endif
}

}  // namespace apfs
