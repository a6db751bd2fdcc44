// The subcommand registry of the `vandrel` program. Each source file of the
// program defines one family of subcommands and registers it with a static
// CommandRegistration, so that main() needs no list of them.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vandrel::cli {

// args excludes the program name and the subcommand's own name. Returns the
// process exit code (0 success, 1 failure, 2 usage error).
using CommandFn = std::function<int(const std::vector<std::string>& args)>;

struct Command {
  std::string name;     // "status", "lookup", "dic", ...
  std::string usage;    // "status", "lookup WORD [-d DICT]...", ...
  std::string summary;  // one line for `vandrel help`
  CommandFn run;
};

struct CommandRegistration {
  explicit CommandRegistration(Command command);
};

const std::vector<Command>& Commands();

}  // namespace vandrel::cli
