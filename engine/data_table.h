// TDataTable: one open table: its data, index and BLOB files, the share
// mode, change detection across sessions, and the record changes every
// cursor goes through (insert, update, delete) with their checks and the
// write-back after them.
//
// Order of a change: all checks first (unique keys 9729, required fields
// 9732, unchanged stored record 8708), then the record and its BLOB
// values, then the keys, so that a failure before the keys leaves no key
// of a record that was never stored; a failing BLOB save undoes the record.
// A table not opened exclusively writes every changed buffer back after
// each change, with every header's change count raised, so that other
// sessions see it at their next refresh; an exclusive table keeps its
// buffers until it closes.
//
// A table whose index file is missing opens with a new, empty index file
// and stays read-only until repaired (11013 for any change).
//
// Locks: tables opened exclusively or read-only take none. Files inside a
// base container lock successfully always (one process owns a container);
// in-memory tables lock byte ranges of their memory files, shared by every
// session of the process, and a conflict fails at once (every holder is on
// this thread, so waiting could never end): a read lock (one byte of the
// index and BLOB files at 0x7FFFFFFF - r) around each refresh, the write
// lock (the data file's byte 0x7FFFFFFF and 65535 bytes at 0x7FFF0000 of
// the index and BLOB files) around each change, the table lock (the data
// file's byte 0x7FFFFFFF) and record locks (byte 0x7FFFFFFE - n).
//
// Transactions: StartTransaction takes the table lock (an exclusive table
// writes its buffers first); until Commit or Rollback nothing reaches the
// files: the caches hold every change and grow rather than write. Commit
// writes everything back and flushes the files to the disk; Rollback drops
// every changed buffer and reads the three headers again, leaving the
// table as it was at the start. A table closed inside a transaction rolls
// it back.
//
// Lifetime: owned by its TDataDirectory, shared by the cursors that
// acquired it. Engine thread only.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/blob_file.h"
#include "engine/data_file.h"
#include "engine/index_file.h"

namespace vandrel::engine {

class TDataDirectory;

// BLOB values a change stores, by field index (0-based).
using TBlobValues = std::map<std::size_t, std::vector<std::uint8_t>>;

class TDataTable {
 public:
  TDataTable(TDataDirectory& dir, std::string name, bool exclusive, bool read_only);
  ~TDataTable();
  TDataTable(const TDataTable&) = delete;
  TDataTable& operator=(const TDataTable&) = delete;

  // Opens the files; any failure closes what was opened.
  void Open();
  // Writes back (exclusive tables) and closes the files.
  void Close();

  const std::string& Name() const { return name_; }
  TDataDirectory& Directory() const { return *dir_; }
  bool Exclusive() const { return exclusive_; }
  bool ReadOnly() const { return read_only_; }
  bool IndexNeedsRebuild() const { return index_rebuild_; }
  int use_count = 0;

  TDataFile& Data() { return data_; }
  TIndexFile& Index() { return index_; }
  TBlobFile* Blob() { return blob_.get(); }
  const std::vector<TFieldDesc>& Fields() const { return data_.fields(); }

  // Raised by every change and by a refresh that found another writer's
  // change: positions taken under an older generation must be located
  // again.
  std::uint64_t Generation() const { return generation_; }
  // Takes other sessions' changes (a table not opened exclusively).
  void Refresh();

  // Inserts a new record from rec (record size bytes; its bytes 5-8 are
  // the auto-increment value when supply_auto_increment). Returns the
  // record number.
  std::uint32_t Insert(std::vector<std::uint8_t>& rec, const TBlobValues& blobs,
                       bool supply_auto_increment = false);
  // Replaces record n, which the caller read as old, by rec.
  void Update(std::uint32_t n, const std::vector<std::uint8_t>& old, std::vector<std::uint8_t>& rec,
              const TBlobValues& blobs);
  // Deletes record n, which the caller read as old.
  void Delete(std::uint32_t n, const std::vector<std::uint8_t>& old);
  // The stored BLOB value of a field of record n.
  std::vector<std::uint8_t> LoadBlob(std::uint32_t n, const std::uint8_t* rec, std::size_t field);

  // Empties all three files: 10253 unless the table is open exclusively.
  void Empty();

  // Writes every changed buffer (header change counts raised). Inside a
  // transaction nothing is written. BLOB blocks, then records reach the
  // files before the keys that lead to them; keys_first (after a delete)
  // writes the keys' removal first, then the records, then the blocks.
  void Flush(bool keys_first = false);

  // 10241 when another holder has the table locked.
  void LockTable();
  // 10242 when this table does not hold the table lock.
  void UnlockTable();
  bool TableLocked() const { return table_locked_; }
  // 10258 when another holder has record n locked; a record this table has
  // locked already is locked again without a new byte range.
  void LockRecord(std::uint32_t n);
  // 10242 when this table has not locked record n.
  void UnlockRecord(std::uint32_t n);
  bool RecordLocked(std::uint32_t n) const { return record_locks_.contains(n); }

  // 10249 when the table lock cannot be had (another session holds it, or
  // a transaction is already active here).
  void StartTransaction();
  void Commit();
  void Rollback();
  bool InTransaction() const { return in_transaction_; }

 private:
  // Holds the write lock for its lifetime (none when the table locks
  // nothing, or holds the table lock for the data file).
  class WriteLock {
   public:
    explicit WriteLock(TDataTable& t);
    ~WriteLock() { Release(); }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

   private:
    void Release();
    TDataTable& t_;
    bool data_ = false, index_ = false, blob_ = false;
  };

  bool Locks() const { return !exclusive_ && !read_only_; }
  void ReadLockedRefresh();
  void HoldWrites(bool hold);
  [[noreturn]] void Fail(int code) const;
  void CheckWritable() const;
  void CheckRequired(const std::vector<std::uint8_t>& rec) const;
  bool KeyTaken(std::size_t slot, const std::vector<std::uint8_t>& key);
  void AfterChange(bool keys_first = false);

  TDataDirectory* dir_;
  std::string name_;
  std::string base_;
  bool exclusive_;
  bool read_only_;
  bool index_rebuild_ = false;
  bool open_ = false;
  bool table_locked_ = false;
  bool in_transaction_ = false;
  bool transaction_took_lock_ = false;
  std::set<std::uint32_t> record_locks_;
  std::uint32_t lock_seed_ = 1;
  std::uint64_t generation_ = 1;
  TDataFile data_;
  TIndexFile index_;
  std::unique_ptr<TBlobFile> blob_;
};

}  // namespace vandrel::engine
