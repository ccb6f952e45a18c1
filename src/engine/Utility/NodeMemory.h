// The memory of the file nodes and their run lists. A scan makes and frees them by the hundred
// thousand, all of a few sizes: each size (in 16-byte steps up to kLargest bytes) gets 64 KiB chunks cut into equal slots, so
// making a node takes a slot off a list and freeing one puts it back, instead of the general
// allocator's search and merging. Chunks are cut from 2 MiB regions on huge pages, kept ready ahead
// (HugePages.h): a chunk whose slots are all free again goes back to its region, and a region whose
// chunks are all free again goes back when another region has room.
// Thread-safe (one lock). Larger sizes use the general allocator; so do all sizes where the pools step
// aside for a sanitizer (Sanitizers.h). Under AddressSanitizer the slots not handed out are poisoned.
#pragma once

#include <cstddef>
#include <new>

namespace nodememory {

constexpr std::size_t kLargest = 1024;

// Memory for one node of `bytes` bytes, aligned to 16. Take throws std::bad_alloc; TryTake answers null.
void* Take(std::size_t bytes);
void* TryTake(std::size_t bytes) noexcept;
// Gives back what Take/TryTake made for the same `bytes`.
void Give(void* memory, std::size_t bytes) noexcept;
// Gives back what Take/TryTake made when its size is not known (a constructor that threw).
void GiveUnsized(void* memory) noexcept;

// What the chunks hold, for tests: slots in use, chunks kept and their regions (all 0 when the general
// allocator serves every size).
struct Usage {
    std::size_t liveSlots = 0;
    std::size_t chunks = 0;
    std::size_t regions = 0;  // 2 MiB regions the chunks are cut from
};
Usage CurrentUsage();
// True when the chunks serve the node sizes (false where the pools step aside for a sanitizer).
bool Pooled();

}  // namespace nodememory

// A base that gives a class, and every class derived from it, memory from the node chunks. It holds no
// data (it adds nothing to an object); the class needs a virtual destructor, which hands the object's
// own size back.
class CChunkAllocated {
public:
    static void* operator new(std::size_t bytes) { return nodememory::Take(bytes); }
    static void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept { return nodememory::TryTake(bytes); }
    static void* operator new(std::size_t, void* where) noexcept { return where; }
    static void operator delete(void* memory, std::size_t bytes) noexcept { nodememory::Give(memory, bytes); }
    static void operator delete(void* memory, const std::nothrow_t&) noexcept { nodememory::GiveUnsized(memory); }
    static void operator delete(void*, void*) noexcept {}
};
