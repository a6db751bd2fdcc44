// Name resolution, opening and creating containers, idle close and flush.
#include "engine/base_list.h"

#include <algorithm>
#include <filesystem>

#include "engine/engine_error.h"
#include "engine/file_list.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/window.h"

namespace vandrel::engine {
namespace {

constexpr win::UINT kFlushPeriodMs = 10000;
win::UINT_PTR g_idle_timer = 0;
win::UINT_PTR g_flush_timer = 0;

bool EndsWithTmp(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == ".tmp";
}

// Collapses "//", "." and ".." lexically; the path is absolute.
std::string Normalize(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  auto flush = [&] {
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    part.clear();
  };
  for (char c : path) {
    if (c == '/') {
      flush();
    } else {
      part.push_back(c);
    }
  }
  flush();
  std::string out;
  for (const auto& p : parts) {
    out.push_back('/');
    out.append(p);
  }
  return out.empty() ? std::string("/") : out;
}

bool IsFolder(const std::string& path) {
  win::DWORD a = win::GetFileAttributesA(path.c_str());
  return a != win::INVALID_FILE_ATTRIBUTES && (a & win::FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsFile(const std::string& path) {
  win::DWORD a = win::GetFileAttributesA(path.c_str());
  return a != win::INVALID_FILE_ATTRIBUTES && (a & win::FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void CreateFolders(const std::string& file_path) {
  std::size_t slash = file_path.find('/', 1);
  while (slash != std::string::npos) {
    std::string folder = file_path.substr(0, slash);
    if (!IsFolder(folder) && !win::CreateDirectoryA(folder.c_str(), nullptr) &&
        win::GetLastError() != win::ERROR_ALREADY_EXISTS) {
      throw OSError(win::GetLastError());
    }
    slash = file_path.find('/', slash + 1);
  }
}

void IdleProc(win::HWND, win::UINT, win::UINT_PTR id, win::DWORD) {
  win::KillTimer(0, id);
  g_idle_timer = 0;
  TBaseList::Global().CloseIdle();
}

void FlushProc(win::HWND, win::UINT, win::UINT_PTR, win::DWORD) { TBaseList::Global().FlushAll(); }

}  // namespace

int SplitEngineName(const std::string& name, std::string* container, std::string* inner) {
  std::size_t cut = name.rfind('\\');
  if (cut == std::string::npos) return kInvalidPath;
  std::string path = name.substr(0, cut);
  std::string rest = name.substr(cut + 1);
  if (path.find('\\') != std::string::npos || path.find('\0') != std::string::npos ||
      InnerNameKey(rest).empty()) {
    return kInvalidPath;
  }
  if (path.empty()) path = std::string(1, '.');
  *container = CanonicalContainerPath(path);
  *inner = rest;
  return 0;
}

std::string CanonicalContainerPath(const std::string& path) {
  std::string absolute = path;
  if (absolute.empty() || absolute[0] != '/') {
    absolute = TBaseList::Global().BaseFolder() + "/" + absolute;
  }
  std::string canonical = Normalize(absolute);
  if (IsFolder(canonical)) canonical = Normalize(canonical + "/" + kDefaultContainerName);
  return canonical;
}

TBaseList& TBaseList::Global() {
  static TBaseList list;
  return list;
}

TBaseList::~TBaseList() {
  // At exit: close every container (temporary ones are removed). Timers
  // belong to the thread's queue, which is gone by now.
  std::vector<std::unique_ptr<TEntireDataBase>> doomed;
  doomed.swap(list_);
  doomed.clear();
}

void TBaseList::SetBaseFolder(const std::string& folder) {
  std::lock_guard<std::mutex> guard(lock_);
  base_folder_ = folder;
}

std::string TBaseList::BaseFolder() const {
  std::lock_guard<std::mutex> guard(lock_);
  if (!base_folder_.empty()) return base_folder_;
  std::error_code error;
  std::filesystem::path cwd = std::filesystem::current_path(error);
  return error ? std::string("/") : cwd.string();
}

TEntireDataBase* TBaseList::Find(const std::string& path) const {
  std::lock_guard<std::mutex> guard(lock_);
  for (const auto& db : list_) {
    if (db->Path() == path) return db.get();
  }
  return nullptr;
}

TEntireDataBase* TBaseList::Resolve(const std::string& path, bool create) {
  if (TEntireDataBase* db = Find(path)) return db;
  std::unique_ptr<TEntireDataBase> db;
  if (IsFile(path)) {
    if (EndsWithTmp(path)) {
      // A temporary container that no process of ours has open: a leftover
      // of a killed process, worthless now, or the container of a live one,
      // which refuses the delete.
      if (!win::DeleteFileA(path.c_str())) throw OSError(win::GetLastError());
      db = TEntireDataBase::Create(path);
    } else {
      db = TEntireDataBase::Open(path);
    }
  } else {
    if (!create) {
      throw OSError(IsFolder(path.substr(0, path.rfind('/'))) ? win::ERROR_FILE_NOT_FOUND
                                                              : win::ERROR_PATH_NOT_FOUND);
    }
    CreateFolders(path);
    db = TEntireDataBase::Create(path);
  }
  TEntireDataBase* raw = db.get();
  bool persistent = !raw->Temporary();
  {
    std::lock_guard<std::mutex> guard(lock_);
    list_.push_back(std::move(db));
  }
  if (persistent) ArmFlushTimer();
  return raw;
}

void TBaseList::ArmFlushTimer() {
  if (g_flush_timer == 0) g_flush_timer = win::SetTimer(0, 0, kFlushPeriodMs, FlushProc);
}

void TBaseList::NoteIdle(TEntireDataBase* db) {
  if (db == nullptr || db->OpenSlotCount() > 0) return;
  if (g_idle_timer == 0) g_idle_timer = win::SetTimer(0, 0, 1, IdleProc);
}

int TBaseList::CloseIdle() {
  std::vector<std::unique_ptr<TEntireDataBase>> doomed;
  {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto it = list_.begin(); it != list_.end();) {
      if ((*it)->OpenSlotCount() == 0) {
        doomed.push_back(std::move(*it));
        it = list_.erase(it);
      } else {
        ++it;
      }
    }
  }
  int closed = static_cast<int>(doomed.size());
  doomed.clear();  // outside the lock: closing writes and unmaps
  return closed;
}

bool TBaseList::CloseIfIdle(const std::string& path) {
  std::unique_ptr<TEntireDataBase> doomed;
  {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto it = list_.begin(); it != list_.end(); ++it) {
      if ((*it)->Path() != path) continue;
      if ((*it)->OpenSlotCount() > 0) return false;
      doomed = std::move(*it);
      list_.erase(it);
      break;
    }
  }
  return true;
}

void TBaseList::CloseAll() {
  std::vector<std::unique_ptr<TEntireDataBase>> doomed;
  {
    std::lock_guard<std::mutex> guard(lock_);
    doomed.swap(list_);
  }
  // Files still open inside let go first: none keeps a pointer to a
  // closed container.
  for (const auto& db : doomed) TFileList::Global().DetachContainer(db.get());
}

void TBaseList::FlushAll() {
  std::lock_guard<std::mutex> guard(lock_);
  for (const auto& db : list_) {
    if (!db->Temporary() && db->Dirty()) db->Flush();
  }
}

std::size_t TBaseList::Count() const {
  std::lock_guard<std::mutex> guard(lock_);
  return list_.size();
}

}  // namespace vandrel::engine
