// The check of a table's data, index and BLOB files.
#include "engine/table_check.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <unordered_set>

#include "engine/blob_file.h"
#include "engine/container_check.h"
#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "engine/file_handler.h"
#include "engine/index_file.h"
#include "engine/key_encoding.h"
#include "engine/page.h"
#include "engine/record_codec.h"
#include "engine/record_scrambler.h"
#include "platform/nls.h"

namespace vandrel::engine {
namespace {

constexpr std::size_t kMaxFindings = 200;

std::string Num(std::uint64_t v) { return std::to_string(v); }

bool AllZero(const std::uint8_t* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

class Checker {
 public:
  Checker(const std::vector<std::uint8_t>& dat, const std::vector<std::uint8_t>* idx,
          const std::vector<std::uint8_t>* blb)
      : dat_(dat), idx_(idx), blb_(blb) {}

  TTableReport Run() {
    const bool data_ok = CheckData();
    if (idx_ == nullptr) {
      Error("index", "the index file is missing");
    } else if (data_ok) {
      CheckIndex();
    }
    if (blb_ != nullptr && data_ok) {
      CheckBlob();
    } else if (blb_ == nullptr && data_ok && header_.blob_field_count != 0) {
      Error("blob", "the BLOB file is missing");
    }
    report_.records = records_;
    report_.active_records = active_;
    return std::move(report_);
  }

 private:
  void Add(bool error, const char* kind, std::string text) {
    if (report_.findings.size() == kMaxFindings) {
      report_.findings.push_back({true, "check", "more findings left out"});
    }
    if (report_.findings.size() > kMaxFindings) return;
    report_.findings.push_back({error, kind, std::move(text)});
  }
  void Error(const char* kind, std::string text) { Add(true, kind, std::move(text)); }
  void Note(const char* kind, std::string text) { Add(false, kind, std::move(text)); }

  // ---- data file ----

  const std::uint8_t* Record(std::uint32_t n) const {
    return records_bytes_.data() + static_cast<std::size_t>(n - 1) * header_.record_size;
  }

  bool CheckData() {
    const std::size_t size = dat_.size();
    if (size < kDataHeaderSize) {
      Error("data", "file of " + Num(size) + " bytes is shorter than its header");
      return false;
    }
    const std::uint8_t* h = dat_.data();
    header_ = DecodeDataHeader(h);
    if (h[8] != kFileVersion) {
      Error("data", "version " + Num(h[8]) + ", expected 4");
      return false;
    }
    if (LoadU64(h + 116) != static_cast<std::uint64_t>(kEngineVersion)) {
      Error("data", "engine version is not 20800");
    }
    if (!AllZero(h + 112, 4) || !AllZero(h + 124, 3))
      Error("data", "reserved header bytes not zero");
    if (h[35] > 50) Error("data", "description length " + Num(h[35]) + " beyond 50");
    if (h[87] > kMaxPasswordLength) Error("data", "password length beyond 15");
    if (h[86] > 1) Error("data", "encrypted flag " + Num(h[86]));
    if (h[86] == 0 && h[87] != 0) Error("data", "password set in a table that is not encrypted");
    if (h[111] > 1) Error("data", "header-changed flag " + Num(h[111]));
    if (!std::isfinite(header_.last_update)) Error("data", "last update is not a finite number");
    if (header_.sort > 15) Error("data", "sort identifier " + Num(header_.sort) + " beyond 15");
    if (header_.locale != 0 &&
        !win::IsValidLocale(win::MAKELCID(header_.locale, header_.sort), win::LCID_INSTALLED)) {
      Error("data", "locale " + Num(header_.locale) + " is not known");
    }
    if (!ValidBlockSize(header_.blob_block_size)) {
      Error("data", "BLOB block size " + std::to_string(header_.blob_block_size) + " is invalid");
      return false;
    }
    const std::size_t fc = header_.field_count;
    if (fc == 0 || fc > kMaxFieldCount) {
      Error("data", "field count " + Num(fc) + " outside 1 ... 1024");
      return false;
    }
    const std::size_t start = kDataHeaderSize + kFieldDescSize * fc;
    if (size < start) {
      Error("data", "file shorter than its " + Num(fc) + " field descriptors");
      return false;
    }
    if (!CheckDescriptors()) return false;
    const std::size_t rs = header_.record_size;
    const std::size_t body = size - start;
    if (body % rs != 0) {
      Error("data", "records area of " + Num(body) + " bytes is not a multiple of " + Num(rs));
      return false;
    }
    records_ = static_cast<std::uint32_t>(std::min<std::size_t>(body / rs, 0xFFFFFFFFu));
    if (header_.next_record != static_cast<std::uint64_t>(records_) + 1) {
      Error("data", "next record number " + Num(header_.next_record) + " but " + Num(records_) +
                        " records");
      return false;
    }
    if (header_.next_record > kMaxRecordNumber) Error("data", "next record number beyond 10^8");
    if (static_cast<std::uint64_t>(rs) * records_ > static_cast<std::uint64_t>(kMaxFileBytes)) {
      Error("data", "records exceed 2,000,000,000 bytes");
    }
    records_bytes_.assign(dat_.begin() + static_cast<std::ptrdiff_t>(start), dat_.end());
    if (header_.encrypted) {
      for (std::uint32_t n = 1; n <= records_; ++n) {
        Scramble(kRecordSeed, records_bytes_.data() + static_cast<std::size_t>(n - 1) * rs, rs);
      }
    }
    CheckRecords();
    CheckFreeChain();
    return true;
  }

  bool CheckDescriptors() {
    const std::size_t fc = header_.field_count;
    std::vector<std::uint8_t> area(
        dat_.begin() + kDataHeaderSize,
        dat_.begin() + static_cast<std::ptrdiff_t>(kDataHeaderSize + kFieldDescSize * fc));
    if (header_.encrypted) Scramble(kRecordSeed, area.data(), area.size());
    std::size_t offset = kRecordHeaderSize, blobs = 0, autos = 0;
    std::vector<std::string> names;
    bool ok = true;
    for (std::size_t i = 0; i < fc; ++i) {
      const std::uint8_t* d = area.data() + i * kFieldDescSize;
      const std::string at = "field " + Num(i + 1) + ": ";
      if (d[2] > kMaxFieldNameLength || d[33] > 50 || d[94] > 50 || d[145] > 50 || d[196] > 50) {
        Error("data", at + "a text length beyond its capacity");
        ok = false;
        continue;
      }
      TFieldDesc f =
          DecodeFieldDesc(std::span<const std::uint8_t, kFieldDescSize>(d, kFieldDescSize));
      if (f.number != i + 1) Error("data", at + "number " + Num(f.number));
      std::string name = f.name;
      for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      while (!name.empty() && name.back() == ' ') name.pop_back();
      while (!name.empty() && name.front() == ' ') name.erase(name.begin());
      const unsigned char c0 = name.empty() ? 0 : static_cast<unsigned char>(name[0]);
      if (name.empty() || !((c0 >= 'A' && c0 <= 'Z') || c0 == '_' || (c0 >= 129 && c0 <= 254))) {
        Error("data", at + "invalid name");
      }
      if (std::find(names.begin(), names.end(), name) != names.end()) {
        Error("data", at + "duplicate name");
      }
      names.push_back(name);
      if (f.type == 0 || f.type > kTypeVarBytes) {
        Error("data", at + "type " + Num(f.type));
        ok = false;
      }
      const bool sized = f.type == kTypeString || f.type == kTypeBytes || f.type == kTypeVarBytes;
      if (sized ? (f.size == 0 || f.size > 250) : f.size != 0) {
        Error("data", at + "size " + Num(f.size));
        ok = false;
      }
      if (f.scale != 0 && f.type != kTypeFixed) Error("data", at + "scale on a type without one");
      if (f.stored_length != StoredLength(f.type, f.size) || f.stored_scale != f.scale) {
        Note("data", at + "stored length or scale differs from its recomputation");
      }
      f.stored_length = StoredLength(f.type, f.size);
      if (f.no_storage != 0) Error("data", at + "no-storage flag set");
      if (!AllZero(d + 248, 520)) Error("data", at + "reserved bytes not zero");
      if (f.IsAutoIncrement()) {
        if (f.offset != 5) Error("data", at + "auto-increment field not at offset 5");
        if (++autos > 1) Error("data", at + "a second auto-increment field");
      } else {
        if (f.offset != offset) {
          Error("data", at + "offset " + Num(f.offset) + ", expected " + Num(offset));
          ok = false;
        }
        offset += f.stored_length + 1u;
      }
      if (f.type == kTypeBlob) ++blobs;
      fields_.push_back(f);
    }
    if (blobs != header_.blob_field_count || blobs > kMaxBlobFields) {
      Error("data", "BLOB field count " + Num(header_.blob_field_count) +
                        ", fields of type 3: " + Num(blobs));
    }
    if (offset != header_.record_size || offset > kRecordSizeLimit) {
      Error("data", "record size " + Num(header_.record_size) + ", fields need " + Num(offset));
      ok = false;
    }
    return ok;
  }

  void CheckRecords() {
    for (std::uint32_t n = 1; n <= records_; ++n) {
      const std::uint8_t* r = Record(n);
      const std::string at = "record " + Num(n) + ": ";
      if (r[0] > 1) {
        Error("data", at + "status " + Num(r[0]));
        continue;
      }
      if (r[0] == 1) continue;
      ++active_;
      if (LoadU32(r + 1) != n) Error("data", at + "does not hold its own number");
      if (LoadI32(r + 5) > header_.last_auto_increment) {
        Note("data", at + "auto-increment value above the last one given");
      }
      for (const TFieldDesc& f : fields_) {
        if (f.IsAutoIncrement()) continue;
        const std::uint8_t ind = r[f.offset];
        const std::uint8_t* v = r + f.offset + 1;
        const std::size_t len = f.stored_length;
        const std::string fat = at + "field " + Num(f.number) + ": ";
        if (ind > 1) {
          Error("data", fat + "null indicator " + Num(ind));
          continue;
        }
        if (ind == 0) {
          if (!AllZero(v, len)) Error("data", fat + "null value with data bytes");
          continue;
        }
        if (f.type == kTypeString) {
          const void* z = std::memchr(v, 0, len);
          if (z == nullptr) {
            Error("data", fat + "string without terminator");
            continue;
          }
          const std::size_t sl = static_cast<const std::uint8_t*>(z) - v;
          if (sl == 0) Error("data", fat + "empty string stored as a value");
          if (sl > 0 && v[sl - 1] == ' ') Error("data", fat + "string with trailing blanks");
          if (!AllZero(v + sl, len - sl)) Error("data", fat + "bytes after the terminator");
        } else if (f.type == kTypeBoolean) {
          if (LoadU16(v) > 1) Error("data", fat + "boolean other than 0 or 1");
        } else if (f.type == kTypeBlob) {
          if (LoadU32(v) == 0) Error("data", fat + "BLOB indicator set without a reference");
          if (!AllZero(v + 4, 4)) Error("data", fat + "BLOB reference bytes 4-7 not zero");
        }
      }
    }
  }

  void CheckFreeChain() {
    std::vector<bool> on_chain(records_ + 1ull, false);
    std::uint32_t n = header_.first_free;
    std::uint64_t steps = 0;
    while (n != 0) {
      if (n > records_) {
        Error("data", "free chain link " + Num(n) + " beyond the records");
        return;
      }
      if (on_chain[n]) {
        Error("data", "free chain loops at record " + Num(n));
        return;
      }
      on_chain[n] = true;
      if (++steps > records_) return;
      const std::uint8_t* r = Record(n);
      if (r[0] != 1) {
        Error("data", "free chain holds active record " + Num(n));
        return;
      }
      n = LoadU32(r + 1);
    }
    for (std::uint32_t i = 1; i <= records_; ++i) {
      if (Record(i)[0] == 1 && !on_chain[i]) {
        Error("data", "deleted record " + Num(i) + " is not on the free chain");
      }
    }
  }

  // ---- index file ----

  std::uint32_t lcid() const {
    return header_.locale == 0 ? 0 : win::MAKELCID(header_.locale, header_.sort);
  }

  void CheckIndex() {
    const std::vector<std::uint8_t>& file = *idx_;
    if (file.size() < kPageSize || file.size() % kPageSize != 0) {
      Error("index", "size " + Num(file.size()) + " is not a positive multiple of 4096");
      if (file.size() < kPageSize) return;
    }
    std::vector<std::uint8_t> h(file.begin(), file.begin() + kPageSize);
    if (header_.encrypted) Scramble(kRecordSeed, h.data(), kPageSize);
    if (h[8] != 4) {
      Error("index", "version " + Num(h[8]) + ", expected 4");
      return;
    }
    ih_ = DecodeIndexHeader(h.data());
    eof_ = ih_.end_of_file;
    if (eof_ < kPageSize || eof_ % kPageSize != 0 || eof_ > file.size()) {
      Error("index", "end of file " + Num(eof_) + " invalid for a file of " + Num(file.size()));
      return;
    }
    if (eof_ < file.size()) Note("index", "file longer than its end of file");
    if (ih_.secondary_count > kMaxSecondary) {
      Error("index", "secondary count " + Num(ih_.secondary_count));
      return;
    }
    if (!AllZero(h.data() + 4, 4) || !AllZero(h.data() + 3980, 116)) {
      Error("index", "reserved header bytes not zero");
    }
    if (h[3979] > 1 || h[3978] > 1) Error("index", "header flag other than 0 or 1");
    if ((h[3978] != 0) != ih_.slots[0].fields.empty()) {
      Error("index", "no-primary-key flag disagrees with the primary index");
    }
    owner_.assign(eof_ / kPageSize, -1);
    std::vector<std::string> names;
    for (std::size_t s = 0; s < kIndexSlots; ++s) {
      if (s > ih_.secondary_count && s != kSystemSlot) continue;
      if (!CheckIndexDesc(s, h.data() + kIndexDescStart + s * kIndexDescSize, names)) continue;
      CheckTree(s);
    }
    // Detached slots keep their pages (a deleted secondary index).
    bool detached = false;
    for (std::size_t s = ih_.secondary_count + 1u; s < kSystemSlot; ++s) {
      if (ih_.slots[s].root != 0 || ih_.slots[s].free_pages != 0) detached = true;
    }
    for (std::size_t p = 1; p < owner_.size(); ++p) {
      if (owner_[p] < 0)
        Add(!detached, "index", "page " + Num(p * kPageSize) + " belongs to no index");
    }
  }

  bool CheckIndexDesc(std::size_t s, const std::uint8_t* d, std::vector<std::string>& names) {
    const TIndexDesc& x = ih_.slots[s];
    const std::string at = "index slot " + Num(s) + ": ";
    if (d[0] > 30 || d[37] > kMaxKeyFields || d[36] > 3) {
      Error("index", at + "length, field count or compression out of range");
      return false;
    }
    for (int i = 33; i <= 35; ++i) {
      if (d[i] > 1) Error("index", at + "flag byte " + Num(i) + " not 0 or 1");
    }
    if (!AllZero(d + 94, 26)) Error("index", at + "reserved bytes not zero");
    for (std::size_t i = x.fields.size(); i < kMaxKeyFields; ++i) {
      if (d[38 + i] != 0 || LoadU16(d + 54 + 2 * i) != 0)
        Error("index", at + "unused field slot not zero");
    }
    if (s == kSystemSlot) {
      if (x.name != "Sys Deleted" || x.key_length != 5 || d[33] || d[34] || d[35] || d[36] ||
          !x.fields.empty()) {
        Error("index",
              at + "system index descriptor is not \"Sys Deleted\", key length 5, flags 0");
        return false;
      }
    } else if (s == kPrimarySlot) {
      if (!x.name.empty()) Error("index", at + "the primary index has a name");
      if (x.fields.empty()) {
        if (x.key_length != 0 || x.root != 0 || x.free_pages != 0) {
          Error("index", at + "primary index without fields holds data");
        }
        return false;
      }
      if (!x.unique) Error("index", at + "primary index not unique");
    } else {
      std::string name = x.name;
      for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      const unsigned char c0 = name.empty() ? 0 : static_cast<unsigned char>(name[0]);
      if (name.empty() || !((c0 >= 'A' && c0 <= 'Z') || c0 == '_' || (c0 >= 129 && c0 <= 254)) ||
          std::find(names.begin(), names.end(), name) != names.end()) {
        Error("index", at + "missing, invalid or duplicate name");
      }
      names.push_back(name);
      if (x.fields.empty()) {
        Error("index", at + "secondary index without fields");
        return false;
      }
    }
    std::size_t part = 0;
    for (std::size_t i = 0; i < x.fields.size(); ++i) {
      const std::uint16_t n = x.fields[i];
      if (n == 0 || n > fields_.size() || fields_[n - 1].type == kTypeBlob) {
        Error("index", at + "key field " + Num(n) + " is not a field that can be a key");
        return false;
      }
      part += fields_[n - 1].stored_length + 1u;
      if (x.descending && !x.field_descending[i]) {
        Error("index", at + "descending index with an ascending field");
      }
    }
    if (part > kMaxFieldPart) Error("index", at + "key fields exceed 524 bytes");
    const std::size_t expect = s == kSystemSlot ? 5 : part + (x.unique ? 0 : 4);
    if (x.key_length != expect) {
      Error("index", at + "key length " + Num(x.key_length) + ", fields need " + Num(expect));
      return false;
    }
    for (const std::uint32_t off : {x.root, x.free_pages}) {
      if (off != 0 && (off % kPageSize != 0 || off < kPageSize || off + kPageSize > eof_)) {
        Error("index", at + "page offset " + Num(off) + " outside the file");
        return false;
      }
    }
    return true;
  }

  struct LevelPage {
    std::uint32_t offset, prev, next;
  };

  void CheckTree(std::size_t s) {
    const TIndexDesc& x = ih_.slots[s];
    TPageFormat fmt;
    fmt.key_length = x.key_length;
    fmt.compression = x.compression;
    fmt.unique = s == kSystemSlot || x.unique;
    TKeyLayout layout = s == kSystemSlot
                            ? TKeyLayout::System()
                            : TKeyLayout::ForIndex(fields_, x.fields, x.field_descending, x.unique,
                                                   x.descending, x.case_insensitive, lcid());
    fmt.field_part = layout.field_part();
    const std::string at = "index slot " + Num(s) + ": ";
    // Free list.
    std::uint32_t f = x.free_pages;
    while (f != 0) {
      if (f % kPageSize != 0 || f < kPageSize || f + kPageSize > eof_) {
        Error("index", at + "free page link " + Num(f) + " outside the file");
        break;
      }
      if (owner_[f / kPageSize] >= 0) {
        Error("index", at + "free page " + Num(f) + " listed twice or in use");
        break;
      }
      owner_[f / kPageSize] = static_cast<int>(s);
      const std::uint8_t* p = PageBytes(f);
      std::uint8_t copy[kPageSize];
      std::memcpy(copy, p, kPageSize);
      std::memset(copy + 7, 0, 4);
      if (!AllZero(copy, kPageSize)) Error("index", at + "free page " + Num(f) + " not zero");
      f = LoadU32(p + 7);
    }
    entries_.clear();
    levels_.clear();
    leaf_depth_ = -1;
    if (x.root != 0) {
      std::vector<std::uint8_t> first;
      std::uint64_t keys = 0;
      Walk(s, fmt, layout, x.root, 0, first, keys);
    }
    for (std::size_t l = 0; l < levels_.size(); ++l) {
      const auto& lv = levels_[l];
      for (std::size_t i = 0; i < lv.size(); ++i) {
        const std::uint32_t want_prev = i == 0 ? 0 : lv[i - 1].offset;
        const std::uint32_t want_next = i + 1 == lv.size() ? 0 : lv[i + 1].offset;
        if (lv[i].prev != want_prev || lv[i].next != want_next) {
          Error("index", at + "page " + Num(lv[i].offset) + " has wrong neighbour links");
        }
      }
    }
    // Order: keys strictly ascending, ties by record number.
    for (std::size_t i = 1; i < entries_.size(); ++i) {
      const int c =
          layout.Compare(entries_[i - 1].key.data(), entries_[i].key.data(), x.key_length);
      if (c > 0 || (c == 0 && (fmt.unique && s != kSystemSlot)) ||
          (c == 0 && entries_[i - 1].record >= entries_[i].record)) {
        Error("index", at + "keys out of order at entry " + Num(i));
        break;
      }
    }
    CrossCheck(s, layout, at);
  }

  const std::uint8_t* PageBytes(std::uint32_t offset) {
    if (!header_.encrypted) return idx_->data() + offset;
    scratch_.assign(idx_->begin() + offset, idx_->begin() + offset + kPageSize);
    Scramble(kRecordSeed, scratch_.data(), kPageSize);
    return scratch_.data();
  }

  struct Entry {
    std::vector<std::uint8_t> key;
    std::uint32_t record;
  };

  // Walks the subtree at offset; first gets its first key, keys its key count.
  void Walk(std::size_t s, const TPageFormat& fmt, const TKeyLayout& layout, std::uint32_t offset,
            int depth, std::vector<std::uint8_t>& first, std::uint64_t& keys) {
    const std::string at = "index slot " + Num(s) + ": page " + Num(offset) + ": ";
    if (offset % kPageSize != 0 || offset < kPageSize || offset + kPageSize > eof_) {
      Error("index", at + "outside the file");
      return;
    }
    if (owner_[offset / kPageSize] >= 0) {
      Error("index", at + "reached twice");
      return;
    }
    owner_[offset / kPageSize] = static_cast<int>(s);
    if (depth > static_cast<int>(kMaxTreeDepth)) {
      Error("index", at + "deeper than 64 levels");
      return;
    }
    const std::uint8_t* raw = PageBytes(offset);
    TPage page(fmt, offset);
    if (!page.Decode(raw)) {
      Error("index", at + "entries do not decode within the page");
      return;
    }
    const std::size_t used = LoadU16(raw + 11);
    if (!AllZero(raw + kPageHeaderSize + used, kPageArea - used)) {
      Error("index", at + "bytes after the entries not zero");
    }
    const bool root = depth == 0;
    const bool type_ok = root ? (page.type == kPageRoot || page.type == kPageRootLeaf)
                              : (page.type == kPageInterior || page.type == kPageLeaf);
    if (!type_ok) {
      Error("index", at + "type " + Num(page.type) + " at depth " + Num(depth));
      return;
    }
    if (page.count() == 0) {
      Error("index", at + "empty page in a tree");
      return;
    }
    if (!root && fmt.compression == 0 && page.count() < page.MaxEntries() / 2) {
      Note("index", at + "fewer entries than half the maximum");
    }
    if (levels_.size() <= static_cast<std::size_t>(depth)) levels_.resize(depth + 1);
    levels_[depth].push_back({offset, page.prev, page.next});
    first.assign(page.Key(0), page.Key(0) + fmt.key_length);
    if (page.leaf()) {
      if (leaf_depth_ < 0) leaf_depth_ = depth;
      if (leaf_depth_ != depth) Error("index", at + "leaf at another depth than the others");
      for (std::size_t i = 0; i < page.count(); ++i) {
        const std::uint32_t r = page.Value(i);
        if (r == 0 || r > records_)
          Error("index", at + "record number " + Num(r) + " out of range");
        entries_.push_back(
            {std::vector<std::uint8_t>(page.Key(i), page.Key(i) + fmt.key_length), r});
      }
      keys = page.count();
      return;
    }
    keys = 0;
    for (std::size_t i = 0; i < page.count(); ++i) {
      std::vector<std::uint8_t> child_first;
      std::uint64_t child_keys = 0;
      const std::size_t before = report_.findings.size();
      Walk(s, fmt, layout, page.Value(i), depth + 1, child_first, child_keys);
      if (report_.findings.size() != before) continue;
      if (child_first.size() == fmt.key_length &&
          std::memcmp(child_first.data(), page.Key(i), fmt.key_length) != 0) {
        Error("index", at + "entry " + Num(i) + " key differs from its child's first key");
      }
      if (child_keys != page.Count(i)) {
        Error("index", at + "entry " + Num(i) + " counts " + Num(page.Count(i)) +
                           " keys, its child holds " + Num(child_keys));
      }
      keys += child_keys;
    }
    (void)layout;
  }

  // Every active record once in each index with the key rebuilt from it;
  // the system index holds every record, active or deleted.
  void CrossCheck(std::size_t s, const TKeyLayout& layout, const std::string& at) {
    std::vector<std::uint32_t> seen(records_ + 1ull, 0);
    std::vector<std::uint8_t> key(layout.key_length());
    for (const Entry& e : entries_) {
      if (e.record == 0 || e.record > records_) continue;
      const std::uint8_t* r = Record(e.record);
      if (++seen[e.record] > 1) {
        Error("cross", at + "record " + Num(e.record) + " listed twice");
        continue;
      }
      if (s != kSystemSlot && r[0] != 0) {
        Error("cross", at + "deleted record " + Num(e.record) + " listed");
        continue;
      }
      layout.BuildKey(r, key.data());
      if (key != e.key)
        Error("cross", at + "key of record " + Num(e.record) + " differs from its record");
    }
    for (std::uint32_t n = 1; n <= records_; ++n) {
      const bool wanted = s == kSystemSlot || Record(n)[0] == 0;
      if (wanted && seen[n] == 0) Error("cross", at + "record " + Num(n) + " missing");
    }
  }

  // ---- BLOB file ----

  void CheckBlob() {
    const std::vector<std::uint8_t>& file = *blb_;
    const std::uint64_t bs = EffectiveBlockSize(header_.blob_block_size);
    if (file.size() < kBlobHeaderSize) {
      Error("blob", "size " + Num(file.size()) + " below 512");
      return;
    }
    std::vector<std::uint8_t> h(file.begin(), file.begin() + kBlobHeaderSize);
    if (header_.encrypted) Scramble(kRecordSeed, h.data(), kBlobHeaderSize);
    if (h[8] != 4) {
      Error("blob", "version " + Num(h[8]) + ", expected 4");
      return;
    }
    const TBlobHeader bh = DecodeBlobHeader(h.data());
    if (!AllZero(h.data() + 4, 4) || !AllZero(h.data() + 18, 494))
      Error("blob", "reserved header bytes not zero");
    if (h[17] > 1) Error("blob", "header-changed flag " + Num(h[17]));
    const std::uint64_t eof = bh.end_of_file;
    if (eof < kBlobHeaderSize || (eof - kBlobHeaderSize) % bs != 0 || eof > file.size()) {
      Error("blob", "end of file " + Num(eof) + " invalid for a file of " + Num(file.size()));
      return;
    }
    if (eof < file.size()) Note("blob", "file longer than its end of file");
    const std::uint64_t blocks = (eof - kBlobHeaderSize) / bs;
    const std::uint32_t per = static_cast<std::uint32_t>(bs - kBlockHeaderSize);
    std::vector<std::uint32_t> owner(blocks, 0);  // 0 unseen, ~0 free, else record
    auto valid = [&](std::uint64_t off) {
      return off >= kBlobHeaderSize && off < eof && (off - kBlobHeaderSize) % bs == 0;
    };
    auto block = [&](std::uint64_t off, std::uint8_t* out) {
      std::memcpy(out, file.data() + off, bs);
      if (header_.encrypted) {
        Scramble(kRecordSeed, out, kBlockHeaderSize);
        Scramble(kRecordSeed, out + kBlockHeaderSize, bs - kBlockHeaderSize);
      }
    };
    std::vector<std::uint8_t> b(bs);
    std::uint64_t off = bh.first_free;
    while (off != 0) {
      if (!valid(off)) {
        Error("blob", "free list link " + Num(off) + " is not a block");
        break;
      }
      const std::uint64_t k = (off - kBlobHeaderSize) / bs;
      if (owner[k] != 0) {
        Error("blob", "free list loops at block " + Num(off));
        break;
      }
      owner[k] = ~0u;
      block(off, b.data());
      if (LoadU32(b.data()) != 0 || LoadU16(b.data() + 8) != 0 || LoadU32(b.data() + 10) != 0 ||
          LoadU32(b.data() + 14) != 0) {
        Error("blob", "free block " + Num(off) + " not cleared");
      }
      off = LoadU32(b.data() + 4);
    }
    for (std::uint32_t n = 1; n <= records_; ++n) {
      const std::uint8_t* r = Record(n);
      if (r[0] != 0) continue;
      for (const TFieldDesc& f : fields_) {
        if (f.type != kTypeBlob || r[f.offset] == 0) continue;
        const std::uint32_t first = LoadU32(r + f.offset + 1);
        const std::string at = "record " + Num(n) + " field " + Num(f.number) + ": ";
        if (!valid(first)) {
          Error("blob", at + "reference " + Num(first) + " is not a block");
          continue;
        }
        block(first, b.data());
        const std::uint64_t length = LoadU32(b.data() + 14);
        if (LoadU32(b.data()) != 0 || LoadU32(b.data() + 10) != n || length == 0 ||
            length > blocks * per) {
          Error("blob", at + "first block has a wrong owner, previous link or length");
          continue;
        }
        const std::uint64_t expected = (length + per - 1) / per;
        std::uint64_t remaining = length, prev = 0, cur = first;
        for (std::uint64_t i = 0; i < expected; ++i) {
          if (!valid(cur)) {
            Error("blob", at + "chain link " + Num(cur) + " is not a block");
            break;
          }
          const std::uint64_t k = (cur - kBlobHeaderSize) / bs;
          if (owner[k] != 0) {
            Error("blob", at + "block " + Num(cur) + " also belongs elsewhere");
            break;
          }
          owner[k] = n;
          block(cur, b.data());
          const std::uint64_t want_used = std::min<std::uint64_t>(per, remaining);
          if (LoadU32(b.data() + 10) != n || LoadU32(b.data()) != prev ||
              LoadU16(b.data() + 8) != want_used || (i > 0 && LoadU32(b.data() + 14) != 0)) {
            Error("blob", at + "block " + Num(cur) + " has a wrong owner, link, size or length");
            break;
          }
          remaining -= want_used;
          prev = cur;
          cur = LoadU32(b.data() + 4);
          if (i + 1 == expected && cur != 0) Error("blob", at + "chain longer than its value");
        }
      }
    }
    for (std::uint64_t k = 0; k < blocks; ++k) {
      if (owner[k] == 0)
        Error("blob", "block " + Num(kBlobHeaderSize + k * bs) + " belongs to no value");
    }
  }

  const std::vector<std::uint8_t>& dat_;
  const std::vector<std::uint8_t>* idx_;
  const std::vector<std::uint8_t>* blb_;
  TTableReport report_;
  TDataHeader header_;
  std::vector<TFieldDesc> fields_;
  std::vector<std::uint8_t> records_bytes_;
  std::uint32_t records_ = 0;
  std::uint32_t active_ = 0;
  TIndexHeader ih_;
  std::uint64_t eof_ = 0;
  std::vector<int> owner_;
  std::vector<std::vector<LevelPage>> levels_;
  std::vector<Entry> entries_;
  int leaf_depth_ = -1;
  std::vector<std::uint8_t> scratch_;
};

std::optional<std::vector<std::uint8_t>> ReadWhole(const std::string& name, bool in_memory) {
  if (!TFileHandler::Exists(name, in_memory)) return std::nullopt;
  TFileHandler f(in_memory);
  f.Open(name, TFileHandlerOptions{.read_only = true});
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(f.Size()));
  if (!bytes.empty()) f.ReadAt(0, bytes.data(), static_cast<std::int64_t>(bytes.size()));
  f.Close();
  return bytes;
}

}  // namespace

bool TTableReport::Clean() const {
  return std::none_of(findings.begin(), findings.end(),
                      [](const TTableFinding& f) { return f.error; });
}

std::vector<std::string> TTableReport::Lines() const {
  std::vector<std::string> out;
  for (const auto& f : findings) {
    out.push_back(std::string(f.error ? "[" : "[note ") + f.kind + "] " + f.text);
  }
  return out;
}

TTableReport CheckTableBytes(const std::vector<std::uint8_t>& dat,
                             const std::vector<std::uint8_t>* idx,
                             const std::vector<std::uint8_t>* blb) {
  return Checker(dat, idx, blb).Run();
}

std::vector<std::string> CheckContainerTables(const std::uint8_t* bytes, std::uint64_t size,
                                              bool* clean) {
  std::vector<std::string> out;
  *clean = true;
  const TContainerReport container = CheckContainerBytes(bytes, size);
  if (container.Fatal()) return out;
  for (const TInnerFileInfo& f : container.files) {
    if (f.name.size() < 5 || f.name.compare(f.name.size() - 4, 4, ".DAT") != 0) continue;
    const std::string table = f.name.substr(0, f.name.size() - 4);
    std::vector<std::uint8_t> dat, idx, blb;
    if (!ReadInnerFromBytes(bytes, size, f.name, &dat)) continue;
    const bool has_idx = ReadInnerFromBytes(bytes, size, table + ".IDX", &idx);
    const bool has_blb = ReadInnerFromBytes(bytes, size, table + ".BLB", &blb);
    const TTableReport r = CheckTableBytes(dat, has_idx ? &idx : nullptr, has_blb ? &blb : nullptr);
    for (const std::string& line : r.Lines()) out.push_back(table + ": " + line);
    out.push_back(table + ": " + std::to_string(r.records) + " records, " +
                  std::to_string(r.active_records) + " active, " +
                  (r.Clean() ? "clean" : "damaged"));
    if (!r.Clean()) *clean = false;
  }
  return out;
}

TTableReport CheckTableFiles(const std::string& base, bool in_memory) {
  const auto dat = ReadWhole(base + ".DAT", in_memory);
  if (!dat) {
    TTableReport r;
    r.findings.push_back({true, "data", "the data file is missing"});
    return r;
  }
  const auto idx = ReadWhole(base + ".IDX", in_memory);
  const auto blb = ReadWhole(base + ".BLB", in_memory);
  return CheckTableBytes(*dat, idx ? &*idx : nullptr, blb ? &*blb : nullptr);
}

}  // namespace vandrel::engine
