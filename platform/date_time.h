// Dates as the dictionaries store them - a double counting days since
// 1899-12-30 00:00, the time of day as the fraction - and the one text form
// every program shows them in, "YYYY-MM-DD hh:mm:ss".
#pragma once

#include <ctime>
#include <string>

namespace vandrel {

// The stored form of a moment in local time (to the second).
double LocalDateTime(std::time_t moment);
// The stored form of now, local time.
double NowAsDateTime();

// "YYYY-MM-DD hh:mm:ss" of a stored date, rounded to the second; "(invalid)"
// for a value that is not finite or lies outside the years 0001..9999.
std::string FormatDateTime(double days);
// The same text of a moment in local time; "0000-00-00 00:00:00" when the
// moment has no local time.
std::string FormatLocalTime(std::time_t moment);

}  // namespace vandrel
