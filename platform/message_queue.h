// The message queue of one thread: the windows it owns, its endpoint (the
// socket other threads and processes send to), its connections to other
// endpoints, its posted messages, its timers, and the pump that moves frames
// between them. One per thread, created on first use; when the thread ends
// it removes its windows and endpoint from the namespace.
//
// Invariants:
// - Pump() only reads frames into queues; it never calls a window procedure.
//   Window procedures run only from DispatchIncoming() and the public calls
//   that dispatch (SendMessageA to an own window, DispatchMessageA), so every
//   container may change under a procedure and nothing holds an iterator or
//   reference across one.
// - A sent message waits for exactly its own reply (matched by sequence
//   number); replies that arrive for an outer wait are kept until it looks.
// - When a connection ends, every send waiting on it fails at once.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/channel.h"
#include "platform/endpoint.h"
#include "platform/spin_wait.h"
#include "platform/win_types.h"
#include "platform/window_entries.h"

namespace vandrel::win::detail {

struct WindowRecord {
  WNDPROC proc = nullptr;
  LONG_PTR user_data = 0;
  std::string name_key;  // empty: unnamed
};

struct TimerRecord {
  HWND hwnd = 0;
  UINT_PTR id = 0;
  UINT period_ms = 0;
  TIMERPROC callback = nullptr;
  std::int64_t due_ms = 0;  // on MonotonicMs()
};

// Milliseconds of the monotonic clock.
std::int64_t MonotonicMs();

// The process whose message the calling thread is handling now (see
// GetMessageSenderProcessId in window.h); set for the scope's lifetime.
class SenderScope {
 public:
  explicit SenderScope(DWORD pid);
  ~SenderScope();
  SenderScope(const SenderScope&) = delete;
  SenderScope& operator=(const SenderScope&) = delete;
  static DWORD Current();

 private:
  DWORD outer_;
};

class MessageQueue {
 public:
  // The calling thread's queue.
  static MessageQueue& Current();
  ~MessageQueue();
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  // The namespace this queue's endpoint and connections live in, switched
  // to the current RuntimeDir() first when that changed (tests switch
  // namespaces; the thread's windows of the old one are forgotten). Null
  // when the namespace cannot be used (last error set, reason logged).
  const std::string* Namespace();

  // Windows owned by this thread.
  WindowRecord* FindWindow(HWND hwnd);
  // Creates the window's entries (and its name entry when name is not
  // empty) and adopts it. 0 on failure, last error set.
  HWND CreateWindow(const std::string& name);
  // FALSE when the window is not one of this thread's.
  BOOL DestroyWindow(HWND hwnd);
  // True while the window exists and its owner's endpoint listens; removes
  // the entries of a dead owner.
  bool WindowAlive(HWND hwnd);
  HWND FindNamedWindow(const std::string& name);
  DWORD OwnerOf(HWND hwnd, DWORD* pid);

  // Cross-thread delivery (the target is not a window of this thread).
  // timeout_ms < 0 waits for the reply however long it takes; otherwise the
  // wait ends after timeout_ms with result 0, *timed_out set and
  // ERROR_TIMEOUT (a reply that arrives later is dropped). A peer thread
  // that let a send time out counts as hung until any reply of it arrives;
  // with abort_if_hung a send to a hung peer fails at once the same way.
  LRESULT SendRemote(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, int timeout_ms = -1,
                     bool* timed_out = nullptr, bool abort_if_hung = false);
  BOOL PostRemote(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  // Appends to this thread's own queue.
  void PostLocal(const MSG& msg);
  void PostQuit(int code);

  // GetMessageA (wait) and PeekMessageA (no wait).
  BOOL GetMessage(MSG* out, HWND filter, UINT min, UINT max, bool wait, bool remove);

  // Timers of this thread; window timers only for own windows.
  UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT ms, TIMERPROC callback);
  BOOL KillTimer(HWND hwnd, UINT_PTR id);
  // The callback of a live timer, or null.
  TIMERPROC TimerCallback(HWND hwnd, UINT_PTR id) const;

 private:
  struct Connection {
    UniqueFd fd;
    bool outgoing = false;       // we send requests, it carries replies
    std::uint32_t endpoint = 0;  // outgoing: the peer endpoint
    DWORD peer_pid = 0;          // incoming: the sending process (its credentials)
    // Frames the peer has not taken yet, oldest first (its socket buffer
    // was full); sent as it reads.
    std::deque<Frame> outbox;
    // When the peer last took a frame of the outbox (or it was started).
    std::int64_t last_progress_ms = 0;
    // A post waited 5 s for it to take the outbox, in vain.
    bool slow_reader = false;
    // The shared rings, once the connecting side has offered its page
    // (frames then travel through them, and the socket only wakes); null
    // while the connection runs on its socket alone.
    std::unique_ptr<Channel> channel;
    // The peer thread's bell, once it told it (with the rings).
    UniqueFd peer_bell;
    // Incoming: a datagram has been read (an offer must come first).
    bool heard = false;
  };
  struct IncomingSend {
    std::uint64_t connection;
    Frame frame;
  };
  struct PendingSend {
    std::uint64_t connection;
    bool done = false;
    bool failed = false;  // the connection ended, or no such window
    LRESULT result = 0;
  };

  MessageQueue() = default;
  void Teardown();
  bool EnsureEndpoint();

  // Reads what arrived within timeout_ms (-1: forever) into the queues,
  // and passes queued frames on to peers that can take them. With spin, a
  // wait that may block polls without blocking first, as the spin's policy
  // allows (never when timeout_ms is 0).
  void Pump(int timeout_ms, SpinWait* spin = nullptr);
  // Waits for the entries of wait_entries_ as Pump does; false when none
  // is ready.
  bool WaitForEntries(int timeout_ms, SpinWait* spin);
  // Reads one datagram of the connection's socket, then its ring.
  void ReadFrom(std::uint64_t id);
  // Takes the frames waiting in the connection's ring, wakes a producer
  // that waits for room, and puts queued frames into the ring.
  void DrainChannel(std::uint64_t id);
  // Creates this thread's bell when there is none; false on failure.
  bool EnsureBell();
  // Wakes the peer of a connection that sleeps: its bell, else a wake-up
  // datagram. False when the connection ended (it is closed).
  bool WakePeer(std::uint64_t id);
  // Files one frame that arrived on a connection (may close it).
  void Deliver(std::uint64_t id, const Frame& f);
  // True when a ring of the waited connections has a frame for this
  // thread, or room for its queued frames.
  bool ChannelsReady() const;
  // True when the peer of a waited ring last ran on this thread's
  // processor and does not sleep; tells the peers where this one runs.
  bool PeerSharesCpu();
  // Moves this thread off its processor, which a peer it waits for shares
  // (the scheduler puts a woken thread beside its waker and may leave the
  // two there while another processor idles). False when it may not (its
  // affinity allows one processor) or did so less than 1 ms ago.
  bool MoveToAnotherCpu();
  // Blocks in poll() for the waited entries, the rings told first that
  // this thread sleeps.
  bool BlockForEntries(int timeout_ms);
  void AcceptAll();
  void CloseConnection(std::uint64_t id);
  // Sends a frame, or queues it behind the frames the peer has not taken
  // yet; never waits, so one peer that does not read never holds this
  // thread. False when the connection ended, when the peer let
  // kMaxQueuedFrames replies pile up (it is broken or hostile: the
  // connection is dropped), or when a post or send finds kMaxQueuedMessages
  // frames still waiting (the connection stays, in order).
  bool SendOn(std::uint64_t id, const Frame& frame);
  void FlushOutbox(std::uint64_t id);
  // After a post: waits up to 5 s, reading meanwhile, until the peer's
  // socket has taken the connection's outbox; when the peer does not, later
  // posts to it queue without waiting until it takes a frame again.
  void WaitForRoom(std::uint64_t id);
  // Closes the connections whose peer took none of their waiting frames
  // for 30 s.
  void DropStalled();
  // The connection to an endpoint, connected when needed; 0 when its owner is
  // dead (kDead) or the connection failed.
  std::uint64_t Outgoing(std::uint32_t endpoint, bool* dead);
  void ForgetDeadWindow(HWND hwnd, std::uint32_t endpoint);
  // The endpoint that owns a window of another thread, from the cache or
  // its window entry; 0 when there is none.
  std::uint32_t OwnerEndpoint(HWND hwnd);
  // Handles the oldest incoming sent message.
  void DispatchIncoming();
  void Reply(std::uint64_t connection, const Frame& request, ReplyStatus status, LRESULT result);
  void KillWindowTimers(HWND hwnd);
  bool ClaimName(HWND hwnd, const std::string& key);

  std::string dir_;  // empty until first used
  std::uint32_t endpoint_ = 0;
  UniqueFd listener_;
  // Rung by peers that put frames in a ring while this thread sleeps.
  UniqueFd bell_;
  static constexpr std::uint64_t kBellOwner = ~std::uint64_t{0};  // in wait_owners_
  std::map<HWND, WindowRecord> windows_;

  std::uint64_t next_connection_ = 1;
  std::unordered_map<std::uint64_t, Connection> connections_;
  std::unordered_map<std::uint32_t, std::uint64_t> outgoing_;  // endpoint -> connection
  // Owners of windows this thread has sent or posted to. Handles are never
  // reused, so an entry stays right until its window goes; a failed delivery
  // drops it.
  std::unordered_map<HWND, std::uint32_t> known_owners_;
  std::deque<IncomingSend> incoming_;
  std::uint32_t next_sequence_ = 1;
  // Endpoints that let a send time out and have not replied since.
  std::unordered_map<std::uint32_t, bool> hung_;
  std::unordered_map<std::uint32_t, PendingSend> pending_;

  std::deque<MSG> posted_;
  bool quit_ = false;
  int quit_code_ = 0;

  std::vector<TimerRecord> timers_;

  // Spins before waiting for a reply, and before waiting for the next
  // message in GetMessage.
  SpinWait reply_spin_;
  SpinWait message_spin_;
  UINT_PTR next_thread_timer_ = 1;

  std::vector<WaitEntry> wait_entries_;     // reused by Pump
  std::vector<std::uint64_t> wait_owners_;  // connection id per entry, 0 = listener
  struct WaitChannel {
    Channel* channel;
    bool queued;  // frames wait in the outbox for room
  };
  std::vector<WaitChannel> wait_channels_;  // the waited connections' rings
  unsigned ring_rounds_ = 0;                // waits answered by a ring alone
  std::int64_t last_move_us_ = -1000000;    // MoveToAnotherCpu, on MonotonicUs()
  std::vector<std::uint64_t> stalled_;      // reused by DropStalled

  friend struct QueueHolder;
};

}  // namespace vandrel::win::detail
