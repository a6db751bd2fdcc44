// The service's command line: "/stay" (in any letter case) keeps a service
// without clients running; the first other argument names the dictionary
// folder (default: "Dic" beside the executable; on this system a folder may
// begin with '/', so only "/stay" is a switch). Later arguments are ignored.
#pragma once

#include <string>
#include <vector>

namespace vandrel {

struct TServiceOptions {
  bool Stay = false;
  // The dictionary folder as given, empty when none was given.
  std::string DictionaryFolder;
};

// args excludes the program name.
TServiceOptions ParseServiceCommandLine(const std::vector<std::string>& args);

// "Dic" beside the running executable.
std::string DefaultDictionaryFolder();

// The process-wide dictionary folder: set once by the entry before the
// manager is created, read by the object model. Defaults to
// DefaultDictionaryFolder().
const std::string& DictionaryFolder();
void SetDictionaryFolder(const std::string& folder);

}  // namespace vandrel
