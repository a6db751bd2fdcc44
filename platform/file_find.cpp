// Finding files: FindFirstFileA / FindNextFileA / FindClose over a snapshot
// of one folder, with "*" and "?" patterns matched case-insensitively, as on
// the desktop file systems the dictionaries come from.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/handle.h"

namespace vandrel::win {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// '*' matches any run of characters, '?' any one; letters match either case.
bool WildcardMatch(const std::string& pattern, const std::string& name) {
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t star = std::string::npos;
  std::size_t star_n = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      star_n = n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++star_n;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

FILETIME ToFileTime(const struct timespec& ts) {
  // 100-nanosecond intervals since 1 January 1601.
  constexpr std::uint64_t kEpochDifference = 11644473600ULL;
  std::uint64_t t = (static_cast<std::uint64_t>(ts.tv_sec) + kEpochDifference) * 10000000ULL +
                    static_cast<std::uint64_t>(ts.tv_nsec) / 100;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(t & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
  return ft;
}

WIN32_FIND_DATAA FindDataOf(const std::string& name, const struct stat& st) {
  WIN32_FIND_DATAA data;
  if (S_ISDIR(st.st_mode)) {
    data.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
  } else {
    data.dwFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
    auto size = static_cast<std::uint64_t>(st.st_size);
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
  }
  if ((st.st_mode & S_IWUSR) == 0) data.dwFileAttributes |= FILE_ATTRIBUTE_READONLY;
  data.ftCreationTime = ToFileTime(st.st_ctim);
  data.ftLastAccessTime = ToFileTime(st.st_atim);
  data.ftLastWriteTime = ToFileTime(st.st_mtim);
  std::memcpy(data.cFileName, name.c_str(), name.size() + 1);
  return data;
}

// A finished search: the matching entries, in name order, and how many have
// been handed out.
class FindObject : public KernelObject {
 public:
  explicit FindObject(std::vector<WIN32_FIND_DATAA> entries) : entries_(std::move(entries)) {}
  bool Next(WIN32_FIND_DATAA* data) {
    if (next_ >= entries_.size()) return false;
    *data = entries_[next_++];
    return true;
  }

 private:
  std::vector<WIN32_FIND_DATAA> entries_;
  std::size_t next_ = 0;
};

}  // namespace

HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) {
  if (pattern == nullptr || data == nullptr || *pattern == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string full = pattern;
  std::size_t slash = full.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : full.substr(0, slash));
  std::string spec = slash == std::string::npos ? full : full.substr(slash + 1);
  if (spec == "*.*") spec = "*";  // the desktop's "every file", dot or not
  if (spec.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  DIR* folder = opendir(dir.c_str());
  if (folder == nullptr) {
    SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                     : ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  std::vector<WIN32_FIND_DATAA> entries;
  while (dirent* entry = readdir(folder)) {
    std::string name = entry->d_name;
    if (name.size() >= sizeof(data->cFileName) || !WildcardMatch(spec, name)) continue;
    struct stat st {};
    std::string path = dir + "/" + name;
    if (stat(path.c_str(), &st) != 0 && lstat(path.c_str(), &st) != 0) continue;  // gone meanwhile
    entries.push_back(FindDataOf(name, st));
  }
  closedir(folder);
  if (entries.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return std::strcmp(a.cFileName, b.cFileName) < 0; });
  auto search = std::make_unique<FindObject>(std::move(entries));
  search->Next(data);
  SetLastError(ERROR_SUCCESS);
  return NewHandle(std::move(search));
}

BOOL FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data) {
  auto* search = HandleAs<FindObject>(find);
  if (search == nullptr || data == nullptr) {
    SetLastError(search == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!search->Next(data)) {
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
  }
  return TRUE;
}

BOOL FindClose(HANDLE find) {
  if (HandleAs<FindObject>(find) == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return CloseHandle(find);
}

}  // namespace vandrel::win
