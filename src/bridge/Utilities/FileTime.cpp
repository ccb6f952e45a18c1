#include "bridge/Utilities/FileTime.h"

#include <cstring>

namespace bridge_time {

namespace {

constexpr i64 kTicksPerSecond = 10'000'000;
constexpr i64 kSecondsFrom1601To1970 = 11'644'473'600LL;
constexpr const char* kDateTimeFormat = "%B %d, %Y at %H:%M";

}  // namespace

i64 ConvertWindowsTimeToUnixTime(_FILETIME t) {
    // Floor division keeps whole seconds monotonic across zero.
    i64 seconds = t / kTicksPerSecond;
    if (t % kTicksPerSecond < 0) --seconds;
    return seconds - kSecondsFrom1601To1970;
}

std::optional<std::tm> LocalTime(i64 seconds) {
    const std::time_t value = static_cast<std::time_t>(seconds);
    if (static_cast<i64>(value) != seconds) return std::nullopt;
    std::tm tm{};
    if (!localtime_r(&value, &tm)) return std::nullopt;
    return tm;
}

std::string LocalDateText(std::time_t seconds) {
    const auto tm = LocalTime(seconds);
    if (!tm) return {};
    char text[32];
    if (std::strftime(text, sizeof text, "%Y-%m-%d", &*tm) == 0) return {};
    return text;
}

std::string FormatDateTime(i64 seconds) {
    const auto tm = LocalTime(seconds);
    if (!tm) return {};
    char text[64];
    if (std::strftime(text, sizeof text, kDateTimeFormat, &*tm) == 0) return {};
    return text;
}

std::optional<i64> ParseDateTime(const std::string& text) {
    std::tm tm{};
    const char* end = strptime(text.c_str(), kDateTimeFormat, &tm);
    if (!end || *end != '\0') return std::nullopt;
    tm.tm_isdst = -1;
    const std::time_t value = std::mktime(&tm);
    if (value == static_cast<std::time_t>(-1)) return std::nullopt;
    return static_cast<i64>(value);
}

}  // namespace bridge_time
