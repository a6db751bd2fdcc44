// The stored date form and its one text form.
#include "platform/date_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/support/test_support.h"

namespace vandrel {
namespace {

TEST(DateTime, StoredDaysReadAsCalendarDates) {
  EXPECT_EQ(FormatDateTime(0), "1899-12-30 00:00:00");
  EXPECT_EQ(FormatDateTime(25569), "1970-01-01 00:00:00");
  EXPECT_EQ(FormatDateTime(25569.5), "1970-01-01 12:00:00");
  // 2000-02-29, a leap day of a year divisible by 400, at 23:59:59.
  EXPECT_EQ(FormatDateTime(36585 + 86399.0 / 86400), "2000-02-29 23:59:59");
  // Before day 0 the fraction still counts forward from midnight.
  EXPECT_EQ(FormatDateTime(-1.25), "1899-12-28 18:00:00");
  EXPECT_EQ(FormatDateTime(-693593), "0001-01-01 00:00:00");
  EXPECT_EQ(FormatDateTime(2958465), "9999-12-31 00:00:00");
  // Half a second before midnight rounds into the next day.
  EXPECT_EQ(FormatDateTime(25569 + (86400 - 0.4) / 86400), "1970-01-02 00:00:00");
}

TEST(DateTime, ValuesThatNameNoDateSaySo) {
  EXPECT_EQ(FormatDateTime(std::numeric_limits<double>::quiet_NaN()), "(invalid)");
  EXPECT_EQ(FormatDateTime(std::numeric_limits<double>::infinity()), "(invalid)");
  EXPECT_EQ(FormatDateTime(-693594), "(invalid)");
  EXPECT_EQ(FormatDateTime(1e300), "(invalid)");
}

TEST(DateTime, LocalTimeRoundTripsThroughTheStoredForm) {
  test::ScopedEnv tz("TZ", "UTC");
  tzset();
  EXPECT_EQ(LocalDateTime(0), 25569.0);
  EXPECT_EQ(FormatLocalTime(951868799), "2000-02-29 23:59:59");
  EXPECT_EQ(FormatDateTime(LocalDateTime(1700000000)), FormatLocalTime(1700000000));
  test::ScopedEnv east("TZ", "UTC-3");
  tzset();
  EXPECT_EQ(FormatLocalTime(0), "1970-01-01 03:00:00");
  EXPECT_DOUBLE_EQ(LocalDateTime(0), 25569.125);
  const double now = NowAsDateTime();
  EXPECT_TRUE(std::isfinite(now) && now > 40000) << now;
}

}  // namespace
}  // namespace vandrel
