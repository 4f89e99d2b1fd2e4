// Time: the system tick count, local wall-clock time and the C runtime's time
// zone data, and sleeping.
#pragma once

#include <cstdint>
#include <string>

namespace plat {

// Milliseconds since the system started, wrapping at 2^32 (GetTickCount).
uint32_t TickCount();

struct LocalTime {
    int year;     // four digits
    int month;    // 1 to 12
    int day;      // 1 to 31
    int weekday;  // 0 Sunday to 6 Saturday
    int hour;     // 0 to 23
    int minute;
    int second;
};

// The current local time.
LocalTime Now();

// The C runtime's time-zone data after tzset().
struct TimeZoneInfo {
    long secondsWest;  // offset of standard time, seconds west of UTC
    std::string standardName;
    int daylight;  // 1 if the zone has a daylight-saving time, else 0
    std::string daylightName;
};
TimeZoneInfo RuntimeTimeZone();

void SleepMs(uint32_t milliseconds);

}  // namespace plat
