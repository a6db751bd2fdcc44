// The field descriptors of a table and the layout of its records: field type
// codes, the stored length of each type, the 768-byte descriptor as the data
// file holds it, and the placement of fields in a record.
//
// Record (record size bytes; record size = 9 + the sum of stored length + 1
// over every field but the auto-increment field, at most 65535):
//
// | offset | width | content                                                    |
// |--------|-------|------------------------------------------------------------|
// | 0      | 1     | status: 0 active, 1 deleted                                |
// | 1      | i32   | active: its own record number; deleted: next free record   |
// | 5      | i32   | auto-increment value (the auto-increment field's bytes)    |
// | 9      | ...   | each other field: null indicator (0 null, 1 value), then   |
// |        |       | its stored length of data                                  |
//
// Value forms (all little-endian in the record):
//
// | type | content                  | stored length | form                                |
// |------|--------------------------|---------------|-------------------------------------|
// | 1    | string                   | size + 1      | text, zero-terminated, zero after   |
// | 2    | date                     | 4             | i32 day number, 1 = 0001-01-01      |
// | 3    | BLOB reference           | 8             | u32 first block offset, u32 zero    |
// | 4    | boolean                  | 2             | u16 0 or 1                          |
// | 5    | 16-bit signed integer    | 2             |                                     |
// | 6    | 32-bit signed integer    | 4             | subtype 29: auto-increment          |
// | 7    | double                   | 8             | IEEE 754                            |
// | 8    | fixed point              | 8             | i64 value × 10^scale                |
// | 9    | bytes                    | size          |                                     |
// | 10   | time                     | 4             | i32 milliseconds since midnight     |
// | 11   | date and time            | 8             | double milliseconds since day 1     |
// | 12   | 16-bit unsigned integer  | 2             |                                     |
// | 13   | 32-bit unsigned integer  | 4             |                                     |
// | 14   | extended float           | 10            | 80-bit x87 extended                 |
// | 15   | variable bytes           | size          |                                     |
//
// Bytes a value does not use (null data, the tail after a string's
// terminator) are zero, so files are deterministic and checkable.
//
// Field descriptor (768 bytes, field 1 first; strings are a length byte and
// the text, zero after it):
//
// | offset | width | field                                                      |
// |--------|-------|------------------------------------------------------------|
// | 0      | u16   | field number, 1-based, equal to its position               |
// | 2      | 31    | name: length byte + up to 30 characters                    |
// | 33     | 51    | description: length byte + up to 50 characters             |
// | 84     | 1     | type                                                       |
// | 85     | 1     | subtype (29 with type 6: auto-increment)                   |
// | 86     | 1     | size (types 1, 9, 15: 1 ... 250; others 0)                 |
// | 87     | 1     | scale (type 8 only)                                        |
// | 88     | 1     | stored length                                              |
// | 89     | 1     | stored scale                                               |
// | 90     | u16   | offset of the null indicator (auto-increment: 5)           |
// | 92     | 1     | required                                                   |
// | 93     | 1     | case conversion: 0 none, 1 lower, 2 upper (strings)        |
// | 94     | 51    | default value as text                                      |
// | 145    | 51    | minimum value as text                                      |
// | 196    | 51    | maximum value as text                                      |
// | 247    | 1     | no storage (0 in stored tables)                            |
// | 248    | 520   | reserved, zero                                             |
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vandrel::engine {

// Field type codes. They are stored in files: never change them.
enum TFieldType : std::uint8_t {
  kTypeString = 1,
  kTypeDate = 2,
  kTypeBlob = 3,
  kTypeBoolean = 4,
  kTypeSmallInt = 5,
  kTypeInteger = 6,
  kTypeFloat = 7,
  kTypeFixed = 8,
  kTypeBytes = 9,
  kTypeTime = 10,
  kTypeTimestamp = 11,
  kTypeWord = 12,
  kTypeLongWord = 13,
  kTypeExtended = 14,
  kTypeVarBytes = 15,
};

constexpr std::uint8_t kAutoIncrementSubtype = 29;
constexpr std::size_t kFieldDescSize = 768;
constexpr std::size_t kRecordHeaderSize = 9;  // status, number or link, auto-increment
constexpr std::size_t kRecordSizeLimit = 65535;
constexpr std::size_t kMaxFieldCount = 1024;
constexpr std::size_t kMaxBlobFields = 64;
constexpr std::size_t kMaxFieldNameLength = 30;
constexpr std::size_t kMaxFieldTextLength = 50;  // description, default, minimum, maximum

struct TFieldDesc {
  std::uint16_t number = 0;
  std::string name;
  std::string description;
  std::uint8_t type = 0;
  std::uint8_t subtype = 0;
  std::uint8_t size = 0;
  std::uint8_t scale = 0;
  std::uint8_t stored_length = 0;
  std::uint8_t stored_scale = 0;
  std::uint16_t offset = 0;
  bool required = false;
  std::uint8_t case_conversion = 0;
  std::string default_value;
  std::string min_value;
  std::string max_value;
  std::uint8_t no_storage = 0;

  bool IsAutoIncrement() const { return type == kTypeInteger && subtype == kAutoIncrementSubtype; }
};

// Data bytes of a field of this type and declared size.
std::uint8_t StoredLength(std::uint8_t type, std::uint8_t size);

// Fills stored length, stored scale, number and offset of every field in
// order (the auto-increment field at 5, the others from 9 on) and returns
// the record size, which may exceed 65535 (the caller refuses it).
std::size_t LayOutRecord(std::vector<TFieldDesc>& fields);

// The 768 stored bytes of one descriptor (texts cut to their capacity).
void EncodeFieldDesc(const TFieldDesc& field, std::span<std::uint8_t, kFieldDescSize> out);

// Decodes without checking anything but the buffer's own bounds: length
// bytes beyond a text's capacity are clamped (the data file's open check
// refuses them first).
TFieldDesc DecodeFieldDesc(std::span<const std::uint8_t, kFieldDescSize> in);

}  // namespace vandrel::engine
