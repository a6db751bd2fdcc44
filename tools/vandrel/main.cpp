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

const char kOptionsHelp[] =
    "\n"
    "Every command takes --help. \"--\" ends the options; an argument such as\n"
    "\"-able\" that is no option is taken as the WORD where one is expected.\n"
    "--json prints one JSON document on standard output (vandrel help json).\n";

const char kJsonHelp[] =
    "vandrel lookup|find|words|list|params|status --json, vandrel dic info|lookup --json\n"
    "\n"
    "Each prints one JSON document on standard output; errors go to standard\n"
    "error as without --json, and the exit code is the same.\n"
    "\n"
    "  lookup  {\"query\", \"found\": \"exact\"|\"nearest\"|\"none\", \"entries\": [entry]}\n"
    "  find    {\"query\", \"found\": true|false, \"entries\": [entry]}\n"
    "          entry: {\"word\", \"match\": \"exact\"|\"case\"|\"accents\"|\"nearest\",\n"
    "                  \"dictionary\", \"file\", \"translation\"}\n"
    "  words   {\"query\", \"words\": [word]}\n"
    "  list    {\"dictionaries\": [{\"file\"} (-l: and \"words\", \"language\",\n"
    "          \"trans_language\", \"name\", \"short_name\")]}\n"
    "  params  {\"file\", \"name\", \"short_name\", \"description\", \"words\", \"language\",\n"
    "          \"trans_language\", \"version\", \"created\", \"scrambled\", \"compressed\",\n"
    "          \"first_chars\", \"chars\"}\n"
    "  status  {\"running\", \"runtime_dir\", \"process_id\", \"round_trip_ms\"}\n"
    "  dic info    the header values under the names that dic info prints\n"
    "  dic lookup  {\"file\", \"results\": [{\"query\", \"found\", \"word\", \"translation\"}]}\n"
    "\n"
    "A language is {\"id\": 1049, \"code\": \"ru\", \"label\": \"0x0419 ru (Russian)\"}.\n"
    "A translation is {\"text\": plain text, \"markup\": [node]} (with --raw also\n"
    "\"raw\": the marked-up text). Nodes, each with a \"type\":\n"
    "  text      {\"text\"}\n"
    "  break     a line break\n"
    "  argument  {\"mark\": 1..3, \"char\"}\n"
    "  char      {\"text\"}: a character lexeme\n"
    "  span      {\"kind\": \"translation\" (mark 5..8) or \"word\" (mark 9, text in\n"
    "            the words' language), \"mark\", \"language\", \"language_id\",\n"
    "            \"children\": [text and break nodes]}\n"
    "  block     {\"children\": [text, break, char and span nodes]}\n"
    "  raw       {\"text\"}: characters shown as they are\n"
    "  mark      {\"mark\"}: a mark out of place in a damaged text\n";

int Usage(std::FILE* out) {
  std::fprintf(out, "usage: vandrel COMMAND [ARGS]\n\ncommands:\n");
  std::vector<vandrel::cli::Command> sorted = vandrel::cli::Commands();
  std::sort(sorted.begin(), sorted.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  for (const auto& c : sorted)
    std::fprintf(out, "  %-34s %s\n", c.usage.c_str(), c.summary.c_str());
  std::fputs(kOptionsHelp, out);
  return out == stdout ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage(stderr);
  std::string name = argv[1];
  if (name == "help" && argc == 3 && std::string(argv[2]) == "json") {
    std::fputs(kJsonHelp, stdout);
    return 0;
  }
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
