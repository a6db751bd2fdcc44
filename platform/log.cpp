// The log sink behind WriteLogLine and SetLogFile.
#include "platform/log.h"

#include <fcntl.h>
#include <unistd.h>

#include <mutex>
#include <string>

#include "platform/window.h"

namespace vandrel::win {
namespace {

struct LogSink {
  std::mutex lock;
  int fd = STDERR_FILENO;  // owned when it is not standard error
};

LogSink& sink() {
  static LogSink* s = new LogSink;  // never destroyed: logging may run during exit
  return *s;
}

}  // namespace

void WriteLogLine(std::string_view line) {
  std::string text(line);
  text += '\n';
  LogSink& s = sink();
  std::lock_guard<std::mutex> guard(s.lock);
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    ssize_t n = write(s.fd, p, left);
    if (n <= 0) return;  // nowhere to log: drop the line rather than fail the caller
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

void SetLogFile(const std::string& path) {
  LogSink& s = sink();
  int fd = STDERR_FILENO;
  if (!path.empty()) {
    fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) fd = STDERR_FILENO;
  }
  std::lock_guard<std::mutex> guard(s.lock);
  if (s.fd != STDERR_FILENO) close(s.fd);
  s.fd = fd;
}

}  // namespace vandrel::win
