// The error log: dated lines, a 7-day window, rewritten through a work file.
#include "model/error_log.h"

#include <sys/stat.h>

#include <cstdio>
#include <exception>

#include "platform/date_time.h"
#include "platform/file.h"
#include "platform/unique_handle.h"

namespace vandrel {
namespace {

std::string& Folder() {
  static std::string folder;
  return folder;
}

TLogClock& Clock() {
  static TLogClock clock = nullptr;
  return clock;
}

std::time_t Now() { return Clock() ? Clock()() : std::time(nullptr); }

std::string InFolder(const char* name) {
  const std::string& folder = Folder();
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// Reads the whole file; false when it does not exist or cannot be read.
bool ReadAll(const std::string& path, std::string& content) {
  const win::UniqueHandle file(win::CreateFileA(path.c_str(), win::GENERIC_READ,
                                                win::FILE_SHARE_READ | win::FILE_SHARE_WRITE,
                                                nullptr, win::OPEN_EXISTING, 0, nullptr));
  if (!file) return false;
  content.clear();
  char buffer[16384];
  bool ok = true;
  for (;;) {
    win::DWORD read = 0;
    if (!win::ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) {
      ok = false;
      break;
    }
    if (read == 0) break;
    content.append(buffer, read);
  }
  return ok;
}

bool WriteAll(win::HANDLE file, std::string_view data) {
  while (!data.empty()) {
    win::DWORD written = 0;
    if (!win::WriteFile(file, data.data(), static_cast<win::DWORD>(data.size()), &written,
                        nullptr) ||
        written == 0)
      return false;
    data.remove_prefix(written);
  }
  return true;
}

bool Digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
  value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

// The lines of the old log that stay, each ending in a line break.
std::string KeptLines(std::string_view content, std::time_t cut_off) {
  std::string kept;
  while (!content.empty()) {
    std::size_t end = content.find('\n');
    std::string_view line = content.substr(0, end);
    content.remove_prefix(end == std::string_view::npos ? content.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t dash = line.find(" - ");
    if (dash == std::string_view::npos) continue;
    std::time_t moment = 0;
    if (!ParseLogTime(line.substr(0, dash), moment)) continue;
    if (moment < cut_off) continue;
    kept.append(line);
    kept.push_back('\n');
  }
  return kept;
}

}  // namespace

void SetErrorLogFolder(const std::string& folder) { Folder() = folder; }
const std::string& ErrorLogFolder() { return Folder(); }
std::string ErrorLogPath() { return InFolder(kErrorLogName); }
std::string ErrorLogWorkPath() { return InFolder(kErrorLogWorkName); }
void SetErrorLogClock(TLogClock clock) { Clock() = clock; }

std::string FormatLogTime(std::time_t moment) { return FormatLocalTime(moment); }

bool ParseLogTime(std::string_view text, std::time_t& moment) {
  // YYYY-MM-DD hh:mm:ss
  if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' ||
      text[16] != ':')
    return false;
  int year, month, day, hour, minute, second;
  if (!Digits(text, 0, 4, year) || !Digits(text, 5, 2, month) || !Digits(text, 8, 2, day) ||
      !Digits(text, 11, 2, hour) || !Digits(text, 14, 2, minute) || !Digits(text, 17, 2, second))
    return false;
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] || hour > 23 || minute > 59 ||
      second > 59)
    return false;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month == 2 && day == 29 && !leap) return false;
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  moment = std::mktime(&local);
  return moment != static_cast<std::time_t>(-1);
}

void LogError(std::string_view text) {
  const std::string log_path = ErrorLogPath();
  const std::string work_path = ErrorLogWorkPath();
  win::UniqueHandle work;
  try {
    work.reset(win::CreateFileA(work_path.c_str(), win::GENERIC_WRITE, 0, nullptr,
                                win::CREATE_ALWAYS, 0, nullptr));
    if (!work) return;
    // The log names files and words of the user's: readable by the user alone.
    ::chmod(work_path.c_str(), 0600);
    const std::time_t now = Now();
    std::string lines;
    std::string old;
    if (ReadAll(log_path, old))
      lines = KeptLines(old, now - static_cast<std::time_t>(kErrorLogKeepDays) * 24 * 60 * 60);
    lines += FormatLogTime(now);
    lines += " - ";
    // A text with line breaks would read back as lines without a date.
    for (char c : text) lines.push_back(c == '\n' || c == '\r' ? ' ' : c);
    lines.push_back('\n');
    // A failed close may have lost the last writes: the old log then stays.
    const bool written =
        WriteAll(work.get(), lines) && win::FlushFileBuffers(work.get()) && work.close();
    if (written &&
        win::MoveFileExA(work_path.c_str(), log_path.c_str(), win::MOVEFILE_REPLACE_EXISTING))
      return;
  } catch (const std::exception&) {
    // The log never raises.
  }
  work.reset();
  win::DeleteFileA(work_path.c_str());
}

}  // namespace vandrel
