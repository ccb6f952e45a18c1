// Windows-style time functions used by the engine and the operations layer.
#pragma once

#include "engine/Common/Types.h"

struct _SYSTEMTIME {
    u16 wYear;
    u16 wMonth;  // 1-12
    u16 wDayOfWeek;  // 0 Sunday
    u16 wDay;
    u16 wHour;
    u16 wMinute;
    u16 wSecond;
    u16 wMilliseconds;  // microseconds of the current second modulo 1000 (see GetLocalTime)
};
static_assert(sizeof(_SYSTEMTIME) == 16);

// The local time of now; the sub-second field takes the microseconds of the current second modulo
// 1000. 0 on success, -1 for a null record or a time the C library cannot convert.
int GetLocalTime(_SYSTEMTIME* time);

// The local time of a Unix time with the sub-second field 0. A negative time leaves the record
// untouched (0). -1 for a null record or a time the C library cannot convert.
int ConverTime(long seconds, _SYSTEMTIME* time);

// Wall-clock seconds times 1000, cut to 32 bits: it advances in steps of 1000.
u32 GetTickCount();
