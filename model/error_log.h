// The process's error log: "Errors.log" in the log folder (the current
// directory unless set otherwise), one line per entry, kept to the last 7
// days. Destructors of the object model write consistency complaints here
// instead of raising.
//
// Line format: the local date and time, " - ", the text. The date and time
// are written as "YYYY-MM-DD hh:mm:ss" (24-hour clock), which is the
// short date-and-time format of the service on this system; reading
// accepts exactly that form.
//
// Every entry rewrites the log through the work file "Errors.tmp": lines
// older than 7 days, lines without " - " and lines whose date does not
// convert are dropped, the rest are copied in order, the new line is
// appended, and the work file replaces the log in one atomic rename (so a
// failure at any point leaves the previous log whole).
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace vandrel {

inline constexpr const char* kErrorLogName = "Errors.log";
inline constexpr const char* kErrorLogWorkName = "Errors.tmp";
inline constexpr int kErrorLogKeepDays = 7;

// Appends one dated line. Never raises: any failure is swallowed and the
// work file removed.
void LogError(std::string_view text);

// The folder that holds the log; empty = the current directory. Main
// thread only.
void SetErrorLogFolder(const std::string& folder);
const std::string& ErrorLogFolder();
// The log's path and the work file's path in that folder.
std::string ErrorLogPath();
std::string ErrorLogWorkPath();

// The clock the log reads (local time); tests replace it to write lines of
// other days. A null function restores the system clock.
using TLogClock = std::time_t (*)();
void SetErrorLogClock(TLogClock clock);

// The date-and-time text of a moment in local time, and its inverse; false
// when text is not exactly in the log's format or names no valid moment.
std::string FormatLogTime(std::time_t moment);
bool ParseLogTime(std::string_view text, std::time_t& moment);

}  // namespace vandrel
