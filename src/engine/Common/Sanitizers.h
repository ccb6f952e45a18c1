// Whether the build runs under a sanitizer (GCC defines __SANITIZE_*; Clang answers __has_feature),
// and whether the memory pools (the node pool, the huge-page allocator) run under it. They do unless
// the build is configured with -DBRELVOX_SANITIZED_POOLS=OFF, which makes them step aside for the
// general allocator in the sanitizer builds.
#pragma once

#include <cstddef>

#if defined(__has_feature)
#define BRELVOX_SANITIZER_FEATURE(name) __has_feature(name)
#else
#define BRELVOX_SANITIZER_FEATURE(name) 0
#endif

#if defined(__SANITIZE_ADDRESS__) || BRELVOX_SANITIZER_FEATURE(address_sanitizer)
#define BRELVOX_ADDRESS_SANITIZER 1
#include <sanitizer/asan_interface.h>
#else
#define BRELVOX_ADDRESS_SANITIZER 0
#endif

namespace sanitizers {

inline constexpr bool kAddress = BRELVOX_ADDRESS_SANITIZER != 0;

// Memory a pool holds but has not handed out: under AddressSanitizer a touch of poisoned memory is
// reported (as a use after release or past the end); elsewhere these do nothing.
inline void Poison(const void* memory, std::size_t bytes) {
#if BRELVOX_ADDRESS_SANITIZER
    ASAN_POISON_MEMORY_REGION(memory, bytes);
#else
    (void)memory;
    (void)bytes;
#endif
}
inline void Unpoison(const void* memory, std::size_t bytes) {
#if BRELVOX_ADDRESS_SANITIZER
    ASAN_UNPOISON_MEMORY_REGION(memory, bytes);
#else
    (void)memory;
    (void)bytes;
#endif
}

#if defined(__SANITIZE_THREAD__) || BRELVOX_SANITIZER_FEATURE(thread_sanitizer)
inline constexpr bool kThread = true;
#else
inline constexpr bool kThread = false;
#endif

#undef BRELVOX_SANITIZER_FEATURE

#if defined(BRELVOX_POOLS_STEP_ASIDE)
inline constexpr bool kPoolsStepAside = kAddress || kThread;
#else
inline constexpr bool kPoolsStepAside = false;
#endif

}  // namespace sanitizers
