// Node times (_FILETIME, 100-ns ticks since 1601) and local calendar values.
#pragma once

#include <ctime>
#include <optional>
#include <string>

#include "engine/Common/SearcherTypes.h"

namespace bridge_time {

// Seconds since 1970; signed, so times before 1970 stay negative instead of wrapping.
i64 ConvertWindowsTimeToUnixTime(_FILETIME t);

// The local calendar of seconds since 1970; nothing when the C library cannot convert it.
std::optional<std::tm> LocalTime(i64 seconds);

// "yyyy-MM-dd" of the local date; empty when it cannot be converted.
std::string LocalDateText(std::time_t seconds);

// The date and time as shown in lists ("May 3, 2014 at 10:05"); empty when it cannot be converted.
std::string FormatDateTime(i64 seconds);
// Reads back the form FormatDateTime writes; nothing when the text is not in that form.
std::optional<i64> ParseDateTime(const std::string& text);

}  // namespace bridge_time
