// The names of the notifications between the operations layer and the windows, all in one place.
#pragma once

namespace ui_notification {

// Close buttons of the main and result windows -> application delegate.
inline constexpr const char* kAppWillTerminate = "appWillTerminate";
// A disk or volume arrived or left -> device page, result window.
inline constexpr const char* kRefreshAttachDevice = "RefreshAttachDevice";
inline constexpr const char* kRefreshDetachDevice = "RefreshDetachDevice";
// The device model is enumerated -> main window.
inline constexpr const char* kInitFinished = "aInitFinished";
// A saved scan result is loaded -> main window.
inline constexpr const char* kShowDetailWindow = "ShowDetailWindow";
// The scan's results grew (or the restore poll asks for a refresh) -> result window.
inline constexpr const char* kNormalScanValue = "NormalScranValue";
// Search results, search end -> result window.
inline constexpr const char* kDoSearchValue = "DoSearchValue";
inline constexpr const char* kDoSearchFinished = "DoSearchFinished";
// Recovery progress -> result window.
inline constexpr const char* kDoRecovery = "DoRecovery";
// Space pressed in the file list -> result window.
inline constexpr const char* kSpacePreviewFile = "SpacePreviewFile";
// A save or load of a scan result ended -> its progress window.
inline constexpr const char* kQueryProgressFinish = "QueryProgressFinish";
// A device read failed during a scan (posted; no window observes it).
inline constexpr const char* kBadSectorNotify = "BadSectorNotify";

}  // namespace ui_notification
