// Injected I/O failures of the file layer.
#include "engine/io_faults.h"

#include <cstdlib>
#include <string>

namespace vandrel::engine {
namespace {

struct Plan {
  bool armed = false;
  unsigned kinds = 0;
  std::uint64_t nth = 0;  // 0: count only
  bool torn = false;
  bool sticky = false;
  std::uint64_t seen = 0;
  bool fired = false;
};

Plan& State() {
  static Plan plan;
  return plan;
}

}  // namespace

void TIoFaults::Arm(std::uint64_t nth, unsigned kinds, bool torn, bool sticky) {
  State() = Plan{true, kinds, nth, torn, sticky, 0, false};
}

void TIoFaults::Disarm() { State() = Plan{}; }

std::uint64_t TIoFaults::Seen() { return State().seen; }

bool TIoFaults::Fired() { return State().fired; }

bool TIoFaults::ArmFromEnvironment() {
  const char* v = std::getenv("VANDREL_IO_FAULT");
  if (v == nullptr || *v == '\0') return false;
  const std::string s(v);
  char* end = nullptr;
  const unsigned long long nth = std::strtoull(s.c_str(), &end, 10);
  if (end == s.c_str() || nth == 0) return false;
  unsigned kinds = 0;
  bool torn = false, sticky = false;
  std::string rest(end);
  std::size_t at = 0;
  while (at < rest.size()) {
    if (rest[at] != ',') return false;
    const std::size_t next = rest.find(',', at + 1);
    const std::string part = rest.substr(at + 1, next == std::string::npos ? next : next - at - 1);
    if (part == "torn") {
      torn = true;
    } else if (part == "sticky") {
      sticky = true;
    } else {
      for (const char c : part) {
        if (c == 'w')
          kinds |= kIoWrite;
        else if (c == 'g')
          kinds |= kIoGrow;
        else if (c == 't')
          kinds |= kIoTruncate;
        else if (c == 'f')
          kinds |= kIoFlush;
        else
          return false;
      }
    }
    if (next == std::string::npos) break;
    at = next;
  }
  Arm(nth, kinds == 0 ? kIoAll : kinds, torn, sticky);
  return true;
}

bool TIoFaults::Hit(TIoKind kind, bool* torn) {
  Plan& p = State();
  if (!p.armed || (p.kinds & kind) == 0) return false;
  ++p.seen;
  if (p.nth == 0 || p.seen < p.nth || (p.seen > p.nth && !p.sticky)) return false;
  p.fired = true;
  if (torn != nullptr) *torn = p.torn;
  return true;
}

}  // namespace vandrel::engine
