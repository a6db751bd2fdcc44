// The index file: header, descriptors, page cache and the B+trees.
#include "engine/index_file.h"

#include <algorithm>
#include <cstring>

#include "engine/engine_error.h"
#include "engine/engine_names.h"
#include "engine/record_codec.h"
#include "engine/record_scrambler.h"

namespace vandrel::engine {
namespace {

constexpr std::int64_t kMaxIndexEnd = 2'000'000'000;
constexpr char kSystemIndexName[] = "Sys Deleted";

void EncodeDesc(const TIndexDesc& d, std::uint8_t* p) {
  std::memset(p, 0, kIndexDescSize);
  const std::size_t n = std::min<std::size_t>(d.name.size(), 30);
  p[0] = static_cast<std::uint8_t>(n);
  std::memcpy(p + 1, d.name.data(), n);
  StoreU16(p + 31, d.key_length);
  p[33] = d.descending;
  p[34] = d.case_insensitive;
  p[35] = d.unique;
  p[36] = d.compression;
  const std::size_t fc = std::min(d.fields.size(), kMaxKeyFields);
  p[37] = static_cast<std::uint8_t>(fc);
  for (std::size_t i = 0; i < fc; ++i) {
    p[38 + i] = i < d.field_descending.size() && d.field_descending[i] ? 1 : 0;
    StoreU16(p + 54 + 2 * i, d.fields[i]);
  }
  StoreU32(p + 86, d.root);
  StoreU32(p + 90, d.free_pages);
}

TIndexDesc DecodeDesc(const std::uint8_t* p) {
  TIndexDesc d;
  d.name.assign(reinterpret_cast<const char*>(p + 1), std::min<std::size_t>(p[0], 30));
  d.key_length = LoadU16(p + 31);
  d.descending = p[33] != 0;
  d.case_insensitive = p[34] != 0;
  d.unique = p[35] != 0;
  d.compression = p[36];
  const std::size_t fc = std::min<std::size_t>(p[37], kMaxKeyFields);
  for (std::size_t i = 0; i < fc; ++i) {
    d.field_descending.push_back(p[38 + i] != 0);
    d.fields.push_back(LoadU16(p + 54 + 2 * i));
  }
  d.root = LoadU32(p + 86);
  d.free_pages = LoadU32(p + 90);
  return d;
}

[[noreturn]] void RaiseIndexError(int code, const std::string& table, const std::string& index,
                                  const std::string& field = {}) {
  TEngineErrorInfo info;
  info.code = code;
  info.table = table;
  info.index = index;
  info.field = field;
  RaiseEngineError(info);
}

TIndexDesc SystemDesc() {
  TIndexDesc d;
  d.name = kSystemIndexName;
  d.key_length = 5;
  return d;
}

}  // namespace

void EncodeIndexHeader(const TIndexHeader& h, std::uint8_t* p) {
  std::memset(p, 0, kPageSize);
  StoreI32(p + 0, h.change_count);
  p[8] = h.version;
  StoreU32(p + 9, h.end_of_file);
  p[13] = h.secondary_count;
  for (std::size_t i = 0; i < kIndexSlots; ++i) {
    EncodeDesc(h.slots[i], p + kIndexDescStart + i * kIndexDescSize);
  }
  p[3978] = h.no_primary_key ? 1 : 0;
  p[3979] = h.header_changed ? 1 : 0;
}

TIndexHeader DecodeIndexHeader(const std::uint8_t* p) {
  TIndexHeader h;
  h.change_count = LoadI32(p + 0);
  h.version = p[8];
  h.end_of_file = LoadU32(p + 9);
  h.secondary_count = p[13];
  for (std::size_t i = 0; i < kIndexSlots; ++i) {
    h.slots[i] = DecodeDesc(p + kIndexDescStart + i * kIndexDescSize);
  }
  h.no_primary_key = p[3978] != 0;
  h.header_changed = p[3979] != 0;
  return h;
}

TIndexFile::TIndexFile(std::string table, bool in_memory)
    : TFileHandler(in_memory), table_(std::move(table)) {
  SetTableName(table_);
}
TIndexFile::~TIndexFile() = default;

void TIndexFile::Fail(int code) const { RaiseEngineError(code, table_); }

bool TIndexFile::HasIndex(std::size_t slot) const {
  if (slot == kSystemSlot) return true;
  if (slot == kPrimarySlot) return !header_.slots[0].fields.empty();
  return slot >= 1 && slot <= header_.secondary_count;
}

void TIndexFile::SetUpSlots() {
  ++version_;
  for (std::size_t s = 0; s < kIndexSlots; ++s) {
    const TIndexDesc& d = header_.slots[s];
    if (s == kSystemSlot) {
      layouts_[s] = TKeyLayout::System();
    } else if (!d.fields.empty() && HasIndex(s)) {
      layouts_[s] = TKeyLayout::ForIndex(*fields_, d.fields, d.field_descending, d.unique,
                                         d.descending, d.case_insensitive, lcid_);
    } else {
      layouts_[s] = TKeyLayout();
    }
    TPageFormat& f = formats_[s];
    f.key_length = std::max<std::size_t>(d.key_length, 1);
    f.field_part = layouts_[s].field_part();
    f.compression = d.compression;
    f.unique = s == kSystemSlot ? true : d.unique;
  }
}

void TIndexFile::CreateIndex(const std::string& file_name, const std::vector<TFieldDesc>& fields,
                             std::uint32_t lcid, bool encrypted) {
  fields_ = &fields;
  lcid_ = lcid;
  encrypted_ = encrypted;
  header_ = TIndexHeader{};
  header_.slots[kSystemSlot] = SystemDesc();
  SetUpSlots();
  Create(file_name, TFileHandlerOptions{.exclusive = true});
  header_dirty_ = true;
  WriteHeader(true);
}

void TIndexFile::OpenIndex(const std::string& file_name, const std::vector<TFieldDesc>& fields,
                           std::uint32_t lcid, bool encrypted, bool exclusive, bool read_only) {
  fields_ = &fields;
  lcid_ = lcid;
  encrypted_ = encrypted;
  Open(file_name, TFileHandlerOptions{.read_only = read_only, .exclusive = exclusive});
  try {
    const std::int64_t size = Size();
    if (size < static_cast<std::int64_t>(kPageSize)) Fail(kHeaderCorrupt);
    std::vector<std::uint8_t> raw(kPageSize);
    ReadAt(0, raw.data(), kPageSize);
    if (encrypted_) Scramble(kRecordSeed, raw.data(), kPageSize);
    header_ = DecodeIndexHeader(raw.data());
    if (header_.version != 4) Fail(kWrongVersion);
    // Length bytes beyond their capacity.
    for (std::size_t i = 0; i < kIndexSlots; ++i) {
      const std::uint8_t* d = raw.data() + kIndexDescStart + i * kIndexDescSize;
      if (d[0] > 30 || d[37] > kMaxKeyFields || d[36] > 3) Fail(kHeaderCorrupt);
    }
    CheckHeader(size);
  } catch (...) {
    Close();
    throw;
  }
  SetUpSlots();
  header_dirty_ = false;
  header_written_ = false;
}

void TIndexFile::CheckHeader(std::int64_t size) {
  const TIndexHeader& h = header_;
  if (h.secondary_count > kMaxSecondary) Fail(kHeaderCorrupt);
  if (h.end_of_file < kPageSize || h.end_of_file % kPageSize != 0 || h.end_of_file > size ||
      h.end_of_file > kMaxIndexEnd) {
    Fail(kHeaderCorrupt);
  }
  std::vector<std::string> names;
  for (std::size_t s = 0; s < kIndexSlots; ++s) {
    const TIndexDesc& d = h.slots[s];
    const bool used = s <= h.secondary_count || s == kSystemSlot;
    if (!used) continue;
    if (s == kSystemSlot) {
      if (d.name != kSystemIndexName || d.key_length != 5 || d.descending || d.case_insensitive ||
          d.unique || d.compression != 0 || !d.fields.empty()) {
        Fail(kHeaderCorrupt);
      }
    } else if (s == kPrimarySlot) {
      if (!d.name.empty()) Fail(kHeaderCorrupt);
      if (h.no_primary_key != d.fields.empty()) Fail(kHeaderCorrupt);
      if (!d.fields.empty() && !d.unique) Fail(kHeaderCorrupt);
      if (d.fields.empty() && (d.key_length != 0 || d.root != 0)) Fail(kHeaderCorrupt);
    } else {
      const std::string name = UpperTrim(d.name);
      if (name.empty() || !ValidNameStart(static_cast<unsigned char>(name[0])) ||
          std::find(names.begin(), names.end(), name) != names.end() || d.fields.empty()) {
        Fail(kHeaderCorrupt);
      }
      names.push_back(name);
    }
    std::size_t part = 0;
    for (const std::uint16_t n : d.fields) {
      if (n == 0 || n > fields_->size()) Fail(kHeaderCorrupt);
      const TFieldDesc& f = (*fields_)[n - 1];
      if (f.type == kTypeBlob) Fail(kHeaderCorrupt);
      part += StoredLength(f.type, f.size) + 1u;
    }
    if (part > kMaxFieldPart) Fail(kHeaderCorrupt);
    if (s != kSystemSlot && !d.fields.empty() && d.key_length != part + (d.unique ? 0 : 4)) {
      Fail(kHeaderCorrupt);
    }
    for (const std::uint32_t off : {d.root, d.free_pages}) {
      if (off != 0 &&
          (off % kPageSize != 0 || off < kPageSize || off + kPageSize > h.end_of_file)) {
        Fail(kHeaderCorrupt);
      }
    }
  }
}

void TIndexFile::CloseIndex() {
  if (!IsOpen()) return;
  try {
    Flush();
  } catch (...) {
    DropCache();
    Close();
    throw;
  }
  DropCache();
  hold_writes_ = false;
  Close();
}

void TIndexFile::AddPrimaryIndex(TIndexDesc d) {
  if (header_.slots[kPrimarySlot].key_length != 0) Fail(kPrimaryIndexExists);
  if (d.fields.size() > kMaxKeyFields) Fail(kIndexLimits);
  std::size_t part = 0;
  for (const std::uint16_t n : d.fields) {
    if (n == 0 || n > fields_->size())
      RaiseIndexError(kInvalidIndexField, table_, "Primary", std::to_string(n));
    const TFieldDesc& f = (*fields_)[n - 1];
    if (f.type == kTypeBlob) RaiseIndexError(kInvalidIndexFieldType, table_, "Primary");
    part += StoredLength(f.type, f.size) + 1u;
  }
  if (part > kMaxFieldPart) Fail(kIndexLimits);
  d.name.clear();
  d.unique = true;
  d.key_length = static_cast<std::uint16_t>(part);
  d.root = d.free_pages = 0;
  if (d.descending) d.field_descending.assign(d.fields.size(), true);
  d.field_descending.resize(d.fields.size(), false);
  header_.no_primary_key = d.fields.empty();
  header_.slots[kPrimarySlot] = std::move(d);
  header_dirty_ = true;
  SetUpSlots();
}

std::size_t TIndexFile::AddSecondaryIndex(TIndexDesc d) {
  if (header_.secondary_count >= kMaxSecondary || d.fields.size() > kMaxKeyFields ||
      d.fields.empty()) {
    Fail(kIndexLimits);
  }
  const std::string name = UpperTrim(d.name);
  if (name.empty()) Fail(kSecondaryIndexNameMissing);
  if (!ValidNameStart(static_cast<unsigned char>(name[0])) || d.name.size() > 30) {
    RaiseIndexError(kInvalidSecondaryIndexName, table_, d.name);
  }
  for (std::size_t s = 1; s <= header_.secondary_count; ++s) {
    if (UpperTrim(header_.slots[s].name) == name) {
      RaiseIndexError(kSecondaryIndexExists, table_, d.name);
    }
  }
  std::size_t part = 0;
  for (const std::uint16_t n : d.fields) {
    if (n == 0 || n > fields_->size())
      RaiseIndexError(kInvalidIndexField, table_, d.name, std::to_string(n));
    const TFieldDesc& f = (*fields_)[n - 1];
    if (f.type == kTypeBlob) RaiseIndexError(kInvalidIndexFieldType, table_, d.name);
    part += StoredLength(f.type, f.size) + 1u;
  }
  if (part > kMaxFieldPart) Fail(kIndexLimits);
  if (d.compression > 3) Fail(kIndexLimits);
  d.key_length = static_cast<std::uint16_t>(part + (d.unique ? 0 : 4));
  d.root = d.free_pages = 0;
  if (d.descending) d.field_descending.assign(d.fields.size(), true);
  d.field_descending.resize(d.fields.size(), false);
  const std::size_t slot = ++header_.secondary_count;
  header_.slots[slot] = std::move(d);
  header_dirty_ = true;
  SetUpSlots();
  return slot;
}

void TIndexFile::DeleteSecondaryIndex(std::size_t k) {
  const std::size_t count = header_.secondary_count;
  if (k < 1 || k > count) Fail(kIndexLimits);
  Flush();
  DropCache();  // cached pages know their slot
  TIndexDesc removed = std::move(header_.slots[k]);
  for (std::size_t s = k; s < count; ++s) header_.slots[s] = std::move(header_.slots[s + 1]);
  header_.slots[count] = std::move(removed);
  --header_.secondary_count;
  header_dirty_ = true;
  SetUpSlots();
}

std::vector<std::uint8_t> TIndexFile::BuildKey(std::size_t slot, const std::uint8_t* record) const {
  std::vector<std::uint8_t> key(formats_[slot].key_length);
  layouts_[slot].BuildKey(record, key.data());
  return key;
}

// ---- header ----

void TIndexFile::WriteHeader(bool force) {
  if (!force && !header_dirty_) return;
  ++header_.change_count;
  header_.header_changed = true;
  if (!header_dirty_ && !encrypted_ && header_written_) {
    // Only the change count differs from the stored header (a write-back
    // after each change of a shared table): four bytes.
    std::uint8_t count[4];
    StoreI32(count, header_.change_count);
    WriteAt(0, count, sizeof count);
    return;
  }
  std::vector<std::uint8_t> raw(kPageSize);
  EncodeIndexHeader(header_, raw.data());
  if (encrypted_) Scramble(kRecordSeed, raw.data(), kPageSize);
  WriteAt(0, raw.data(), kPageSize);
  header_dirty_ = false;
  header_written_ = true;
}

bool TIndexFile::HeaderChanged() {
  // The change count first: most refreshes find it as it was.
  std::uint8_t count[4];
  ReadAt(0, count, sizeof count);
  if (encrypted_) Scramble(kRecordSeed, count, sizeof count);
  if (LoadI32(count) == header_.change_count) return false;
  std::vector<std::uint8_t> raw(kPageSize);
  ReadAt(0, raw.data(), kPageSize);
  if (encrypted_) Scramble(kRecordSeed, raw.data(), kPageSize);
  TIndexHeader h = DecodeIndexHeader(raw.data());
  if (h.change_count == header_.change_count) return false;
  Flush();
  DropCache();
  const TIndexHeader old = header_;
  header_ = std::move(h);
  try {
    CheckHeader(Size());
  } catch (...) {
    header_ = old;
    throw;
  }
  SetUpSlots();
  return true;
}

void TIndexFile::DiscardChanges() {
  DropCache();
  std::vector<std::uint8_t> raw(kPageSize);
  ReadAt(0, raw.data(), kPageSize);
  if (encrypted_) Scramble(kRecordSeed, raw.data(), kPageSize);
  const TIndexHeader old = header_;
  header_ = DecodeIndexHeader(raw.data());
  try {
    CheckHeader(Size());
  } catch (...) {
    header_ = old;
    throw;
  }
  SetUpSlots();
  header_dirty_ = false;
}

void TIndexFile::Empty() {
  DropCache();
  Truncate(kPageSize);
  header_.end_of_file = kPageSize;
  for (TIndexDesc& d : header_.slots) d.root = d.free_pages = 0;
  header_dirty_ = true;
}

// ---- page cache ----

TPage& TIndexFile::Page(std::size_t slot, std::uint32_t offset) {
  Hot& hot = hot_[(offset / kPageSize) % hot_.size()];
  if (hot.offset == offset && hot.cached != nullptr) {
    if (hot.cached->slot != slot) Fail(kIndexBuffersCorrupt);
    hot.cached->used = ++clock_;
    return *hot.cached->page;
  }
  if (const auto it = cache_.find(offset); it != cache_.end()) {
    if (it->second.slot != slot) Fail(kIndexBuffersCorrupt);
    it->second.used = ++clock_;
    hot = {offset, &it->second};
    return *it->second.page;
  }
  // Only the allocator appends: a pointer at or past the end is damage.
  if (offset < kPageSize || offset % kPageSize != 0 ||
      static_cast<std::uint64_t>(offset) + kPageSize > header_.end_of_file) {
    Fail(kIndexBuffersCorrupt);
  }
  scratch_.resize(kPageSize);
  ReadAt(offset, scratch_.data(), kPageSize);
  if (encrypted_) Scramble(kRecordSeed, scratch_.data(), kPageSize);
  auto page = std::make_unique<TPage>(formats_[slot], offset);
  if (!page->Decode(scratch_.data())) Fail(kIndexBuffersCorrupt);
  TPage& ref = *page;
  cache_.emplace(offset, Cached{std::move(page), slot, ++clock_});
  return ref;
}

TPage& TIndexFile::Allocate(std::size_t slot, std::uint8_t type) {
  TIndexDesc& d = header_.slots[slot];
  std::uint32_t offset;
  if (d.free_pages != 0) {
    offset = d.free_pages;
    TPage& free = Page(slot, offset);
    if (free.count() != 0 || free.next == offset ||
        (free.next != 0 && (free.next % kPageSize != 0 || free.next < kPageSize ||
                            free.next + kPageSize > header_.end_of_file))) {
      Fail(kIndexBuffersCorrupt);
    }
    d.free_pages = free.next;
  } else {
    offset = header_.end_of_file;
    if (static_cast<std::int64_t>(offset) + static_cast<std::int64_t>(kPageSize) > kMaxIndexEnd) {
      Fail(kTableFull);
    }
    header_.end_of_file += kPageSize;
    cache_.emplace(offset, Cached{std::make_unique<TPage>(formats_[slot], offset), slot, ++clock_});
  }
  header_dirty_ = true;
  TPage& p = *cache_.at(offset).page;
  p.Clear();
  p.type = type;
  p.prev = p.next = 0;
  MarkDirty(p);
  return p;
}

void TIndexFile::FreePage(std::size_t slot, TPage& page) {
  TIndexDesc& d = header_.slots[slot];
  page.Clear();
  page.type = 0;
  page.prev = 0;
  page.next = d.free_pages;
  MarkDirty(page);
  d.free_pages = page.offset();
  header_dirty_ = true;
}

void TIndexFile::MarkDirty(TPage& page) {
  if (page.dirty) return;
  page.dirty = true;
  dirty_.push_back(&page);
}

void TIndexFile::Flush() {
  std::vector<TPage*> dirty;
  dirty.swap(dirty_);
  std::sort(dirty.begin(), dirty.end(),
            [](const TPage* a, const TPage* b) { return a->offset() < b->offset(); });
  if (run_.size() < kPageSize) run_.resize(kPageSize);
  std::size_t i = 0;
  try {
    while (i < dirty.size()) {
      // A page changed in a few entries: its header and those entries.
      std::size_t begin = 0, end = 0;
      if (!encrypted_ && dirty[i]->EncodeChanged(run_.data(), &begin, &end)) {
        const std::uint32_t at = dirty[i]->offset();
        if (begin == kPageHeaderSize) {
          WriteAt(at, run_.data(), static_cast<std::int64_t>(end));
        } else {
          WriteAt(at, run_.data(), kPageHeaderSize);
          WriteAt(at + begin, run_.data() + begin, static_cast<std::int64_t>(end - begin));
        }
        dirty[i]->MarkStored();
        dirty[i]->dirty = false;
        ++i;
        continue;
      }
      // Whole pages, runs of consecutive ones as one write.
      std::size_t j = i + 1;
      while (j < dirty.size() && dirty[j]->offset() == dirty[j - 1]->offset() + kPageSize) ++j;
      const std::size_t bytes = (j - i) * kPageSize;
      if (run_.size() < bytes) run_.resize(bytes);
      for (std::size_t k = i; k < j; ++k) {
        std::uint8_t* out = run_.data() + (k - i) * kPageSize;
        dirty[k]->Encode(out);
        if (encrypted_) Scramble(kRecordSeed, out, kPageSize);
      }
      WriteAt(dirty[i]->offset(), run_.data(), static_cast<std::int64_t>(bytes));
      for (std::size_t k = i; k < j; ++k) {
        dirty[k]->MarkStored();
        dirty[k]->dirty = false;
      }
      i = j;
    }
  } catch (...) {
    // What was not written stays changed.
    dirty_.insert(dirty_.end(), dirty.begin() + static_cast<std::ptrdiff_t>(i), dirty.end());
    throw;
  }
  WriteHeader(false);
}

// Called after each operation: above capacity, writes the dirty pages and
// keeps the most recently used three quarters.
// While writes are held (a transaction) only clean pages go, and the cache
// grows when every page is changed.
void TIndexFile::Trim() {
  if (cache_.size() <= capacity_) return;
  if (!hold_writes_) Flush();
  std::vector<std::pair<std::uint64_t, std::uint32_t>> by_use;
  by_use.reserve(cache_.size());
  for (const auto& [o, c] : cache_) {
    if (!c.page->dirty) by_use.emplace_back(c.used, o);
  }
  const std::size_t keep = std::min(capacity_ * 3 / 4, by_use.size());
  std::nth_element(by_use.begin(), by_use.end() - static_cast<std::ptrdiff_t>(keep), by_use.end());
  for (std::size_t i = 0; i + keep < by_use.size(); ++i) cache_.erase(by_use[i].second);
  hot_.fill({});
}

// ---- search ----

// A child met while descending: never a root, never empty, and no deeper
// than any tree may be (a pointer cycle ends here).
void TIndexFile::CheckChild(const TPage& parent, const TPage& child, std::size_t depth) const {
  if (depth > kMaxTreeDepth || child.count() == 0 || child.root() || parent.leaf()) {
    Fail(kIndexBuffersCorrupt);
  }
}

int TIndexFile::CompareEntry(std::size_t slot, const TPage& leaf, std::size_t i,
                             const std::uint8_t* key, std::uint32_t record) const {
  const int c = layouts_[slot].Compare(leaf.Key(i), key, formats_[slot].key_length);
  if (c != 0) return c;
  const std::uint32_t r = leaf.Value(i);
  return r < record ? -1 : r > record ? 1 : 0;
}

// The record number of the first entry below the page at offset.
std::uint32_t TIndexFile::FirstRecord(std::size_t slot, std::uint32_t offset, std::size_t depth) {
  const TPage* page = &Page(slot, offset);
  while (true) {
    if (depth > kMaxTreeDepth || page->count() == 0 || page->root()) Fail(kIndexBuffersCorrupt);
    if (page->leaf()) return page->Value(0);
    page = &Page(slot, page->Value(0));
    ++depth;
  }
}

void TIndexFile::Descend(std::size_t slot, const std::uint8_t* key, std::size_t len, Path& path,
                         const std::uint32_t* record) {
  path.clear();
  const TKeyLayout& k = layouts_[slot];
  std::uint32_t offset = header_.slots[slot].root;
  const TPage* page = &Page(slot, offset);
  if (!page->root() || page->count() == 0) Fail(kIndexBuffersCorrupt);
  while (true) {
    // Whether entry i lies below the target; equal keys are ordered by
    // record number when a record is given (an interior entry stands for
    // its child's first record).
    auto below = [&](std::size_t i) {
      const int c = k.Compare(page->Key(i), key, len);
      if (c != 0 || record == nullptr) return c < 0;
      const std::uint32_t r =
          page->leaf() ? page->Value(i) : FirstRecord(slot, page->Value(i), path.size() + 1);
      return r < *record;
    };
    // First entry not below the target (bisection).
    std::size_t lo = 0, hi = page->count();
    while (lo < hi) {
      const std::size_t mid = (lo + hi) / 2;
      if (below(mid)) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    if (page->leaf()) {
      path.push_back({offset, static_cast<std::uint32_t>(lo)});
      return;
    }
    // Interior: the last entry strictly below, else the first.
    const std::size_t i = lo == 0 ? 0 : lo - 1;
    path.push_back({offset, static_cast<std::uint32_t>(i)});
    const TPage& parent = *page;
    offset = parent.Value(i);
    page = &Page(slot, offset);
    CheckChild(parent, *page, path.size());
  }
}

void TIndexFile::DescendToEnd(std::size_t slot, Path& path) {
  path.clear();
  std::uint32_t offset = header_.slots[slot].root;
  const TPage* page = &Page(slot, offset);
  if (!page->root() || page->count() == 0) Fail(kIndexBuffersCorrupt);
  while (!page->leaf()) {
    const std::size_t i = page->count() - 1;
    path.push_back({offset, static_cast<std::uint32_t>(i)});
    const TPage& parent = *page;
    offset = parent.Value(i);
    page = &Page(slot, offset);
    CheckChild(parent, *page, path.size());
  }
  path.push_back({offset, static_cast<std::uint32_t>(page->count())});
}

bool TIndexFile::NextLeaf(std::size_t slot, Path& path) {
  // Climb to the deepest level that has an entry to the right, then down its
  // leftmost children.
  std::size_t level = path.size() - 1;
  while (level > 0) {
    --level;
    const TPage& p = Page(slot, path[level].page);
    if (path[level].index + 1 < p.count()) {
      ++path[level].index;
      for (std::size_t l = level; l + 1 < path.size(); ++l) {
        const TPage& parent = Page(slot, path[l].page);
        const std::uint32_t child = parent.Value(path[l].index);
        const TPage& c = Page(slot, child);
        CheckChild(parent, c, l + 1);
        if (c.leaf() != (l + 2 == path.size())) Fail(kIndexBuffersCorrupt);
        path[l + 1] = {child, 0};
      }
      return true;
    }
  }
  return false;
}

void TIndexFile::SeekRecord(std::size_t slot, const std::uint8_t* key, std::uint32_t record,
                            Path& path) {
  while (true) {
    const TPage& leaf = Page(slot, path.back().page);
    std::size_t i = path.back().index;
    while (i < leaf.count() && CompareEntry(slot, leaf, i, key, record) < 0) ++i;
    path.back().index = static_cast<std::uint32_t>(i);
    if (i < leaf.count()) return;
    // Past this leaf: go on when the next leaf starts at or below the target
    // (an interior key equal to the target sends the descent one child left).
    Path next = path;
    if (!NextLeaf(slot, next)) return;
    const TPage& n = Page(slot, next.back().page);
    if (CompareEntry(slot, n, 0, key, record) > 0) return;
    path = std::move(next);
  }
}

TIndexPos TIndexFile::Find(std::size_t slot, const std::uint8_t* key, std::size_t len) {
  if (header_.slots[slot].root == 0) return {};
  len = std::min(len, formats_[slot].key_length);
  Path path;
  Descend(slot, key, len, path);
  if (len == formats_[slot].key_length) {
    last_find_.slot = slot;
    last_find_.version = version_;
    last_find_.key.assign(key, key + len);
    last_find_.path.assign(path.begin(), path.end());
  }
  TIndexPos pos{path.back().page, path.back().index};
  const TPage& leaf = Page(slot, pos.page);
  if (pos.index < leaf.count()) {
    Trim();
    return pos;
  }
  // Continue into the right neighbour.
  const bool more = NextLeaf(slot, path);
  Trim();
  return more ? TIndexPos{path.back().page, 0} : TIndexPos{};
}

TIndexPos TIndexFile::Locate(std::size_t slot, const std::uint8_t* key, std::uint32_t record) {
  if (header_.slots[slot].root == 0) return {};
  Path path;
  Descend(slot, key, formats_[slot].key_length, path, &record);
  SeekRecord(slot, key, record, path);
  const TPage& leaf = Page(slot, path.back().page);
  const std::size_t i = path.back().index;
  TIndexPos pos{};
  if (i < leaf.count() && CompareEntry(slot, leaf, i, key, record) == 0) {
    pos = {path.back().page, static_cast<std::uint32_t>(i)};
  }
  Trim();
  return pos;
}

TIndexPos TIndexFile::First(std::size_t slot) {
  std::uint32_t offset = header_.slots[slot].root;
  if (offset == 0) return {};
  const TPage* page = &Page(slot, offset);
  if (!page->root() || page->count() == 0) Fail(kIndexBuffersCorrupt);
  std::size_t depth = 0;
  while (!page->leaf()) {
    const TPage& parent = *page;
    offset = parent.Value(0);
    page = &Page(slot, offset);
    CheckChild(parent, *page, ++depth);
  }
  Trim();
  return {offset, 0};
}

TIndexPos TIndexFile::Last(std::size_t slot) {
  std::uint32_t offset = header_.slots[slot].root;
  if (offset == 0) return {};
  const TPage* page = &Page(slot, offset);
  if (!page->root() || page->count() == 0) Fail(kIndexBuffersCorrupt);
  std::size_t depth = 0;
  while (!page->leaf()) {
    const TPage& parent = *page;
    offset = parent.Value(parent.count() - 1);
    page = &Page(slot, offset);
    CheckChild(parent, *page, ++depth);
  }
  const std::uint32_t n = static_cast<std::uint32_t>(page->count() - 1);
  Trim();
  return {offset, n};
}

bool TIndexFile::Next(std::size_t slot, TIndexPos& pos) {
  if (!pos.valid()) return false;
  const TPage& leaf = Page(slot, pos.page);
  if (!leaf.leaf()) Fail(kIndexBuffersCorrupt);
  if (pos.index + 1u < leaf.count()) {
    ++pos.index;
    return true;
  }
  const std::uint32_t next = leaf.next;
  if (next == 0) {
    pos = {};
    return false;
  }
  const TPage& n = Page(slot, next);
  if (n.type != kPageLeaf || n.count() == 0 || n.prev != pos.page) Fail(kIndexBuffersCorrupt);
  pos = {next, 0};
  Trim();
  return true;
}

bool TIndexFile::Prior(std::size_t slot, TIndexPos& pos) {
  if (!pos.valid()) return false;
  const TPage& leaf = Page(slot, pos.page);
  if (!leaf.leaf()) Fail(kIndexBuffersCorrupt);
  if (pos.index > 0) {
    --pos.index;
    return true;
  }
  const std::uint32_t prev = leaf.prev;
  if (prev == 0) {
    pos = {};
    return false;
  }
  const TPage& p = Page(slot, prev);
  if (p.type != kPageLeaf || p.count() == 0 || p.next != pos.page) Fail(kIndexBuffersCorrupt);
  pos = {prev, static_cast<std::uint32_t>(p.count() - 1)};
  Trim();
  return true;
}

const std::uint8_t* TIndexFile::KeyAt(std::size_t slot, const TIndexPos& pos) {
  const TPage& leaf = Page(slot, pos.page);
  if (!leaf.leaf() || pos.index >= leaf.count()) Fail(kIndexBuffersCorrupt);
  return leaf.Key(pos.index);
}

std::uint32_t TIndexFile::RecordAt(std::size_t slot, const TIndexPos& pos) {
  const TPage& leaf = Page(slot, pos.page);
  if (!leaf.leaf() || pos.index >= leaf.count()) Fail(kIndexBuffersCorrupt);
  return leaf.Value(pos.index);
}

std::uint64_t TIndexFile::KeyCount(std::size_t slot) {
  const std::uint32_t root = header_.slots[slot].root;
  if (root == 0) return 0;
  return Page(slot, root).Keys();
}

std::uint64_t TIndexFile::KeyPosition(std::size_t slot, const std::uint8_t* key,
                                      std::uint32_t record) {
  if (header_.slots[slot].root == 0) return 0;
  Path path;
  Descend(slot, key, formats_[slot].key_length, path, &record);
  SeekRecord(slot, key, record, path);
  std::uint64_t n = path.back().index;
  for (std::size_t l = 0; l + 1 < path.size(); ++l) {
    const TPage& p = Page(slot, path[l].page);
    for (std::size_t i = 0; i < path[l].index; ++i) n += p.Count(i);
  }
  Trim();
  return n;
}

TIndexPos TIndexFile::PositionByCount(std::size_t slot, std::uint64_t n) {
  std::uint32_t offset = header_.slots[slot].root;
  if (offset == 0) return {};
  const TPage* page = &Page(slot, offset);
  std::size_t depth = 0;
  while (!page->leaf()) {
    std::size_t i = 0;
    while (i < page->count() && n >= page->Count(i)) n -= page->Count(i++);
    if (i == page->count()) return {};
    const TPage& parent = *page;
    offset = parent.Value(i);
    page = &Page(slot, offset);
    CheckChild(parent, *page, ++depth);
  }
  if (n >= page->count()) return {};
  Trim();
  return {offset, static_cast<std::uint32_t>(n)};
}

// ---- insert ----

// After the first entry of the page at path[level] changed: its parent
// entry takes the new first key, and so on upward while the entry is its
// parent's first.
void TIndexFile::FixFirstKeys(std::size_t slot, const Path& path, std::size_t level) {
  const std::size_t kl = formats_[slot].key_length;
  while (level > 0) {
    const TPage& child = Page(slot, path[level].page);
    TPage& parent = Page(slot, path[level - 1].page);
    const std::size_t i = path[level - 1].index;
    std::memcpy(parent.MutableKey(i), child.Key(0), kl);
    MarkDirty(parent);
    if (i != 0) return;
    --level;
  }
}

bool TIndexFile::Insert(std::size_t slot, const std::uint8_t* key, std::uint32_t record) {
  TIndexDesc& d = header_.slots[slot];
  const TPageFormat& f = formats_[slot];
  if (d.root == 0) {
    TPage& root = Allocate(slot, kPageRootLeaf);
    root.Insert(0, key, record, 0);
    d.root = root.offset();
    header_dirty_ = true;
    Trim();
    return true;
  }
  Path path;
  const bool unique = f.unique && slot != kSystemSlot;
  const std::uint64_t version = version_++;
  if (unique && last_find_.slot == slot && last_find_.version == version &&
      std::memcmp(last_find_.key.data(), key, f.key_length) == 0) {
    path.assign(last_find_.path.begin(), last_find_.path.end());  // searched just before
  } else if (unique) {
    Descend(slot, key, f.key_length, path);
  } else {
    // Rising record numbers (the system index) append at the end.
    DescendToEnd(slot, path);
    const TPage& last = Page(slot, path.back().page);
    if (last.count() == 0 || CompareEntry(slot, last, last.count() - 1, key, record) >= 0) {
      Descend(slot, key, f.key_length, path, &record);
      SeekRecord(slot, key, record, path);
    }
  }
  if (unique) {
    // A unique index refuses an equal key wherever the lower bound lands.
    const TPage& leaf = Page(slot, path.back().page);
    const std::size_t i = path.back().index;
    const std::uint8_t* found = nullptr;
    if (i < leaf.count()) {
      found = leaf.Key(i);
    } else {
      Path next = path;
      if (NextLeaf(slot, next)) found = Page(slot, next.back().page).Key(0);
    }
    if (found != nullptr && layouts_[slot].Compare(found, key, f.key_length) == 0) {
      Trim();
      return false;
    }
  }
  TPage& leaf = Page(slot, path.back().page);
  const std::size_t i = path.back().index;
  leaf.Insert(i, key, record, 0);
  MarkDirty(leaf);
  for (std::size_t l = 0; l + 1 < path.size(); ++l) {
    TPage& p = Page(slot, path[l].page);
    p.SetCount(path[l].index, p.Count(path[l].index) + 1);
    MarkDirty(p);
  }
  if (i == 0) FixFirstKeys(slot, path, path.size() - 1);
  SplitUp(slot, path, path.size() - 1);
  Trim();
  return true;
}

void TIndexFile::SplitUp(std::size_t slot, Path& path, std::size_t level) {
  while (true) {
    TPage& page = Page(slot, path[level].page);
    if (!page.Overflows()) return;
    const bool was_root = page.root();
    const std::uint8_t type = page.leaf() ? kPageLeaf : kPageInterior;
    TPage& right = Allocate(slot, type);
    TPage& left = Page(slot, path[level].page);  // the allocation may have rehashed
    left.type = type;
    const std::size_t keep = (left.count() + 1) / 2;
    left.MoveTail(keep, right);
    if (left.leaf() && formats_[slot].compression != 0) {
      while (left.EncodedSize() > kPageArea && left.count() > 1) {
        // The last entry of the left page goes to the front of the right one.
        TPage moved(formats_[slot], 0);
        moved.type = right.type;
        left.MoveTail(left.count() - 1, moved);
        moved.TakeHead(right, right.count());
        right.TakeHead(moved, moved.count());
      }
      while (right.EncodedSize() > kPageArea && right.count() > 1) left.TakeHead(right, 1);
      if (left.EncodedSize() > kPageArea || right.EncodedSize() > kPageArea) {
        Fail(kIndexBuffersCorrupt);
      }
    }
    // Neighbour links.
    right.prev = left.offset();
    right.next = left.next;
    if (left.next != 0) {
      TPage& after = Page(slot, left.next);
      after.prev = right.offset();
      MarkDirty(after);
    }
    TPage& l2 = Page(slot, path[level].page);
    TPage& r2 = Page(slot, right.offset());
    l2.next = r2.offset();
    MarkDirty(l2);
    MarkDirty(r2);
    const std::uint64_t left_keys = l2.Keys();
    const std::uint64_t right_keys = r2.Keys();
    std::vector<std::uint8_t> left_first(l2.Key(0), l2.Key(0) + formats_[slot].key_length);
    std::vector<std::uint8_t> right_first(r2.Key(0), r2.Key(0) + formats_[slot].key_length);
    const std::uint32_t left_off = l2.offset(), right_off = r2.offset();
    if (was_root) {
      TPage& root = Allocate(slot, kPageRoot);
      root.Insert(0, left_first.data(), left_off, static_cast<std::uint32_t>(left_keys));
      root.Insert(1, right_first.data(), right_off, static_cast<std::uint32_t>(right_keys));
      header_.slots[slot].root = root.offset();
      header_dirty_ = true;
      return;
    }
    TPage& parent = Page(slot, path[level - 1].page);
    const std::size_t pi = path[level - 1].index;
    parent.SetCount(pi, static_cast<std::uint32_t>(left_keys));
    parent.Insert(pi + 1, right_first.data(), right_off, static_cast<std::uint32_t>(right_keys));
    MarkDirty(parent);
    --level;
  }
}

// ---- delete ----

bool TIndexFile::Delete(std::size_t slot, const std::uint8_t* key, std::uint32_t record) {
  ++version_;
  if (header_.slots[slot].root == 0) return false;
  Path path;
  Descend(slot, key, formats_[slot].key_length, path, &record);
  SeekRecord(slot, key, record, path);
  {
    TPage& leaf = Page(slot, path.back().page);
    const std::size_t i = path.back().index;
    if (i >= leaf.count() || CompareEntry(slot, leaf, i, key, record) != 0) {
      Trim();
      return false;
    }
    leaf.Erase(i);
    MarkDirty(leaf);
    for (std::size_t l = 0; l + 1 < path.size(); ++l) {
      TPage& p = Page(slot, path[l].page);
      const std::uint32_t c = p.Count(path[l].index);
      if (c == 0) Fail(kIndexBuffersCorrupt);
      p.SetCount(path[l].index, c - 1);
      MarkDirty(p);
    }
    if (i == 0 && leaf.count() > 0) FixFirstKeys(slot, path, path.size() - 1);
  }
  Rebalance(slot, path, path.size() - 1);
  Trim();
  return true;
}

void TIndexFile::Rebalance(std::size_t slot, Path& path, std::size_t level) {
  const TPageFormat& f = formats_[slot];
  const std::size_t kl = f.key_length;
  while (true) {
    TPage& page = Page(slot, path[level].page);
    if (page.root()) {
      if (page.type == kPageRootLeaf && page.count() == 0) {
        FreePage(slot, page);
        header_.slots[slot].root = 0;
        header_dirty_ = true;
      } else if (page.type == kPageRoot && page.count() == 1) {
        // Collapse: the only child becomes the root.
        while (true) {
          TPage& r = Page(slot, header_.slots[slot].root);
          if (r.type != kPageRoot || r.count() != 1) break;
          const std::uint32_t child = r.Value(0);
          FreePage(slot, r);
          TPage& c = Page(slot, child);
          c.type = c.leaf() ? kPageRootLeaf : kPageRoot;
          c.prev = c.next = 0;
          MarkDirty(c);
          header_.slots[slot].root = child;
          header_dirty_ = true;
        }
      } else if (page.count() == 0) {
        Fail(kIndexBuffersCorrupt);
      }
      return;
    }
    const bool compressed_leaf = page.leaf() && f.compression != 0;
    const std::size_t max = page.MaxEntries();
    if (compressed_leaf ? page.count() != 0 : page.count() >= max / 2) return;
    TPage& parent = Page(slot, path[level - 1].page);
    const std::size_t pi = path[level - 1].index;
    if (compressed_leaf || page.count() == 0) {
      if (page.count() == 0 && parent.Count(pi) != 0) Fail(kIndexBuffersCorrupt);
      if (page.count() == 0) {
        // Drop the empty page: link its neighbours, free it, remove its entry.
        const std::uint32_t prev = page.prev, next = page.next;
        if (prev != 0) {
          TPage& p = Page(slot, prev);
          p.next = next;
          MarkDirty(p);
        }
        if (next != 0) {
          TPage& n = Page(slot, next);
          n.prev = prev;
          MarkDirty(n);
        }
        FreePage(slot, Page(slot, path[level].page));
        TPage& par = Page(slot, path[level - 1].page);
        par.Erase(pi);
        MarkDirty(par);
        if (pi == 0 && par.count() > 0 && level - 1 > 0) FixFirstKeys(slot, path, level - 1);
        --level;
        continue;
      }
      return;
    }
    if (parent.count() < 2) Fail(kIndexBuffersCorrupt);
    const std::size_t li = pi == 0 ? 0 : pi - 1;
    const std::size_t ri = li + 1;
    const std::uint32_t left_off = parent.Value(li), right_off = parent.Value(ri);
    TPage& left = Page(slot, left_off);
    TPage& right = Page(slot, right_off);
    if (left.leaf() != right.leaf() || left.root() || right.root() || left.next != right_off ||
        right.prev != left_off) {
      Fail(kIndexBuffersCorrupt);
    }
    const std::size_t total = left.count() + right.count();
    if (total < max) {
      // Merge the right page into the left one.
      left.TakeHead(right, right.count());
      left.next = right.next;
      if (right.next != 0) {
        TPage& after = Page(slot, right.next);
        after.prev = left_off;
        MarkDirty(after);
      }
      MarkDirty(left);
      TPage& par = Page(slot, path[level - 1].page);
      par.SetCount(li, par.Count(li) + par.Count(ri));
      par.Erase(ri);
      MarkDirty(par);
      FreePage(slot, Page(slot, right_off));
      --level;
      continue;
    }
    // Redistribute so that the two differ by at most one entry.
    const std::size_t want_left = (total + 1) / 2;
    TPage& l = Page(slot, left_off);
    TPage& r = Page(slot, right_off);
    if (l.count() > want_left) {
      TPage tmp(f, 0);
      tmp.type = r.type;
      l.MoveTail(want_left, tmp);
      tmp.TakeHead(r, r.count());
      r.TakeHead(tmp, tmp.count());
    } else if (l.count() < want_left) {
      l.TakeHead(r, want_left - l.count());
    }
    MarkDirty(l);
    MarkDirty(r);
    const std::uint64_t lk = l.Keys(), rk = r.Keys();
    std::vector<std::uint8_t> rfirst(r.Key(0), r.Key(0) + kl);
    TPage& par = Page(slot, path[level - 1].page);
    par.SetCount(li, static_cast<std::uint32_t>(lk));
    par.SetCount(ri, static_cast<std::uint32_t>(rk));
    std::memcpy(par.MutableKey(ri), rfirst.data(), kl);
    MarkDirty(par);
    return;
  }
}

}  // namespace vandrel::engine
