// The BLOB file: header, block cache, chains and the free-block list.
#include "engine/blob_file.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "engine/engine_error.h"
#include "engine/record_codec.h"
#include "engine/record_scrambler.h"

namespace vandrel::engine {
namespace {

constexpr std::int64_t kMaxBlobEnd = 2'000'000'000;

}  // namespace

void EncodeBlobHeader(const TBlobHeader& h, std::uint8_t* p) {
  std::memset(p, 0, kBlobHeaderSize);
  StoreI32(p + 0, h.change_count);
  p[8] = h.version;
  StoreU32(p + 9, h.first_free);
  StoreU32(p + 13, h.end_of_file);
  p[17] = h.header_changed ? 1 : 0;
}

TBlobHeader DecodeBlobHeader(const std::uint8_t* p) {
  TBlobHeader h;
  h.change_count = LoadI32(p + 0);
  h.version = p[8];
  h.first_free = LoadU32(p + 9);
  h.end_of_file = LoadU32(p + 13);
  h.header_changed = p[17] != 0;
  return h;
}

TBlobFile::TBlobFile(std::string table, bool in_memory)
    : TFileHandler(in_memory), table_(std::move(table)) {
  SetTableName(table_);
}
TBlobFile::~TBlobFile() = default;

void TBlobFile::Fail(int code) const { RaiseEngineError(code, table_); }

bool TBlobFile::ValidOffset(std::uint32_t offset) const {
  return offset >= kBlobHeaderSize && offset < header_.end_of_file &&
         (offset - kBlobHeaderSize) % bs_ == 0 &&
         static_cast<std::uint64_t>(offset) + bs_ <= header_.end_of_file;
}

void TBlobFile::CreateBlob(const std::string& file_name, std::uint32_t block_size, bool encrypted) {
  bs_ = block_size == 0 ? 64 : block_size;
  encrypted_ = encrypted;
  header_ = TBlobHeader{};
  Create(file_name, TFileHandlerOptions{.exclusive = true});
  capacity_ = std::min<std::size_t>(131070 / bs_, 32767);
  header_dirty_ = true;
  WriteHeader(true);
}

void TBlobFile::OpenBlob(const std::string& file_name, std::uint32_t block_size, bool encrypted,
                         bool exclusive, bool read_only) {
  bs_ = block_size == 0 ? 64 : block_size;
  encrypted_ = encrypted;
  Open(file_name, TFileHandlerOptions{.read_only = read_only, .exclusive = exclusive});
  try {
    const std::int64_t size = Size();
    if (size < static_cast<std::int64_t>(kBlobHeaderSize)) Fail(kHeaderCorrupt);
    std::uint8_t raw[kBlobHeaderSize];
    ReadAt(0, raw, kBlobHeaderSize);
    if (encrypted_) Scramble(kRecordSeed, raw, kBlobHeaderSize);
    header_ = DecodeBlobHeader(raw);
    if (header_.version != 4) Fail(kWrongVersion);
    const std::uint32_t eof = header_.end_of_file;
    if (bs_ < kBlockHeaderSize + 1 || eof < kBlobHeaderSize || (eof - kBlobHeaderSize) % bs_ != 0 ||
        eof > size || eof > kMaxBlobEnd) {
      Fail(kHeaderCorrupt);
    }
    if (header_.first_free != 0 && !ValidOffset(header_.first_free)) Fail(kHeaderCorrupt);
  } catch (...) {
    Close();
    throw;
  }
  capacity_ = std::min<std::size_t>(131070 / bs_, 32767);
  header_dirty_ = false;
}

void TBlobFile::CloseBlob() {
  if (!IsOpen()) return;
  try {
    WriteDirty();
    if (header_dirty_) WriteHeader(false);
  } catch (...) {
    cache_.Clear();
    Close();
    throw;
  }
  cache_.Clear();
  hold_writes_ = false;
  Close();
}

void TBlobFile::WriteHeader(bool force) {
  if (!force && !header_dirty_) return;
  ++header_.change_count;
  header_.header_changed = true;
  std::uint8_t raw[kBlobHeaderSize];
  EncodeBlobHeader(header_, raw);
  if (encrypted_) Scramble(kRecordSeed, raw, kBlobHeaderSize);
  WriteAt(0, raw, kBlobHeaderSize);
  header_dirty_ = false;
}

// The stored header, checked against the file's size.
TBlobHeader TBlobFile::ReadCheckedHeader() {
  std::uint8_t raw[kBlobHeaderSize];
  ReadAt(0, raw, kBlobHeaderSize);
  if (encrypted_) Scramble(kRecordSeed, raw, kBlobHeaderSize);
  const TBlobHeader h = DecodeBlobHeader(raw);
  const TBlobHeader old = header_;
  header_ = h;  // ValidOffset reads the end of file from header_
  const bool bad = h.end_of_file < kBlobHeaderSize ||
                   (h.end_of_file - kBlobHeaderSize) % bs_ != 0 || h.end_of_file > Size() ||
                   (h.first_free != 0 && !ValidOffset(h.first_free));
  header_ = old;
  if (bad) Fail(kHeaderCorrupt);
  return h;
}

bool TBlobFile::HeaderChanged() {
  // The change count alone: most refreshes find it as it was.
  std::uint8_t count[4];
  ReadAt(0, count, sizeof count);
  if (encrypted_) Scramble(kRecordSeed, count, sizeof count);
  if (LoadI32(count) == header_.change_count) return false;
  const TBlobHeader h = ReadCheckedHeader();
  WriteDirty();
  cache_.Clear();
  header_ = h;
  return true;
}

void TBlobFile::DiscardChanges() {
  cache_.Clear();
  header_ = ReadCheckedHeader();
  header_dirty_ = false;
}

void TBlobFile::Empty() {
  cache_.Clear();
  Truncate(kBlobHeaderSize);
  header_.first_free = 0;
  header_.end_of_file = kBlobHeaderSize;
  header_dirty_ = true;
}

// ---- block cache ----

std::unique_ptr<TBlock> TBlobFile::NewBlock(std::uint32_t offset) {
  std::unique_ptr<TBlock> b;
  if (cache_.full(capacity_)) {
    b = cache_.TakeVictim();
    if (!b && !hold_writes_ && cache_.dirty_count() > 0) {
      WriteDirty();
      b = cache_.TakeVictim();
    }
  }
  if (!b) b = std::make_unique<TBlock>();
  b->key = offset;
  b->dirty = false;
  b->pins = 0;
  return b;
}

void TBlobFile::StoreBlock(const TBlock& b, std::uint8_t* out) const {
  StoreU32(out + 0, b.prev);
  StoreU32(out + 4, b.next);
  StoreU16(out + 8, b.used);
  StoreU32(out + 10, b.owner);
  StoreU32(out + 14, b.length);
  std::memcpy(out + kBlockHeaderSize, b.data.data(), bs_ - kBlockHeaderSize);
  if (encrypted_) {
    Scramble(kRecordSeed, out, kBlockHeaderSize);
    Scramble(kRecordSeed, out + kBlockHeaderSize, bs_ - kBlockHeaderSize);
  }
}

void TBlobFile::Decode(TBlock& b, const std::uint8_t* in) const {
  std::uint8_t head[kBlockHeaderSize];
  std::memcpy(head, in, kBlockHeaderSize);
  b.data.assign(in + kBlockHeaderSize, in + bs_);
  if (encrypted_) {
    Scramble(kRecordSeed, head, kBlockHeaderSize);
    Scramble(kRecordSeed, b.data.data(), b.data.size());
  }
  b.prev = LoadU32(head + 0);
  b.next = LoadU32(head + 4);
  b.used = LoadU16(head + 8);
  b.owner = LoadU32(head + 10);
  b.length = LoadU32(head + 14);
}

// The cached block at offset, read from the file (with up to read_ahead - 1
// following blocks) when missing. The offset must be a block of the file:
// a damaged pointer never makes the file grow.
TBlock* TBlobFile::Get(std::uint32_t offset, std::uint32_t read_ahead) {
  if (!ValidOffset(offset)) Fail(kBlobBuffersCorrupt);
  if (TBlock* hit = cache_.Find(offset)) return hit;
  std::uint32_t n = 1;
  const std::uint32_t limit = std::max<std::uint32_t>(
      1, std::min<std::uint32_t>(
             {read_ahead, 65535 / bs_, static_cast<std::uint32_t>(capacity_ / 2 + 1)}));
  while (n < limit && ValidOffset(offset + n * bs_) && !cache_.Contains(offset + n * bs_)) ++n;
  std::vector<std::uint8_t> buf(static_cast<std::size_t>(n) * bs_);
  ReadAt(offset, buf.data(), buf.size());
  ++reads_;
  TBlock* result = nullptr;
  for (std::uint32_t i = n; i-- > 0;) {
    auto b = NewBlock(offset + i * bs_);
    Decode(*b, buf.data() + static_cast<std::size_t>(i) * bs_);
    result = cache_.Add(std::move(b));
  }
  return result;
}

TBlock* TBlobFile::Allocate() {
  TBlock* b;
  if (header_.first_free != 0) {
    const std::uint32_t head = header_.first_free;
    b = Get(head, 1);
    if (b->owner != 0 || (b->next != 0 && !ValidOffset(b->next)) || b->next == head) {
      Fail(kBlobBuffersCorrupt);
    }
    header_.first_free = b->next;
  } else {
    const std::uint32_t offset = header_.end_of_file;
    if (static_cast<std::int64_t>(offset) + bs_ > kMaxBlobEnd) Fail(kTableFull);
    header_.end_of_file += bs_;
    b = cache_.Add(NewBlock(offset));
  }
  header_dirty_ = true;
  b->prev = b->next = b->owner = b->length = 0;
  b->used = 0;
  b->data.assign(bs_ - kBlockHeaderSize, 0);
  MarkDirty(b);
  return b;
}

void TBlobFile::FreeBlock(TBlock* b) {
  b->prev = 0;
  b->used = 0;
  b->owner = 0;
  b->length = 0;
  b->next = header_.first_free;
  MarkDirty(b);
  header_.first_free = b->offset();
  header_dirty_ = true;
}

std::vector<std::uint8_t> TBlobFile::Load(std::uint32_t r, std::uint32_t first) {
  const std::uint32_t per = data_per_block();
  const std::uint64_t blocks_in_file = (header_.end_of_file - kBlobHeaderSize) / bs_;
  TBlock* b = Get(first, 1);
  if (b->owner != r) Fail(kRecordChanged);
  if (b->prev != 0) Fail(kBlobBuffersCorrupt);
  const std::uint64_t length = b->length;
  if (length == 0 || length > blocks_in_file * per) Fail(kBlobBuffersCorrupt);
  const std::uint64_t expected = (length + per - 1) / per;
  std::vector<std::uint8_t> value(static_cast<std::size_t>(length));
  std::size_t got = 0;
  std::uint64_t walked = 0;
  std::uint32_t offset = first;
  std::uint32_t prev = 0;
  while (true) {
    if (++walked > expected) Fail(kBlobBuffersCorrupt);  // a loop or an overlong chain
    const std::uint32_t ahead = static_cast<std::uint32_t>(expected - walked + 1);
    b = Get(offset, ahead);
    if (b->owner != r) Fail(kRecordChanged);
    if (b->prev != prev) Fail(kBlobBuffersCorrupt);
    const std::size_t n = std::min<std::size_t>(per, value.size() - got);
    std::memcpy(value.data() + got, b->data.data(), n);
    got += n;
    if (got == value.size()) break;
    if (b->next == 0) Fail(kEndOfBlob);
    if (!ValidOffset(b->next)) Fail(kBlobBuffersCorrupt);
    prev = offset;
    offset = b->next;
  }
  return value;
}

std::uint32_t TBlobFile::Save(std::uint32_t r, std::uint32_t first, const std::uint8_t* value,
                              std::size_t length) {
  const std::uint32_t per = data_per_block();
  if (length == 0) {
    if (first != 0) Free(r, first);
    return 0;
  }
  if (length > static_cast<std::size_t>(kMaxBlobEnd)) Fail(kTableFull);
  // The old chain is reused while its blocks are r's own.
  std::uint32_t offset = 0;
  if (first != 0 && ValidOffset(first)) {
    TBlock* b = Get(first, 1);
    if (b->owner == r && b->prev == 0) offset = first;
  }
  std::uint32_t head = 0, prev = 0;
  std::size_t done = 0;
  std::uint64_t walked = 0;
  const std::uint64_t old_limit = header_.end_of_file / bs_ + 1;
  while (true) {
    TBlock* b = offset != 0 ? Get(offset, 1) : Allocate();
    offset = b->offset();
    if (head == 0) head = offset;
    const std::uint32_t old_next = b->next;
    const std::size_t n = std::min<std::size_t>(per, length - done);
    b->prev = prev;
    b->owner = r;
    b->length = head == offset ? static_cast<std::uint32_t>(length) : 0;
    b->used = static_cast<std::uint16_t>(n);
    std::memcpy(b->data.data(), value + done, n);
    std::memset(b->data.data() + n, 0, per - n);
    MarkDirty(b);
    done += n;
    if (prev != 0) {
      TBlock* p = Get(prev, 1);
      p->next = offset;
      MarkDirty(p);
    }
    // Next block of the old chain: only one that is r's own, linked back to
    // this one, and not walked before.
    std::uint32_t reuse = 0;
    if (old_next != 0 && ++walked < old_limit && ValidOffset(old_next)) {
      TBlock* nb = Get(old_next, 1);
      if (nb->owner == r && nb->prev == offset && old_next != offset) reuse = old_next;
    }
    b = Get(offset, 1);
    if (done == length) {
      b->next = 0;
      MarkDirty(b);
      // The rest of the old chain is no longer needed.
      if (reuse != 0) FreeRest(r, reuse);
      break;
    }
    b->next = 0;
    prev = offset;
    offset = reuse;
  }
  return head;
}

void TBlobFile::Free(std::uint32_t r, std::uint32_t first) {
  const std::uint64_t limit = (header_.end_of_file - kBlobHeaderSize) / bs_;
  std::uint32_t offset = first;
  std::unordered_set<std::uint32_t> seen;
  // Check the whole chain first: a damaged one frees nothing.
  std::vector<std::uint32_t> chain;
  // The first block gives the chain's length: the rest is read ahead (a
  // chain written at once lies in consecutive blocks).
  std::uint64_t ahead = 1;
  while (offset != 0) {
    if (!ValidOffset(offset) || chain.size() > limit || !seen.insert(offset).second) {
      Fail(kBlobBuffersCorrupt);
    }
    TBlock* b = Get(offset, static_cast<std::uint32_t>(std::min<std::uint64_t>(ahead, 512)));
    if (chain.empty() && b->owner == r) {
      ahead = (static_cast<std::uint64_t>(b->length) + data_per_block() - 1) / data_per_block();
    }
    if (ahead > 1) --ahead;
    if (b->owner != r) Fail(kBlobBuffersCorrupt);
    chain.push_back(offset);
    offset = b->next;
  }
  for (const std::uint32_t o : chain) FreeBlock(Get(o, 1));
}

// Frees what is left of r's old chain after a shortened value: blocks that
// are r's own, each once, stopping at the first that is not.
void TBlobFile::FreeRest(std::uint32_t r, std::uint32_t offset) {
  std::unordered_set<std::uint32_t> seen;
  while (offset != 0 && ValidOffset(offset) && seen.insert(offset).second) {
    TBlock* b = Get(offset, 1);
    if (b->owner != r) break;
    const std::uint32_t next = b->next;
    FreeBlock(b);
    offset = next;
  }
}

TBlobFile::ChainReport TBlobFile::CheckChain(std::uint32_t r, std::uint32_t first, bool fix) {
  ChainReport report;
  const std::string tail = std::to_string(r) + ", " + (fix ? "error fixed" : "error not fixed");
  if (!ValidOffset(first) || Get(first, 1)->owner != r) {
    report.message = "Invalid BLOB offset in BLOB file for physical record # " + tail;
    report.clear_reference = fix;
    return report;
  }
  std::unordered_set<std::uint32_t> seen{first};
  std::uint32_t offset = first;
  while (true) {
    TBlock* b = Get(offset, 1);
    const std::uint32_t next = b->next;
    if (next == 0) break;
    std::string problem;
    if (!ValidOffset(next) || Get(next, 1)->owner != r) {
      problem = "Invalid intra-block pointer in BLOB file for physical record # ";
    } else if (seen.contains(next)) {
      problem = "Recursive intra-block pointer in BLOB file for physical record # ";
    }
    if (!problem.empty()) {
      report.message = problem + tail;
      if (fix) {
        b = Get(offset, 1);
        b->next = 0;
        MarkDirty(b);
      }
      return report;
    }
    seen.insert(next);
    offset = next;
  }
  return report;
}

void TBlobFile::WriteDirty() {
  const std::vector<TBlock*> dirty = cache_.DirtyInOrder();
  for (std::size_t i = 0; i < dirty.size();) {
    std::size_t j = i + 1;
    while (j < dirty.size() && dirty[j]->offset() == dirty[j - 1]->offset() + bs_) ++j;
    const std::size_t bytes = (j - i) * bs_;
    if (run_.size() < bytes) run_.resize(bytes);
    for (std::size_t k = i; k < j; ++k) StoreBlock(*dirty[k], run_.data() + (k - i) * bs_);
    WriteAt(dirty[i]->offset(), run_.data(), static_cast<std::int64_t>(bytes));
    i = j;
  }
  cache_.Cleaned(dirty);
}

}  // namespace vandrel::engine
