// The cap's arithmetic, without waiting for it: what each receipt must wait
// at a given rate. The rate it keeps in a real update is measured by
// bench/rate/run.sh.
#include <gtest/gtest.h>

#include "net/rate_limit.h"

namespace {

TEST(RateLimit, ReceiptsWaitForWhatTheyCostBeyondATenthOfASecond) {
    net::RateLimit limit;
    EXPECT_EQ(limit.Take(1 << 30), 0);  // no cap: nothing waits
    limit.SetBytesPerSecond(10000);
    // A tenth of a second's worth passes at once after a pause.
    EXPECT_EQ(limit.Take(1000), 0);
    // Two seconds' worth waits about two seconds (less what the clock has
    // moved since), and what comes next queues behind it.
    const int64_t first = limit.Take(20000);
    EXPECT_GT(first, 1800);
    EXPECT_LE(first, 2000);
    const int64_t second = limit.Take(10000);
    EXPECT_GT(second, first + 500);  // one second more, less any pause between the takes
    EXPECT_LE(limit.Wait(), second);
    limit.SetBytesPerSecond(0);
    EXPECT_EQ(limit.Take(1 << 30), 0);
    EXPECT_EQ(limit.Wait(), 0);
}

}  // namespace
