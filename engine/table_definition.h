// What a new table is made of: field definitions, index definitions and
// table options, as CREATE TABLE builds them and the engine's create-table
// operation takes them. Plain values; the create operation checks them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vandrel::engine {

// Field type codes as stored in a data file's field descriptors.
enum FieldType : std::uint8_t {
  kFieldString = 1,
  kFieldDate = 2,
  kFieldBlob = 3,
  kFieldBoolean = 4,
  kFieldSmallInt = 5,
  kFieldInteger = 6,
  kFieldFloat = 7,
  kFieldBcd = 8,
  kFieldBytes = 9,
  kFieldTime = 10,
  kFieldTimestamp = 11,
  kFieldWord = 12,
};

// Subtypes.
constexpr std::uint8_t kSubtypeMoney = 21;
constexpr std::uint8_t kSubtypeAutoInc = 29;
constexpr std::uint8_t kSubtypeBlobFirst = 22;  // BLOB (a, 1)
constexpr std::uint8_t kSubtypeBlobLast = 28;   // BLOB (a, 7)

// Character case conversion of a string field.
enum CharCase : std::uint8_t { kCaseNoChange = 0, kCaseLower = 1, kCaseUpper = 2 };

// Index compression.
enum IndexCompression : std::uint8_t {
  kCompressNone = 0,
  kCompressDupByte = 1,
  kCompressTrailByte = 2,
  kCompressFull = 3,
};

// Limits of the stored texts.
constexpr std::size_t kMaxFieldName = 30;
constexpr std::size_t kMaxDescription = 50;
constexpr std::size_t kMaxCheckText = 50;  // default, minimum, maximum
constexpr std::size_t kMaxIndexName = 30;
constexpr std::size_t kMaxPassword = 255;
constexpr std::size_t kMaxFields = 1024;
constexpr std::size_t kMaxTableName = 59;

struct FieldDef {
  std::uint16_t number = 0;  // 1-based, in column order
  std::string name;
  std::string description;
  std::uint8_t type = 0;
  std::uint8_t subtype = 0;
  std::uint16_t size = 0;   // string and bytes fields: declared length
  std::uint16_t scale = 0;  // BCD fields
  std::uint8_t required = 0;
  std::uint8_t char_case = kCaseNoChange;
  std::string default_value, min_value, max_value;

  bool operator==(const FieldDef&) const = default;
};

struct IndexDef {
  std::string name;  // empty for the primary index
  std::uint8_t descending = 0;
  std::uint8_t case_insensitive = 0;
  std::uint8_t unique = 0;
  std::uint8_t compression = kCompressNone;
  std::vector<std::uint16_t> fields;  // field numbers, in key order

  bool operator==(const IndexDef&) const = default;
};

struct TableDef {
  std::string name;
  bool in_memory = false;
  std::vector<FieldDef> fields;
  // indexes[0] is the primary index; with no primary key it has no fields.
  std::vector<IndexDef> indexes;
  std::string description;
  // Wider than the stored 16 bits so that an out-of-range size reaches the
  // create operation, which refuses it, instead of wrapping.
  std::uint32_t blob_block_size = 64;
  std::uint16_t language = 0;
  std::uint16_t sort = 0;
  bool encrypted = false;
  std::string password;
  std::uint16_t user_major = 1;
  std::uint16_t user_minor = 0;

  bool operator==(const TableDef&) const = default;
};

}  // namespace vandrel::engine
