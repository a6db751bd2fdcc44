// The per-thread message queue: windows, endpoint, connections, posted
// messages, timers and the pump.
#include "platform/message_queue.h"

#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <exception>

#include "platform/error.h"
#include "platform/log.h"
#include "platform/process.h"
#include "platform/runtime_dir.h"
#include "platform/window.h"

namespace vandrel::win::detail {

// Owns the thread's queue; its destructor runs when the thread ends (for the
// main thread: at exit) and takes the thread's windows out of the namespace.
struct QueueHolder {
  std::unique_ptr<MessageQueue> queue;
  ~QueueHolder() {
    if (queue) queue->Teardown();
  }
};

namespace {

thread_local QueueHolder t_holder;

constexpr UINT kTimerMinimumMs = 10;  // as USER_TIMER_MINIMUM
constexpr UINT kTimerMaximumMs = 0x7FFFFFFF;

DWORD CurrentThreadId() { return static_cast<DWORD>(gettid()); }

}  // namespace

std::int64_t MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

namespace {
thread_local DWORD t_sender_pid = 0;
}  // namespace

SenderScope::SenderScope(DWORD pid) : outer_(t_sender_pid) { t_sender_pid = pid; }
SenderScope::~SenderScope() { t_sender_pid = outer_; }
DWORD SenderScope::Current() { return t_sender_pid; }

MessageQueue& MessageQueue::Current() {
  if (!t_holder.queue) t_holder.queue.reset(new MessageQueue);
  return *t_holder.queue;
}

MessageQueue::~MessageQueue() = default;

const std::string* MessageQueue::Namespace() {
  const std::string* dir;
  try {
    dir = &RuntimeDir();
  } catch (const std::exception& e) {
    WriteLogLine(e.what());
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  if (*dir != dir_) {
    Teardown();
    dir_ = *dir;
  }
  return &dir_;
}

void MessageQueue::Teardown() {
  if (!dir_.empty() && !windows_.empty()) {
    NameLock lock(dir_);
    for (const auto& [hwnd, w] : windows_) {
      if (!w.name_key.empty() && lock.held() && ReadNameEntry(dir_, w.name_key) == hwnd) {
        RemoveNameEntry(dir_, w.name_key);
      }
      RemoveWindowEntry(dir_, hwnd);
    }
  }
  windows_.clear();
  std::erase_if(timers_, [](const TimerRecord& t) { return t.hwnd != 0; });
  std::erase_if(posted_, [](const MSG& m) { return m.hwnd != 0; });
  for (auto& [seq, p] : pending_) {
    p.done = true;
    p.failed = true;
  }
  incoming_.clear();
  known_owners_.clear();
  outgoing_.clear();
  connections_.clear();
  if (listener_.valid()) {
    listener_.reset();
    unlink(EndpointPath(dir_, endpoint_).c_str());
  }
  endpoint_ = 0;
}

bool MessageQueue::EnsureEndpoint() {
  if (listener_.valid()) return true;
  std::uint32_t id = NextNamespaceNumber(dir_);
  if (id == 0) return false;
  listener_ = ListenAt(EndpointPath(dir_, id));
  if (!listener_.valid()) return false;
  endpoint_ = id;
  return true;
}

WindowRecord* MessageQueue::FindWindow(HWND hwnd) {
  auto it = windows_.find(hwnd);
  return it == windows_.end() ? nullptr : &it->second;
}

HWND MessageQueue::CreateWindow(const std::string& name) {
  if (Namespace() == nullptr) return 0;
  std::string key;
  if (!name.empty()) {
    key = WindowNameKey(name);
    if (key.empty()) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return 0;
    }
  }
  if (!EnsureEndpoint()) return 0;
  HWND hwnd = NextNamespaceNumber(dir_);
  if (hwnd == 0) return 0;
  if (!CreateWindowEntry(dir_, hwnd,
                         WindowOwner{endpoint_, static_cast<DWORD>(getpid()), CurrentThreadId()})) {
    return 0;
  }
  if (!key.empty() && !ClaimName(hwnd, key)) {
    DWORD error = GetLastError();
    RemoveWindowEntry(dir_, hwnd);
    SetLastError(error);
    return 0;
  }
  windows_[hwnd] = WindowRecord{&DefWindowProcA, 0, key};
  return hwnd;
}

bool MessageQueue::ClaimName(HWND hwnd, const std::string& key) {
  NameLock lock(dir_);
  if (!lock.held()) return false;
  // Two rounds: the second follows the removal of a dead owner's entry.
  for (int round = 0; round < 2; ++round) {
    if (CreateNameEntry(dir_, key, hwnd)) return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
    auto holder = ReadNameEntry(dir_, key);
    if (holder && WindowAlive(*holder)) break;
    RemoveNameEntry(dir_, key);  // its owner died: the name is free again
  }
  SetLastError(ERROR_ALREADY_EXISTS);
  return false;
}

BOOL MessageQueue::DestroyWindow(HWND hwnd) {
  WindowRecord* w = FindWindow(hwnd);
  if (w == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  w->proc(hwnd, WM_DESTROY, 0, 0);
  auto it = windows_.find(hwnd);
  if (it == windows_.end()) return TRUE;  // the procedure destroyed it itself
  if (!it->second.name_key.empty()) {
    NameLock lock(dir_);
    if (lock.held() && ReadNameEntry(dir_, it->second.name_key) == hwnd) {
      RemoveNameEntry(dir_, it->second.name_key);
    }
  }
  RemoveWindowEntry(dir_, hwnd);
  windows_.erase(it);
  KillWindowTimers(hwnd);
  std::erase_if(posted_, [hwnd](const MSG& m) { return m.hwnd == hwnd; });
  return TRUE;
}

bool MessageQueue::WindowAlive(HWND hwnd) {
  if (FindWindow(hwnd) != nullptr) return true;
  if (hwnd == 0 || Namespace() == nullptr) return false;
  auto owner = ReadWindowEntry(dir_, hwnd);
  if (!owner) return false;
  if (owner->endpoint == endpoint_) return false;  // one of ours, already destroyed
  if (EndpointListening(EndpointPath(dir_, owner->endpoint))) return true;
  ForgetDeadWindow(hwnd, owner->endpoint);
  return false;
}

std::uint32_t MessageQueue::OwnerEndpoint(HWND hwnd) {
  auto known = known_owners_.find(hwnd);
  if (known != known_owners_.end()) return known->second;
  auto owner = ReadWindowEntry(dir_, hwnd);
  if (!owner || owner->endpoint == endpoint_) return 0;
  constexpr std::size_t kMaxKnownOwners = 4096;
  if (known_owners_.size() >= kMaxKnownOwners) known_owners_.clear();
  known_owners_.emplace(hwnd, owner->endpoint);
  return owner->endpoint;
}

void MessageQueue::ForgetDeadWindow(HWND hwnd, std::uint32_t endpoint) {
  known_owners_.erase(hwnd);
  RemoveWindowEntry(dir_, hwnd);
  unlink(EndpointPath(dir_, endpoint).c_str());
  auto it = outgoing_.find(endpoint);
  if (it != outgoing_.end()) CloseConnection(it->second);
}

HWND MessageQueue::FindNamedWindow(const std::string& name) {
  if (name.empty() || Namespace() == nullptr) return 0;
  const std::string key = WindowNameKey(name);
  if (key.empty()) return 0;
  auto hwnd = ReadNameEntry(dir_, key);
  if (!hwnd) return 0;
  if (WindowAlive(*hwnd)) return *hwnd;
  // Its owner died: take the stale name away, unless somebody has claimed
  // the name again meanwhile.
  NameLock lock(dir_);
  if (lock.held() && ReadNameEntry(dir_, key) == hwnd && !WindowAlive(*hwnd)) {
    RemoveNameEntry(dir_, key);
  }
  return 0;
}

DWORD MessageQueue::OwnerOf(HWND hwnd, DWORD* pid) {
  if (FindWindow(hwnd) != nullptr) {
    if (pid != nullptr) *pid = static_cast<DWORD>(getpid());
    return CurrentThreadId();
  }
  if (WindowAlive(hwnd)) {
    if (auto owner = ReadWindowEntry(dir_, hwnd)) {
      if (pid != nullptr) *pid = owner->pid;
      return owner->tid;
    }
  }
  if (pid != nullptr) *pid = 0;
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return 0;
}

// ---- connections ----

std::uint64_t MessageQueue::Outgoing(std::uint32_t endpoint, bool* dead) {
  *dead = false;
  auto it = outgoing_.find(endpoint);
  if (it != outgoing_.end()) return it->second;
  UniqueFd fd;
  switch (ConnectTo(EndpointPath(dir_, endpoint), &fd)) {
    case ConnectOutcome::kConnected:
      break;
    case ConnectOutcome::kDead:
      *dead = true;
      return 0;
    case ConnectOutcome::kError:
      return 0;
  }
  // The shared rings: offered first, before any frame, so that the peer
  // knows them before they carry anything. Without them (no memory, or the
  // offer did not go) the connection runs on its socket.
  UniqueFd page;
  std::unique_ptr<Channel> channel;
  if (EnsureBell()) channel = Channel::Create(&page);
  if (channel != nullptr && SendOffer(fd.get(), page.get(), bell_.get()) != IoOutcome::kDone) {
    channel.reset();
  }
  std::uint64_t id = next_connection_++;
  Connection c{std::move(fd), true, endpoint, 0, {}, 0, false, nullptr, {}, false};
  c.channel = std::move(channel);
  connections_.emplace(id, std::move(c));
  outgoing_[endpoint] = id;
  return id;
}

void MessageQueue::CloseConnection(std::uint64_t id) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return;
  if (it->second.outgoing) {
    auto o = outgoing_.find(it->second.endpoint);
    if (o != outgoing_.end() && o->second == id) outgoing_.erase(o);
    for (auto& [seq, p] : pending_) {
      if (p.connection == id && !p.done) {
        p.done = true;
        p.failed = true;
      }
    }
  }
  connections_.erase(it);
}

void MessageQueue::AcceptAll() {
  for (;;) {
    DWORD pid = 0;
    UniqueFd fd = AcceptFrom(listener_.get(), &pid);
    if (!fd.valid()) return;
    connections_.emplace(
        next_connection_++,
        Connection{std::move(fd), false, 0, pid, {}, 0, false, nullptr, {}, false});
  }
}

void MessageQueue::ReadFrom(std::uint64_t id) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return;
  Connection& c = it->second;
  Frame f;
  UniqueFd page, bell;
  const Datagram d = ReceiveDatagram(c.fd.get(), &f, &page, &bell);
  const bool first = !c.heard;
  if (d != Datagram::kWouldBlock) c.heard = true;
  switch (d) {
    case Datagram::kWouldBlock:
    case Datagram::kWake:
      break;
    case Datagram::kOffer:
      // Only the connecting side offers, and only first.
      if (c.outgoing || !first || (c.channel = Channel::Adopt(page.get())) == nullptr) {
        CloseConnection(id);
        return;
      }
      // A bell that is none (or cannot be told from one) is not rung: the
      // peer is then woken through the socket.
      if (AdoptBell(bell.get())) c.peer_bell = std::move(bell);
      // Without an answer the peer wakes this thread through the socket.
      if (EnsureBell()) SendAnswer(c.fd.get(), bell_.get());
      break;
    case Datagram::kAnswer:
      // Only to an offer, and only while no bell is known.
      if (!c.outgoing || c.channel == nullptr || c.peer_bell.valid()) {
        CloseConnection(id);
        return;
      }
      if (AdoptBell(bell.get())) c.peer_bell = std::move(bell);
      break;
    case Datagram::kFrame:
      Deliver(id, f);
      break;
    case Datagram::kClosed:
      // What the peer put before it went still counts, as the frames its
      // socket held would.
      DrainChannel(id);
      CloseConnection(id);
      return;
  }
  DrainChannel(id);
}

bool MessageQueue::EnsureBell() {
  if (!bell_.valid()) bell_ = NewBell();
  return bell_.valid();
}

bool MessageQueue::WakePeer(std::uint64_t id) {
  Connection& c = connections_.at(id);
  if (c.peer_bell.valid()) {
    RingBell(c.peer_bell.get());
    return true;
  }
  if (SendWake(c.fd.get()) != IoOutcome::kClosed) return true;
  CloseConnection(id);
  return false;
}

void MessageQueue::DrainChannel(std::uint64_t id) {
  bool took = false;
  // Bounded, so that a peer that keeps putting never holds this thread.
  for (std::uint32_t n = 0; n < kChannelSlots; ++n) {
    auto it = connections_.find(id);
    if (it == connections_.end() || it->second.channel == nullptr) return;
    Frame f;
    const RingOutcome r = it->second.channel->Take(&f);
    if (r == RingOutcome::kEmpty) break;
    if (r == RingOutcome::kBroken) {
      CloseConnection(id);
      return;
    }
    took = true;
    Deliver(id, f);
  }
  auto it = connections_.find(id);
  if (it == connections_.end() || it->second.channel == nullptr) return;
  Connection& c = it->second;
  if (took && c.channel->ProducerNeedsWake() && !WakePeer(id)) return;
  if (!c.outbox.empty() && c.channel->Writable()) FlushOutbox(id);
}

void MessageQueue::Deliver(std::uint64_t id, const Frame& f) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return;
  if (it->second.outgoing) {
    if (f.kind != FrameKind::kReply) {
      CloseConnection(id);  // only replies travel this way
      return;
    }
    hung_.erase(it->second.endpoint);  // it answers again
    auto p = pending_.find(f.sequence);
    // A reply nobody waits for any more (its waiter unwound) is dropped.
    if (p != pending_.end() && p->second.connection == id && !p->second.done) {
      p->second.done = true;
      p->second.failed = f.status == ReplyStatus::kNoWindow;
      p->second.result = f.lparam;
    }
    return;
  }
  switch (f.kind) {
    case FrameKind::kSend:
      incoming_.push_back(IncomingSend{id, f});
      break;
    case FrameKind::kPost:
      // Messages for windows that are gone are dropped, as on the desktop.
      // Only the process itself ends its loops: a WM_QUIT posted by another
      // process is dropped too (another thread of this one may post it).
      if ((f.message != WM_QUIT || it->second.peer_pid == GetCurrentProcessId()) &&
          FindWindow(f.hwnd) != nullptr) {
        posted_.push_back(MSG{f.hwnd, f.message, f.wparam, f.lparam, GetTickCount(), {}});
      }
      break;
    case FrameKind::kReply:
      CloseConnection(id);  // we never sent anything on this connection
      break;
  }
}

void MessageQueue::Pump(int timeout_ms, SpinWait* spin) {
  wait_entries_.clear();
  wait_owners_.clear();
  if (listener_.valid()) {
    wait_entries_.push_back(WaitEntry{listener_.get(), false});
    wait_owners_.push_back(0);
  }
  if (bell_.valid()) {
    wait_entries_.push_back(WaitEntry{bell_.get(), false});
    wait_owners_.push_back(kBellOwner);
  }
  wait_channels_.clear();
  DropStalled();
  for (const auto& [id, c] : connections_) {
    // A ring's room is told by a wake-up, not by the socket.
    wait_entries_.push_back(WaitEntry{c.fd.get(), c.channel == nullptr && !c.outbox.empty()});
    wait_owners_.push_back(id);
    if (c.channel != nullptr)
      wait_channels_.push_back(WaitChannel{c.channel.get(), !c.outbox.empty()});
  }
  if (!WaitForEntries(timeout_ms, spin)) return;
  // Copies: reading may close connections, and with them their entries' ids.
  const std::size_t count = wait_entries_.size();
  for (std::size_t i = 0; i < count; ++i) {
    const WaitEntry e = wait_entries_[i];
    const std::uint64_t owner = wait_owners_[i];
    if (owner == 0) {
      if (e.readable) AcceptAll();
      continue;
    }
    if (owner == kBellOwner) {
      if (e.readable) ClearBell(bell_.get());
      continue;
    }
    if (e.want_write && e.writable) FlushOutbox(owner);
    if (e.readable) {
      ReadFrom(owner);
    } else if (!wait_channels_.empty()) {
      DrainChannel(owner);
    }
  }
}

bool MessageQueue::ChannelsReady() const {
  for (const WaitChannel& w : wait_channels_) {
    if (w.channel->Readable() || (w.queued && w.channel->Writable())) return true;
  }
  return false;
}

bool MessageQueue::PeerSharesCpu() {
  if (wait_channels_.empty()) return false;
  // Told afresh on every look: a thread that moved must not be taken for
  // one still beside its peer.
  const int cpu = sched_getcpu();
  bool shared = false;
  for (const WaitChannel& w : wait_channels_) {
    w.channel->SetOwnCpu(cpu);
    if (cpu >= 0 && w.channel->PeerCpu() == cpu) shared = true;
  }
  return shared;
}

bool MessageQueue::MoveToAnotherCpu() {
  // Once in a while at most: on a machine whose other processors are busy
  // too, moving on only shifts the crowd.
  constexpr std::int64_t kMoveEveryUs = 1000;
  const std::int64_t now = MonotonicUs();
  if (now - last_move_us_ < kMoveEveryUs) return false;
  last_move_us_ = now;
  const int cpu = sched_getcpu();
  cpu_set_t allowed;
  CPU_ZERO(&allowed);
  if (cpu < 0 || cpu >= CPU_SETSIZE || sched_getaffinity(0, sizeof allowed, &allowed) != 0 ||
      !CPU_ISSET(cpu, &allowed) || CPU_COUNT(&allowed) < 2) {
    return false;
  }
  // Leaving this processor out moves the thread at once; the whole set is
  // then allowed again, which moves nothing back.
  cpu_set_t others = allowed;
  CPU_CLR(cpu, &others);
  if (sched_setaffinity(0, sizeof others, &others) != 0) return false;
  sched_setaffinity(0, sizeof allowed, &allowed);
  return true;
}

bool MessageQueue::BlockForEntries(int timeout_ms) {
  WaitEntry* const entries = wait_entries_.data();
  const std::size_t count = wait_entries_.size();
  if (timeout_ms == 0) return WaitForAny(entries, count, 0) || ChannelsReady();
  bool ready = false;
  for (const WaitChannel& w : wait_channels_) {
    w.channel->SetOwnCpu(-1);
    if (!w.channel->PrepareToSleep()) ready = true;
    if (w.queued && !w.channel->PrepareToWaitForRoom()) ready = true;
  }
  if (!ready) ready = WaitForAny(entries, count, timeout_ms);
  if (!wait_channels_.empty()) {
    // A thread woken onto the processor of the peer that woke it moves on
    // (the peer runs there), so that the two do not take turns on one
    // processor while another idles.
    int cpu = sched_getcpu();
    bool shared = false;
    for (const WaitChannel& w : wait_channels_) {
      shared = shared || (cpu >= 0 && w.channel->PeerCpu() == cpu);
    }
    if (shared && MoveToAnotherCpu()) cpu = sched_getcpu();
    for (const WaitChannel& w : wait_channels_) {
      w.channel->Awake();
      w.channel->SetOwnCpu(cpu);
    }
  }
  return ready || ChannelsReady();
}

bool MessageQueue::WaitForEntries(int timeout_ms, SpinWait* spin) {
  WaitEntry* const entries = wait_entries_.data();
  const std::size_t count = wait_entries_.size();
  // A ring that is ready on every call must not keep the sockets (new
  // connections, ends of connections) from being looked at.
  auto ring_ready = [&] {
    if (++ring_rounds_ % 64 == 0) WaitForAny(entries, count, 0);
    return true;
  };
  if (ChannelsReady()) return ring_ready();
  if (spin == nullptr || timeout_ms == 0 || SpinLimitUs() == 0) {
    return BlockForEntries(timeout_ms);
  }
  const std::int64_t started = MonotonicUs();
  // A peer on this very processor cannot answer while this thread spins:
  // sleeping hands the processor over, and once woken beside the peer this
  // thread moves to another processor (BlockForEntries).
  if (PeerSharesCpu()) return BlockForEntries(timeout_ms);
  const int spin_us = spin->NextSpinUs();
  if (spin_us == 0) {
    const bool ready = BlockForEntries(timeout_ms);
    if (ready) spin->Blocked(MonotonicUs() - started);
    return ready;
  }
  // Never longer than the wait itself.
  std::int64_t spin_end = started + spin_us;
  if (timeout_ms > 0) spin_end = std::min(spin_end, started + std::int64_t{timeout_ms} * 1000);
  // The rings are read on every turn, the sockets (new connections, peers
  // without rings, ends of connections) only now and then: each poll is a
  // system call.
  constexpr std::int64_t kPollEveryUs = 16;
  constexpr std::int64_t kYieldEveryUs = 4;
  std::int64_t now = started;
  std::int64_t next_poll = wait_channels_.empty() ? started : started + kPollEveryUs;
  std::int64_t next_yield = started;
  for (;;) {
    if (ChannelsReady()) {
      spin->Hit();
      return ring_ready();
    }
    const std::int64_t before = now;
    if (now >= next_poll) {
      if (WaitForAny(entries, count, 0)) {
        spin->Hit();
        return true;
      }
      next_poll = now + (wait_channels_.empty() ? 0 : kPollEveryUs);
      if (PeerSharesCpu()) break;
    }
    if (now >= next_yield) {
      // Leaves the processor to whatever else wants it, the peer first of
      // all when it shares this one.
      sched_yield();
      next_yield = now + kYieldEveryUs;
    } else {
      CpuRelax();
    }
    now = MonotonicUs();
    if (now - before > spin_us) {
      // Something else ran meanwhile: the processors are busy, and spinning
      // only takes them from the peer.
      spin->Contended();
      break;
    }
    if (now >= spin_end) {
      spin->Miss();
      break;
    }
  }
  if (timeout_ms > 0) {
    // The time spun counts against the wait.
    const std::int64_t spun_ms = (MonotonicUs() - started) / 1000;
    timeout_ms = static_cast<int>(std::max<std::int64_t>(timeout_ms - spun_ms, 0));
  }
  return BlockForEntries(timeout_ms);
}

void MessageQueue::DropStalled() {
  // A peer that has taken none of its waiting frames for this long has
  // stopped reading for good (a live peer reads whenever it pumps).
  constexpr std::int64_t kStalledMs = 30000;
  const std::int64_t now = MonotonicMs();
  stalled_.clear();
  for (const auto& [id, c] : connections_) {
    if (!c.outbox.empty() && now - c.last_progress_ms >= kStalledMs) stalled_.push_back(id);
  }
  for (std::uint64_t id : stalled_) {
    WriteLogLine("A peer (pid " + std::to_string(connections_.at(id).peer_pid) +
                 ") took no message for 30 s: its connection is dropped");
    CloseConnection(id);
  }
}

bool MessageQueue::SendOn(std::uint64_t id, const Frame& frame) {
  // Replies owed to one peer; beyond this it has stopped reading them.
  constexpr std::size_t kMaxQueuedFrames = 4096;
  // Posts and sends to one peer that reads slowly wait in order, up to
  // about what a desktop's message queue holds; beyond that a post fails.
  constexpr std::size_t kMaxQueuedMessages = 65536;
  auto it = connections_.find(id);
  if (it == connections_.end()) return false;
  Connection& c = it->second;
  if (c.outbox.empty() && c.channel != nullptr) {
    switch (c.channel->Put(frame)) {
      case RingOutcome::kDone:
        c.channel->SetOwnCpu(sched_getcpu());
        return !c.channel->ConsumerNeedsWake() || WakePeer(id);
      case RingOutcome::kBroken:
        CloseConnection(id);
        return false;
      case RingOutcome::kFull:
      case RingOutcome::kEmpty:
        break;
    }
  } else if (c.outbox.empty()) {
    switch (SendFrame(c.fd.get(), frame)) {
      case IoOutcome::kDone:
        return true;
      case IoOutcome::kClosed:
        CloseConnection(id);
        return false;
      case IoOutcome::kWouldBlock:
        break;
    }
  }
  if (frame.kind != FrameKind::kReply) {
    if (c.outbox.size() >= kMaxQueuedMessages) return false;
  } else if (c.outbox.size() >= kMaxQueuedFrames) {
    CloseConnection(id);
    return false;
  }
  if (c.outbox.empty()) c.last_progress_ms = MonotonicMs();
  c.outbox.push_back(frame);
  return true;
}

void MessageQueue::FlushOutbox(std::uint64_t id) {
  auto it = connections_.find(id);
  if (it == connections_.end()) return;
  Connection& c = it->second;
  if (c.channel != nullptr) {
    bool put = false;
    while (!c.outbox.empty()) {
      const RingOutcome r = c.channel->Put(c.outbox.front());
      if (r == RingOutcome::kBroken) {
        CloseConnection(id);
        return;
      }
      if (r != RingOutcome::kDone) break;
      c.outbox.pop_front();
      put = true;
    }
    if (!put) return;
    c.last_progress_ms = MonotonicMs();
    c.slow_reader = false;  // it reads again
    if (c.channel->ConsumerNeedsWake()) WakePeer(id);
    return;
  }
  while (!c.outbox.empty()) {
    switch (SendFrame(c.fd.get(), c.outbox.front())) {
      case IoOutcome::kDone:
        c.outbox.pop_front();
        c.last_progress_ms = MonotonicMs();
        c.slow_reader = false;  // it reads again
        break;
      case IoOutcome::kWouldBlock:
        return;
      case IoOutcome::kClosed:
        CloseConnection(id);
        return;
    }
  }
}

void MessageQueue::WaitForRoom(std::uint64_t id) {
  // A post must reach its peer even if this thread stops pumping right
  // after it (it may go on to wait for something else), so it waits until
  // the kernel holds it. Meanwhile this thread keeps reading what its peers
  // send it, so two threads that flood each other both go on.
  constexpr int kPostRoomWaitMs = 5000;
  const std::int64_t started = MonotonicMs();
  for (;;) {
    auto it = connections_.find(id);
    if (it == connections_.end() || it->second.outbox.empty()) return;
    // Queued behind the frames it has not taken.
    if (it->second.slow_reader) return;
    const std::int64_t waited = MonotonicMs() - started;
    if (waited >= kPostRoomWaitMs) {
      // It does not read: later posts queue without waiting, until it reads
      // again or the connection is dropped as stalled.
      it->second.slow_reader = true;
      return;
    }
    Pump(static_cast<int>(kPostRoomWaitMs - waited));
  }
}

// ---- sent and posted messages ----

LRESULT MessageQueue::SendRemote(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, int timeout_ms,
                                 bool* timed_out, bool abort_if_hung) {
  if (timed_out != nullptr) *timed_out = false;
  if (Namespace() == nullptr) return 0;
  // Measured in microseconds: a time-out never ends before it is due, even
  // by the part of a millisecond that a tick count would round away.
  const std::int64_t started = MonotonicUs();
  const std::uint32_t endpoint = OwnerEndpoint(hwnd);
  if (endpoint == 0) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  if (abort_if_hung && hung_.count(endpoint) != 0 &&
      EndpointListening(EndpointPath(dir_, endpoint))) {
    if (timed_out != nullptr) *timed_out = true;
    SetLastError(ERROR_TIMEOUT);
    return 0;
  }
  std::uint32_t seq = next_sequence_++;
  if (seq == 0) seq = next_sequence_++;
  const Frame request{FrameKind::kSend, ReplyStatus::kHandled, seq, hwnd, msg, wparam, lparam};

  // Erases the wait record however the wait ends (a procedure run while
  // waiting may throw).
  struct PendingGuard {
    MessageQueue* q;
    std::uint32_t seq;
    ~PendingGuard() { q->pending_.erase(seq); }
  } guard{this, seq};

  // A kept connection may have been ended by its peer since last used; one
  // fresh connection tells whether the owner still lives.
  bool sent = false;
  for (int attempt = 0; attempt < 2 && !sent; ++attempt) {
    bool dead = false;
    std::uint64_t connection = Outgoing(endpoint, &dead);
    if (connection == 0) {
      if (dead) ForgetDeadWindow(hwnd, endpoint);
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    pending_[seq] = PendingSend{connection};
    sent = SendOn(connection, request);
  }
  if (!sent) {
    known_owners_.erase(hwnd);
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  for (;;) {
    const PendingSend& p = pending_.at(seq);
    if (p.done) {
      if (!p.failed) return p.result;
      known_owners_.erase(hwnd);
      if (!EndpointListening(EndpointPath(dir_, endpoint))) ForgetDeadWindow(hwnd, endpoint);
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return 0;
    }
    int wait_ms = -1;
    if (timeout_ms >= 0) {
      const std::int64_t left_us = std::int64_t{timeout_ms} * 1000 - (MonotonicUs() - started);
      if (left_us <= 0) {
        hung_[endpoint] = true;
        if (timed_out != nullptr) *timed_out = true;
        SetLastError(ERROR_TIMEOUT);
        return 0;
      }
      wait_ms = static_cast<int>((left_us + 999) / 1000);
    }
    if (!incoming_.empty()) {
      DispatchIncoming();
    } else {
      Pump(wait_ms, &reply_spin_);
    }
  }
}

BOOL MessageQueue::PostRemote(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (Namespace() == nullptr) return FALSE;
  const std::uint32_t endpoint = OwnerEndpoint(hwnd);
  if (endpoint == 0) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  // A post to a window that is gone while its owner lives is dropped by the
  // owner without an answer, as on the desktop.
  const Frame frame{FrameKind::kPost, ReplyStatus::kHandled, 0, hwnd, msg, wparam, lparam};
  for (int attempt = 0; attempt < 2; ++attempt) {
    bool dead = false;
    std::uint64_t connection = Outgoing(endpoint, &dead);
    if (connection == 0) {
      if (dead) ForgetDeadWindow(hwnd, endpoint);
      break;
    }
    if (SendOn(connection, frame)) {
      WaitForRoom(connection);
      return TRUE;
    }
  }
  known_owners_.erase(hwnd);
  SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return FALSE;
}

void MessageQueue::DispatchIncoming() {
  const IncomingSend in = incoming_.front();
  incoming_.pop_front();
  const Frame& f = in.frame;
  WindowRecord* w = FindWindow(f.hwnd);
  if (w == nullptr) {
    Reply(in.connection, f, ReplyStatus::kNoWindow, 0);
    return;
  }
  const WNDPROC proc = w->proc;
  LRESULT result = 0;
  auto c = connections_.find(in.connection);
  SenderScope sender(c != connections_.end() ? c->second.peer_pid : 0);
  try {
    result = proc(f.hwnd, f.message, f.wparam, f.lparam);
  } catch (...) {
    // The sender must never hang: it gets 0, and the failure goes on to
    // whoever pumped this thread's messages.
    Reply(in.connection, f, ReplyStatus::kHandled, 0);
    throw;
  }
  Reply(in.connection, f, ReplyStatus::kHandled, result);
}

void MessageQueue::Reply(std::uint64_t connection, const Frame& request, ReplyStatus status,
                         LRESULT result) {
  const Frame reply{
      FrameKind::kReply, status, request.sequence, request.hwnd, request.message, 0, result};
  // Queued when the sender's buffer is full, so that a sender that does not
  // read its replies holds nobody; a sender that died meanwhile gets
  // nothing.
  SendOn(connection, reply);
}

void MessageQueue::PostLocal(const MSG& msg) { posted_.push_back(msg); }

void MessageQueue::PostQuit(int code) {
  quit_ = true;
  quit_code_ = code;
}

BOOL MessageQueue::GetMessage(MSG* out, HWND filter, UINT min, UINT max, bool wait, bool remove) {
  auto matches = [&](HWND hwnd, UINT message) {
    if (filter != 0 && hwnd != filter) return false;
    return (min == 0 && max == 0) || (message >= min && message <= max);
  };
  if (!wait) Pump(0);
  for (;;) {
    while (!incoming_.empty()) DispatchIncoming();
    for (auto it = posted_.begin(); it != posted_.end(); ++it) {
      if (!matches(it->hwnd, it->message)) continue;
      *out = *it;
      if (remove) posted_.erase(it);
      return wait ? (out->message != WM_QUIT) : TRUE;
    }
    const std::int64_t now = MonotonicMs();
    if (quit_) {
      *out = MSG{0, WM_QUIT, static_cast<WPARAM>(quit_code_), 0, static_cast<DWORD>(now), {}};
      if (remove) quit_ = false;
      return wait ? FALSE : TRUE;
    }
    // Timers come last and never pile up: a due timer yields one WM_TIMER
    // and is next due one period after it was taken.
    TimerRecord* due = nullptr;
    std::int64_t next_due = -1;
    for (auto& t : timers_) {
      if (!matches(t.hwnd, WM_TIMER)) continue;
      if (t.due_ms <= now && (due == nullptr || t.due_ms < due->due_ms)) due = &t;
      if (next_due < 0 || t.due_ms < next_due) next_due = t.due_ms;
    }
    if (due != nullptr) {
      *out = MSG{due->hwnd, WM_TIMER, static_cast<WPARAM>(due->id), 0, static_cast<DWORD>(now), {}};
      if (remove) due->due_ms = now + due->period_ms;
      return TRUE;
    }
    if (!wait) return FALSE;
    int timeout = -1;
    if (next_due >= 0) timeout = static_cast<int>(std::min<std::int64_t>(next_due - now, 1 << 30));
    Pump(timeout, &message_spin_);
  }
}

// ---- timers ----

UINT_PTR MessageQueue::SetTimer(HWND hwnd, UINT_PTR id, UINT ms, TIMERPROC callback) {
  if (hwnd != 0 && FindWindow(hwnd) == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  const UINT period = std::clamp(ms, kTimerMinimumMs, kTimerMaximumMs);
  const std::int64_t due = MonotonicMs() + period;
  auto find = [&](UINT_PTR wanted) {
    return std::find_if(timers_.begin(), timers_.end(),
                        [&](const TimerRecord& t) { return t.hwnd == hwnd && t.id == wanted; });
  };
  if (hwnd == 0) {
    // A thread timer keeps its id when it is set again; otherwise it gets a
    // new one.
    if (id == 0 || find(id) == timers_.end()) {
      do {
        id = next_thread_timer_++;
      } while (id == 0 || find(id) != timers_.end());
    }
  }
  auto it = find(id);
  if (it != timers_.end()) {
    it->period_ms = period;
    it->callback = callback;
    it->due_ms = due;
  } else {
    timers_.push_back(TimerRecord{hwnd, id, period, callback, due});
  }
  return id != 0 ? id : 1;
}

BOOL MessageQueue::KillTimer(HWND hwnd, UINT_PTR id) {
  auto it = std::find_if(timers_.begin(), timers_.end(),
                         [&](const TimerRecord& t) { return t.hwnd == hwnd && t.id == id; });
  if (it == timers_.end()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  timers_.erase(it);
  return TRUE;
}

void MessageQueue::KillWindowTimers(HWND hwnd) {
  std::erase_if(timers_, [hwnd](const TimerRecord& t) { return t.hwnd == hwnd; });
}

TIMERPROC MessageQueue::TimerCallback(HWND hwnd, UINT_PTR id) const {
  for (const auto& t : timers_) {
    if (t.hwnd == hwnd && t.id == id) return t.callback;
  }
  return nullptr;
}

}  // namespace vandrel::win::detail
