// TEngineTable: one engine table as a component of the process-wide
// session: open and close by database and table name, records in the order
// of an index, moves, key search, inserts and edits, and fields by position
// as byte strings.
//
//   TEngineTable t;
//   t.DatabaseName = "Updates.tmp\\";  t.TableName = "Data";
//   t.IndexFieldNames = "Word";  t.Exclusive = true;
//   t.Open();                          // positioned on the first record
//   t.Insert(); t.SetFieldBytes(0, "word"); t.Post();
//   for (t.First(); !t.Eof(); t.Next()) use(t.FieldBytes(0));
//   t.Close();
//
// Eof is set once a move goes past the last record (or at once for an
// empty table); the current record then stays the last one. RecNo is the
// 1-based position in the index order, RecordCount the records in it. A
// Post that fails (a duplicate key: 9729) leaves the table in its insert or
// edit state until Cancel. Engine thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/data_cursor.h"

namespace vandrel::dataset {

class TEngineTable {
 public:
  TEngineTable() = default;
  virtual ~TEngineTable();
  TEngineTable(const TEngineTable&) = delete;
  TEngineTable& operator=(const TEngineTable&) = delete;

  std::string DatabaseName;
  std::string TableName;
  std::string IndexFieldNames;
  bool Exclusive = false;
  bool ReadOnly = false;

  void Open();
  void Close();
  bool Active() const { return cursor_ != nullptr; }

  void First();
  void Next();
  void Prior();
  void Last();
  bool Eof() const;
  bool Bof() const;
  std::uint64_t RecordCount();
  std::uint64_t RecNo();

  void Insert();
  void Edit();
  void Post();
  void Cancel();
  void Delete();
  engine::TDataCursor::State State() const;

  // Exact search on the current index's first field; true makes the
  // record current, false leaves the position.
  bool FindKey(std::string_view value);

  std::size_t FieldCount() const;
  std::string FieldName(std::size_t i) const;
  std::string FieldBytes(std::size_t i);
  void SetFieldBytes(std::size_t i, std::string_view bytes);

  std::uint16_t LanguageId() const;
  std::uint16_t SortId() const;

  // The open cursor (null when closed).
  engine::TDataCursor* Cursor() const { return cursor_.get(); }

 private:
  engine::TDataCursor& C() const;

  engine::TDataDirectory* dir_ = nullptr;
  std::unique_ptr<engine::TDataCursor> cursor_;
};

}  // namespace vandrel::dataset
