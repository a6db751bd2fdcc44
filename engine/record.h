// TRecord: one record of a data file held in the file's record cache, and
// the field accessors that read and write its values in the stored forms of
// record_layout.h.
//
// A record belongs to its TDataFile, which creates, caches and frees it; a
// caller holds it only while it is pinned (TPinnedRecord), and must mark it
// dirty after changing its bytes so that the data file writes it back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/buffer_cache.h"
#include "engine/record_layout.h"

namespace vandrel::engine {

class TDataFile;

class TRecord : public TCachedBuffer {
 public:
  TRecord(TDataFile& file, std::size_t record_size) : file_(&file), bytes_(record_size, 0) {}
  TRecord(const TRecord&) = delete;
  TRecord& operator=(const TRecord&) = delete;

  std::uint32_t number() const { return key; }
  std::uint8_t* data() { return bytes_.data(); }
  const std::uint8_t* data() const { return bytes_.data(); }
  std::size_t size() const { return bytes_.size(); }
  // Has the data file write the record back.
  void MarkDirty();
  bool deleted() const { return bytes_[0] != 0; }

 private:
  friend class TDataFile;
  TDataFile* file_;
  std::vector<std::uint8_t> bytes_;
};

// Holds a pin on a cached record for its lifetime: the cache neither evicts
// nor reuses a pinned record.
class TPinnedRecord {
 public:
  TPinnedRecord() = default;
  explicit TPinnedRecord(TRecord* record);
  ~TPinnedRecord() { Release(); }
  TPinnedRecord(TPinnedRecord&& other) noexcept : record_(other.record_) {
    other.record_ = nullptr;
  }
  TPinnedRecord& operator=(TPinnedRecord&& other) noexcept;
  TPinnedRecord(const TPinnedRecord&) = delete;
  TPinnedRecord& operator=(const TPinnedRecord&) = delete;

  TRecord* operator->() const { return record_; }
  TRecord& operator*() const { return *record_; }
  TRecord* get() const { return record_; }
  void Release();

 private:
  TRecord* record_ = nullptr;
};

// Field values in a record buffer (bytes of record size). Writers clear the
// field's whole area first, so bytes a value does not use stay zero.
namespace field {

bool IsNull(const std::uint8_t* record, const TFieldDesc& f);
void SetNull(std::uint8_t* record, const TFieldDesc& f);
// Strings: trailing blanks removed, cut at the field size, empty = null.
void SetString(std::uint8_t* record, const TFieldDesc& f, std::string_view text);
std::string GetString(const std::uint8_t* record, const TFieldDesc& f);
// Fixed-width values of any other type: bytes are the stored form.
void SetBytes(std::uint8_t* record, const TFieldDesc& f, const std::uint8_t* bytes, std::size_t n);
void SetInt32(std::uint8_t* record, const TFieldDesc& f, std::int32_t v);
std::int32_t GetInt32(const std::uint8_t* record, const TFieldDesc& f);
void SetDouble(std::uint8_t* record, const TFieldDesc& f, double v);
// BLOB reference: first block offset (0 = none; indicator 1 exactly when
// non-zero).
void SetBlobRef(std::uint8_t* record, const TFieldDesc& f, std::uint32_t first_block);
std::uint32_t GetBlobRef(const std::uint8_t* record, const TFieldDesc& f);

}  // namespace field

}  // namespace vandrel::engine
