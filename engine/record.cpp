// Record pins and field values.
#include "engine/record.h"

#include <cstring>

#include "engine/data_file.h"
#include "engine/record_codec.h"

namespace vandrel::engine {

void TRecord::MarkDirty() { file_->MarkDirty(this); }

TPinnedRecord::TPinnedRecord(TRecord* record) : record_(record) {
  if (record_ != nullptr) ++record_->pins;
}

TPinnedRecord& TPinnedRecord::operator=(TPinnedRecord&& other) noexcept {
  if (this != &other) {
    Release();
    record_ = other.record_;
    other.record_ = nullptr;
  }
  return *this;
}

void TPinnedRecord::Release() {
  if (record_ != nullptr && record_->pins > 0) --record_->pins;
  record_ = nullptr;
}

namespace field {
namespace {

void Clear(std::uint8_t* record, const TFieldDesc& f) {
  if (f.IsAutoIncrement()) {
    std::memset(record + 5, 0, 4);
  } else {
    std::memset(record + f.offset, 0, f.stored_length + 1u);
  }
}

std::uint8_t* Data(std::uint8_t* record, const TFieldDesc& f) {
  return f.IsAutoIncrement() ? record + 5 : record + f.offset + 1;
}
const std::uint8_t* Data(const std::uint8_t* record, const TFieldDesc& f) {
  return f.IsAutoIncrement() ? record + 5 : record + f.offset + 1;
}

}  // namespace

bool IsNull(const std::uint8_t* record, const TFieldDesc& f) {
  return !f.IsAutoIncrement() && record[f.offset] == 0;
}

void SetNull(std::uint8_t* record, const TFieldDesc& f) { Clear(record, f); }

void SetString(std::uint8_t* record, const TFieldDesc& f, std::string_view text) {
  Clear(record, f);
  if (const auto z = text.find('\0'); z != std::string_view::npos) text = text.substr(0, z);
  if (text.size() > f.size) text = text.substr(0, f.size);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty()) return;
  record[f.offset] = 1;
  std::memcpy(record + f.offset + 1, text.data(), text.size());
}

std::string GetString(const std::uint8_t* record, const TFieldDesc& f) {
  if (IsNull(record, f)) return {};
  const auto* p = reinterpret_cast<const char*>(record + f.offset + 1);
  return std::string(p, strnlen(p, f.stored_length));
}

void SetBytes(std::uint8_t* record, const TFieldDesc& f, const std::uint8_t* bytes, std::size_t n) {
  Clear(record, f);
  if (!f.IsAutoIncrement()) record[f.offset] = 1;
  std::memcpy(Data(record, f), bytes, n < f.stored_length ? n : f.stored_length);
}

void SetInt32(std::uint8_t* record, const TFieldDesc& f, std::int32_t v) {
  std::uint8_t b[4];
  StoreI32(b, v);
  SetBytes(record, f, b, 4);
}

std::int32_t GetInt32(const std::uint8_t* record, const TFieldDesc& f) {
  return IsNull(record, f) ? 0 : LoadI32(Data(record, f));
}

void SetDouble(std::uint8_t* record, const TFieldDesc& f, double v) {
  std::uint8_t b[8];
  StoreDouble(b, v);
  SetBytes(record, f, b, 8);
}

void SetBlobRef(std::uint8_t* record, const TFieldDesc& f, std::uint32_t first_block) {
  Clear(record, f);
  if (first_block == 0) return;
  record[f.offset] = 1;
  StoreU32(record + f.offset + 1, first_block);
}

std::uint32_t GetBlobRef(const std::uint8_t* record, const TFieldDesc& f) {
  return record[f.offset] == 0 ? 0 : LoadU32(record + f.offset + 1);
}

}  // namespace field
}  // namespace vandrel::engine
