// TFileHandler: the engine-side view of one file of one table, base of the
// data, index and BLOB files. Every failure becomes an EEngineError naming
// the owning table.
//
// API in brief (what the table files call):
//   TFileHandler f;                        // or a derived table file
//   f.SetTableName("Data");                // the name used in messages
//   f.Create("/state/Updates.tmp\\DATA.DAT");      // empty file, exclusive
//   f.Open(name, {.read_only = false, .exclusive = true});   // 11010 if absent
//   f.WriteAt(0, header, sizeof header);   // 9218 when fewer bytes were written
//   f.ReadAt(0, header, sizeof header);    // 9217 when fewer bytes came back
//   f.ReadAt(pos, buf, n, /*allow_short=*/true) -> bytes read
//   f.Size();  f.Truncate(new_size);       // truncation has its own call
//   f.LockRange(offset, length) -> bool    // never raises
//   f.Flush();  f.Close();                 // the destructor closes quietly
//   TFileHandler::Exists(name) / DeleteFile(name, in_memory, table)
//
// Positions and sizes are 64-bit; a file inside a container holds at most
// 2^31 - 1 bytes (a write past that is 9218 with ERROR_DISK_FULL). A write
// of 0 bytes writes nothing. Engine thread only.
#pragma once

#include <cstdint>
#include <string>

#include "engine/file_list.h"
#include "platform/win_types.h"

namespace vandrel::engine {

struct TFileHandlerOptions {
  bool read_only = false;  // open for reading only
  bool exclusive = false;  // no other handle may be open
  bool temporary = false;  // memory files: dropped at the last close
  bool write_through = false;
  bool sequential = false;
};

class TFileHandler {
 public:
  explicit TFileHandler(bool in_memory = false) : in_memory_(in_memory) {}
  virtual ~TFileHandler();
  TFileHandler(const TFileHandler&) = delete;
  TFileHandler& operator=(const TFileHandler&) = delete;

  void SetTableName(std::string table) { table_ = std::move(table); }
  const std::string& TableName() const { return table_; }
  const std::string& FileName() const { return name_; }
  bool InMemory() const { return in_memory_; }
  bool IsOpen() const { return file_ != nullptr; }
  // The file turned out read-only, or was opened for reading only.
  bool IsReadOnly() const { return read_only_result_ || options_.read_only; }
  // The file object while open (owned by the file list).
  TAbstractFile* File() const { return file_; }

  virtual void Open(const std::string& name, const TFileHandlerOptions& options = {});
  virtual void Create(const std::string& name, const TFileHandlerOptions& options = {});
  virtual void Close();
  // Deletes the file this handler names (closing it first).
  virtual void Delete();
  virtual void Rename(const std::string& new_name);
  // Copies the whole file into a newly created file (of the given kind).
  void CopyTo(const std::string& new_name, bool to_memory);
  virtual void Flush();

  std::int64_t Size();
  std::int64_t Seek(std::int64_t offset, int origin);
  std::int64_t Read(void* buffer, std::int64_t count, bool allow_short = false);
  void Write(const void* buffer, std::int64_t count);
  std::int64_t ReadAt(std::int64_t offset, void* buffer, std::int64_t count,
                      bool allow_short = false);
  void WriteAt(std::int64_t offset, const void* buffer, std::int64_t count);
  // Cuts or extends (with zeros) the file to size.
  void Truncate(std::int64_t size);
  bool LockRange(std::int64_t offset, std::int64_t length);
  bool UnlockRange(std::int64_t offset, std::int64_t length);

  static bool Exists(const std::string& name, bool in_memory = false);
  static void DeleteFile(const std::string& name, bool in_memory, const std::string& table);

 protected:
  [[noreturn]] void Raise(int code, win::DWORD os_error = 0) const;
  void RequireOpen() const;

 private:
  bool in_memory_;
  std::string table_;
  std::string name_;
  TAbstractFile* file_ = nullptr;
  int handle_ = 0;
  TFileHandlerOptions options_;
  bool read_only_result_ = false;
};

}  // namespace vandrel::engine
