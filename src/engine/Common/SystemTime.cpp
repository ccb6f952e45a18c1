#include "engine/Common/SystemTime.h"

#include <sys/time.h>

#include <ctime>

namespace {

void Fill(const tm& local, u16 subSecond, _SYSTEMTIME* time) {
    time->wYear = static_cast<u16>(local.tm_year + 1900);
    time->wMonth = static_cast<u16>(local.tm_mon + 1);
    time->wDayOfWeek = static_cast<u16>(local.tm_wday);
    time->wDay = static_cast<u16>(local.tm_mday);
    time->wHour = static_cast<u16>(local.tm_hour);
    time->wMinute = static_cast<u16>(local.tm_min);
    time->wSecond = static_cast<u16>(local.tm_sec);
    time->wMilliseconds = subSecond;
}

}  // namespace

int GetLocalTime(_SYSTEMTIME* time) {
    if (!time) return -1;
    timeval now{};
    gettimeofday(&now, nullptr);
    tm local{};
    time_t seconds = now.tv_sec;
    if (!localtime_r(&seconds, &local)) return -1;
    Fill(local, static_cast<u16>(now.tv_usec % 1000), time);
    return 0;
}

int ConverTime(long seconds, _SYSTEMTIME* time) {
    if (!time) return -1;
    if (seconds < 0) return 0;
    tm local{};
    time_t value = static_cast<time_t>(seconds);
    if (!localtime_r(&value, &local)) return -1;
    Fill(local, 0, time);
    return 0;
}

u32 GetTickCount() { return static_cast<u32>(static_cast<u64>(::time(nullptr)) * 1000u); }
