// The transfer channel: the named shared-memory buffers through which a
// request's arguments and an answer's results travel between processes.
// Every linked object owns one TTransferMan, which owns exactly one
// writable buffer and at most one read-only view of a peer's buffer.
//
// Named objects (shared memory of the session namespace):
//
//   "Vandrel_TransferID"   4 bytes   unsigned 32-bit counter: the number the
//                                    next buffer takes. Starts at 1; advanced
//                                    with one atomic add; 0 is never handed
//                                    out.
//   "Vandrel_Transfer<N>"  exactly   one transfer buffer; <N> is the buffer
//                          the owner's number in decimal digits, no leading
//                          buffer    zeros, no separator.
//                          size
//
// Transfer buffer (little-endian, items unaligned):
//
//   offset   width  field
//   0        4      answer code, signed (see below)
//   4        ...    items, one after another
//   after    2      end mark 0 (an item id of 0)
//
// Item:
//
//   offset   width  field
//   0        2      item id, unsigned, fixed per message definition (never 0)
//   2        4      byte length L of the value, unsigned
//   6        L      value: integer (L = 4, signed 32-bit), double (L = 8,
//                   IEEE-754 binary64) or wide string (L = 2 x UTF-16 code
//                   units, no terminator; L = 0 for an empty string)
//
// Answer codes: 0 nothing answered yet (fresh buffer), 1 done (items are the
// results), 2 failed (item 3 integer = error code, item 4 wide string =
// error message), 3 no handler for the message.
//
// A peer's buffer is untrusted: every item header and value is checked
// against the size of the mapped object before it is read. An item that
// does not fit, an integer item whose length is not 4, a double item whose
// length is not 8 and a wide string of odd length fail exactly like an item
// with the wrong id ("Wrong read ID. Query %d", code 5).
//
// A buffer never shrinks; when an append does not fit it grows to twice its
// size, or to what the append needs when that is more (doubling stops at
// kMaxPeerBufferSize), and takes a new number when it grows. Readers take
// the size from the mapped object, so the room after the end mark is
// never read. A reader that holds a view of an old
// number keeps a consistent old copy; it never sees new content under an
// old number.
//
// Used only by the thread that created it (the main thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/unique_handle.h"
#include "platform/win_types.h"
#include "protocol/transfer_ids.h"

namespace vandrel {

// Answer codes at offset 0 of a buffer.
constexpr std::int32_t kAnswerNone = 0;
constexpr std::int32_t kAnswerDone = 1;
constexpr std::int32_t kAnswerFailed = 2;
constexpr std::int32_t kAnswerNotImplemented = 3;

// Item ids of an error answer.
constexpr std::uint16_t kErrorCodeItem = 3;
constexpr std::uint16_t kErrorTextItem = 4;

// The largest peer buffer that is read (64 MiB): a bigger one is refused
// with "Read transfer buffer failed: ..." (code 3), which also bounds every
// item length read from a peer.
constexpr std::size_t kMaxPeerBufferSize = std::size_t{64} << 20;

// Sizes of the layout.
constexpr std::size_t kAnswerSize = 4;
constexpr std::size_t kItemHeaderSize = 6;
constexpr std::size_t kEndMarkSize = 2;

// A checked cursor over the items of one transfer buffer of known size.
// Reads strictly in order; every failure raises ELocal "Wrong read ID.
// Query %d" (code 5) quoting query_id, and leaves the cursor where it was.
// The bytes are used, not owned, and must stay mapped while it reads.
class TTransferReader {
 public:
  TTransferReader() = default;
  TTransferReader(const std::uint8_t* buffer, std::size_t size, std::int32_t query_id);

  // The answer code at offset 0 (a buffer shorter than 4 bytes fails).
  std::int32_t ReadAnswer() const;
  // Fails unless the next item has this id and its header fits.
  void CheckItemId(std::uint16_t id) const;
  std::int32_t ReadInteger(std::uint16_t id);
  double ReadDouble(std::uint16_t id);
  std::u16string ReadWideString(std::uint16_t id);

  // Offset of the next item from the start of the buffer.
  std::size_t Position() const { return pos_; }
  std::int32_t QueryId() const { return query_id_; }

 private:
  // Checks the id and that an item of len bytes fits; returns the offset of
  // the value.
  std::size_t CheckItem(std::uint16_t id, std::uint32_t* len) const;
  [[noreturn]] void Fail() const;

  const std::uint8_t* buffer_ = nullptr;
  std::size_t size_ = 0;
  std::size_t pos_ = kAnswerSize;
  std::int32_t query_id_ = 0;
};

class TTransferIdCounter;

class TTransferMan {
 public:
  // Opens or creates the shared counter, once per process (ELocal
  // "Creating NewTransferID failed: %s", code 1), and creates the own buffer of 6 zero bytes under
  // a fresh number (ELocal "Growing transfer buffer failed: %s", code 2).
  TTransferMan();
  // Unmaps the read view and the own buffer, and lets go of the counter.
  ~TTransferMan();
  TTransferMan(const TTransferMan&) = delete;
  TTransferMan& operator=(const TTransferMan&) = delete;

  // Writing the own buffer. ResetWrite moves the write position to offset 4
  // (the answer code stays); every request and every answer with items
  // starts with it. An append that does not fit grows the buffer to at
  // least twice its size (which changes BufferId) and keeps the end mark
  // after the last item.
  void ResetWrite();
  void SetAnswer(std::int32_t code);
  void WriteInteger(std::uint16_t id, std::int32_t value);
  void WriteDouble(std::uint16_t id, double value);
  void WriteWideString(std::uint16_t id, std::u16string_view value);

  // Maps the peer buffer buffer_id for reading (reusing the view when it is
  // the one mapped already and no read of it faulted since) and puts the
  // read position at its first item. The view's size is the object's size
  // when it was mapped: a peer that cuts its buffer afterwards makes the
  // reads past the cut fault (see ReadViewDamaged).
  // query_id is the number quoted by read errors: the request's message id,
  // or minus the message id while an answer is read. Buffer 0 raises ELocal
  // "Empty read buffer. Query %d" (code 4); a buffer that cannot be opened
  // raises "Read transfer buffer failed: %s" (code 3) and leaves no view.
  void OpenRead(std::int32_t buffer_id, std::int32_t query_id);
  // Reading the view, strictly in the order written (TTransferReader). Without
  // a view they raise "Empty read buffer. Query %d" (code 4).
  std::int32_t ReadAnswer() const;
  void CheckItemId(std::uint16_t id) const;
  std::int32_t ReadInteger(std::uint16_t id);
  double ReadDouble(std::uint16_t id);
  std::u16string ReadWideString(std::uint16_t id);

  // Replaces the own buffer by one of new_size bytes under a new number,
  // copying the used bytes (answer code included). On failure raises code 2;
  // BufferId then already names the new, uncreated number, so a peer that
  // reads this object next fails with code 3, and the next append grows
  // again.
  void Grow(std::int32_t new_size);

  std::int32_t BufferId() const { return buffer_id_; }
  std::int32_t BufferSize() const { return buffer_size_; }
  std::int32_t ReadId() const { return read_id_; }
  std::int32_t QueryId() const { return query_id_; }
  // The own buffer's bytes up to the write position (answer code included).
  const std::uint8_t* WriteBuffer() const { return write_view_.bytes(); }
  std::size_t WriteLength() const { return write_pos_; }
  // Size of the mapped read view, 0 without one.
  std::size_t ReadSize() const { return read_size_; }
  // Unmaps the read view (ReadId 0).
  void CloseRead();
  // True when a read of the view touched bytes its peer had cut away
  // (mapping.h): what was read is void.
  bool ReadViewDamaged() const;
  // After a caught fault (mapping.h): unmaps a damaged read view, and
  // replaces a damaged own buffer by a fresh one under a new number.
  void DropDamagedViews();

 private:
  // Makes room for an item with a value of len bytes; returns its offset.
  std::size_t Reserve(std::size_t len);
  void WriteItemHeader(std::size_t at, std::uint16_t id, std::uint32_t len);
  void RequireRead() const;

  std::shared_ptr<TTransferIdCounter> id_counter_owner_;  // one per process
  std::uint32_t* id_counter_ = nullptr;                   // view of the shared counter
  std::int32_t read_id_ = 0;
  std::int32_t buffer_id_ = 0;
  // The own buffer: its named object, kept open so that the name stays
  // while the channel lives, and its writable view.
  win::UniqueHandle buffer_mapping_;
  std::int32_t buffer_size_ = 0;
  win::UniqueView write_view_;
  // The read-only view of the peer buffer read_id_ (its handle is closed as
  // soon as it is mapped: the view alone keeps the buffer).
  win::UniqueView read_view_;
  std::size_t read_size_ = 0;
  std::size_t write_pos_ = kAnswerSize;  // offset of the next item
  TTransferReader reader_;
  std::int32_t query_id_ = 0;
};

// Keeps the own buffer of a channel whose object is gone readable for a
// while. The last answer of an object that freed itself inside its own
// handler (the last disconnect) is read by the caller only after the
// object's process returned from the message, so the buffer must outlive
// the object: the channel is kept until at least kRetiredKeep channels were
// retired after it and it has been retired for kRetiredMs, and never more
// than kRetiredMax channels are kept. Main thread only.
constexpr std::size_t kRetiredKeep = 16;
constexpr std::uint32_t kRetiredMs = 2000;
constexpr std::size_t kRetiredMax = 256;
void RetireTransfer(std::unique_ptr<TTransferMan> transfer);
// Frees every retired channel now (tests, process end).
void FreeRetiredTransfers();
std::size_t RetiredTransferCount();

}  // namespace vandrel
