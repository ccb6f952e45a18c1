#include "bridge/SaveRestore/SaveFileName.h"

#include <cstdio>

#include "engine/Common/SystemTime.h"

namespace SaveRestoreResult {

std::string MakeSaveFileName(const std::string& deviceName, std::time_t when, SaveNameStyle style) {
    _SYSTEMTIME t{};
    if (ConverTime(static_cast<long>(when), &t) != 0) return "";
    const char* format =
        style == SaveNameStyle::Result ? "%02d-%02d-%04d at %02d:%02d:%02d" : "%02d-%02d-%04d at %02d_%02d_%02d";
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, format, t.wMonth, t.wDay, t.wYear, t.wHour, t.wMinute, t.wSecond);
    std::string name = deviceName;
    for (char& c : name) {
        if (c == '/' || c == '\0') c = '_';
    }
    return name + "_" + stamp;
}

}  // namespace SaveRestoreResult
