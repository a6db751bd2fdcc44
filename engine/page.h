// One 4096-byte page of an index file in memory (TPage): its header and its
// decoded entries, and the page's stored form.
//
// Page (4096 bytes; integers little-endian, offsets multiples of 4096):
//
// | offset | width | field                                                     |
// |--------|-------|-----------------------------------------------------------|
// | 0      | 1     | type: 0 root with children, 1 interior, 2 leaf,           |
// |        |       | 3 root that is a leaf                                     |
// | 1      | u16   | entry count (0 on a free page)                            |
// | 3      | i32   | previous page on the same level, 0 = none                 |
// | 7      | i32   | next page on the same level, 0 = none; free page: next    |
// |        |       | free page of the index                                    |
// | 11     | u16   | bytes used of the entry area                              |
// | 13     | 4083  | entries; the bytes after them zero                        |
//
// Interior entries (types 0, 1), never compressed: key (key length bytes),
// i32 child page, i32 keys in the child's whole subtree. An interior key is
// its child's first key.
//
// Leaf entries (types 2, 3): key and i32 record number, by compression:
//
// | mode | entry                                                             |
// |------|-------------------------------------------------------------------|
// | 0    | key, record number                                                |
// | 1    | u16 p (leading bytes equal to the previous key; 0 first), key     |
// |      | bytes p..end, record number                                       |
// | 2    | u16 t (trailing zero bytes cut), the key without them, record     |
// |      | number; non-unique: t cut from the field part, the 4-byte suffix  |
// |      | follows the shortened part                                        |
// | 3    | u8 p, u8 t, key bytes p..end without t trailing zeros, record     |
// |      | number; rem = key length - p; unique or rem < 5: t is cut from    |
// |      | the end of the whole key, else from the field part (mode 2);      |
// |      | the writer caps p and t at 255                                    |
//
// A page in memory keeps every entry decoded as key, value (child page or
// record number) and subtree count (0 in leaves), and which entry slots
// changed since it was last stored or read, so that a write-back of an
// uncompressed page stores only its header and those slots.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace vandrel::engine {

constexpr std::size_t kPageSize = 4096;
constexpr std::size_t kPageHeaderSize = 13;
constexpr std::size_t kPageArea = kPageSize - kPageHeaderSize;  // 4083

enum TPageType : std::uint8_t {
  kPageRoot = 0,
  kPageInterior = 1,
  kPageLeaf = 2,
  kPageRootLeaf = 3,
};

// How one index's entries are coded; fixed per index slot.
struct TPageFormat {
  std::size_t key_length = 0;
  std::size_t field_part = 0;
  std::uint8_t compression = 0;
  bool unique = true;

  // Uncompressed leaves and interior pages hold at most these many entries.
  std::size_t MaxLeafEntries() const { return kPageArea / (key_length + 6); }
  std::size_t MaxInteriorEntries() const { return kPageArea / (key_length + 10); }
};

class TPage {
 public:
  TPage(const TPageFormat& format, std::uint32_t offset);

  const TPageFormat& format() const { return *format_; }
  std::uint32_t offset() const { return offset_; }
  bool leaf() const { return type >= kPageLeaf; }
  bool root() const { return type == kPageRoot || type == kPageRootLeaf; }

  std::uint8_t type = kPageRootLeaf;
  std::uint32_t prev = 0;
  std::uint32_t next = 0;
  bool dirty = false;

  std::size_t count() const { return count_; }
  const std::uint8_t* Key(std::size_t i) const { return entries_.data() + i * stride_; }
  std::uint8_t* MutableKey(std::size_t i) {
    Changed(i, i + 1);
    return entries_.data() + i * stride_;
  }
  std::uint32_t Value(std::size_t i) const { return Get(i, 0); }
  std::uint32_t Count(std::size_t i) const { return Get(i, 4); }
  void SetValue(std::size_t i, std::uint32_t v) {
    Changed(i, i + 1);
    Set(i, 0, v);
  }
  void SetCount(std::size_t i, std::uint32_t v) {
    Changed(i, i + 1);
    Set(i, 4, v);
  }
  // Sum of the entries' counts (interior) or the entry count (leaf).
  std::uint64_t Keys() const;

  void Insert(std::size_t i, const std::uint8_t* key, std::uint32_t value, std::uint32_t count);
  void Erase(std::size_t i);
  // Moves entries [from, count) to the end of other.
  void MoveTail(std::size_t from, TPage& other);
  // Moves the first n entries of other to the end of this page.
  void TakeHead(TPage& other, std::size_t n);
  void Clear() {
    Changed(0, count_);
    count_ = 0;
    entries_.clear();
  }

  // Entry-area bytes of the page's stored form.
  std::size_t EncodedSize() const;
  // Whether the page holds more than it may (splits).
  bool Overflows() const;
  std::size_t MaxEntries() const;

  // The stored form; out is kPageSize bytes.
  void Encode(std::uint8_t* out) const;
  // Reads a stored page; false when it does not decode within its bounds
  // (unknown type, counts above their limits, bytes used beyond the area or
  // not equal to the decoded size, prefix or cut lengths out of range).
  bool Decode(const std::uint8_t* in);

  // Stored length of leaf entry i given the previous key (mode 1, 3).
  std::size_t LeafEntrySize(std::size_t i) const;

  // Since the page was last stored (or read): for an uncompressed page
  // whose change touched only part of it, writes the changed bytes of the
  // stored form into out (kPageSize bytes; only those bytes are written),
  // sets [*begin, *end) to the entry bytes among them and returns true; the
  // header, bytes 0 ... 12, always belongs to them. false: store the whole
  // page (Encode).
  bool EncodeChanged(std::uint8_t* out, std::size_t* begin, std::size_t* end) const;
  // The stored form now equals the page.
  void MarkStored();

 private:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  void Changed(std::size_t lo, std::size_t hi) {
    if (lo < changed_lo_) changed_lo_ = lo;
    if (hi > changed_hi_) changed_hi_ = hi;
  }

  std::uint32_t Get(std::size_t i, std::size_t at) const {
    std::uint32_t v;
    std::memcpy(&v, entries_.data() + i * stride_ + format_->key_length + at, 4);
    return v;
  }
  void Set(std::size_t i, std::size_t at, std::uint32_t v) {
    std::memcpy(entries_.data() + i * stride_ + format_->key_length + at, &v, 4);
  }

  const TPageFormat* format_;
  std::uint32_t offset_;
  std::size_t stride_;
  std::size_t count_ = 0;
  std::vector<std::uint8_t> entries_;
  // Entry slots changed since the last store: [changed_lo_, changed_hi_);
  // whole_: everything (a new page, or one read with bytes after its
  // entries).
  bool whole_ = true;
  std::size_t changed_lo_ = kNone;
  std::size_t changed_hi_ = 0;
  // The stored form's entry kind and bytes used.
  bool stored_leaf_ = false;
  std::size_t stored_used_ = 0;
};

}  // namespace vandrel::engine
