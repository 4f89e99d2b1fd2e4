#include <windows.h>

#include <ctime>

#include "platform/clock.h"

namespace plat {

uint32_t TickCount() {
    return GetTickCount();
}

LocalTime Now() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return LocalTime{now.wYear, now.wMonth,  now.wDay,   now.wDayOfWeek,
                     now.wHour, now.wMinute, now.wSecond};
}

TimeZoneInfo RuntimeTimeZone() {
    _tzset();
    // The runtime only promises a non-zero flag for a zone with daylight
    // saving (some runtimes keep a letter of the zone name there); callers
    // get 0 or 1.
    return TimeZoneInfo{_timezone, _tzname[0] ? _tzname[0] : "", _daylight != 0 ? 1 : 0,
                        _tzname[1] ? _tzname[1] : ""};
}

void SleepMs(uint32_t milliseconds) {
    Sleep(milliseconds);
}

}  // namespace plat
