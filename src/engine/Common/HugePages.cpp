#include "engine/Common/HugePages.h"

#include <pthread.h>
#include <sys/mman.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "engine/Common/Sanitizers.h"

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

namespace hugepages {
namespace {

// Off where the pools step aside for a sanitizer (see Sanitizers.h).
constexpr bool kHugePages = !sanitizers::kPoolsStepAside;

// Pages kept ready: 32 MiB, what a scan's nodes take in about a tenth of a second at their fastest.
constexpr std::size_t kReserve = 16;

std::size_t Rounded(std::size_t bytes) {
    return (bytes + kPageBytes - 1) / kPageBytes * kPageBytes;
}

// Faults every page of a fresh mapping in now.
void Populate(void* page) {
    if (madvise(page, kPageBytes, MADV_POPULATE_WRITE) == 0) return;
    // Kernels before 5.14: a write to every small page does the same.
    for (std::size_t at = 0; at < kPageBytes; at += 4096) static_cast<volatile char*>(page)[at] = 0;
}

// The pages kept ready. Made once and never destroyed: the thread that fills it may still wait on it
// while the process exits.
struct Ready {
    std::mutex lock;
    std::condition_variable wanted;
    void* pages[kReserve] = {};
    std::size_t count = 0;
    bool filling = false;  // the thread runs
    bool refused = false;  // none are made ahead any more (the system refused a page, or a child of fork)
};

Ready& ReadyStore() {
    static Ready* ready = [] {
        auto* made = new Ready;
        // The store's lock is not held by another thread across a fork. A child of fork has no filling
        // thread and starts none (a child of a threaded process should start no threads): it maps its
        // pages when asked. It gets a fresh lock and condition: the parent's may count that thread as
        // waiting.
        pthread_atfork([] { ReadyStore().lock.lock(); }, [] { ReadyStore().lock.unlock(); },
                       [] {
                           Ready& r = ReadyStore();
                           new (&r.lock) std::mutex;
                           new (&r.wanted) std::condition_variable;
                           r.filling = false;
                           r.refused = true;
                       });
        return made;
    }();
    return *ready;
}

void Fill(Ready* ready) {
    std::unique_lock<std::mutex> hold(ready->lock);
    for (;;) {
        ready->wanted.wait(hold, [ready] { return ready->count < kReserve; });
        hold.unlock();
        void* page = Map(kPageBytes);
        if (page) Populate(page);
        hold.lock();
        if (!page) {
            // The system refuses memory now: no more pages are made ahead.
            ready->filling = false;
            ready->refused = true;
            return;
        }
        if (ready->count < kReserve) {
            ready->pages[ready->count++] = page;
            page = nullptr;
        }
        if (page) {
            hold.unlock();
            Unmap(page, kPageBytes);
            hold.lock();
        }
    }
}

}  // namespace

void* Map(std::size_t bytes) noexcept {
    if (bytes == 0 || bytes > std::size_t(-1) / 2 - kPageBytes) return nullptr;
    const std::size_t size = Rounded(bytes);
    // One page more than asked, so that an aligned start lies inside; the rest goes back at once.
    void* mapped = mmap(nullptr, size + kPageBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + kPageBytes - 1) & ~(std::uintptr_t{kPageBytes} - 1);
    if (aligned > start) munmap(mapped, aligned - start);
    const std::uintptr_t end = start + size + kPageBytes;
    if (aligned + size < end) munmap(reinterpret_cast<void*>(aligned + size), end - aligned - size);
    void* memory = reinterpret_cast<void*>(aligned);
    // Only a request: its refusal leaves small pages.
    // Gain: bench/ntfs's deep search (100,000 files) takes 1.3 to 1.5 times as long on small pages.
    madvise(memory, size, MADV_HUGEPAGE);
    return memory;
}

void Unmap(void* memory, std::size_t bytes) noexcept {
    if (memory && bytes) munmap(memory, Rounded(bytes));
}

void* TakePage() noexcept {
    if (!kHugePages) return Map(kPageBytes);
    Ready& ready = ReadyStore();
    void* page = nullptr;
    {
        std::lock_guard<std::mutex> hold(ready.lock);
        if (ready.count > 0) page = ready.pages[--ready.count];
        if (!ready.filling && !ready.refused) {
            try {
                std::thread(Fill, &ready).detach();
                ready.filling = true;
            } catch (...) {
                // No thread: every page is mapped when asked for.
            }
        }
    }
    ready.wanted.notify_one();
    return page ? page : Map(kPageBytes);
}

void GivePage(void* page) noexcept {
    if (!page) return;
    if (kHugePages) {
        Ready& ready = ReadyStore();
        std::lock_guard<std::mutex> hold(ready.lock);
        if (ready.count < kReserve) {
            ready.pages[ready.count++] = page;
            return;
        }
    }
    Unmap(page, kPageBytes);
}

std::size_t ReadyPages() noexcept {
    if (!kHugePages) return 0;
    Ready& ready = ReadyStore();
    std::lock_guard<std::mutex> hold(ready.lock);
    return ready.count;
}

bool Mapping() noexcept {
    return kHugePages;
}

void PoisonTail(void* memory, std::size_t bytes) noexcept {
    const std::size_t mapped = Rounded(bytes);
    if (memory && mapped > bytes) sanitizers::Poison(static_cast<char*>(memory) + bytes, mapped - bytes);
}

void UnpoisonMapped(void* memory, std::size_t bytes) noexcept {
    if (memory) sanitizers::Unpoison(memory, Rounded(bytes));
}

}  // namespace hugepages
