// Table cursors: navigation, key search, editing and field access.
#include "engine/data_cursor.h"

#include <cstring>

#include "engine/data_directory.h"
#include "engine/engine_error.h"
#include "engine/record.h"
#include "platform/exceptions.h"

namespace vandrel::engine {
namespace {

std::string UpperAscii(std::string_view s) {
  std::string r(s);
  for (char& c : r) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return r;
}

std::string Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return std::string(s);
}

}  // namespace

TDataCursor::~TDataCursor() {
  try {
    Close();
  } catch (...) {
  }
}

void TDataCursor::Fail(int code) const {
  RaiseEngineError(code, table_ != nullptr ? table_->Name() : std::string());
}

TDataTable& TDataCursor::Table() const {
  if (table_ == nullptr) RaiseEngineError(kInvalidFileHandle);
  return *table_;
}

void TDataCursor::CheckOpen() const { Table(); }

void TDataCursor::Open(const std::string& table, bool exclusive, bool read_only) {
  if (table_ != nullptr) Fail(kTableInUse);
  table_ = &dir_->AcquireTable(table, exclusive, read_only);
  slot_ = table_->Index().HasIndex(kPrimarySlot) ? kPrimarySlot : kSystemSlot;
  state_ = kBrowse;
  eof_ = bof_ = true;
  rec_no_ = 0;
  key_.clear();
  buffer_.clear();
  pos_generation_ = 0;
}

void TDataCursor::Close() {
  if (table_ == nullptr) return;
  state_ = kBrowse;
  blobs_.clear();
  changed_blobs_.clear();
  TDataTable* t = table_;
  table_ = nullptr;
  rec_no_ = 0;
  dir_->ReleaseTable(*t);
}

void TDataCursor::SetIndexFieldNames(const std::string& names) {
  CheckOpen();
  TIndexFile& index = table_->Index();
  if (Trim(names).empty()) {
    slot_ = index.HasIndex(kPrimarySlot) ? kPrimarySlot : kSystemSlot;
  } else {
    std::vector<std::string> wanted;
    std::size_t start = 0;
    for (;;) {
      const std::size_t semi = names.find(';', start);
      wanted.push_back(UpperAscii(Trim(names.substr(start, semi - start))));
      if (semi == std::string::npos) break;
      start = semi + 1;
    }
    bool found = false;
    for (std::size_t s = 0; s < kSystemSlot && !found; ++s) {
      if (!index.HasIndex(s) || index.desc(s).fields.size() != wanted.size()) continue;
      bool same = true;
      for (std::size_t k = 0; k < wanted.size() && same; ++k) {
        const std::uint16_t n = index.desc(s).fields[k];
        same = n >= 1 && n <= FieldCount() && UpperAscii(Field(n - 1).name) == wanted[k];
      }
      if (same) {
        slot_ = s;
        found = true;
      }
    }
    if (!found) {
      TEngineErrorInfo info;
      info.code = kInvalidField;
      info.table = table_->Name();
      info.field = names;
      RaiseEngineError(info);
    }
  }
  pos_generation_ = 0;
  if (rec_no_ != 0) key_ = table_->Index().BuildKey(slot_, buffer_.data());
}

bool TDataCursor::Active(const TIndexPos& pos) {
  if (!pos.valid()) return false;
  if (slot_ != kSystemSlot) return true;
  return table_->Index().KeyAt(slot_, pos)[0] == 0;
}

void TDataCursor::Load(const TIndexPos& pos) {
  TIndexFile& index = table_->Index();
  const std::uint8_t* key = index.KeyAt(slot_, pos);
  key_.assign(key, key + index.desc(slot_).key_length);
  if (slot_ == kSystemSlot) key_.assign(key, key + 5);
  rec_no_ = index.RecordAt(slot_, pos);
  TPinnedRecord r = table_->Data().GetRecord(rec_no_);
  buffer_.assign(r->data(), r->data() + r->size());
  pos_ = pos;
  pos_generation_ = table_->Generation();
  blobs_.clear();
  changed_blobs_.clear();
}

// Finds the current record's entry again after changes; false when it is
// gone (pos_ then holds the first entry after its key, or none).
bool TDataCursor::Locate() {
  if (rec_no_ == 0) return false;
  if (pos_generation_ == table_->Generation() && pos_.valid()) return true;
  TIndexFile& index = table_->Index();
  pos_ = index.Locate(slot_, key_.data(), rec_no_);
  pos_generation_ = table_->Generation();
  if (pos_.valid()) return true;
  pos_ = index.Find(slot_, key_.data(), key_.size());
  pos_generation_ = 0;
  return false;
}

bool TDataCursor::First() {
  CheckOpen();
  table_->Refresh();
  const TIndexPos p = table_->Index().First(slot_);
  bof_ = true;
  if (!Active(p)) {
    rec_no_ = 0;
    eof_ = true;
    return false;
  }
  Load(p);
  eof_ = false;
  return true;
}

bool TDataCursor::Last() {
  CheckOpen();
  table_->Refresh();
  TIndexFile& index = table_->Index();
  TIndexPos p = index.Last(slot_);
  while (p.valid() && !Active(p)) {
    if (!index.Prior(slot_, p)) break;
  }
  eof_ = true;
  if (!Active(p)) {
    rec_no_ = 0;
    bof_ = true;
    return false;
  }
  Load(p);
  bof_ = false;
  return true;
}

bool TDataCursor::Next() {
  CheckOpen();
  if (state_ != kBrowse) Post();
  table_->Refresh();
  if (rec_no_ == 0) return First();
  TIndexPos p;
  if (Locate()) {
    p = pos_;
    if (!table_->Index().Next(slot_, p)) p = TIndexPos{};
  } else {
    p = pos_;  // the record is gone: the entry after its key is next
  }
  if (!Active(p)) {
    eof_ = true;
    return false;
  }
  Load(p);
  bof_ = eof_ = false;
  return true;
}

bool TDataCursor::Prior() {
  CheckOpen();
  if (state_ != kBrowse) Post();
  table_->Refresh();
  if (rec_no_ == 0) return Last();
  TIndexPos p;
  if (Locate()) {
    p = pos_;
  } else if (!pos_.valid()) {
    return Last();
  } else {
    p = pos_;
  }
  if (!table_->Index().Prior(slot_, p) || !Active(p)) {
    bof_ = true;
    return false;
  }
  Load(p);
  bof_ = eof_ = false;
  return true;
}

std::vector<std::uint8_t> TDataCursor::SearchKey(const std::vector<std::string>& values,
                                                 std::size_t* len) {
  TIndexFile& index = table_->Index();
  const TIndexDesc& desc = index.desc(slot_);
  if (slot_ == kSystemSlot || values.empty() || values.size() > desc.fields.size()) {
    Fail(kInvalidKeySize);
  }
  std::vector<std::uint8_t> rec(table_->Data().record_size(), 0);
  *len = 0;
  for (std::size_t k = 0; k < values.size(); ++k) {
    const TFieldDesc& f = Field(desc.fields[k] - 1u);
    if (f.type == kTypeString) {
      field::SetString(rec.data(), f, values[k]);
    } else {
      field::SetBytes(rec.data(), f, reinterpret_cast<const std::uint8_t*>(values[k].data()),
                      values[k].size());
    }
    *len += StoredLength(f.type, f.size) + 1u;
  }
  return index.BuildKey(slot_, rec.data());
}

bool TDataCursor::FindKey(const std::vector<std::string>& values) {
  CheckOpen();
  table_->Refresh();
  std::size_t len = 0;
  const auto key = SearchKey(values, &len);
  TIndexFile& index = table_->Index();
  const TIndexPos p = index.Find(slot_, key.data(), len);
  if (!p.valid() || index.layout(slot_).Compare(index.KeyAt(slot_, p), key.data(), len) != 0) {
    return false;
  }
  Load(p);
  bof_ = eof_ = false;
  return true;
}

void TDataCursor::FindNearest(const std::vector<std::string>& values) {
  CheckOpen();
  table_->Refresh();
  std::size_t len = 0;
  const auto key = SearchKey(values, &len);
  const TIndexPos p = table_->Index().Find(slot_, key.data(), len);
  if (!p.valid()) {
    Last();
    return;
  }
  Load(p);
  bof_ = eof_ = false;
}

std::uint64_t TDataCursor::RecordCount() {
  CheckOpen();
  table_->Refresh();
  TIndexFile& index = table_->Index();
  if (slot_ != kSystemSlot) return index.KeyCount(slot_);
  const std::uint8_t deleted[5] = {1, 0, 0, 0, 0};
  const TIndexPos p = index.Find(slot_, deleted, 1);
  if (!p.valid()) return index.KeyCount(slot_);
  std::vector<std::uint8_t> k(index.KeyAt(slot_, p), index.KeyAt(slot_, p) + 5);
  return index.KeyPosition(slot_, k.data(), index.RecordAt(slot_, p));
}

std::uint64_t TDataCursor::RecNo() {
  CheckOpen();
  if (rec_no_ == 0 || state_ == kInsert) return 0;
  table_->Refresh();
  if (!Locate()) return 0;
  return table_->Index().KeyPosition(slot_, key_.data(), rec_no_) + 1;
}

void TDataCursor::CheckCurrent() const {
  CheckOpen();
  if (rec_no_ == 0) Fail(eof_ && !bof_ ? kEndOfFile : kNoCurrentRecord);
}

void TDataCursor::CheckEditing() const {
  CheckOpen();
  if (state_ == kBrowse) throw Exception("Dataset not in edit or insert mode");
}

void TDataCursor::Insert() {
  CheckOpen();
  if (state_ != kBrowse) Post();
  if (table_->ReadOnly()) Fail(kAccessDenied);
  stored_ = buffer_;
  buffer_.assign(table_->Data().record_size(), 0);
  blobs_.clear();
  changed_blobs_.clear();
  state_ = kInsert;
}

void TDataCursor::Edit() {
  CheckOpen();
  if (state_ == kEdit) return;
  if (state_ == kInsert) Post();
  CheckCurrent();
  if (table_->ReadOnly()) Fail(kAccessDenied);
  table_->Refresh();
  TPinnedRecord r = table_->Data().GetRecord(rec_no_);
  if (r->deleted() || std::memcmp(r->data(), buffer_.data(), buffer_.size()) != 0) {
    Fail(kRecordChanged);
  }
  stored_ = buffer_;
  state_ = kEdit;
}

void TDataCursor::Post() {
  CheckEditing();
  if (state_ == kInsert) {
    std::vector<std::uint8_t> rec = buffer_;
    const std::uint32_t n = table_->Insert(rec, changed_blobs_);
    buffer_ = std::move(rec);
    rec_no_ = n;
  } else {
    std::vector<std::uint8_t> rec = buffer_;
    table_->Update(rec_no_, stored_, rec, changed_blobs_);
    buffer_ = std::move(rec);
  }
  for (auto& [i, v] : changed_blobs_) blobs_[i] = std::move(v);
  changed_blobs_.clear();
  key_ = table_->Index().BuildKey(slot_, buffer_.data());
  if (slot_ == kSystemSlot) key_.resize(5);
  pos_generation_ = 0;
  state_ = kBrowse;
  bof_ = eof_ = false;
}

void TDataCursor::Reload() {
  if (rec_no_ == 0) {
    buffer_.clear();
    return;
  }
  TPinnedRecord r = table_->Data().GetRecord(rec_no_);
  buffer_.assign(r->data(), r->data() + r->size());
}

void TDataCursor::Cancel() {
  CheckOpen();
  if (state_ == kBrowse) return;
  state_ = kBrowse;
  changed_blobs_.clear();
  if (rec_no_ != 0) buffer_ = stored_;
}

void TDataCursor::Delete() {
  CheckOpen();
  if (state_ == kInsert) {
    Cancel();
    return;
  }
  if (state_ == kEdit) Cancel();
  CheckCurrent();
  table_->Delete(rec_no_, buffer_);
  blobs_.clear();
  // The record after it becomes current; none: the one before.
  pos_generation_ = 0;
  Locate();
  if (Active(pos_)) {
    Load(pos_);
    return;
  }
  rec_no_ = 0;
  if (!Last()) eof_ = bof_ = true;
}

void TDataCursor::EmptyTable() {
  CheckOpen();
  if (state_ != kBrowse) Cancel();
  table_->Empty();
  rec_no_ = 0;
  buffer_.clear();
  key_.clear();
  blobs_.clear();
  eof_ = bof_ = true;
}

std::size_t TDataCursor::FieldCount() const { return Table().Fields().size(); }

const TFieldDesc& TDataCursor::Field(std::size_t i) const {
  const auto& fields = Table().Fields();
  if (i >= fields.size()) {
    TEngineErrorInfo info;
    info.code = kInvalidField;
    info.table = table_->Name();
    info.field = std::to_string(i);
    RaiseEngineError(info);
  }
  return fields[i];
}

std::vector<std::uint8_t>& TDataCursor::BlobValue(std::size_t i) {
  if (auto c = changed_blobs_.find(i); c != changed_blobs_.end()) return c->second;
  if (auto b = blobs_.find(i); b != blobs_.end()) return b->second;
  std::vector<std::uint8_t> v;
  if (rec_no_ != 0 && state_ != kInsert) v = table_->LoadBlob(rec_no_, buffer_.data(), i);
  return blobs_[i] = std::move(v);
}

std::string TDataCursor::GetField(std::size_t i) {
  const TFieldDesc& f = Field(i);
  if (buffer_.empty()) CheckCurrent();
  if (f.type == kTypeBlob) {
    const auto& v = BlobValue(i);
    return std::string(v.begin(), v.end());
  }
  if (f.type == kTypeString) return field::GetString(buffer_.data(), f);
  if (!f.IsAutoIncrement() && field::IsNull(buffer_.data(), f)) return {};
  const std::size_t at = f.IsAutoIncrement() ? 5 : f.offset + 1u;
  return std::string(reinterpret_cast<const char*>(buffer_.data() + at), f.stored_length);
}

bool TDataCursor::IsNull(std::size_t i) {
  const TFieldDesc& f = Field(i);
  if (buffer_.empty()) CheckCurrent();
  if (f.type == kTypeBlob) return BlobValue(i).empty();
  return !f.IsAutoIncrement() && field::IsNull(buffer_.data(), f);
}

void TDataCursor::SetField(std::size_t i, std::string_view bytes) {
  CheckEditing();
  const TFieldDesc& f = Field(i);
  if (f.type == kTypeBlob) {
    changed_blobs_[i].assign(bytes.begin(), bytes.end());
    return;
  }
  if (f.type == kTypeString) {
    field::SetString(buffer_.data(), f, bytes);
  } else if (bytes.empty()) {
    field::SetNull(buffer_.data(), f);
  } else {
    field::SetBytes(buffer_.data(), f, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                    bytes.size());
  }
}

std::string TDataCursor::BlobRead(std::size_t i, std::size_t offset, std::size_t count) {
  if (Field(i).type != kTypeBlob) Fail(kInvalidBlobField);
  const auto& v = BlobValue(i);
  if (offset > v.size()) Fail(kInvalidBlobOffset);
  count = std::min(count, v.size() - offset);
  return std::string(reinterpret_cast<const char*>(v.data()) + offset, count);
}

void TDataCursor::BlobWrite(std::size_t i, std::size_t offset, std::string_view bytes) {
  CheckEditing();
  if (Field(i).type != kTypeBlob) Fail(kInvalidBlobField);
  std::vector<std::uint8_t> v = BlobValue(i);
  if (offset > v.size()) Fail(kInvalidBlobOffset);
  if (offset + bytes.size() > v.size()) v.resize(offset + bytes.size());
  std::memcpy(v.data() + offset, bytes.data(), bytes.size());
  changed_blobs_[i] = std::move(v);
}

void TDataCursor::BlobTruncate(std::size_t i, std::size_t size) {
  CheckEditing();
  if (Field(i).type != kTypeBlob) Fail(kInvalidBlobField);
  std::vector<std::uint8_t> v = BlobValue(i);
  if (size > v.size()) Fail(kInvalidBlobLength);
  v.resize(size);
  changed_blobs_[i] = std::move(v);
}

std::uint16_t TDataCursor::LanguageId() const { return Table().Data().header().locale; }
std::uint16_t TDataCursor::SortId() const { return Table().Data().header().sort; }

}  // namespace vandrel::engine
