// TDataDirectory: one database of a session: the in-memory database or a
// base container (a folder means its "Database.tmp"), with the tables of
// the session open in it. It creates tables (exclusively, never over an
// existing one) and shares an open table between the cursors of its
// session; a table opened exclusively is not shared.
//
// Engine file names of a table: "<container path>\<table>.DAT" (".IDX",
// ".BLB"); in memory "<table>.DAT". Table names are 1 to 59 characters
// without '\', '/', ':' or NUL (longer names would collide in the
// container's 63-character inner names).
#pragma once

#include <map>
#include <memory>
#include <string>

#include "engine/table_definition.h"

namespace vandrel::engine {

class TDataSession;
class TDataTable;

class TDataDirectory {
 public:
  // name as the caller gave it; the session resolves the path.
  TDataDirectory(TDataSession& session, std::string name);
  ~TDataDirectory();
  TDataDirectory(const TDataDirectory&) = delete;
  TDataDirectory& operator=(const TDataDirectory&) = delete;

  TDataSession& Session() const { return *session_; }
  const std::string& Name() const { return name_; }
  bool InMemory() const { return in_memory_; }
  // The engine file name of a table without extension.
  std::string FileBase(const std::string& table) const;

  // Creates the three files of a new table (the BLOB file only when it has
  // BLOB fields) and closes them: 11010 bad name, 13060 existing table,
  // 9492 no fields or too many, 10023 a key field that is no field, 10015
  // bad password, 15878 unknown locale, 9498 bad block size. A failed
  // create leaves no file behind.
  void CreateTable(const TableDef& def);
  bool TableExists(const std::string& table) const;
  // Deletes the table's files: 11013 while open in this directory.
  void DeleteTable(const std::string& table);
  // Renames the table's files: 11010 for a bad name or an absent table,
  // 13060 when the new name is taken, 11013 while the table is open. A
  // failure part way renames back what was renamed.
  void RenameTable(const std::string& table, const std::string& new_name);

  // Opens the table or shares its open object; 11013 when either side is
  // exclusive. The table lives until its last ReleaseTable.
  TDataTable& AcquireTable(const std::string& table, bool exclusive, bool read_only);
  void ReleaseTable(TDataTable& table);
  std::size_t OpenTableCount() const { return tables_.size(); }

 private:
  TDataSession* session_;
  std::string name_;
  std::string path_;  // container path with trailing '\', or "" in memory
  bool in_memory_ = false;
  std::map<std::string, std::unique_ptr<TDataTable>> tables_;  // by upper-case name
};

// 0, or 11010 for a name that is empty, longer than 59 characters, or holds
// '\', '/', ':' or NUL.
bool ValidTableName(const std::string& name);

}  // namespace vandrel::engine
