// Names of the window and application notifications the kit posts on the default notification
// centre of the platform foundation (synchronously, on the main thread, object = the window or null).
#pragma once

namespace kit {

inline constexpr const char* kWindowDidBecomeKeyNotification = "NSWindowDidBecomeKeyNotification";
inline constexpr const char* kWindowDidResignKeyNotification = "NSWindowDidResignKeyNotification";
inline constexpr const char* kWindowDidBecomeMainNotification = "NSWindowDidBecomeMainNotification";
inline constexpr const char* kWindowDidResignMainNotification = "NSWindowDidResignMainNotification";
inline constexpr const char* kWindowDidResizeNotification = "NSWindowDidResizeNotification";
inline constexpr const char* kWindowDidMoveNotification = "NSWindowDidMoveNotification";
inline constexpr const char* kWindowDidEndSheetNotification = "NSWindowDidEndSheetNotification";
inline constexpr const char* kWindowWillCloseNotification = "NSWindowWillCloseNotification";
inline constexpr const char* kWindowWillEnterFullScreenNotification = "NSWindowWillEnterFullScreenNotification";
inline constexpr const char* kWindowWillExitFullScreenNotification = "NSWindowWillExitFullScreenNotification";
inline constexpr const char* kWindowDidExitFullScreenNotification = "NSWindowDidExitFullScreenNotification";
inline constexpr const char* kApplicationDidBecomeActiveNotification = "NSApplicationDidBecomeActiveNotification";
inline constexpr const char* kApplicationDidResignActiveNotification = "NSApplicationDidResignActiveNotification";

}  // namespace kit
