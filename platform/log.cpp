// The log sink behind WriteLogLine and SetLogFile.
#include "platform/log.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <mutex>
#include <string>

#include "platform/window.h"

namespace vandrel::win {
namespace {

struct LogSink {
  std::mutex lock;
  int fd = STDERR_FILENO;     // owned when it is not standard error
  std::string last;           // the latest line written
  std::uint64_t repeats = 0;  // times it came again since, not yet written
  std::int64_t first_repeat_ms = 0;
};

LogSink& sink() {
  static LogSink* s = new LogSink;  // never destroyed: logging may run during exit
  return *s;
}

}  // namespace

namespace {

void WriteRaw(int fd, const std::string& text) {
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n <= 0) return;  // nowhere to log: drop the line rather than fail the caller
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

// Appends rather than inserts: an insert into the middle of a string is a
// self-overlapping copy, which GCC 12 at -O3 reports (-Wrestrict) on bounds
// it cannot prove.
std::string Thousands(std::uint64_t n) {
  const std::string digits = std::to_string(n);
  std::string out;
  out.reserve(digits.size() + digits.size() / 3);
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(digits[i]);
  }
  return out;
}

// Lines repeated one after another are written once; the repeats are
// summed up when another line comes, or at most every kRepeatSummaryMs.
constexpr std::int64_t kRepeatSummaryMs = 10000;

std::int64_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void FlushRepeats(LogSink& s) {
  if (s.repeats == 0) return;
  WriteRaw(s.fd, "... \"" + s.last + "\" repeated " + Thousands(s.repeats) +
                     (s.repeats == 1 ? " time\n" : " times\n"));
  s.repeats = 0;
}

}  // namespace

void WriteLogLine(std::string_view line) {
  LogSink& s = sink();
  std::lock_guard<std::mutex> guard(s.lock);
  const std::int64_t now = NowMs();
  if (line == s.last) {
    if (s.repeats == 0) s.first_repeat_ms = now;
    ++s.repeats;
    if (now - s.first_repeat_ms >= kRepeatSummaryMs) FlushRepeats(s);
    return;
  }
  FlushRepeats(s);
  s.last.assign(line);
  WriteRaw(s.fd, s.last + "\n");
}

void SetLogFile(const std::string& path) {
  LogSink& s = sink();
  int fd = STDERR_FILENO;
  if (!path.empty()) {
    fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) fd = STDERR_FILENO;
  }
  std::lock_guard<std::mutex> guard(s.lock);
  FlushRepeats(s);
  s.last.clear();
  if (s.fd != STDERR_FILENO) close(s.fd);
  s.fd = fd;
}

}  // namespace vandrel::win
