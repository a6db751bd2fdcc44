// The `vandrel dic` family: compile a dictionary from a source, dump it back
// to the tab-separated source, show its header, look words up. Each runs
// with the arguments after its own name and returns the exit code.
#pragma once

#include <string>
#include <vector>

namespace vandrel::cli {

using Args = std::vector<std::string>;

int DicCompile(const Args& args);
int DicDump(const Args& args);
int DicInfo(const Args& args);
int DicLookup(const Args& args);
int DicInstall(const Args& args);

// The folder `dic install` compiles into (created when it is the user's
// folder and missing).
std::string InstallFolder();

// The help texts (also printed on a usage error).
extern const char kDicHelp[];
extern const char kDicCompileHelp[];
extern const char kDicInstallHelp[];

// Raised for a bad command line; the family prints the message and the
// usage and exits with 2.
struct UsageError {
  std::string message;
};

}  // namespace vandrel::cli
