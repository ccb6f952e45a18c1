// Saving a scan result to a file as a whole: the header and frames 1-3 go to a temporary file in the
// destination's folder, which replaces the destination only once everything was written and flushed.
// A failed or stopped save leaves the old file whole and answers its own code.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "bridge/SaveRestore/SavedResultFrames.h"

namespace saved_result {

// The code of a save that did not complete (distinct from the load's codes 1-7).
inline constexpr u32 kCodeSaveFailed = 8;
// The code of a save refused before it began: its file would lie on the scanned device.
inline constexpr u32 kCodeOnScannedDevice = 9;

// 0 when the file was written completely; kCodeSaveFailed otherwise (a write error, a full disk, a
// stop through continued, a folder that cannot be written), with the reason logged.
u32 SaveScanResultFile(const std::string& path, const SavedScanKind& kind, const SavedDevice& device,
                       const std::vector<SavedRoot>& roots, const std::function<bool()>& continued,
                       const std::function<void()>& step);

}  // namespace saved_result
