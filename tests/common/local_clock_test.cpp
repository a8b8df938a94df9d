#include "common/local_clock.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include "tests/support/set_clock.h"

namespace vardel {
namespace {

using test::SetClock;

class LocalClockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "Europe/Berlin", 1);
        tzset();
    }
    void TearDown() override {
        unsetenv("TZ");
        tzset();
    }
};

TEST_F(LocalClockTest, LocalSecondsTakenApartAsUtcGiveTheLocalWallClock) {
    SetClock clock;
    clock.t = 1736085789;  // 2025-01-05 14:03:09 UTC, 15:03:09 in Berlin
    LocalClock local(clock);
    EXPECT_EQ(local.offset(), 3600);
    time_t l = static_cast<time_t>(local.local_now());
    struct tm tm;
    gmtime_r(&l, &tm);
    EXPECT_EQ(tm.tm_hour, 15);
    EXPECT_EQ(tm.tm_min, 3);
}

TEST_F(LocalClockTest, TheOffsetIsTakenOnceUntilRefreshed) {
    SetClock clock;
    clock.t = 1736085789;  // winter: +1 h
    LocalClock local(clock);
    EXPECT_EQ(local.offset(), 3600);
    clock.t = 1751720589;  // July: +2 h, but the offset was taken already
    EXPECT_EQ(local.offset(), 3600);
    EXPECT_EQ(local.local_now(), 1751720589 + 3600);
    local.refresh_offset();
    EXPECT_EQ(local.offset(), 7200);
    EXPECT_EQ(local.to_utc(local.to_local(1000)), 1000);
}

}  // namespace
}  // namespace vardel
