// Large, long-lived memory of a scan (node chunks, node tables, record stores) on huge pages. Memory a
// process touches for the first time costs a page fault per 4 KiB page, microseconds each (far more
// under a hypervisor): a scan that keeps a few hundred MiB of nodes spent a good part of its time there.
// Memory mapped here is aligned to 2 MiB and asked to be served in huge pages (one fault per 2 MiB);
// where the system has none to give it is served in small pages, as any memory. Single pages are also
// kept ready, already faulted in, by a helper thread, so that a scan making nodes does not wait for the
// system to clear their memory. Under AddressSanitizer the room of a mapped array past its size is
// poisoned, so that a read or write past the array is still caught.
#pragma once

#include <cstddef>
#include <memory>
#include <new>

namespace hugepages {

inline constexpr std::size_t kPageBytes = std::size_t(2) << 20;
// Arrays of this size or more are mapped; smaller ones come from the general allocator. A fresh array
// of the general allocator's is faulted in a small page at a time; from this size on, the arrays of a
// scan's end (a volume's records sorted, their nodes listed) spent more in those faults than in their
// work. Such an array then takes a whole page, 8 times its size at most, for the few of them a scan holds.
inline constexpr std::size_t kMappedFrom = std::size_t(256) << 10;

// At least `bytes` (rounded up to whole huge pages), aligned to kPageBytes, zeroed; null when the
// system refuses.
void* Map(std::size_t bytes) noexcept;
// Gives back what Map made for the same `bytes`.
void Unmap(void* memory, std::size_t bytes) noexcept;

// One page of kPageBytes, aligned to its size, its contents unspecified: from the pages kept ready when
// there is one (the first call starts the thread that keeps them, which then holds up to 32 MiB ready
// for the rest of the process; once the system refuses it a page, and in a child of fork, none are made
// ahead), else mapped now.
// Null when the system refuses.
void* TakePage() noexcept;
// Gives back a page of TakePage (or of Map for kPageBytes): kept ready for the next TakePage while
// fewer than the reserve are, else unmapped.
void GivePage(void* page) noexcept;
// The pages kept ready now, for tests.
std::size_t ReadyPages() noexcept;

// True when Allocator maps large arrays (false where the pools step aside for a sanitizer).
bool Mapping() noexcept;
// Under AddressSanitizer: marks the room of a mapped array past its bytes (up to whole pages) as not to
// be touched, and gives the whole back before the mapping is reused. No-ops in other builds.
void PoisonTail(void* memory, std::size_t bytes) noexcept;
void UnpoisonMapped(void* memory, std::size_t bytes) noexcept;

// A std::allocator that maps arrays of kMappedFrom bytes or more (through TakePage when they fit one
// page, else through Map).
template <class T>
class Allocator {
public:
    using value_type = T;

    Allocator() noexcept = default;
    template <class U>
    Allocator(const Allocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > std::size_t(-1) / sizeof(T)) throw std::bad_array_new_length();
        const std::size_t bytes = n * sizeof(T);
        if (!Mapping() || bytes < kMappedFrom) return std::allocator<T>().allocate(n);
        void* memory = bytes <= kPageBytes ? TakePage() : Map(bytes);
        if (!memory) throw std::bad_alloc();
        PoisonTail(memory, bytes);
        return static_cast<T*>(memory);
    }
    void deallocate(T* memory, std::size_t n) noexcept {
        const std::size_t bytes = n * sizeof(T);
        if (!Mapping() || bytes < kMappedFrom) {
            std::allocator<T>().deallocate(memory, n);
        } else if (bytes <= kPageBytes) {
            UnpoisonMapped(memory, bytes);
            GivePage(memory);
        } else {
            UnpoisonMapped(memory, bytes);
            Unmap(memory, bytes);
        }
    }

    template <class U>
    bool operator==(const Allocator<U>&) const noexcept {
        return true;
    }
};

}  // namespace hugepages
