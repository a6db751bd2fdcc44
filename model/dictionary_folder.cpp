// File names inside the dictionary folder and the service's 8-bit texts.
#include "model/dictionary_folder.h"

#include "platform/file.h"
#include "platform/unique_handle.h"
#include "service/errors.h"

namespace vandrel {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsPlainFile(const std::string& path) {
  const win::DWORD attributes = win::GetFileAttributesA(path.c_str());
  return attributes != win::INVALID_FILE_ATTRIBUTES &&
         (attributes & win::FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

// The exception texts use the same 8-bit code page, so one conversion
// serves both.
std::string WideToSystem(WideView text) { return ErrorTextFromWide(text); }
WideString SystemToWide(std::string_view text) { return ErrorTextToWide(text); }

bool SameFileName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

bool IsFolderFileName(const std::string& name) { return win::IsPlainFileName(name); }

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string FindFolderFile(const std::string& folder, const std::string& name) {
  if (!IsFolderFileName(name)) return {};
  if (IsPlainFile(JoinPath(folder, name))) return name;
  // Every entry is compared by hand: characters that are wildcards of a
  // pattern are ordinary characters of a name here.
  win::WIN32_FIND_DATAA data;
  // A find handle closes as any other handle.
  const win::UniqueHandle find(win::FindFirstFileA(JoinPath(folder, "*").c_str(), &data));
  if (!find) return {};
  std::string found;
  do {
    if ((data.dwFileAttributes & win::FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        SameFileName(data.cFileName, name)) {
      found = data.cFileName;
      break;
    }
  } while (win::FindNextFileA(find.get(), &data));
  return found;
}

std::string FileNameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace vandrel
