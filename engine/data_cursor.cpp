// Table cursors: navigation, key search, editing and field access.
#include "engine/data_cursor.h"

#include <cstring>
#include <tuple>

#include "engine/data_directory.h"
#include "engine/engine_error.h"
#include "engine/engine_names.h"
#include "engine/record.h"
#include "platform/exceptions.h"

namespace vandrel::engine {
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
  ReleaseRecordLock();
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
  if (TrimBlanks(names).empty()) {
    slot_ = index.HasIndex(kPrimarySlot) ? kPrimarySlot : kSystemSlot;
  } else {
    std::vector<std::string> wanted;
    std::size_t start = 0;
    for (;;) {
      const std::size_t semi = names.find(';', start);
      wanted.push_back(UpperAscii(TrimBlanks(names.substr(start, semi - start))));
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
  TIndexFile& index = table_->Index();
  const TIndexPos p = range_start_len_ > 0
                          ? index.Find(slot_, range_start_.data(), range_start_len_)
                          : index.First(slot_);
  bof_ = true;
  if (Narrowed()) {
    eof_ = !Seek(p, true);
    if (eof_) rec_no_ = 0;
    return !eof_;
  }
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
  if (range_end_len_ > 0) {
    // The last key not above the end over its fields.
    const auto cmp = [&](const TIndexPos& q) {
      return index.layout(slot_).Compare(index.KeyAt(slot_, q), range_end_.data(), range_end_len_);
    };
    p = index.Find(slot_, range_end_.data(), range_end_len_);
    if (!p.valid()) {
      p = index.Last(slot_);
    } else if (cmp(p) > 0) {
      if (!index.Prior(slot_, p)) p = TIndexPos{};
    } else {
      for (TIndexPos q = p; index.Next(slot_, q) && cmp(q) == 0;) p = q;
    }
  }
  eof_ = true;
  if (Narrowed()) {
    bof_ = !Seek(p, false);
    if (bof_) rec_no_ = 0;
    return !bof_;
  }
  while (p.valid() && !Active(p)) {
    if (!index.Prior(slot_, p)) break;
  }
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
  if (Narrowed()) {
    if (!Seek(p, true)) {
      eof_ = true;
      return false;
    }
    bof_ = eof_ = false;
    return true;
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
  if (!table_->Index().Prior(slot_, p)) {
    bof_ = true;
    return false;
  }
  if (Narrowed() ? !Seek(p, false) : !Active(p)) {
    bof_ = true;
    return false;
  }
  if (!Narrowed()) Load(p);
  bof_ = eof_ = false;
  return true;
}

const std::vector<std::uint8_t>& TDataCursor::SearchKey(const std::string_view* values,
                                                        std::size_t count, std::size_t* len) {
  TIndexFile& index = table_->Index();
  const TIndexDesc& desc = index.desc(slot_);
  if (slot_ == kSystemSlot || count == 0 || count > desc.fields.size()) {
    Fail(kInvalidKeySize);
  }
  record_scratch_.assign(table_->Data().record_size(), 0);
  std::uint8_t* rec = record_scratch_.data();
  *len = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const TFieldDesc& f = Field(desc.fields[k] - 1u);
    if (f.type == kTypeString) {
      field::SetString(rec, f, values[k]);
    } else {
      field::SetBytes(rec, f, reinterpret_cast<const std::uint8_t*>(values[k].data()),
                      values[k].size());
    }
    *len += StoredLength(f.type, f.size) + 1u;
  }
  key_scratch_.resize(index.format(slot_).key_length);
  index.layout(slot_).BuildKey(rec, key_scratch_.data());
  return key_scratch_;
}

const std::vector<std::uint8_t>& TDataCursor::SearchKey(const std::vector<std::string>& values,
                                                        std::size_t* len) {
  std::vector<std::string_view> views(values.begin(), values.end());
  return SearchKey(views.data(), views.size(), len);
}

bool TDataCursor::FindKey(const std::vector<std::string>& values) {
  CheckOpen();
  table_->Refresh();
  std::size_t len = 0;
  const std::vector<std::uint8_t>& key = SearchKey(values, &len);
  return FindSearchKey(key, len);
}

bool TDataCursor::FindKeyValue(std::string_view value) {
  CheckOpen();
  table_->Refresh();
  std::size_t len = 0;
  const std::vector<std::uint8_t>& key = SearchKey(&value, 1, &len);
  return FindSearchKey(key, len);
}

bool TDataCursor::FindSearchKey(const std::vector<std::uint8_t>& key, std::size_t len) {
  TIndexFile& index = table_->Index();
  const TIndexPos p = index.Find(slot_, key.data(), len);
  if (!p.valid() || index.layout(slot_).Compare(index.KeyAt(slot_, p), key.data(), len) != 0) {
    return false;
  }
  if (Narrowed()) {
    // The first visible record with that key, else nothing moves. (Filters
    // may search too: the key is held apart.)
    const std::vector<std::uint8_t> held = key;
    const auto saved = std::make_tuple(rec_no_, key_, buffer_, pos_, pos_generation_);
    const auto saved_blobs = blobs_;
    if (Seek(p, true) &&
        index.layout(slot_).Compare(index.KeyAt(slot_, pos_), held.data(), len) == 0) {
      bof_ = eof_ = false;
      return true;
    }
    std::tie(rec_no_, key_, buffer_, pos_, pos_generation_) = saved;
    blobs_ = saved_blobs;
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
  const std::vector<std::uint8_t> key = SearchKey(values, &len);
  const TIndexPos p = table_->Index().Find(slot_, key.data(), len);
  if (!p.valid() || (Narrowed() && !Seek(p, true))) {
    Last();
    return;
  }
  if (!Narrowed()) Load(p);
  bof_ = eof_ = false;
}

std::uint64_t TDataCursor::RecordCount() {
  CheckOpen();
  table_->Refresh();
  TIndexFile& index = table_->Index();
  if (Narrowed()) {
    // Counted by a walk over the visible records; the cursor stays.
    const auto saved = std::make_tuple(rec_no_, key_, buffer_, pos_, pos_generation_, eof_, bof_);
    const auto saved_blobs = blobs_;
    std::uint64_t n = 0;
    for (bool ok = First(); ok; ok = Next()) ++n;
    std::tie(rec_no_, key_, buffer_, pos_, pos_generation_, eof_, bof_) = saved;
    blobs_ = saved_blobs;
    return n;
  }
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
  if (Narrowed()) {
    const auto saved = std::make_tuple(rec_no_, key_, buffer_, pos_, pos_generation_, eof_, bof_);
    const auto saved_blobs = blobs_;
    const std::uint32_t target = rec_no_;
    std::uint64_t n = 0, found = 0;
    for (bool ok = First(); ok; ok = Next()) {
      ++n;
      if (rec_no_ == target) {
        found = n;
        break;
      }
    }
    std::tie(rec_no_, key_, buffer_, pos_, pos_generation_, eof_, bof_) = saved;
    blobs_ = saved_blobs;
    return found;
  }
  return table_->Index().KeyPosition(slot_, key_.data(), rec_no_) + 1;
}

// ---- ranges and filters ----

int TDataCursor::InRange(const TIndexPos& pos) {
  TIndexFile& index = table_->Index();
  const std::uint8_t* key = index.KeyAt(slot_, pos);
  const TKeyLayout& k = index.layout(slot_);
  if (range_start_len_ > 0 && k.Compare(key, range_start_.data(), range_start_len_) < 0) return -1;
  if (range_end_len_ > 0 && k.Compare(key, range_end_.data(), range_end_len_) > 0) return 1;
  return 0;
}

bool TDataCursor::Accept(const TIndexPos& pos) {
  Load(pos);
  for (auto& [handle, f] : filters_) {
    bool keep;
    try {
      keep = f(*this);
    } catch (const EEngineError&) {
      throw;
    } catch (const std::exception& e) {
      TEngineErrorInfo info;
      info.code = kFilterError;
      info.table = table_->Name();
      info.extra = e.what();
      RaiseEngineError(info);
    }
    if (!keep) return false;
  }
  return true;
}

bool TDataCursor::Seek(TIndexPos p, bool forward) {
  const auto saved = std::make_tuple(rec_no_, key_, buffer_, pos_, pos_generation_);
  const auto saved_blobs = blobs_;
  TIndexFile& index = table_->Index();
  while (p.valid()) {
    if (Active(p)) {
      const int where = InRange(p);
      if (where == (forward ? 1 : -1)) break;  // past the range
      if (where == 0 && Accept(p)) return true;
    }
    if (!(forward ? index.Next(slot_, p) : index.Prior(slot_, p))) break;
  }
  std::tie(rec_no_, key_, buffer_, pos_, pos_generation_) = saved;
  blobs_ = saved_blobs;
  return false;
}

void TDataCursor::SetRange(const std::vector<std::string>& start,
                           const std::vector<std::string>& end) {
  CheckOpen();
  if (state_ != kBrowse) Post();
  range_start_len_ = range_end_len_ = 0;
  range_start_.clear();
  range_end_.clear();
  if (!start.empty()) range_start_ = SearchKey(start, &range_start_len_);
  if (!end.empty()) range_end_ = SearchKey(end, &range_end_len_);
  First();
}

void TDataCursor::CancelRange() {
  CheckOpen();
  range_start_len_ = range_end_len_ = 0;
  range_start_.clear();
  range_end_.clear();
}

int TDataCursor::AddFilter(Filter f) {
  CheckOpen();
  if (filters_.size() >= 32) Fail(kTooManyFilters);
  const int handle = next_filter_++;
  filters_.emplace(handle, std::move(f));
  return handle;
}

void TDataCursor::DropFilter(int handle) {
  CheckOpen();
  if (filters_.erase(handle) == 0) Fail(kInvalidFilterHandle);
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
  // The record lock first, then the record as stored must be the copy read.
  if (!table_->RecordLocked(rec_no_)) {
    table_->LockRecord(rec_no_);
    locked_record_ = rec_no_;
  }
  try {
    table_->Refresh();
    TPinnedRecord r = table_->Data().GetRecord(rec_no_);
    if (r->deleted() || std::memcmp(r->data(), buffer_.data(), buffer_.size()) != 0) {
      Fail(kRecordChanged);
    }
  } catch (...) {
    ReleaseRecordLock();
    throw;
  }
  stored_ = buffer_;
  state_ = kEdit;
}

void TDataCursor::ReleaseRecordLock() {
  if (locked_record_ == 0 || table_ == nullptr) return;
  const std::uint32_t n = locked_record_;
  locked_record_ = 0;
  if (table_->RecordLocked(n)) table_->UnlockRecord(n);
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
    ReleaseRecordLock();
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
  ReleaseRecordLock();
}

void TDataCursor::Delete() {
  CheckOpen();
  if (state_ == kInsert) {
    Cancel();
    return;
  }
  if (state_ == kEdit) Cancel();
  CheckCurrent();
  if (!table_->RecordLocked(rec_no_)) {
    table_->LockRecord(rec_no_);
    locked_record_ = rec_no_;
  }
  try {
    table_->Delete(rec_no_, buffer_);
  } catch (...) {
    ReleaseRecordLock();
    throw;
  }
  ReleaseRecordLock();
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
