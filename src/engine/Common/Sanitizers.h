// Whether the build runs under a sanitizer (GCC defines __SANITIZE_*; Clang answers __has_feature):
// the memory pools step aside for them, so that their checks see every allocation.
#pragma once

namespace sanitizers {

#if defined(__has_feature)
#define BRELVOX_SANITIZER_FEATURE(name) __has_feature(name)
#else
#define BRELVOX_SANITIZER_FEATURE(name) 0
#endif

#if defined(__SANITIZE_ADDRESS__) || BRELVOX_SANITIZER_FEATURE(address_sanitizer)
inline constexpr bool kAddress = true;
#else
inline constexpr bool kAddress = false;
#endif

#if defined(__SANITIZE_THREAD__) || BRELVOX_SANITIZER_FEATURE(thread_sanitizer)
inline constexpr bool kThread = true;
#else
inline constexpr bool kThread = false;
#endif

#undef BRELVOX_SANITIZER_FEATURE

}  // namespace sanitizers
