// Entry of the `vandrel` program: finds the subcommand and runs it.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "tools/vandrel/command.h"

namespace vandrel::cli {
namespace {
std::vector<Command>& Registry() {
  static std::vector<Command> commands;
  return commands;
}
}  // namespace

CommandRegistration::CommandRegistration(Command command) {
  Registry().push_back(std::move(command));
}

const std::vector<Command>& Commands() { return Registry(); }

}  // namespace vandrel::cli

namespace {

int Usage(std::FILE* out) {
  std::fprintf(out, "usage: vandrel COMMAND [ARGS]\n\ncommands:\n");
  std::vector<vandrel::cli::Command> sorted = vandrel::cli::Commands();
  std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
  for (const auto& c : sorted) std::fprintf(out, "  %-34s %s\n", c.usage.c_str(), c.summary.c_str());
  return out == stdout ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage(stderr);
  std::string name = argv[1];
  if (name == "help" || name == "--help" || name == "-h") return Usage(stdout);
  std::vector<std::string> args(argv + 2, argv + argc);
  for (const auto& c : vandrel::cli::Commands()) {
    if (c.name != name) continue;
    try {
      return c.run(args);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "vandrel %s: %s\n", name.c_str(), e.what());
      return 1;
    }
  }
  std::fprintf(stderr, "vandrel: unknown command '%s'\n\n", name.c_str());
  return Usage(stderr);
}
