// Whether the build runs under a sanitizer (GCC defines __SANITIZE_*; Clang answers __has_feature):
// the memory pools step aside for them, so that their checks see every allocation.
#pragma once

namespace sanitizers {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddress = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddress = true;
#else
inline constexpr bool kAddress = false;
#endif
#else
inline constexpr bool kAddress = false;
#endif

#if defined(__SANITIZE_THREAD__)
inline constexpr bool kThread = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
inline constexpr bool kThread = true;
#else
inline constexpr bool kThread = false;
#endif
#else
inline constexpr bool kThread = false;
#endif

}  // namespace sanitizers
