#include "platform/clock.h"

#include <time.h>

#include <cerrno>

namespace plat {

uint32_t TickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    // The 32-bit millisecond count wraps after 49.7 days, as the Windows one does.
    const uint64_t ms =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

LocalTime Now() {
    const time_t seconds = time(nullptr);
    tm local{};
    localtime_r(&seconds, &local);
    return LocalTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_wday,
                     local.tm_hour,        local.tm_min,     local.tm_sec};
}

TimeZoneInfo RuntimeTimeZone() {
    tzset();
    return TimeZoneInfo{timezone, tzname[0] != nullptr ? tzname[0] : "", daylight != 0 ? 1 : 0,
                        tzname[1] != nullptr ? tzname[1] : ""};
}

void SleepMs(uint32_t milliseconds) {
    timespec wanted{static_cast<time_t>(milliseconds / 1000),
                    static_cast<long>(milliseconds % 1000) * 1000000L};
    timespec left{};
    // A signal does not cut the sleep short.
    while (nanosleep(&wanted, &left) != 0 && errno == EINTR) {
        wanted = left;
    }
}

}  // namespace plat
