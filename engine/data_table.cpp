// Open tables: files, change detection, record changes and write-back.
#include "engine/data_table.h"

#include <cstring>

#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/engine_error.h"
#include "engine/record.h"

namespace vandrel::engine {
namespace {

std::string IndexName(const TIndexFile& index, std::size_t slot) {
  return slot == kPrimarySlot ? std::string("Primary") : index.desc(slot).name;
}

// Lock offsets (near 2 GiB: never bytes of a table file).
constexpr std::int64_t kTopByte = 0x7FFFFFFF;     // table lock; data part of the write lock
constexpr std::int64_t kWriteRange = 0x7FFF0000;  // index and BLOB part of the write lock
constexpr std::int64_t kWriteLength = 65535;
constexpr std::int64_t kRecordBase = 0x7FFFFFFE;  // record n at kRecordBase - n

}  // namespace

TDataTable::TDataTable(TDataDirectory& dir, std::string name, bool exclusive, bool read_only)
    : dir_(&dir),
      name_(std::move(name)),
      base_(dir.FileBase(name_)),
      exclusive_(exclusive),
      read_only_(read_only),
      data_(name_, dir.InMemory()),
      index_(name_, dir.InMemory()) {}

TDataTable::~TDataTable() {
  try {
    Close();
  } catch (...) {
  }
}

void TDataTable::Fail(int code) const { RaiseEngineError(code, name_); }

void TDataTable::Open() {
  const bool in_memory = dir_->InMemory();
  try {
    data_.OpenTable(base_ + ".DAT", exclusive_, read_only_);
    const TDataHeader& h = data_.header();
    if (!TFileHandler::Exists(base_ + ".IDX", in_memory)) {
      // A lost index file: a new, empty one, and no changes until repaired.
      TIndexFile fresh(name_, in_memory);
      fresh.CreateIndex(base_ + ".IDX", data_.fields(), data_.lcid(), h.encrypted);
      fresh.AddPrimaryIndex(TIndexDesc{});
      fresh.CloseIndex();
      index_rebuild_ = true;
      read_only_ = true;
    }
    index_.OpenIndex(base_ + ".IDX", data_.fields(), data_.lcid(), h.encrypted, exclusive_,
                     read_only_);
    if (h.blob_field_count > 0) {
      blob_ = std::make_unique<TBlobFile>(name_, in_memory);
      blob_->OpenBlob(base_ + ".BLB", static_cast<std::uint32_t>(h.blob_block_size), h.encrypted,
                      exclusive_, read_only_);
    }
    if (data_.IsReadOnly() || index_.IsReadOnly() || (blob_ && blob_->IsReadOnly())) {
      read_only_ = true;
    }
    if (h.encrypted && !dir_->Session().ObtainPassword(h.password, name_)) Fail(kPasswordRequired);
    open_ = true;
  } catch (...) {
    try {
      if (blob_ && blob_->IsOpen()) blob_->CloseBlob();
      if (index_.IsOpen()) index_.CloseIndex();
      if (data_.IsOpen()) data_.CloseTable();
    } catch (...) {
    }
    throw;
  }
}

void TDataTable::Close() {
  if (!open_) return;
  if (in_transaction_) {
    try {
      Rollback();
    } catch (...) {
    }
  }
  // Record and table locks go with the table.
  for (const std::uint32_t n : record_locks_) data_.UnlockRange(kRecordBase - n, 1);
  record_locks_.clear();
  if (table_locked_) data_.UnlockRange(kTopByte, 1);
  table_locked_ = false;
  open_ = false;
  // Closing writes what is still changed: an exclusive table's buffers.
  if (blob_) blob_->CloseBlob();
  index_.CloseIndex();
  data_.CloseTable();
}

void TDataTable::Flush(bool keys_first) {
  if (read_only_ || in_transaction_) return;
  const auto keys = [this] {
    index_.Flush();
    index_.WriteHeader(true);
  };
  const auto blobs = [this] {
    if (!blob_) return;
    blob_->WriteDirty();
    blob_->WriteHeader(true);
  };
  keys_first ? keys() : blobs();
  data_.WriteDirty();
  data_.WriteHeader(true);
  keys_first ? blobs() : keys();
}

void TDataTable::Refresh() {
  if (exclusive_ || in_transaction_) return;
  if (!Locks()) {
    ReadLockedRefresh();
    return;
  }
  // The read lock: one byte of the index file (and of the BLOB file) at a
  // random place below 2 GiB; a conflict is a write in progress elsewhere.
  const auto next_r = [this] {
    lock_seed_ = lock_seed_ * 1103515245u + 12345u;
    return static_cast<std::int64_t>((lock_seed_ >> 8) % 65535 + 1);
  };
  const std::int64_t ri = kTopByte - next_r();
  if (!index_.LockRange(ri, 1)) Fail(kLockFailure);
  std::int64_t rb = 0;
  if (blob_ && !blob_->LockRange(rb = kTopByte - next_r(), 1)) {
    index_.UnlockRange(ri, 1);
    Fail(kLockFailure);
  }
  try {
    ReadLockedRefresh();
  } catch (...) {
    index_.UnlockRange(ri, 1);
    if (blob_) blob_->UnlockRange(rb, 1);
    throw;
  }
  index_.UnlockRange(ri, 1);
  if (blob_) blob_->UnlockRange(rb, 1);
}

// Takes other sessions' changes: a changed index header drops the page
// cache and, with the data header, the record cache; a changed data or
// BLOB header alone drops its own cache.
void TDataTable::ReadLockedRefresh() {
  if (exclusive_ || in_transaction_) return;
  bool changed = false;
  if (index_.HeaderChanged()) {
    changed = true;
    data_.HeaderChanged();
    data_.FlushCache();
  } else if (data_.HeaderChanged()) {
    changed = true;
  }
  if (blob_ && blob_->HeaderChanged()) changed = true;
  if (changed) ++generation_;
}

void TDataTable::AfterChange(bool keys_first) {
  ++generation_;
  if (!exclusive_) Flush(keys_first);
}

// ---- locks ----

TDataTable::WriteLock::WriteLock(TDataTable& t) : t_(t) {
  if (!t.Locks()) return;
  if (!t.table_locked_) {
    if (!t.data_.LockRange(kTopByte, 1)) t.Fail(kLockFailure);
    data_ = true;
  }
  if (!t.index_.LockRange(kWriteRange, kWriteLength)) {
    Release();
    t.Fail(kLockFailure);
  }
  index_ = true;
  if (t.blob_) {
    if (!t.blob_->LockRange(kWriteRange, kWriteLength)) {
      Release();
      t.Fail(kLockFailure);
    }
    blob_ = true;
  }
}

void TDataTable::WriteLock::Release() {
  if (blob_) t_.blob_->UnlockRange(kWriteRange, kWriteLength);
  if (index_) t_.index_.UnlockRange(kWriteRange, kWriteLength);
  if (data_) t_.data_.UnlockRange(kTopByte, 1);
  blob_ = index_ = data_ = false;
}

void TDataTable::LockTable() {
  if (table_locked_) return;
  if (Locks() && !data_.LockRange(kTopByte, 1)) Fail(kTableLocked);
  table_locked_ = true;
}

void TDataTable::UnlockTable() {
  if (!table_locked_ || in_transaction_) Fail(kCannotUnlock);
  if (Locks() && !data_.UnlockRange(kTopByte, 1)) Fail(kCannotUnlock);
  table_locked_ = false;
}

void TDataTable::LockRecord(std::uint32_t n) {
  if (record_locks_.contains(n)) return;
  if (Locks() && !data_.LockRange(kRecordBase - n, 1)) Fail(kRecordInUse);
  record_locks_.insert(n);
}

void TDataTable::UnlockRecord(std::uint32_t n) {
  if (!record_locks_.contains(n)) Fail(kCannotUnlock);
  if (Locks() && !data_.UnlockRange(kRecordBase - n, 1)) Fail(kCannotUnlock);
  record_locks_.erase(n);
}

// ---- transactions ----

void TDataTable::HoldWrites(bool hold) {
  data_.HoldWrites(hold);
  index_.HoldWrites(hold);
  if (blob_) blob_->HoldWrites(hold);
}

void TDataTable::StartTransaction() {
  if (in_transaction_) Fail(kLockFailure);
  const bool had_table_lock = table_locked_;
  if (!had_table_lock) {
    try {
      LockTable();
    } catch (const EEngineError&) {
      Fail(kLockFailure);
    }
  }
  try {
    // Start from the files as they are: others' changes taken, this
    // table's own buffers written.
    Refresh();
    if (!read_only_) {
      data_.WriteDirty();
      data_.WriteHeader(false);
      index_.Flush();
      if (blob_) {
        blob_->WriteDirty();
        blob_->WriteHeader(false);
      }
    }
  } catch (...) {
    if (!had_table_lock) UnlockTable();
    throw;
  }
  in_transaction_ = true;
  transaction_took_lock_ = !had_table_lock;
  HoldWrites(true);
}

void TDataTable::Commit() {
  if (!in_transaction_) return;
  {
    WriteLock lock(*this);
    HoldWrites(false);
    in_transaction_ = false;
    try {
      Flush();
      // A commit reported done is on the disk: a refused flush is 9218.
      if (!dir_->Session().force_buffer_flush && !read_only_) {
        bool flushed = data_.File()->Flush() && index_.File()->Flush();
        if (blob_) flushed = blob_->File()->Flush() && flushed;
        if (!flushed) Fail(kWriteError);
      }
    } catch (...) {
      // What failed to reach the files stays changed; the transaction is
      // over either way.
      if (transaction_took_lock_) UnlockTable();
      throw;
    }
  }
  if (transaction_took_lock_) UnlockTable();
}

void TDataTable::Rollback() {
  if (!in_transaction_) return;
  in_transaction_ = false;
  HoldWrites(false);
  ++generation_;
  try {
    data_.DiscardChanges();
    index_.DiscardChanges();
    if (blob_) blob_->DiscardChanges();
  } catch (...) {
    if (transaction_took_lock_) UnlockTable();
    throw;
  }
  if (transaction_took_lock_) UnlockTable();
}

void TDataTable::CheckWritable() const {
  if (read_only_) Fail(kAccessDenied);
}

void TDataTable::CheckRequired(const std::vector<std::uint8_t>& rec) const {
  for (const TFieldDesc& f : data_.fields()) {
    if (!f.required || f.type == kTypeBlob || f.IsAutoIncrement()) continue;
    if (field::IsNull(rec.data(), f)) {
      TEngineErrorInfo info;
      info.code = kValueRequired;
      info.table = name_;
      info.field = f.name;
      RaiseEngineError(info);
    }
  }
}

bool TDataTable::KeyTaken(std::size_t slot, const std::vector<std::uint8_t>& key) {
  const TIndexPos p = index_.Find(slot, key.data(), key.size());
  return p.valid() &&
         index_.layout(slot).Compare(index_.KeyAt(slot, p), key.data(), key.size()) == 0;
}

std::uint32_t TDataTable::Insert(std::vector<std::uint8_t>& rec, const TBlobValues& blobs,
                                 bool supply_auto_increment) {
  CheckWritable();
  WriteLock lock(*this);
  ReadLockedRefresh();
  if (rec.size() != data_.record_size()) Fail(kRecordBuffersCorrupt);
  CheckRequired(rec);
  for (std::size_t s = 0; s < kSystemSlot; ++s) {
    if (!index_.HasIndex(s) || !index_.desc(s).unique) continue;
    if (KeyTaken(s, index_.BuildKey(s, rec.data()))) {
      TEngineErrorInfo info;
      info.code = kDuplicateKey;
      info.table = name_;
      info.index = IndexName(index_, s);
      RaiseEngineError(info);
    }
  }
  bool auto_increment = false;
  for (const TFieldDesc& f : data_.fields()) auto_increment = auto_increment || f.IsAutoIncrement();

  // A reused deleted record leaves the system index with its old key.
  std::vector<std::uint8_t> reused_key;
  const std::uint32_t reused = data_.header().first_free;
  if (reused != 0) {
    TPinnedRecord old = data_.GetRecord(reused);
    reused_key = index_.BuildKey(kSystemSlot, old->data());
  }
  TPinnedRecord r = data_.AllocateRecord(false, auto_increment && !supply_auto_increment);
  const std::uint32_t n = r->number();
  if (reused == n && !reused_key.empty()) index_.Delete(kSystemSlot, reused_key.data(), n);
  std::memcpy(r->data() + kRecordHeaderSize, rec.data() + kRecordHeaderSize,
              rec.size() - kRecordHeaderSize);
  if (supply_auto_increment) std::memcpy(r->data() + 5, rec.data() + 5, 4);

  // The record and its BLOB values first; keys only once both are stored.
  std::vector<std::pair<std::size_t, std::uint32_t>> saved;
  try {
    for (std::size_t i = 0; i < data_.fields().size(); ++i) {
      const TFieldDesc& f = data_.fields()[i];
      if (f.type != kTypeBlob) continue;
      field::SetBlobRef(r->data(), f, 0);
      const auto v = blobs.find(i);
      if (v == blobs.end() || v->second.empty() || !blob_) continue;
      const std::uint32_t first = blob_->Save(n, 0, v->second.data(), v->second.size());
      saved.emplace_back(i, first);
      field::SetBlobRef(r->data(), f, first);
    }
  } catch (...) {
    // Undo: free what was saved and give the record back as deleted.
    try {
      for (const auto& [i, first] : saved) blob_->Free(n, first);
      for (const auto& [i, first] : saved) field::SetBlobRef(r->data(), data_.fields()[i], 0);
      r->MarkDirty();
      r.Release();
      data_.DeleteRecord(n);
      TPinnedRecord d = data_.GetRecord(n);
      const auto sys = index_.BuildKey(kSystemSlot, d->data());
      index_.Insert(kSystemSlot, sys.data(), n);
    } catch (...) {
    }
    throw;
  }
  r->MarkDirty();
  for (std::size_t s = 0; s < kIndexSlots; ++s) {
    if (!index_.HasIndex(s)) continue;
    const auto key = index_.BuildKey(s, r->data());
    if (!index_.Insert(s, key.data(), n)) Fail(kIndexBuffersCorrupt);
  }
  std::memcpy(rec.data(), r->data(), rec.size());
  r.Release();
  AfterChange();
  return n;
}

void TDataTable::Update(std::uint32_t n, const std::vector<std::uint8_t>& old,
                        std::vector<std::uint8_t>& rec, const TBlobValues& blobs) {
  CheckWritable();
  WriteLock lock(*this);
  ReadLockedRefresh();
  if (rec.size() != data_.record_size() || old.size() != rec.size()) Fail(kRecordBuffersCorrupt);
  TPinnedRecord r = data_.GetRecord(n);
  if (r->deleted() || std::memcmp(r->data(), old.data(), old.size()) != 0) Fail(kRecordChanged);
  CheckRequired(rec);
  // Status and number stay; BLOB references are the stored ones.
  std::memcpy(rec.data(), r->data(), 5);
  for (const TFieldDesc& f : data_.fields()) {
    if (f.type == kTypeBlob) field::SetBlobRef(rec.data(), f, field::GetBlobRef(r->data(), f));
  }
  std::vector<std::vector<std::uint8_t>> old_keys(kIndexSlots), new_keys(kIndexSlots);
  for (std::size_t s = 0; s < kIndexSlots; ++s) {
    if (!index_.HasIndex(s)) continue;
    old_keys[s] = index_.BuildKey(s, r->data());
    new_keys[s] = index_.BuildKey(s, rec.data());
    if (old_keys[s] == new_keys[s]) continue;
    if (s != kSystemSlot && index_.desc(s).unique && KeyTaken(s, new_keys[s])) {
      TEngineErrorInfo info;
      info.code = kDuplicateKey;
      info.table = name_;
      info.index = IndexName(index_, s);
      RaiseEngineError(info);
    }
  }
  for (const auto& [i, value] : blobs) {
    if (i >= data_.fields().size() || !blob_) continue;
    const TFieldDesc& f = data_.fields()[i];
    const std::uint32_t first =
        blob_->Save(n, field::GetBlobRef(r->data(), f), value.data(), value.size());
    field::SetBlobRef(rec.data(), f, first);
    field::SetBlobRef(r->data(), f, first);
    r->MarkDirty();
  }
  std::memcpy(r->data() + 5, rec.data() + 5, rec.size() - 5);
  r->MarkDirty();
  for (std::size_t s = 0; s < kIndexSlots; ++s) {
    if (!index_.HasIndex(s) || old_keys[s] == new_keys[s]) continue;
    index_.Delete(s, old_keys[s].data(), n);
    if (!index_.Insert(s, new_keys[s].data(), n)) Fail(kIndexBuffersCorrupt);
  }
  r.Release();
  AfterChange();
}

void TDataTable::Delete(std::uint32_t n, const std::vector<std::uint8_t>& old) {
  CheckWritable();
  WriteLock lock(*this);
  ReadLockedRefresh();
  TPinnedRecord r = data_.GetRecord(n);
  if (r->deleted() || old.size() != r->size() ||
      std::memcmp(r->data(), old.data(), old.size()) != 0) {
    Fail(kRecordChanged);
  }
  for (std::size_t s = 0; s < kIndexSlots; ++s) {
    if (!index_.HasIndex(s)) continue;
    const auto key = index_.BuildKey(s, r->data());
    index_.Delete(s, key.data(), n);
  }
  for (const TFieldDesc& f : data_.fields()) {
    if (f.type != kTypeBlob) continue;
    const std::uint32_t first = field::GetBlobRef(r->data(), f);
    if (first != 0 && blob_) blob_->Free(n, first);
    field::SetBlobRef(r->data(), f, 0);
  }
  r->MarkDirty();
  r.Release();
  data_.DeleteRecord(n);
  TPinnedRecord d = data_.GetRecord(n);
  const auto sys = index_.BuildKey(kSystemSlot, d->data());
  index_.Insert(kSystemSlot, sys.data(), n);
  d.Release();
  AfterChange(true);
}

void TDataTable::Empty() {
  CheckWritable();
  if (!exclusive_) Fail(kMustBeExclusive);
  if (in_transaction_) Fail(kLockFailure);  // emptying cannot be rolled back
  data_.Empty();
  index_.Empty();
  if (blob_) blob_->Empty();
  AfterChange();
}

std::vector<std::uint8_t> TDataTable::LoadBlob(std::uint32_t n, const std::uint8_t* rec,
                                               std::size_t field) {
  if (field >= data_.fields().size() || data_.fields()[field].type != kTypeBlob || !blob_) {
    TEngineErrorInfo info;
    info.code = kInvalidBlobField;
    info.table = name_;
    info.field = std::to_string(field + 1);
    RaiseEngineError(info);
  }
  const std::uint32_t first = field::GetBlobRef(rec, data_.fields()[field]);
  if (first == 0) return {};
  return blob_->Load(n, first);
}

}  // namespace vandrel::engine
