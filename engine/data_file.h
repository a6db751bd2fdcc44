// TDataFile: the data file (".DAT") of a table: its header, the field
// descriptors and the fixed-size records, with the record cache, the
// free-record chain and auto-increment values.
//
// File layout (integers little-endian):
//
// | offset                   | length                           | content          |
// |--------------------------|----------------------------------|------------------|
// | 0                        | 127                              | header           |
// | 127                      | 768 × field count                | field descriptors|
// | 127 + 768 × field count  | record size × (next record - 1)  | records 1, 2, ...|
//
// Header (127 bytes):
//
// | offset | width | field                                                      |
// |--------|-------|------------------------------------------------------------|
// | 0      | i32   | change count, +1 at every header write                     |
// | 4      | i32   | BLOB block size (0 = 64; else 19 ... 65535)                |
// | 8      | 1     | version, 4                                                 |
// | 9      | i32   | first free record (head of the free chain), 0 = none       |
// | 13     | i32   | next record number (records + 1), at most 10^8             |
// | 17     | i32   | last auto-increment value                                  |
// | 21     | u16   | record size                                                |
// | 23     | u16   | field count (1 ... 1024)                                   |
// | 25     | u16   | BLOB field count (fields of type 3, at most 64)            |
// | 27     | 8     | last update: double, days from 1899-12-30 minus 693594     |
// | 35     | 51    | description: length byte + up to 50 characters             |
// | 86     | 1     | encrypted, 0 or 1                                          |
// | 87     | 16    | password: length byte + up to 15; empty unless encrypted   |
// | 103    | u16   | locale (language identifier), 0 = none (bytewise order)    |
// | 105    | u16   | sort identifier (0 ... 15)                                 |
// | 107    | u16   | user major version                                         |
// | 109    | u16   | user minor version                                         |
// | 111    | 1     | header changed (the in-memory flag at writing)             |
// | 112    | 4     | reserved, zero                                             |
// | 116    | 8     | engine version, 20800                                      |
// | 124    | 3     | reserved, zero                                             |
//
// Records and descriptors: record_layout.h. Encrypted tables store the
// description and password texts scrambled with the string seed, the
// descriptor area as one run and each record on its own with the record
// seed (record_scrambler.h).
//
// Lifetime: the owning table creates and frees its TDataFile; records handed
// out (TPinnedRecord) stay valid while pinned and until Close. The engine
// runs on the service's main thread only.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/file_handler.h"
#include "engine/record.h"
#include "engine/record_layout.h"

namespace vandrel::engine {

constexpr std::size_t kDataHeaderSize = 127;
constexpr std::uint8_t kFileVersion = 4;
constexpr std::int64_t kEngineVersion = 20800;
constexpr std::uint32_t kMaxRecordNumber = 100'000'000;
constexpr std::int64_t kMaxFileBytes = 2'000'000'000;
constexpr std::size_t kMaxPasswordLength = 15;

struct TDataHeader {
  std::int32_t change_count = 0;
  std::int32_t blob_block_size = 0;
  std::uint8_t version = kFileVersion;
  std::uint32_t first_free = 0;
  std::uint32_t next_record = 1;
  std::int32_t last_auto_increment = 0;
  std::uint16_t record_size = 0;
  std::uint16_t field_count = 0;
  std::uint16_t blob_field_count = 0;
  double last_update = 0;
  std::string description;
  bool encrypted = false;
  std::string password;
  std::uint16_t locale = 0;
  std::uint16_t sort = 0;
  std::uint16_t user_major = 0;
  std::uint16_t user_minor = 0;
  bool header_changed = false;
};

struct TDataCreateParams {
  std::uint16_t locale = 0;
  std::uint16_t sort = 0;
  std::vector<TFieldDesc> fields;  // offsets laid out (LayOutRecord)
  std::uint32_t blob_block_size = 64;
  std::string description;
  std::string password;
  bool encrypted = false;
  std::uint16_t user_major = 1;
  std::uint16_t user_minor = 0;
};

// 127 stored bytes of a header (texts unscrambled) and back; decoding checks
// nothing.
void EncodeDataHeader(const TDataHeader& h, std::uint8_t* out);
TDataHeader DecodeDataHeader(const std::uint8_t* in);
// The BLOB block size in effect (0 means 64).
inline std::uint32_t EffectiveBlockSize(std::int32_t stored) {
  return stored == 0 ? 64u : static_cast<std::uint32_t>(stored);
}
// 0, or 19 ... 65535.
inline bool ValidBlockSize(std::int64_t stored) {
  return stored == 0 || (stored >= 19 && stored <= 65535);
}

class TDataFile : public TFileHandler {
 public:
  // table: the name errors name.
  TDataFile(std::string table, bool in_memory = false);
  ~TDataFile() override;

  // Creates the file (name as for TFileHandler) and writes header and
  // descriptors: 9492 for 0 or more than 1024 fields, 9498 for more than 64
  // BLOB fields or an invalid block size, 9477 for a record above 65535
  // bytes.
  void CreateTable(const std::string& file_name, const TDataCreateParams& params);
  // Opens and checks the header and descriptors: 12035 wrong version,
  // 15878 unknown locale, 8961 any inconsistency.
  void OpenTable(const std::string& file_name, bool exclusive, bool read_only);
  // Writes every dirty record and the header, then closes.
  void CloseTable();

  const TDataHeader& header() const { return header_; }
  const std::vector<TFieldDesc>& fields() const { return fields_; }
  std::size_t record_size() const { return header_.record_size; }
  std::uint32_t record_count() const { return header_.next_record - 1; }
  std::uint32_t block_size() const { return EffectiveBlockSize(header_.blob_block_size); }
  std::uint32_t lcid() const;
  // File offset of record n.
  std::int64_t RecordOffset(std::uint32_t n) const;

  // The record of number n (1 ... records), pinned: 8962 for 0 or beyond
  // the last record.
  TPinnedRecord GetRecord(std::uint32_t n);
  // A new record for an insert: the head of the free chain unless
  // append_only, else a record appended at the end (9479 when full). It is
  // zeroed, active, holds its own number and, when asked, the next
  // auto-increment value, and is dirty. A free-chain head that is not a
  // deleted record with a link in range: 8962.
  TPinnedRecord AllocateRecord(bool append_only, bool auto_increment);
  // Marks record n deleted and makes it the head of the free chain.
  void DeleteRecord(std::uint32_t n);
  // Writes dirty records in runs of consecutive numbers.
  void WriteDirty();
  // Writes the header when forced or changed (change count + 1).
  void WriteHeader(bool force);
  // Re-reads the header; true (and takes it) when another writer changed it.
  bool HeaderChanged();
  // Next auto-increment value (after 2147483647 comes 1).
  std::int32_t NextAutoIncrement();
  void SetLastAutoIncrement(std::int32_t v);
  // Cuts every record: the table is empty.
  void Empty();
  // Writes dirty records and drops the cache.
  void FlushCache();
  // Drops every cached record, changed ones unwritten, and reads the header
  // again: the file as last written (a rollback).
  void DiscardChanges();
  // While held (a transaction), nothing is written to make room: the cache
  // grows instead.
  void HoldWrites(bool hold) { hold_writes_ = hold; }
  bool WritesHeld() const { return hold_writes_; }
  // Record cache capacity (records), for tests.
  void set_cache_capacity(std::size_t records) {
    cache_capacity_ = std::max<std::size_t>(records, 1);
  }
  std::size_t cached_records() const { return cache_.size(); }

  // Cache counters (tests, benchmarks).
  std::uint64_t cache_hits() const { return hits_; }
  std::uint64_t cache_reads() const { return reads_; }

 private:
  void CheckOpen(std::int64_t file_size);
  friend class TRecord;
  void MarkDirty(TRecord* r) { cache_.MarkDirty(r); }
  TRecord* Lookup(std::uint32_t n) { return cache_.Find(n); }
  std::unique_ptr<TRecord> NewCacheEntry();
  void Load(std::uint32_t n);
  void ReadHeader(TDataHeader& h);
  void WriteDescriptors();
  [[noreturn]] void Fail(int code) const;

  std::string table_;
  TDataHeader header_;
  std::vector<TFieldDesc> fields_;
  std::size_t cache_capacity_ = 0;
  std::size_t read_ahead_ = 1;
  TBufferCache<TRecord> cache_;
  bool hold_writes_ = false;
  std::uint32_t last_loaded_ = 0;  // first record of the last read
  std::uint64_t hits_ = 0;
  std::uint64_t reads_ = 0;
  bool header_dirty_ = false;
};

}  // namespace vandrel::engine
