// Clock, time zone and file times against the POSIX calls they stand for.
#include <sys/stat.h>
#include <time.h>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/file_times.h"
#include "support/test_support.h"

namespace {

using brf_test::ScopedEnv;

uint32_t MonotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                                 static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

TEST(ClockPosix, TheTickCountIsTheMonotonicClockInMilliseconds) {
    const uint32_t before = MonotonicMs();
    const uint32_t tick = plat::TickCount();
    const uint32_t after = MonotonicMs();
    // Compared modulo 2^32, so the test holds across the wrap as well.
    EXPECT_LE(tick - before, after - before);
}

// Runs `check` with the time zone `tz`, restoring the previous one.
template <typename Check>
void InZone(const char* tz, Check check) {
    {
        ScopedEnv zone("TZ", tz);
        tzset();
        check();
    }
    tzset();
}

TEST(ClockPosix, TheTimeZoneOfTheRuntime) {
    InZone("CET-1CEST,M3.5.0,M10.5.0/3", [] {
        const plat::TimeZoneInfo zone = plat::RuntimeTimeZone();
        EXPECT_EQ(zone.secondsWest, -3600L);
        EXPECT_EQ(zone.standardName, "CET");
        EXPECT_EQ(zone.daylight, 1);
        EXPECT_EQ(zone.daylightName, "CEST");
    });
    InZone("EST5", [] {
        const plat::TimeZoneInfo zone = plat::RuntimeTimeZone();
        EXPECT_EQ(zone.secondsWest, 5 * 3600L);
        EXPECT_EQ(zone.standardName, "EST");
        EXPECT_EQ(zone.daylight, 0);
    });
    InZone("UTC0", [] {
        const plat::TimeZoneInfo zone = plat::RuntimeTimeZone();
        EXPECT_EQ(zone.secondsWest, 0L);
        EXPECT_EQ(zone.standardName, "UTC");
    });
}

TEST(ClockPosix, LocalTimeFollowsTheZone) {
    InZone("UTC0", [] {
        for (int attempt = 0; attempt < 3; ++attempt) {
            const time_t before = time(nullptr);
            const plat::LocalTime now = plat::Now();
            if (time(nullptr) != before) {
                continue;  // a second boundary passed in between: read again
            }
            tm utc{};
            gmtime_r(&before, &utc);
            EXPECT_EQ(now.year, utc.tm_year + 1900);
            EXPECT_EQ(now.month, utc.tm_mon + 1);
            EXPECT_EQ(now.day, utc.tm_mday);
            EXPECT_EQ(now.weekday, utc.tm_wday);
            EXPECT_EQ(now.hour, utc.tm_hour);
            EXPECT_EQ(now.minute, utc.tm_min);
            EXPECT_EQ(now.second, utc.tm_sec);
            return;
        }
    });
}

TEST(FileTimesPosix, AccessAndModificationTimesAreSetExactly) {
    brf_test::ScratchDir dir;
    const std::string path = dir.File("data.pak");
    brf_test::WriteFile(path, "x");
    ASSERT_TRUE(plat::SetFileTimes(path.c_str(), 1000000000u, 0xFFFFFFF0u));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_atim.tv_sec, 1000000000);
    EXPECT_EQ(st.st_atim.tv_nsec, 0);
    // Past 2038: the unsigned seconds are not taken as negative.
    EXPECT_EQ(static_cast<int64_t>(st.st_mtim.tv_sec), int64_t{0xFFFFFFF0u});
    EXPECT_FALSE(plat::SetFileTimes(nullptr, 1u, 1u));
    EXPECT_FALSE(plat::SetFileTimes("", 1u, 1u));
}

}  // namespace
