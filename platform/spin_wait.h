// Spin-then-block waits of the message queues: before a wait that would
// sleep in poll(), a thread polls without blocking for a short, bounded time,
// because on a virtual machine the sleep and wake-up of the blocked side cost
// more than a whole request. The spin adapts: a thread whose spins keep
// coming back empty (an idle service waking for its timers) stops spinning,
// and starts again once a wait turns out short enough for a spin to catch.
//
// The bound comes from VANDREL_SPIN_US (microseconds, 0 = never spin) in the
// process's environment, read once; SetSpinLimitUs overrides it.
#pragma once

#include <cstdint>
#include <optional>

namespace vandrel::win::detail {

// The default bound, and the largest one accepted.
inline constexpr int kDefaultSpinUs = 50;
inline constexpr int kMaxSpinUs = 1000;

// The bound a setting asks for: a whole number 0..kMaxSpinUs (larger ones
// are cut to kMaxSpinUs); nothing for text that is no such number.
std::optional<int> ParseSpinSetting(const char* text);

// The bound of this process, in microseconds (0: never spin).
int SpinLimitUs();
// Overrides the bound for every thread of the process (clamped to
// 0..kMaxSpinUs).
void SetSpinLimitUs(int us);

// Tells the processor that this thread spins (cheaper for a sibling
// hardware thread, and for power).
inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

// Microseconds of the monotonic clock.
std::int64_t MonotonicUs();

// One kind of wait of one thread (waiting for a reply, waiting for the next
// message): decides whether to spin before the next such wait and learns
// from how the waits end.
class SpinWait {
 public:
  // The bound for the next wait, 0 when it should block at once.
  int NextSpinUs();
  // The spin found something.
  void Hit();
  // The spin came back empty and the thread blocks.
  void Miss();
  // The spin lost the processor to another task: the machine is busy, and
  // a run of waits blocks at once; each loss soon after another doubles the
  // run (up to kMaxBackoff), each hit halves what the next one starts from.
  void Contended();
  // A wait blocked without spinning (it was skipped) and ended after
  // waited_us: when a spin would have caught it, spinning starts again.
  void Blocked(std::int64_t waited_us);

  // Waits left to block at once (for tests of the policy).
  unsigned skipping() const { return skip_; }

 private:
  // Misses in a row before spins are skipped, and the longest run of
  // skipped waits.
  static constexpr unsigned kMissesBeforeBackoff = 3;
  static constexpr unsigned kMaxBackoff = 256;
  static constexpr unsigned kFirstContendedRun = 8;
  unsigned misses_ = 0;
  unsigned backoff_ = 0;         // length of the last run of skipped waits
  unsigned skip_ = 0;            // waits left in the current run
  bool contended_ = false;       // the run follows a lost processor
  unsigned contention_run_ = 0;  // length of the last run after a lost processor
};

}  // namespace vandrel::win::detail
