// Default names of saved scan results: the scanned device's name, "_" and the local time.
#pragma once

#include <ctime>
#include <string>

namespace SaveRestoreResult {

enum class SaveNameStyle {
    Result,  // "NAME_MM-DD-YYYY at hh:mm:ss"
    Image,   // "NAME_MM-DD-YYYY at hh_mm_ss"
};

// The name for a result saved at the given time (local time). A "/" or NUL in the device name becomes
// "_", so that the name stays one file name. Empty when the time cannot be converted.
std::string MakeSaveFileName(const std::string& deviceName, std::time_t when, SaveNameStyle style);

}  // namespace SaveRestoreResult
