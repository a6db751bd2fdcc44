// Engine files inside base containers.
#include "engine/virtual_file.h"

#include "engine/base_list.h"
#include "engine/container.h"
#include "engine/engine_error.h"
#include "engine/io_faults.h"
#include "platform/error.h"
#include "platform/file.h"

namespace vandrel::engine {
namespace {

constexpr win::DWORD kAttributeNormal = 0x80;
constexpr win::DWORD kAttributeTemporary = 0x100;
constexpr win::DWORD kAttributeReadOnly = 0x1;

}  // namespace

TVirtualFile::~TVirtualFile() {
  if (db_ != nullptr && slot_ > 0) {
    db_->CloseInner(slot_);
    TBaseList::Global().NoteIdle(db_);
  }
}

int TVirtualFile::Resolve(bool create, std::string* inner) {
  std::string path;
  int code = SplitEngineName(name_, &path, inner);
  if (code != 0) {
    win::SetLastError(win::ERROR_INVALID_NAME);
    return -code;
  }
  try {
    db_ = TBaseList::Global().Resolve(path, create);
  } catch (const EOSError& e) {
    db_ = nullptr;
    win::SetLastError(e.ErrorCode());
    return -EngineCodeFromOsError(e.ErrorCode());
  } catch (const EContainerError&) {
    db_ = nullptr;
    win::SetLastError(win::ERROR_INVALID_DATA);
    return -kUnknownOsError;
  } catch (const EEngineError& e) {
    db_ = nullptr;
    return -e.Code();
  }
  return 0;
}

int TVirtualFile::CreateFile() {
  if (OpenHandles() > 0) return -kAccessDenied;
  std::string inner;
  int code = Resolve(true, &inner);
  if (code != 0) return code;
  flags_.temporary = db_->Temporary();
  // Created files carry no delete-on-close: what a CREATE makes survives
  // its closes; the temporary mark takes effect at the next open.
  win::DWORD flags = flags_.temporary ? kAttributeTemporary : kAttributeNormal;
  try {
    slot_ = db_->CreateInner(inner, flags, flags);
  } catch (const EContainerError&) {
    win::SetLastError(win::ERROR_INVALID_DATA);
    slot_ = -1;
  }
  if (slot_ < 0) {
    slot_ = 0;
    int error = -EngineCodeFromOsError(win::GetLastError());
    TBaseList::Global().NoteIdle(db_);
    db_ = nullptr;
    return error;
  }
  flags_.read_only = false;
  return AddHandle();
}

int TVirtualFile::OpenFile() {
  if (OpenHandles() == 0) {
    std::string inner;
    int code = Resolve(false, &inner);
    if (code != 0) return code;
    try {
      std::int64_t attributes = db_->Attributes(inner);
      if (attributes < 0) {
        TBaseList::Global().NoteIdle(db_);
        db_ = nullptr;
        return -kInvalidPath;
      }
      flags_.read_only = (attributes & kAttributeReadOnly) != 0;
      flags_.temporary = db_->Temporary();
      win::DWORD flags =
          flags_.temporary ? (kInnerDeleteOnClose | kAttributeTemporary) : kAttributeNormal;
      slot_ = db_->OpenInner(inner, flags);
    } catch (const EContainerError&) {
      win::SetLastError(win::ERROR_INVALID_DATA);
      slot_ = -1;
    }
    if (slot_ < 0) {
      int error =
          win::GetLastError() == win::ERROR_FILE_NOT_FOUND ? -kInvalidPath : -kUnknownOsError;
      slot_ = 0;
      TBaseList::Global().NoteIdle(db_);
      db_ = nullptr;
      return error;
    }
  }
  return AddHandle();
}

int TVirtualFile::CloseHandle(int handle) {
  int result = TAbstractFile::CloseHandle(handle);
  if (result == 0 && OpenHandles() == 0 && db_ != nullptr) {
    TEntireDataBase* db = db_;
    int slot = slot_;
    db_ = nullptr;
    slot_ = 0;
    try {
      db->CloseInner(slot);
    } catch (const EContainerError&) {
      // The delete-on-close found damage; the file stays.
    }
    TBaseList::Global().NoteIdle(db);
  }
  return result;
}

// A new inner name in the same container (another container would be a
// copy, not a rename: 11010).
int TVirtualFile::Rename(const std::string& new_name) {
  std::string path, inner, new_path, new_inner;
  if (SplitEngineName(name_, &path, &inner) != 0 ||
      SplitEngineName(new_name, &new_path, &new_inner) != 0 ||
      CanonicalContainerPath(path) != CanonicalContainerPath(new_path)) {
    win::SetLastError(win::ERROR_INVALID_NAME);
    return -kInvalidPath;
  }
  TEntireDataBase* db = nullptr;
  try {
    db = TBaseList::Global().Resolve(path, false);
  } catch (const EOSError& e) {
    win::SetLastError(e.ErrorCode());
    return -EngineCodeFromOsError(e.ErrorCode());
  } catch (const EContainerError&) {
    win::SetLastError(win::ERROR_INVALID_DATA);
    return -kUnknownOsError;
  }
  const win::DWORD result = db->RenameInner(inner, new_inner);
  TBaseList::Global().NoteIdle(db);
  if (result == 0) {
    name_ = new_name;
    return 0;
  }
  win::SetLastError(result);
  if (result == win::ERROR_FILE_NOT_FOUND || result == win::ERROR_INVALID_NAME) {
    return -kInvalidPath;
  }
  return -kAccessDenied;
}

int TVirtualFile::DeleteFile() {
  if (OpenHandles() > 0) return -kAccessDenied;
  std::string inner;
  int code = Resolve(false, &inner);
  if (code != 0) return code;
  win::DWORD result = 0;
  try {
    result = db_->DeleteInner(inner);
  } catch (const EContainerError&) {
    result = win::ERROR_INVALID_DATA;
  }
  TBaseList::Global().NoteIdle(db_);
  db_ = nullptr;
  if (result == 0) return 0;
  win::SetLastError(result);
  return -EngineCodeFromOsError(result);
}

std::int64_t TVirtualFile::Size() const {
  return db_ != nullptr && slot_ > 0 ? db_->InnerSize(slot_) : 0;
}

bool TVirtualFile::Flush() {
  if (TIoFaults::Hit(kIoFlush)) return false;
  return db_ == nullptr || db_->Flush();
}

std::int64_t TVirtualFile::ReadAt(std::int64_t position, void* buffer, std::int64_t count) {
  if (db_ == nullptr) {
    win::SetLastError(win::ERROR_INVALID_HANDLE);
    return -1;
  }
  try {
    return db_->ReadAt(slot_, position, buffer, count);
  } catch (const EContainerError&) {
    win::SetLastError(win::ERROR_INVALID_DATA);
    return -1;
  }
}

std::int64_t TVirtualFile::WriteAt(std::int64_t position, const void* buffer, std::int64_t count) {
  if (db_ == nullptr) {
    win::SetLastError(win::ERROR_INVALID_HANDLE);
    return -1;
  }
  try {
    return db_->WriteAt(slot_, position, buffer, count);
  } catch (const EContainerError&) {
    win::SetLastError(win::ERROR_INVALID_DATA);
    return -1;
  }
}

int TVirtualFile::SetSize(std::int64_t size) {
  if (db_ == nullptr) {
    win::SetLastError(win::ERROR_INVALID_HANDLE);
    return -1;
  }
  try {
    return db_->SetInnerSize(slot_, size) ? 0 : -1;
  } catch (const EContainerError&) {
    win::SetLastError(win::ERROR_INVALID_DATA);
    return -1;
  }
}

}  // namespace vandrel::engine
