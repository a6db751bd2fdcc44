// The registry of engine file objects.
#include "engine/file_list.h"

#include "engine/base_list.h"
#include "engine/container.h"
#include "engine/engine_error.h"
#include "engine/virtual_file.h"
#include "platform/error.h"

namespace vandrel::engine {

TFileList& TFileList::Global() {
  static TFileList* list = new TFileList;  // files may close during exit
  return *list;
}

std::string TFileList::Key(const std::string& name, bool in_memory) {
  if (in_memory) return "M:" + InnerNameKey(name);
  std::string container;
  std::string inner;
  if (SplitEngineName(name, &container, &inner) != 0) return "D?" + name;
  return "D:" + container + "\\" + InnerNameKey(inner);
}

std::unique_ptr<TAbstractFile> TFileList::NewFile(const std::string& name, bool in_memory) const {
  if (in_memory) return std::make_unique<TMemoryFile>(name);
  return std::make_unique<TVirtualFile>(name);
}

TAbstractFile* TFileList::Find(const std::string& key) {
  auto it = files_.find(key);
  return it == files_.end() ? nullptr : it->second.get();
}

void TFileList::Drop(TAbstractFile* file) {
  for (auto it = files_.begin(); it != files_.end(); ++it) {
    if (it->second.get() == file) {
      files_.erase(it);
      return;
    }
  }
}

TFileListResult TFileList::Create(const std::string& name, bool in_memory, bool temporary) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  TFileListResult r;
  std::string key = Key(name, in_memory);
  if (!in_memory && key.rfind("D?", 0) == 0) {
    r.code = kInvalidPath;
    return r;
  }
  TAbstractFile* file = Find(key);
  bool fresh = false;
  if (file != nullptr && file->OpenHandles() > 0) {
    r.code = kAccessDenied;
    return r;
  }
  if (file == nullptr) {
    auto made = NewFile(name, in_memory);
    file = made.get();
    files_[key] = std::move(made);
    fresh = true;
  }
  file->flags() = TAbstractFile::Flags{};
  file->flags().exclusive = true;
  file->flags().temporary = temporary;
  int handle = file->CreateFile();
  if (handle < 0) {
    r.code = -handle;
    if (fresh || !in_memory) Drop(file);
    return r;
  }
  if (in_memory) file->flags().temporary = temporary;
  r.file = file;
  r.handle = handle;
  return r;
}

TFileListResult TFileList::Open(const std::string& name, const TFileOpenRequest& request) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  TFileListResult r;
  std::string key = Key(name, request.in_memory);
  if (!request.in_memory && key.rfind("D?", 0) == 0) {
    r.code = kInvalidPath;
    return r;
  }
  TAbstractFile* file = Find(key);
  bool fresh = false;
  if (file != nullptr && file->OpenHandles() > 0) {
    if (file->flags().exclusive || request.exclusive) {
      r.code = kAccessDenied;
      return r;
    }
  } else {
    if (file == nullptr) {
      if (request.in_memory) {
        r.code = kInvalidPath;
        return r;
      }
      auto made = NewFile(name, false);
      file = made.get();
      files_[key] = std::move(made);
      fresh = true;
    }
    TAbstractFile::Flags& f = file->flags();
    f.exclusive = request.exclusive;
    f.sequential = request.sequential;
    f.write_through = request.write_through;
    if (request.in_memory) f.temporary = request.temporary;
  }
  int handle = file->OpenFile();
  if (handle < 0) {
    r.code = -handle;
    if (fresh) Drop(file);
    return r;
  }
  r.file = file;
  r.handle = handle;
  r.read_only = file->flags().read_only;
  return r;
}

int TFileList::Close(TAbstractFile* file, int handle) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (file == nullptr) return kInvalidPath;
  int result = file->CloseHandle(handle);
  if (result < 0) return -result;
  if (file->OpenHandles() == 0) {
    if (file->InMemory()) {
      if (file->flags().temporary) Drop(file);
    } else {
      Drop(file);
    }
  }
  return 0;
}

bool TFileList::Exists(const std::string& name, bool in_memory) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  std::string key = Key(name, in_memory);
  if (Find(key) != nullptr) return true;
  if (in_memory) return false;
  std::string container;
  std::string inner;
  if (SplitEngineName(name, &container, &inner) != 0) return false;
  TEntireDataBase* db = nullptr;
  try {
    db = TBaseList::Global().Resolve(container, false);
  } catch (const std::exception&) {
    return false;
  }
  bool found = false;
  try {
    found = db->Exists(inner);
  } catch (const EContainerError&) {
    found = false;
  }
  TBaseList::Global().NoteIdle(db);
  return found;
}

int TFileList::Delete(const std::string& name, bool in_memory) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  std::string key = Key(name, in_memory);
  TAbstractFile* file = Find(key);
  if (file != nullptr && file->OpenHandles() > 0) return kAccessDenied;
  if (file != nullptr) {
    int result = file->DeleteFile();
    Drop(file);
    return result < 0 ? -result : 0;
  }
  if (in_memory) return kInvalidPath;
  TVirtualFile temporary(name);
  int result = temporary.DeleteFile();
  return result < 0 ? -result : 0;
}

int TFileList::Rename(const std::string& name, bool in_memory, const std::string& new_name) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  std::string key = Key(name, in_memory);
  TAbstractFile* file = Find(key);
  if (file != nullptr && file->OpenHandles() > 0) return kAccessDenied;
  if (file == nullptr) {
    if (in_memory) return kInvalidPath;
    TVirtualFile temporary(name);
    return -temporary.Rename(new_name);
  }
  std::string new_key = Key(new_name, in_memory);
  if (Find(new_key) != nullptr) return kAccessDenied;
  int result = file->Rename(new_name);
  if (result < 0) return -result;
  auto node = files_.extract(key);
  node.key() = new_key;
  files_.insert(std::move(node));
  return 0;
}

int TFileList::DetachContainer(const TEntireDataBase* db) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  int detached = 0;
  for (auto& [key, file] : files_) {
    auto* inner = dynamic_cast<TVirtualFile*>(file.get());
    if (inner != nullptr && inner->Container() == db) {
      inner->Detach();
      ++detached;
    }
  }
  return detached;
}

std::size_t TFileList::Count() const {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return files_.size();
}

}  // namespace vandrel::engine
