// The transfer channel: shared counter, own buffer, read view and the
// checked item reader. The layout is documented in transfer_man.h.
#include "service/transfer_man.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <utility>

#include "platform/error.h"
#include "platform/handle.h"
#include "platform/mapping.h"
#include "platform/runtime_dir.h"
#include "platform/unique_handle.h"
#include "platform/window.h"
#include "service/errors.h"

namespace vandrel {
namespace {

constexpr win::DWORD kSharedProtect = win::PAGE_READWRITE | win::SEC_COMMIT;  // 0x08000004
// A number whose name is taken already (never by a well-behaved process:
// the counter hands each number out once) is skipped; after this many the
// growth fails.
constexpr int kNameAttempts = 16;

std::uint16_t LoadU16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
std::uint32_t LoadU32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

std::string LastErrorText() { return win::SysErrorMessage(win::GetLastError()); }

[[noreturn]] void RaiseQuery(const char* text, std::int32_t query, int code) {
  throw ELocal(std::string(text) + std::to_string(query), code);
}

}  // namespace

// ---------------------------------------------------------------- reader

TTransferReader::TTransferReader(const std::uint8_t* buffer, std::size_t size,
                                 std::int32_t query_id)
    : buffer_(buffer), size_(buffer != nullptr ? size : 0), query_id_(query_id) {}

void TTransferReader::Fail() const {
  RaiseQuery("Wrong read ID. Query ", query_id_, kErrWrongReadId);
}

std::int32_t TTransferReader::ReadAnswer() const {
  if (size_ < kAnswerSize) Fail();
  return static_cast<std::int32_t>(LoadU32(buffer_));
}

std::size_t TTransferReader::CheckItem(std::uint16_t id, std::uint32_t* len) const {
  if (pos_ > size_ || size_ - pos_ < kItemHeaderSize) Fail();
  if (LoadU16(buffer_ + pos_) != id) Fail();
  *len = LoadU32(buffer_ + pos_ + 2);
  if (*len > size_ - pos_ - kItemHeaderSize) Fail();
  return pos_ + kItemHeaderSize;
}

void TTransferReader::CheckItemId(std::uint16_t id) const {
  std::uint32_t len;
  CheckItem(id, &len);
}

std::int32_t TTransferReader::ReadInteger(std::uint16_t id) {
  std::uint32_t len;
  const std::size_t at = CheckItem(id, &len);
  if (len != 4) Fail();
  pos_ = at + len;
  return static_cast<std::int32_t>(LoadU32(buffer_ + at));
}

double TTransferReader::ReadDouble(std::uint16_t id) {
  std::uint32_t len;
  const std::size_t at = CheckItem(id, &len);
  if (len != 8) Fail();
  double value;
  std::memcpy(&value, buffer_ + at, sizeof value);
  pos_ = at + len;
  return value;
}

std::u16string TTransferReader::ReadWideString(std::uint16_t id) {
  std::uint32_t len;
  const std::size_t at = CheckItem(id, &len);
  if (len % 2 != 0) Fail();
  std::u16string value(len / 2, u'\0');
  if (len != 0) std::memcpy(value.data(), buffer_ + at, len);
  pos_ = at + len;
  return value;
}

// ---------------------------------------------------------- transfer man

// The shared counter, mapped once per process and namespace: every channel
// of the process holds it, and it is let go with the last of them.
class TTransferIdCounter {
 public:
  static std::shared_ptr<TTransferIdCounter> Get() {
    static std::mutex lock;
    static std::map<std::string, std::weak_ptr<TTransferIdCounter>> counters;
    std::string dir;
    try {
      dir = win::RuntimeDir();
    } catch (const std::exception& e) {
      throw ELocal(std::string("Creating NewTransferID failed: ") + e.what(), kErrCreateTransferId);
    }
    std::lock_guard<std::mutex> guard(lock);
    if (auto counter = counters[dir].lock()) return counter;
    auto counter = std::shared_ptr<TTransferIdCounter>(new TTransferIdCounter);
    counters[dir] = counter;
    return counter;
  }
  TTransferIdCounter(const TTransferIdCounter&) = delete;
  TTransferIdCounter& operator=(const TTransferIdCounter&) = delete;
  std::uint32_t* View() const { return static_cast<std::uint32_t*>(view_.get()); }

 private:
  TTransferIdCounter() {
    // The creator stores 1 before any other process can open the name, so
    // nobody ever sees the counter uninitialised.
    mapping_.reset(win::CreateFileMappingInitA(kSharedProtect, sizeof(std::uint32_t),
                                               kTransferIdName, [](void* bytes, std::size_t) {
                                                 const std::uint32_t first = 1;
                                                 std::memcpy(bytes, &first, sizeof first);
                                               }));
    if (!mapping_)
      throw ELocal("Creating NewTransferID failed: " + LastErrorText(), kErrCreateTransferId);
    view_.reset(win::MapViewOfFile(mapping_.get(), win::FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!view_ || win::ViewSize(view_.get()) < sizeof(std::uint32_t)) {
      throw ELocal("Creating NewTransferID failed: " +
                       (!view_ ? LastErrorText() : win::SysErrorMessage(win::ERROR_INVALID_DATA)),
                   kErrCreateTransferId);
    }
  }

  win::UniqueHandle mapping_;
  win::UniqueView view_;
};

TTransferMan::TTransferMan() : id_counter_owner_(TTransferIdCounter::Get()) {
  id_counter_ = id_counter_owner_->View();
  Grow(kAnswerSize + kEndMarkSize);
  std::memset(write_view_.bytes(), 0, kAnswerSize + kEndMarkSize);
}

TTransferMan::~TTransferMan() = default;

void TTransferMan::ResetWrite() { write_pos_ = kAnswerSize; }

void TTransferMan::SetAnswer(std::int32_t code) {
  std::memcpy(write_view_.bytes(), &code, sizeof code);
}

std::size_t TTransferMan::Reserve(std::size_t len) {
  const std::size_t limit = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
  if (len > limit || write_pos_ + kItemHeaderSize + kEndMarkSize > limit - len)
    throw ELocal(
        "Growing transfer buffer failed: " + win::SysErrorMessage(win::ERROR_NOT_ENOUGH_MEMORY),
        kErrGrowBuffer);
  const std::size_t needed = write_pos_ + kItemHeaderSize + len + kEndMarkSize;
  if (needed > static_cast<std::size_t>(buffer_size_)) {
    // At least twice the old size, so that an answer of n items grows its
    // buffer about log2(n) times instead of n times; doubling stops at the
    // largest buffer a peer reads, and only an item bigger than that takes
    // more.
    const std::size_t doubled =
        std::min(2 * static_cast<std::size_t>(buffer_size_), kMaxPeerBufferSize);
    Grow(static_cast<std::int32_t>(std::max(needed, doubled)));
  }
  return write_pos_;
}

void TTransferMan::WriteItemHeader(std::size_t at, std::uint16_t id, std::uint32_t len) {
  std::memcpy(write_view_.bytes() + at, &id, sizeof id);
  std::memcpy(write_view_.bytes() + at + 2, &len, sizeof len);
}

void TTransferMan::WriteInteger(std::uint16_t id, std::int32_t value) {
  const std::size_t at = Reserve(sizeof value);
  WriteItemHeader(at, id, sizeof value);
  std::memcpy(write_view_.bytes() + at + kItemHeaderSize, &value, sizeof value);
  write_pos_ = at + kItemHeaderSize + sizeof value;
  std::memset(write_view_.bytes() + write_pos_, 0, kEndMarkSize);
}

void TTransferMan::WriteDouble(std::uint16_t id, double value) {
  const std::size_t at = Reserve(sizeof value);
  WriteItemHeader(at, id, sizeof value);
  std::memcpy(write_view_.bytes() + at + kItemHeaderSize, &value, sizeof value);
  write_pos_ = at + kItemHeaderSize + sizeof value;
  std::memset(write_view_.bytes() + write_pos_, 0, kEndMarkSize);
}

void TTransferMan::WriteWideString(std::uint16_t id, std::u16string_view value) {
  if (value.size() > std::numeric_limits<std::int32_t>::max() / 2)
    throw ELocal(
        "Growing transfer buffer failed: " + win::SysErrorMessage(win::ERROR_NOT_ENOUGH_MEMORY),
        kErrGrowBuffer);
  const std::size_t len = value.size() * sizeof(char16_t);
  const std::size_t at = Reserve(len);
  WriteItemHeader(at, id, static_cast<std::uint32_t>(len));
  if (len != 0) std::memcpy(write_view_.bytes() + at + kItemHeaderSize, value.data(), len);
  write_pos_ = at + kItemHeaderSize + len;
  std::memset(write_view_.bytes() + write_pos_, 0, kEndMarkSize);
}

void TTransferMan::Grow(std::int32_t new_size) {
  if (new_size < 0 || static_cast<std::size_t>(new_size) < write_pos_ + kEndMarkSize)
    new_size = static_cast<std::int32_t>(write_pos_ + kEndMarkSize);
  std::atomic_ref<std::uint32_t> counter(*id_counter_);
  win::UniqueHandle mapping;
  std::string failure;
  buffer_mapping_.reset();  // the view keeps the old buffer alive
  for (int attempt = 0; attempt < kNameAttempts && !mapping; ++attempt) {
    // One indivisible read-and-advance; 0 means "no buffer" and is skipped
    // (a count that wrapped).
    std::uint32_t number;
    do {
      number = counter.fetch_add(1);
    } while (number == 0);
    buffer_id_ = static_cast<std::int32_t>(number);
    mapping.reset(win::CreateFileMappingA(win::INVALID_HANDLE_VALUE, nullptr, kSharedProtect, 0,
                                          static_cast<win::DWORD>(new_size),
                                          TransferBufferName(buffer_id_).c_str()));
    if (!mapping) {
      failure = LastErrorText();
      break;
    }
    if (win::GetLastError() == win::ERROR_ALREADY_EXISTS) {
      // Somebody else's object under our number: never write into it.
      failure = win::SysErrorMessage(win::ERROR_ALREADY_EXISTS);
      mapping.reset();
    }
  }
  if (!mapping) throw ELocal("Growing transfer buffer failed: " + failure, kErrGrowBuffer);
  win::UniqueView view(win::MapViewOfFile(mapping.get(), win::FILE_MAP_ALL_ACCESS, 0, 0, 0));
  if (!view) {
    failure = LastErrorText();
    throw ELocal("Growing transfer buffer failed: " + failure, kErrGrowBuffer);
  }
  if (write_view_) std::memcpy(view.bytes(), write_view_.bytes(), write_pos_);
  write_view_ = std::move(view);  // unmaps the old buffer
  buffer_mapping_ = std::move(mapping);
  buffer_size_ = new_size;
}

void TTransferMan::CloseRead() {
  read_view_.reset();
  read_size_ = 0;
  read_id_ = 0;
  reader_ = TTransferReader();
}

void TTransferMan::OpenRead(std::int32_t buffer_id, std::int32_t query_id) {
  query_id_ = query_id;
  if (buffer_id == 0) RaiseQuery("Empty read buffer. Query ", query_id, kErrEmptyReadBuffer);
  // The size is taken once, when the buffer is mapped: buffers never shrink,
  // and one that a peer cuts anyway faults where it was cut, which marks the
  // view damaged (mapping.h) and fails the read; a damaged view is mapped
  // anew here.
  if (buffer_id != read_id_ || !read_view_ || win::ViewDamaged(read_view_.get())) {
    CloseRead();
    win::UniqueView view;
    win::DWORD error;
    {
      const win::UniqueHandle mapping(win::OpenFileMappingA(win::FILE_MAP_READ, win::TRUE,
                                                            TransferBufferName(buffer_id).c_str()));
      if (!mapping) throw ELocal("Read transfer buffer failed: " + LastErrorText(), kErrReadBuffer);
      view.reset(win::MapViewOfFile(mapping.get(), win::FILE_MAP_READ, 0, 0, 0));
      error = win::GetLastError();
    }  // the view keeps the buffer alive
    if (!view)
      throw ELocal("Read transfer buffer failed: " + win::SysErrorMessage(error), kErrReadBuffer);
    const std::size_t size = win::ViewSize(view.get());
    if (size > kMaxPeerBufferSize) {
      // Nothing the protocol sends needs this much; mapping it is cheap,
      // but reading its items would let a peer make the service allocate
      // and copy without bound.
      throw ELocal("Read transfer buffer failed: the buffer " + TransferBufferName(buffer_id) +
                       " is larger than " + std::to_string(kMaxPeerBufferSize >> 20) + " MiB",
                   kErrReadBuffer);
    }
    read_view_ = std::move(view);
    read_size_ = size;
    read_id_ = buffer_id;
  }
  reader_ = TTransferReader(std::as_const(read_view_).bytes(), read_size_, query_id);
}

bool TTransferMan::ReadViewDamaged() const {
  return read_view_ && win::ViewDamaged(read_view_.get());
}

void TTransferMan::DropDamagedViews() {
  if (read_view_ && win::ViewDamaged(read_view_.get())) CloseRead();
  if (write_view_ && win::ViewDamaged(write_view_.get())) {
    try {
      Grow(buffer_size_);
    } catch (const std::exception&) {
      // BufferId names a buffer that does not exist: the caller fails with
      // code 3, and the next append grows again.
    }
  }
}

void TTransferMan::RequireRead() const {
  if (!read_view_) RaiseQuery("Empty read buffer. Query ", query_id_, kErrEmptyReadBuffer);
}

std::int32_t TTransferMan::ReadAnswer() const {
  RequireRead();
  return reader_.ReadAnswer();
}

void TTransferMan::CheckItemId(std::uint16_t id) const {
  RequireRead();
  reader_.CheckItemId(id);
}

std::int32_t TTransferMan::ReadInteger(std::uint16_t id) {
  RequireRead();
  return reader_.ReadInteger(id);
}

double TTransferMan::ReadDouble(std::uint16_t id) {
  RequireRead();
  return reader_.ReadDouble(id);
}

std::u16string TTransferMan::ReadWideString(std::uint16_t id) {
  RequireRead();
  return reader_.ReadWideString(id);
}

// ------------------------------------------------------ retired channels

namespace {

struct TRetired {
  std::unique_ptr<TTransferMan> Transfer;
  win::DWORD Since;
};

// Never destroyed: channels still kept at exit go with the process, not
// through static destructors that may run after the platform's own.
std::deque<TRetired>& Retired() {
  static auto* retired = new std::deque<TRetired>;
  return *retired;
}

}  // namespace

void RetireTransfer(std::unique_ptr<TTransferMan> transfer) {
  if (transfer == nullptr) return;
  transfer->CloseRead();
  auto& retired = Retired();
  const win::DWORD now = win::GetTickCount();
  retired.push_back({std::move(transfer), now});
  while (retired.size() > kRetiredMax ||
         (retired.size() > kRetiredKeep && now - retired.front().Since >= kRetiredMs)) {
    retired.pop_front();
  }
}

void FreeRetiredTransfers() { Retired().clear(); }

std::size_t RetiredTransferCount() { return Retired().size(); }

}  // namespace vandrel
