// Tick count, local time and file times. These tests hold on every platform.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "platform/clock.h"
#include "platform/file_times.h"
#include "support/test_support.h"

namespace {

TEST(Clock, TheTickCountAdvancesAcrossASleep) {
    const uint32_t before = plat::TickCount();
    plat::SleepMs(50);
    const uint32_t elapsed = plat::TickCount() - before;
    // A sleep lasts at least as long as asked; the tick may be coarse (about
    // 16 ms on Windows). The difference is taken modulo 2^32, as callers do
    // across the wrap, so a count running backwards would show as huge.
    EXPECT_GE(elapsed, 30u);
    EXPECT_LT(elapsed, 0x80000000u);
}

TEST(Clock, LocalTimeFieldsAreInRange) {
    const plat::LocalTime now = plat::Now();
    EXPECT_GE(now.year, 2020);
    EXPECT_LE(now.year, 9999);
    EXPECT_GE(now.month, 1);
    EXPECT_LE(now.month, 12);
    EXPECT_GE(now.day, 1);
    EXPECT_LE(now.day, 31);
    EXPECT_GE(now.weekday, 0);
    EXPECT_LE(now.weekday, 6);
    EXPECT_GE(now.hour, 0);
    EXPECT_LE(now.hour, 23);
    EXPECT_GE(now.minute, 0);
    EXPECT_LE(now.minute, 59);
    EXPECT_GE(now.second, 0);
    EXPECT_LE(now.second, 60);
}

TEST(Clock, TheTimeZoneHasANameAndAPlausibleOffset) {
    const plat::TimeZoneInfo zone = plat::RuntimeTimeZone();
    EXPECT_FALSE(zone.standardName.empty());
    EXPECT_GE(zone.secondsWest, -14 * 3600L);
    EXPECT_LE(zone.secondsWest, 12 * 3600L);
    EXPECT_TRUE(zone.daylight == 0 || zone.daylight == 1);
}

TEST(FileTimes, TheModificationTimeIsSetToTheSecond) {
    brf_test::ScratchDir dir;
    const std::string path = dir.File("patch.bin");
    brf_test::WriteFile(path, "data");
    // 2004-06-01 12:00:00 UTC and one day and one second later.
    ASSERT_TRUE(plat::SetFileTimes(path.c_str(), 1086091200u, 1086091200u));
    const auto first = std::filesystem::last_write_time(path);
    ASSERT_TRUE(plat::SetFileTimes(path.c_str(), 1086091200u, 1086177601u));
    const auto second = std::filesystem::last_write_time(path);
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(second - first).count(), 86401);
}

TEST(FileTimes, AMissingFileFails) {
    brf_test::ScratchDir dir;
    EXPECT_FALSE(plat::SetFileTimes(dir.File("missing.bin").c_str(), 1u, 1u));
}

}  // namespace
