// TDataCursor: a position in one table along one index, the record it
// stands on, and the insert and edit buffers with their BLOB values.
//
// Order: the primary index, or the system index (record order, active
// records only) for a table without a primary key. Record count and record
// number count keys of that index: RecNo is the 1-based position of the
// current record; after a move past the last record Eof is set and the
// cursor stays on the last record (RecNo unchanged; 0 for an empty table).
//
// Editing: Insert and Edit fill a buffer; Post stores it through the table
// (all checks first); a failing Post (9729 for a duplicate key, 9732 ...)
// leaves the cursor in its insert or edit state until Cancel. BLOB fields
// are read whole on first use and written whole at Post.
//
// Ranges and filters narrow what navigation, key search and the record
// count see: a range keeps the keys between a start and an end over the
// first key fields given (either bound may be left open); filters are
// predicates over the record the cursor stands on (at most 32, each by its
// handle). Edit and Delete lock the record until Post or Cancel (10258
// when another session of the process holds it on an in-memory table).
//
// Lifetime: the cursor holds its directory and, while open, a share of its
// table; close it before the directory. Engine thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "engine/data_table.h"

namespace vandrel::engine {

class TDataDirectory;

class TDataCursor {
 public:
  enum State { kBrowse, kInsert, kEdit };

  explicit TDataCursor(TDataDirectory& dir) : dir_(&dir) {}
  ~TDataCursor();
  TDataCursor(const TDataCursor&) = delete;
  TDataCursor& operator=(const TDataCursor&) = delete;

  // 10031 when this cursor is open already; 11013 on a share conflict.
  void Open(const std::string& table, bool exclusive = false, bool read_only = false);
  // Cancels a pending insert or edit, then releases the table.
  void Close();
  bool IsOpen() const { return table_ != nullptr; }
  TDataTable& Table() const;

  // Orders by the index whose fields are these names (';'-separated,
  // case-insensitive); empty: the primary index, else record order. 9985
  // when no index has exactly these fields.
  void SetIndexFieldNames(const std::string& names);
  std::size_t IndexSlot() const { return slot_; }

  // Navigation; false when there is no such record (Eof / Bof set).
  bool First();
  bool Last();
  bool Next();
  bool Prior();
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  // Exact search over the first values.size() key fields (values in their
  // stored forms, strings as text); false leaves the cursor where it was.
  bool FindKey(const std::vector<std::string>& values);
  // The same over the first key field alone.
  bool FindKeyValue(std::string_view value);
  // The first record at or after the values; at none: the last record, Eof.
  void FindNearest(const std::vector<std::string>& values);
  // Keys from start to end (values as for FindKey, over the first fields of
  // the index; an empty list leaves that side open). The cursor moves to
  // the first record of the range.
  void SetRange(const std::vector<std::string>& start, const std::vector<std::string>& end);
  void CancelRange();
  bool HasRange() const { return range_start_len_ > 0 || range_end_len_ > 0; }

  // A predicate on the current record; true keeps the record visible. A
  // predicate that throws makes the navigation fail with 10051 and its
  // text. 9482 past 32 filters; 10050 for a handle not in use.
  using Filter = std::function<bool(TDataCursor&)>;
  int AddFilter(Filter f);
  void DropFilter(int handle);

  std::uint64_t RecordCount();
  std::uint64_t RecNo();
  // The current record's number in the data file (0: none).
  std::uint32_t RecordNumber() const { return rec_no_; }

  State state() const { return state_; }
  void Insert();
  void Edit();
  void Post();
  void Cancel();
  void Delete();
  // Empties the table (open exclusively); the cursor stands on nothing.
  void EmptyTable();

  std::size_t FieldCount() const;
  const TFieldDesc& Field(std::size_t i) const;
  // 0-based field position. Strings: the text (at most the size, up to a
  // zero byte); BLOBs: every byte; other types: the stored bytes, empty
  // when null.
  std::string GetField(std::size_t i);
  void SetField(std::size_t i, std::string_view bytes);
  bool IsNull(std::size_t i);
  // BLOB access at an offset of the field's value (held until Post).
  std::string BlobRead(std::size_t i, std::size_t offset, std::size_t count);
  void BlobWrite(std::size_t i, std::size_t offset, std::string_view bytes);
  void BlobTruncate(std::size_t i, std::size_t size);

  std::uint16_t LanguageId() const;
  std::uint16_t SortId() const;

 private:
  [[noreturn]] void Fail(int code) const;
  void CheckOpen() const;
  void CheckCurrent() const;
  void CheckEditing() const;
  bool Active(const TIndexPos& pos);
  // Where the entry at pos lies: -1 before the range, 0 inside, 1 after.
  int InRange(const TIndexPos& pos);
  // Loads pos; whether every filter keeps it.
  bool Accept(const TIndexPos& pos);
  // Moves from pos (forward or back) to the first accepted entry; false,
  // with the cursor as it was, when there is none.
  bool Seek(TIndexPos pos, bool forward);
  bool Filtered() const { return !filters_.empty(); }
  bool Narrowed() const { return HasRange() || Filtered(); }
  void ReleaseRecordLock();
  bool Locate();
  void Load(const TIndexPos& pos);
  void Reload();
  // The key of values into key_scratch_; *len: the bytes the values cover.
  const std::vector<std::uint8_t>& SearchKey(const std::string_view* values, std::size_t count,
                                             std::size_t* len);
  const std::vector<std::uint8_t>& SearchKey(const std::vector<std::string>& values,
                                             std::size_t* len);
  bool FindSearchKey(const std::vector<std::uint8_t>& key, std::size_t len);
  std::vector<std::uint8_t>& BlobValue(std::size_t i);

  TDataDirectory* dir_;
  TDataTable* table_ = nullptr;
  std::size_t slot_ = 0;
  State state_ = kBrowse;
  bool eof_ = true;
  bool bof_ = true;
  std::uint32_t rec_no_ = 0;
  std::vector<std::uint8_t> key_;     // the current record's key in slot_
  std::vector<std::uint8_t> buffer_;  // the current record, or the edit buffer
  std::vector<std::uint8_t> stored_;  // the record as read before Edit
  TIndexPos pos_;
  std::uint64_t pos_generation_ = 0;
  std::map<std::size_t, std::vector<std::uint8_t>> blobs_;  // loaded values
  TBlobValues changed_blobs_;                               // written values
  std::vector<std::uint8_t> range_start_, range_end_;
  std::size_t range_start_len_ = 0, range_end_len_ = 0;
  std::map<int, Filter> filters_;
  int next_filter_ = 1;
  std::uint32_t locked_record_ = 0;
  std::vector<std::uint8_t> record_scratch_, key_scratch_;  // of SearchKey
};

}  // namespace vandrel::engine
