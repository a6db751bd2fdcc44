// TVirtualFile: an engine file that lives inside a base container. Every
// engine disk file is one; its name is "container path\inner name".
//
// Its open handles share one open slot of the container; the container is
// resolved at each create or open (the base list keeps it) and told when the
// last handle closes. Byte-range locks inside a container always succeed
// (one process holds a container). Renaming is not supported: it raises
// "Rename procedure not implemented".
#pragma once

#include <string>

#include "engine/abstract_file.h"

namespace vandrel::engine {

class TEntireDataBase;

class TVirtualFile : public TAbstractFile {
 public:
  // name: the engine file name, as registered.
  explicit TVirtualFile(std::string name) : TAbstractFile(std::move(name)) {}
  ~TVirtualFile() override;

  bool InMemory() const override { return false; }
  int CreateFile() override;
  int OpenFile() override;
  int CloseHandle(int handle) override;
  int Rename(const std::string& new_name) override;
  int DeleteFile() override;
  std::int64_t Size() const override;
  bool Flush() override;

  // The container while a handle is open, else null.
  TEntireDataBase* Container() const { return db_; }
  // The container is closing under this open file: the file lets go of it
  // and fails every later transfer (9217/9218 to its callers) instead of
  // touching freed memory.
  void Detach() {
    db_ = nullptr;
    slot_ = 0;
  }
  int Slot() const { return slot_; }

 protected:
  std::int64_t ReadAt(std::int64_t position, void* buffer, std::int64_t count) override;
  std::int64_t WriteAt(std::int64_t position, const void* buffer, std::int64_t count) override;
  int SetSize(std::int64_t size) override;

 private:
  // Resolves the container; a negated engine code on failure (the platform
  // error stays in win::GetLastError()).
  int Resolve(bool create, std::string* inner);

  TEntireDataBase* db_ = nullptr;
  int slot_ = 0;
};

}  // namespace vandrel::engine
