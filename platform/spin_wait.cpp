// The spin bound of the process and the adaptive spin policy of one wait.
#include "platform/spin_wait.h"

#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace vandrel::win::detail {
namespace {

constexpr int kUnset = -1;
std::atomic<int> g_limit_us{kUnset};

int LimitFromEnvironment() {
  const char* text = std::getenv("VANDREL_SPIN_US");
  if (text == nullptr || *text == '\0') return kDefaultSpinUs;
  return ParseSpinSetting(text).value_or(kDefaultSpinUs);
}

}  // namespace

std::optional<int> ParseSpinSetting(const char* text) {
  if (text == nullptr || *text < '0' || *text > '9') return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text, &end, 10);
  if (*end != '\0') return std::nullopt;
  if (errno == ERANGE || value > kMaxSpinUs) return kMaxSpinUs;
  return static_cast<int>(value);
}

int SpinLimitUs() {
  int us = g_limit_us.load(std::memory_order_relaxed);
  if (us == kUnset) {
    const int wanted = LimitFromEnvironment();
    // The first reader sets it, unless an override came first.
    g_limit_us.compare_exchange_strong(us, wanted, std::memory_order_relaxed);
    us = g_limit_us.load(std::memory_order_relaxed);
  }
  return us;
}

void SetSpinLimitUs(int us) {
  g_limit_us.store(std::clamp(us, 0, kMaxSpinUs), std::memory_order_relaxed);
}

std::int64_t MonotonicUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

int SpinWait::NextSpinUs() {
  const int limit = SpinLimitUs();
  if (limit == 0) return 0;
  if (skip_ > 0) {
    --skip_;
    return 0;
  }
  contended_ = false;
  return limit;
}

void SpinWait::Hit() {
  misses_ = 0;
  backoff_ = 0;
  contention_run_ /= 2;
}

void SpinWait::Miss() {
  if (++misses_ < kMissesBeforeBackoff) return;
  // Each further miss doubles the run of waits that block at once, so an
  // idle thread spins about log2 of its wake-ups.
  backoff_ = backoff_ == 0 ? 1 : std::min(backoff_ * 2, kMaxBackoff);
  skip_ = backoff_;
}

void SpinWait::Contended() {
  // One lost processor may be a passing task; losing it again soon after
  // doubles the run. Skipped waits cost a wake-up each, so the first run is
  // short.
  contention_run_ = std::clamp(contention_run_ * 2, kFirstContendedRun, kMaxBackoff);
  skip_ = contention_run_;
  contended_ = true;
}

void SpinWait::Blocked(std::int64_t waited_us) {
  // On a busy machine waits are short because the peer never sleeps
  // either; only the end of the run tries spinning again.
  if (waited_us > SpinLimitUs() || contended_) return;
  misses_ = 0;
  backoff_ = 0;
  skip_ = 0;
}

}  // namespace vandrel::win::detail
