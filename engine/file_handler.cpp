// Engine-side file access with failures raised as engine errors.
#include "engine/file_handler.h"

#include <vector>

#include "engine/engine_error.h"
#include "platform/error.h"

namespace vandrel::engine {

TFileHandler::~TFileHandler() {
  if (file_ != nullptr) TFileList::Global().Close(file_, handle_);
}

void TFileHandler::Raise(int code, win::DWORD os_error) const {
  TEngineErrorInfo info;
  info.code = code;
  info.table = table_;
  info.os_error = os_error;
  RaiseEngineError(info);
}

void TFileHandler::RequireOpen() const {
  if (file_ == nullptr) Raise(kInvalidFileHandle);
}

void TFileHandler::Open(const std::string& name, const TFileHandlerOptions& options) {
  if (file_ != nullptr) Close();
  TFileOpenRequest request;
  request.in_memory = in_memory_;
  request.sequential = options.sequential;
  request.write_through = options.write_through;
  request.temporary = options.temporary;
  request.exclusive = options.exclusive;
  win::SetLastError(win::ERROR_SUCCESS);
  TFileListResult r = TFileList::Global().Open(name, request);
  if (r.code != 0) Raise(r.code, win::GetLastError());
  name_ = name;
  file_ = r.file;
  handle_ = r.handle;
  options_ = options;
  read_only_result_ = r.read_only;
}

void TFileHandler::Create(const std::string& name, const TFileHandlerOptions& options) {
  if (file_ != nullptr) Close();
  win::SetLastError(win::ERROR_SUCCESS);
  TFileListResult r = TFileList::Global().Create(name, in_memory_, options.temporary);
  if (r.code != 0) Raise(r.code, win::GetLastError());
  name_ = name;
  file_ = r.file;
  handle_ = r.handle;
  options_ = options;
  options_.read_only = false;
  read_only_result_ = false;
}

void TFileHandler::Close() {
  if (file_ == nullptr) return;
  TAbstractFile* file = file_;
  int handle = handle_;
  file_ = nullptr;
  handle_ = 0;
  int code = TFileList::Global().Close(file, handle);
  if (code != 0) Raise(code);
}

void TFileHandler::Delete() {
  Close();
  DeleteFile(name_, in_memory_, table_);
}

void TFileHandler::Rename(const std::string& new_name) {
  Close();
  int code = TFileList::Global().Rename(name_, in_memory_, new_name);
  if (code != 0) Raise(code);
  name_ = new_name;
}

void TFileHandler::CopyTo(const std::string& new_name, bool to_memory) {
  RequireOpen();
  TFileHandler target(to_memory);
  target.SetTableName(table_);
  target.Create(new_name);
  std::vector<std::uint8_t> piece(65535);
  std::int64_t size = Size();
  for (std::int64_t at = 0; at < size;) {
    std::int64_t n = std::min<std::int64_t>(size - at, static_cast<std::int64_t>(piece.size()));
    ReadAt(at, piece.data(), n);
    target.WriteAt(at, piece.data(), n);
    at += n;
  }
  target.Close();
}

void TFileHandler::Flush() {
  if (file_ != nullptr) file_->Flush();  // the result is ignored, as the system's flush is
}

std::int64_t TFileHandler::Size() {
  RequireOpen();
  return file_->Size();
}

std::int64_t TFileHandler::Seek(std::int64_t offset, int origin) {
  RequireOpen();
  std::int64_t position = file_->Seek(handle_, offset, origin);
  if (position < 0) Raise(kReadError, win::GetLastError());
  return position;
}

std::int64_t TFileHandler::Read(void* buffer, std::int64_t count, bool allow_short) {
  RequireOpen();
  win::SetLastError(win::ERROR_SUCCESS);
  std::int64_t n = count <= 0 ? 0 : file_->Read(handle_, buffer, count);
  if (n < 0 || (n < count && !allow_short)) Raise(kReadError, win::GetLastError());
  return n;
}

void TFileHandler::Write(const void* buffer, std::int64_t count) {
  RequireOpen();
  if (count <= 0) return;
  if (IsReadOnly()) Raise(kWriteError, win::ERROR_ACCESS_DENIED);
  win::SetLastError(win::ERROR_SUCCESS);
  std::int64_t n = file_->Write(handle_, buffer, count);
  if (n != count) Raise(kWriteError, win::GetLastError());
}

std::int64_t TFileHandler::ReadAt(std::int64_t offset, void* buffer, std::int64_t count,
                                  bool allow_short) {
  RequireOpen();
  if (file_->Seek(handle_, offset, 0) < 0) Raise(kReadError, win::GetLastError());
  return Read(buffer, count, allow_short);
}

void TFileHandler::WriteAt(std::int64_t offset, const void* buffer, std::int64_t count) {
  RequireOpen();
  if (file_->Seek(handle_, offset, 0) < 0) Raise(kWriteError, win::GetLastError());
  Write(buffer, count);
}

void TFileHandler::Truncate(std::int64_t size) {
  RequireOpen();
  if (IsReadOnly()) Raise(kWriteError, win::ERROR_ACCESS_DENIED);
  if (size < 0 || file_->Seek(handle_, size, 0) < 0) Raise(kWriteError, win::GetLastError());
  if (file_->Truncate(handle_) != 0) Raise(kWriteError, win::GetLastError());
}

bool TFileHandler::LockRange(std::int64_t offset, std::int64_t length) {
  if (file_ == nullptr) return false;
  return file_->InMemory() ? file_->LockRange(offset, length) : true;
}

bool TFileHandler::UnlockRange(std::int64_t offset, std::int64_t length) {
  if (file_ == nullptr) return false;
  return file_->InMemory() ? file_->UnlockRange(offset, length) : true;
}

bool TFileHandler::Exists(const std::string& name, bool in_memory) {
  return TFileList::Global().Exists(name, in_memory);
}

void TFileHandler::DeleteFile(const std::string& name, bool in_memory, const std::string& table) {
  int code = TFileList::Global().Delete(name, in_memory);
  if (code != 0) {
    TEngineErrorInfo info;
    info.code = code;
    info.table = table;
    info.os_error = win::GetLastError();
    RaiseEngineError(info);
  }
}

}  // namespace vandrel::engine
