// Process-level calls: the module path, the per-process random generator and
// starting, watching and stopping other processes.
//
// Every descriptor the platform opens is close-on-exec, and a started program
// additionally gets every inherited descriptor above 2 marked close-on-exec,
// so that a child never keeps another process's shared memory, file locks or
// endpoints alive. An exec failure travels back through a close-on-exec pipe,
// so the caller learns at once that the program could not be started.
#include "platform/process.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fstream>
#include <mutex>
#include <random>

#include "platform/error.h"

namespace vandrel::win {
namespace {

// The argument vector as exec wants it, built before fork: the child may only
// make async-signal-safe calls.
struct ExecArgs {
  std::vector<std::string> storage;
  std::vector<char*> argv;
  explicit ExecArgs(const std::vector<std::string>& args) : storage(args) {
    for (std::string& s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);
  }
};

bool ValidPid(DWORD pid) { return pid != 0 && pid <= static_cast<DWORD>(INT_MAX); }

// Writes all of buffer to fd, ignoring failures (the child reports what it can).
void WriteAll(int fd, const void* buffer, std::size_t size) {
  const char* p = static_cast<const char*>(buffer);
  while (size > 0) {
    ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
}

// Reads exactly size bytes; false at end of file or on error.
bool ReadAll(int fd, void* buffer, std::size_t size) {
  char* p = static_cast<char*>(buffer);
  while (size > 0) {
    ssize_t n = read(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// In the child after fork: restores default signal handling, redirects the
// standard streams as asked, changes directory and executes the program. On
// failure writes errno to error_fd and exits with 127. Only
// async-signal-safe calls.
[[noreturn]] void ExecChild(const ExecArgs& args, const char* work_dir, int error_fd,
                            bool null_stdin, const char* output_path) {
  sigset_t all;
  sigemptyset(&all);
  sigprocmask(SIG_SETMASK, &all, nullptr);
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  for (int sig = 1; sig < 32; ++sig) {
    if (sig != SIGKILL && sig != SIGSTOP) sigaction(sig, &dfl, nullptr);
  }
  int err = 0;
  if (null_stdin) {
    int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (in < 0 || dup2(in, 0) < 0) err = errno;
  }
  if (err == 0 && output_path != nullptr) {
    int out = open(output_path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (out < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) err = errno;
  }
  if (err == 0 && work_dir != nullptr && chdir(work_dir) != 0) err = errno;
  if (err == 0) {
    // Descriptors another part of the process opened without close-on-exec
    // must not leak into the program (failure on old kernels is harmless).
    syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC);
    execv(args.argv[0], args.argv.data());
    err = errno;
  }
  WriteAll(error_fd, &err, sizeof err);
  _exit(127);
}

// Waits for the child that ends after exec: a zero-length read means exec
// succeeded (the pipe closed on exec); otherwise the child's errno.
int ReadExecError(int fd) {
  int err = 0;
  if (!ReadAll(fd, &err, sizeof err)) return 0;
  return err == 0 ? EIO : err;
}

pid_t WaitPidNoIntr(pid_t pid, int* status, int options) {
  for (;;) {
    pid_t r = waitpid(pid, status, options);
    if (r >= 0 || errno != EINTR) return r;
  }
}

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 255;
}

}  // namespace

DWORD GetModuleFileNameA(HINSTANCE /*module*/, char* buffer, DWORD size) {
  std::string path = ModuleFileName();
  if (path.empty()) return 0;
  if (buffer == nullptr || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() >= size) {
    // As on Win32: truncated, terminated, and the full buffer size returned.
    std::memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(path.size());
}

std::string ModuleFileName() {
  std::string buffer(256, '\0');
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) {
      SetLastErrorFromErrno();
      return {};
    }
    if (static_cast<std::size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(n));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

long CoInitialize(void* /*reserved*/) { return 0; }
void CoUninitialize() {}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }

std::uint32_t Random32() {
  static std::mutex lock;
  static std::mt19937 generator = [] {
    std::random_device device;
    std::seed_seq seed{
        device(), device(), static_cast<unsigned>(getpid()),
        static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())};
    return std::mt19937(seed);
  }();
  std::lock_guard<std::mutex> guard(lock);
  return static_cast<std::uint32_t>(generator());
}

DWORD StartChildProcess(const std::vector<std::string>& argv, const std::string& work_dir) {
  if (argv.empty() || argv[0].empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  ExecArgs args(argv);
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
    SetLastErrorFromErrno();
    return 0;
  }
  pid_t pid = fork();
  if (pid < 0) {
    SetLastErrorFromErrno();
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    return 0;
  }
  if (pid == 0) {
    ExecChild(args, work_dir.empty() ? nullptr : work_dir.c_str(), pipe_fds[1], false, nullptr);
  }
  close(pipe_fds[1]);
  int err = ReadExecError(pipe_fds[0]);
  close(pipe_fds[0]);
  if (err != 0) {
    int status = 0;
    WaitPidNoIntr(pid, &status, 0);
    SetLastError(ErrorFromErrno(err));
    return 0;
  }
  return static_cast<DWORD>(pid);
}

DWORD StartDetachedProcess(const std::vector<std::string>& argv, const std::string& work_dir) {
  return StartDetachedProcess(argv, work_dir, std::string());
}

DWORD StartDetachedProcess(const std::vector<std::string>& argv, const std::string& work_dir,
                           const std::string& log_path) {
  if (argv.empty() || argv[0].empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  ExecArgs args(argv);
  const char* output = log_path.empty() ? "/dev/null" : log_path.c_str();
  // Two pipes: the program's pid comes from the intermediate child, a
  // failed exec from the program's own process; on one pipe the two could
  // arrive in either order.
  int pipe_fds[2];
  int exec_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
    SetLastErrorFromErrno();
    return 0;
  }
  if (pipe2(exec_fds, O_CLOEXEC) != 0) {
    SetLastErrorFromErrno();
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    return 0;
  }
  // The intermediate child starts a new session and forks the program, then
  // ends at once; the program is re-parented and no longer belongs to the
  // caller's session, process group or terminal.
  pid_t middle = fork();
  if (middle < 0) {
    SetLastErrorFromErrno();
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    close(exec_fds[0]);
    close(exec_fds[1]);
    return 0;
  }
  if (middle == 0) {
    close(pipe_fds[0]);
    close(exec_fds[0]);
    setsid();
    pid_t grandchild = fork();
    if (grandchild == 0) {
      close(pipe_fds[1]);
      ExecChild(args, work_dir.empty() ? nullptr : work_dir.c_str(), exec_fds[1], true, output);
    }
    close(exec_fds[1]);
    std::int32_t reported = grandchild < 0 ? -errno : grandchild;
    WriteAll(pipe_fds[1], &reported, sizeof reported);
    _exit(0);
  }
  close(pipe_fds[1]);
  close(exec_fds[1]);
  std::int32_t reported = 0;
  bool have_pid = ReadAll(pipe_fds[0], &reported, sizeof reported);
  int err = have_pid && reported > 0 ? ReadExecError(exec_fds[0]) : 0;
  close(pipe_fds[0]);
  close(exec_fds[0]);
  int status = 0;
  WaitPidNoIntr(middle, &status, 0);
  if (!have_pid || reported <= 0) {
    SetLastError(ErrorFromErrno(have_pid ? -reported : ECHILD));
    return 0;
  }
  if (err != 0) {
    SetLastError(ErrorFromErrno(err));
    return 0;
  }
  return static_cast<DWORD>(reported);
}

bool WaitChildProcess(DWORD pid, int timeout_ms, int* exit_code) {
  if (!ValidPid(pid)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  pid_t child = static_cast<pid_t>(pid);
  int status = 0;
  if (timeout_ms < 0) {
    if (WaitPidNoIntr(child, &status, 0) != child) {
      SetLastErrorFromErrno();
      return false;
    }
    if (exit_code != nullptr) *exit_code = ExitCodeOf(status);
    return true;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  int pidfd = static_cast<int>(syscall(SYS_pidfd_open, child, 0));
  for (;;) {
    pid_t r = WaitPidNoIntr(child, &status, WNOHANG);
    if (r == child) break;
    if (r < 0) {
      SetLastErrorFromErrno();
      if (pidfd >= 0) close(pidfd);
      return false;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) {
      if (pidfd >= 0) close(pidfd);
      SetLastError(ERROR_TIMEOUT);
      return false;
    }
    if (pidfd >= 0) {
      // Readable when the child has ended.
      pollfd p{pidfd, POLLIN, 0};
      poll(&p, 1, static_cast<int>(left));
    } else {
      // Kernels without process descriptors: check again after a short pause.
      timespec pause{0, 2'000'000};
      nanosleep(&pause, nullptr);
    }
  }
  if (pidfd >= 0) close(pidfd);
  if (exit_code != nullptr) *exit_code = ExitCodeOf(status);
  return true;
}

bool KillProcess(DWORD pid, bool hard) {
  // Never 0 or a negative number: kill() would signal a whole process group
  // or every process the caller may signal.
  if (!ValidPid(pid)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (kill(static_cast<pid_t>(pid), hard ? SIGKILL : SIGTERM) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  return true;
}

bool ProcessAlive(DWORD pid) {
  if (!ValidPid(pid)) return false;
  if (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM) return false;
  // An ended child that nobody has reaped yet still answers kill(); it is
  // not alive.
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(stat, text)) return true;
  std::size_t close_paren = text.rfind(')');
  if (close_paren == std::string::npos || close_paren + 2 >= text.size()) return true;
  char state = text[close_paren + 2];
  return state != 'Z' && state != 'X';
}

bool SuspendProcess(DWORD pid, bool suspend) {
  if (pid == 0 || pid > static_cast<DWORD>(INT_MAX)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return kill(static_cast<pid_t>(pid), suspend ? SIGSTOP : SIGCONT) == 0;
}

std::uint64_t RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur < limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return static_cast<std::uint64_t>(limit.rlim_cur);
}

}  // namespace vandrel::win
