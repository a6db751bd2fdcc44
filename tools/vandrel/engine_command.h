// The subcommands of `vandrel engine`: each source file that adds one
// registers it with a static EngineSubcommandRegistration.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vandrel::cli {

struct EngineSubcommand {
  std::string name;   // "ls", "cat", "check", ...
  std::string usage;  // "ls CONTAINER"
  std::string summary;
  std::function<int(const std::vector<std::string>& args)> run;  // args after the name
};

// `engine check --repair ...` (args from "--repair" on).
int RepairTables(const std::vector<std::string>& args);

struct EngineSubcommandRegistration {
  explicit EngineSubcommandRegistration(EngineSubcommand subcommand);
};

}  // namespace vandrel::cli
