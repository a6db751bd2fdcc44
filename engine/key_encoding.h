// Index keys: how a key is built from a record and how two keys compare.
//
// A key is, for each key field in order, its null indicator (1 value, 0 null)
// and its data in sortable form, stored length + 1 bytes; a non-unique index
// appends the record's auto-increment value (record bytes 5-8) in the 32-bit
// sortable form, so that keys are distinct. The system index's key is the
// status byte and the same 4 bytes.
//
// | field type                    | sortable form                                  |
// |-------------------------------|------------------------------------------------|
// | 1 string                      | the text zero-filled to the field length;      |
// |                               | upper-cased in a case-insensitive index        |
// | 2, 6, 10 (32-bit signed)      | big-endian, sign bit inverted                  |
// | 5 (16-bit signed)             | big-endian, sign bit inverted                  |
// | 4, 12 (boolean, 16-bit)       | big-endian                                     |
// | 7, 11 (double)                | big-endian; >= 0: sign bit set; < 0: inverted  |
// | 8 (fixed point)               | 64-bit big-endian, sign bit inverted           |
// | others (13 included)          | stored bytes unchanged (13 orders by byte)     |
//
// A null field is indicator 0 and zero bytes; the auto-increment field is
// indicator 1 and the sortable form of record bytes 5-8. In a table without
// locale a field marked descending, in an index that is not descending as a
// whole, has its indicator and data bytes complemented.
//
// Comparison: without locale (and always in the system index) bytewise over
// the whole key, negated in a descending index. With a locale, field by
// field: a string field compares its indicator, then its text by the locale
// (TKeyCollation); other fields compare bytewise; the bytes after the
// fields (the suffix) bytewise; a field's result is negated when the index
// or the field is descending. A search key shorter than the key length
// compares only its own length (partial keys).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/key_collation.h"
#include "engine/record_layout.h"

namespace vandrel::engine {

struct TKeyField {
  std::uint8_t type = 0;
  std::uint16_t record_offset = 0;  // null indicator (auto-increment: its data at 5)
  std::uint8_t stored_length = 0;
  bool descending = false;
  bool auto_increment = false;
};

class TKeyLayout {
 public:
  TKeyLayout() = default;
  // The system index: status byte and auto-increment value, bytewise.
  static TKeyLayout System();
  // An index over fields (1-based numbers into table_fields). The caller has
  // checked the numbers and types. lcid 0: a table without locale.
  static TKeyLayout ForIndex(const std::vector<TFieldDesc>& table_fields,
                             const std::vector<std::uint16_t>& field_numbers,
                             const std::vector<bool>& field_descending, bool unique,
                             bool descending, bool case_insensitive, std::uint32_t lcid);

  std::size_t key_length() const { return key_length_; }
  std::size_t field_part() const { return field_part_; }
  bool descending() const { return descending_; }

  // Writes key_length() bytes; record holds at least the bytes the fields
  // reach.
  void BuildKey(const std::uint8_t* record, std::uint8_t* key) const;

  // Compares the first len bytes (len <= key_length()) of two keys: -1, 0, 1
  // in index order.
  int Compare(const std::uint8_t* a, const std::uint8_t* b, std::size_t len) const;

 private:
  std::vector<TKeyField> fields_;
  std::size_t key_length_ = 0;
  std::size_t field_part_ = 0;
  bool unique_ = true;
  bool descending_ = false;
  bool case_insensitive_ = false;
  bool system_ = false;
  std::uint32_t lcid_ = 0;
  const TKeyCollation* collation_ = nullptr;  // null: bytewise (no locale)
};

// Sortable forms of single values (also used by tests and checks).
void SortableInt32(std::int32_t v, std::uint8_t out[4]);
void SortableDouble(double v, std::uint8_t out[8]);

}  // namespace vandrel::engine
