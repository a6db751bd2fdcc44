// TFileList: the process-wide registry of engine file objects, one per file
// name and kind (inside a container on disk, or in memory). It creates,
// opens, closes, deletes and renames them with the engine's share rules.
//
// Results carry a positive engine code on failure (0 on success); the
// platform error behind a failure stays in win::GetLastError(). Names:
// disk names as "container path\inner name" (see base_list.h), compared in
// canonical form with the inner name upper-cased; memory names compared
// after trimming, case-insensitively.
//
// Ownership: the list owns every registered object. A disk object leaves
// the list when its last handle closes (it holds no state of its own); a
// memory object stays (it holds the contents) unless it is temporary.
// Engine thread only; one lock guards the registry.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "engine/abstract_file.h"

namespace vandrel::engine {

class TEntireDataBase;

struct TFileOpenRequest {
  bool in_memory = false;
  bool sequential = false;
  bool write_through = false;
  bool temporary = false;
  bool exclusive = false;
};

struct TFileListResult {
  int code = 0;  // 0, or the engine code of the failure
  TAbstractFile* file = nullptr;
  int handle = 0;
  bool read_only = false;
};

class TFileList {
 public:
  static TFileList& Global();

  // An object of that name and kind without open handles is reused; one
  // with open handles gives 11013. The file is created empty, exclusively.
  TFileListResult Create(const std::string& name, bool in_memory, bool temporary);
  // With open handles: 11013 when the object or the request is exclusive,
  // else another handle. A memory file that is not registered: 11010.
  TFileListResult Open(const std::string& name, const TFileOpenRequest& request);
  // 0, or 11010 when the handle is not open.
  int Close(TAbstractFile* file, int handle);
  bool Exists(const std::string& name, bool in_memory);
  // 0, 11013 while open, 11010 when absent, or the mapped platform error.
  int Delete(const std::string& name, bool in_memory);
  // 0; 11013 while open or when the new name is taken; 11010 when absent
  // or when the new name lies in another container.
  int Rename(const std::string& name, bool in_memory, const std::string& new_name);

  std::size_t Count() const;
  // Every file still open inside the container lets go of it (the
  // container is closing): later reads and writes of those files fail
  // cleanly. Returns how many files were detached.
  int DetachContainer(const TEntireDataBase* db);
  // The registry key of a name (for tests and tools).
  static std::string Key(const std::string& name, bool in_memory);

 private:
  TFileList() = default;
  std::unique_ptr<TAbstractFile> NewFile(const std::string& name, bool in_memory) const;
  TAbstractFile* Find(const std::string& key);
  void Drop(TAbstractFile* file);

  mutable std::recursive_mutex lock_;
  std::map<std::string, std::unique_ptr<TAbstractFile>> files_;
};

}  // namespace vandrel::engine
