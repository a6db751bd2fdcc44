// The service's command line: "/stay" (in any letter case) keeps a service
// without clients running; the first other argument names the dictionary
// folder (on this system a folder may begin with '/', so only "/stay" is a
// switch). Later arguments are ignored.
//
// Without a folder argument the service serves one folder, the first of:
//   1. "Dic" beside the service program, when it exists (a build tree);
//   2. the user's folder, $XDG_DATA_HOME/vandrel/dic (else
//      ~/.local/share/vandrel/dic), when it exists;
//   3. the installed sample dictionaries (datadir/vandrel/dic), read only,
//      when they exist;
//   4. the user's folder, created (mode 0700) on this first use.
// `vandrel dic install` compiles into the user's folder, so that a user's
// first own dictionary replaces the samples from the next start on.
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

enum class TDicFolderKind { BesideProgram, User, Samples };

struct TDicFolderChoice {
  std::string Folder;  // absolute
  TDicFolderKind Kind = TDicFolderKind::BesideProgram;
  // The installed samples: the service offers them to read, not to change.
  bool ReadOnly = false;
};

// The user's dictionary folder: $XDG_DATA_HOME/vandrel/dic, else
// $HOME/.local/share/vandrel/dic. Raises Exception when neither variable is
// set (an absolute XDG_DATA_HOME only counts, as the XDG rules say).
std::string UserDictionaryFolder();
// Creates the user's folder and its "vandrel" parent with mode 0700 when
// missing; returns it. Raises Exception with the system's reason.
std::string CreateUserDictionaryFolder();

// The folder a service whose program lies in program_dir serves without a
// folder argument (the order above). create_user = false leaves step 4's
// folder uncreated (the choice is only looked at).
TDicFolderChoice ChooseDictionaryFolder(const std::string& program_dir, bool create_user = true);

// ChooseDictionaryFolder for the running executable.
std::string DefaultDictionaryFolder();

// The process-wide dictionary folder: set once by the entry before the
// manager is created, read by the object model. Defaults to
// DefaultDictionaryFolder().
const std::string& DictionaryFolder();
void SetDictionaryFolder(const std::string& folder);
// True when the folder served is the installed samples' (step 3).
bool DictionaryFolderReadOnly();

}  // namespace vandrel
