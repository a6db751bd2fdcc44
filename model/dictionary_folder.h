// File names inside the dictionary folder. Clients name dictionary files by
// their plain name (no folder); the service takes every such name relative
// to the dictionary folder (service_options.h DictionaryFolder()) and
// matches it case-insensitively against the folder's entries, as on the
// desktop file systems the dictionaries come from.
//
// The service's 8-bit code page for file names and for the 8-bit texts of
// locate and find requests is UTF-8 on this system: wide names from clients
// become UTF-8 bytes, and folder entries become wide names as UTF-8.
#pragma once

#include <string>
#include <string_view>

#include "dictionary/charmap.h"

namespace vandrel {

// UTF-16 to the service's 8-bit code page and back (UTF-8; invalid units
// become U+FFFD).
std::string WideToSystem(WideView text);
WideString SystemToWide(std::string_view text);

// ASCII letters compared without case, every other byte as is: the
// comparison of file names and paths.
bool SameFileName(std::string_view a, std::string_view b);

// A plain name of a file inside the folder (platform IsPlainFileName).
bool IsFolderFileName(const std::string& name);

// folder + "/" + name.
std::string JoinPath(const std::string& folder, const std::string& name);

// The name of the plain file in folder that matches name: name itself when
// such a file exists, else the first entry (in the folder's listing order)
// equal to it without case; empty when there is none. name must be a
// folder file name.
std::string FindFolderFile(const std::string& folder, const std::string& name);

// The part of a path after its last '/'.
std::string FileNameOf(const std::string& path);

}  // namespace vandrel
