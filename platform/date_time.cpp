// Stored dates to text and local time to stored dates, on the proleptic
// Gregorian calendar.
#include "platform/date_time.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>

namespace vandrel {
namespace {

// Day 0 of the stored form, 1899-12-30, is this many days before 1970-01-01.
constexpr long long kEpochOffsetDays = 25569;
constexpr long long kSecondsPerDay = 86400;
// 0001-01-01 and 9999-12-31 in the stored form.
constexpr double kFirstDay = -693593;
constexpr double kLastDay = 2958466;

std::optional<std::tm> Local(std::time_t moment) {
  std::tm local{};
  if (localtime_r(&moment, &local) == nullptr) return std::nullopt;
  return local;
}

}  // namespace

double LocalDateTime(std::time_t moment) {
  std::tm local{};
  if (const std::optional<std::tm> found = Local(moment)) local = *found;
  using namespace std::chrono;
  const year_month_day date{year{local.tm_year + 1900}, month(local.tm_mon + 1),
                            day(local.tm_mday)};
  const double days =
      static_cast<double>(sys_days(date).time_since_epoch().count() + kEpochOffsetDays);
  return days + (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) /
                    static_cast<double>(kSecondsPerDay);
}

double NowAsDateTime() { return LocalDateTime(std::time(nullptr)); }

std::string FormatDateTime(double days) {
  if (!std::isfinite(days) || days < kFirstDay || days > kLastDay) return "(invalid)";
  const double whole = std::floor(days);
  long long seconds = std::llround((days - whole) * static_cast<double>(kSecondsPerDay));
  long long day_number = static_cast<long long>(whole) - kEpochOffsetDays;
  if (seconds >= kSecondsPerDay) {
    seconds -= kSecondsPerDay;
    ++day_number;
  }
  using namespace std::chrono;
  const year_month_day date{sys_days{std::chrono::days{day_number}}};
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02lld:%02lld:%02lld",
                static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                static_cast<unsigned>(date.day()), seconds / 3600, seconds / 60 % 60, seconds % 60);
  return text;
}

std::string FormatLocalTime(std::time_t moment) {
  if (!Local(moment)) return "0000-00-00 00:00:00";
  return FormatDateTime(LocalDateTime(moment));
}

}  // namespace vandrel
