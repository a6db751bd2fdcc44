// `vandrel engine ls|cat|check CONTAINER`: the inner files of a base
// container, the bytes of one, and its structural check. They read the
// container's bytes without opening it, so they change nothing (a temporary
// container is not removed) and work while a service holds it.
#include "tools/vandrel/engine_command.h"

#include <cstdio>
#include <string>
#include <vector>

#include "engine/container_check.h"
#include "engine/container_format.h"
#include "engine/io_faults.h"
#include "engine/table_check.h"
#include "tools/vandrel/command.h"

namespace vandrel::cli {
namespace {

std::vector<EngineSubcommand>& Subcommands() {
  static std::vector<EngineSubcommand> list;
  return list;
}

bool Load(const std::string& path, std::vector<std::uint8_t>* bytes) {
  if (!engine::ReadWholeFile(path, bytes)) {
    std::fprintf(stderr, "vandrel engine: cannot read %s\n", path.c_str());
    return false;
  }
  return true;
}

// Prints the errors that keep the container from being read.
bool Readable(const engine::TContainerReport& report) {
  if (!report.Fatal()) return true;
  for (const auto& line : report.Lines()) std::fprintf(stderr, "%s\n", line.c_str());
  std::fprintf(stderr, "vandrel engine: the container is damaged\n");
  return false;
}

int List(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: vandrel engine ls CONTAINER\n");
    return 2;
  }
  std::vector<std::uint8_t> bytes;
  if (!Load(args[0], &bytes)) return 1;
  engine::TContainerReport report = engine::CheckContainerBytes(bytes.data(), bytes.size());
  if (!Readable(report)) return 1;
  std::printf("%-40s %12s %8s %8s %6s\n", "NAME", "SIZE", "PAGES", "FIRST", "ATTR");
  for (const auto& f : report.files) {
    std::printf("%-40s %12lld %8lld %8d %6x\n", f.name.c_str(), static_cast<long long>(f.size),
                static_cast<long long>(f.pages), f.first_page, f.attributes);
  }
  std::printf("%zu files, %d pages, allocation table pages 1-%d\n", report.files.size(),
              engine::container::GetI32(bytes.data() + engine::container::kPageCountOffset),
              engine::container::GetI32(bytes.data() + engine::container::kTableEndOffset) - 1);
  return 0;
}

int Cat(const std::vector<std::string>& args) {
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: vandrel engine cat CONTAINER NAME\n");
    return 2;
  }
  std::vector<std::uint8_t> bytes;
  if (!Load(args[0], &bytes)) return 1;
  if (!Readable(engine::CheckContainerBytes(bytes.data(), bytes.size()))) return 1;
  std::vector<std::uint8_t> out;
  if (!engine::ReadInnerFromBytes(bytes.data(), bytes.size(), args[1], &out)) {
    std::fprintf(stderr, "vandrel engine: no file \"%s\" in %s\n", args[1].c_str(),
                 args[0].c_str());
    return 1;
  }
  if (!out.empty() && std::fwrite(out.data(), 1, out.size(), stdout) != out.size()) return 1;
  return std::fflush(stdout) == 0 ? 0 : 1;
}

int Check(const std::vector<std::string>& args) {
  if (!args.empty() && args[0] == "--repair") return RepairTables(args);
  if (args.size() != 1) {
    std::fprintf(stderr, "usage: vandrel engine check [--repair] CONTAINER\n");
    return 2;
  }
  std::vector<std::uint8_t> bytes;
  if (!Load(args[0], &bytes)) return 1;
  engine::TContainerReport report = engine::CheckContainerBytes(bytes.data(), bytes.size());
  for (const auto& line : report.Lines()) std::printf("%s\n", line.c_str());
  bool tables_clean = true;  // the tables inside: data, index and BLOB files
  for (const auto& line : engine::CheckContainerTables(bytes.data(), bytes.size(), &tables_clean)) {
    std::printf("%s\n", line.c_str());
  }
  const bool clean = report.Clean() && tables_clean;
  std::printf("%s: %zu files, %s\n", args[0].c_str(), report.files.size(),
              clean ? "clean" : "damaged");
  return clean ? 0 : 1;
}

int Engine(const std::vector<std::string>& args) {
  // Tests fail a chosen write of the engine's files (VANDREL_IO_FAULT).
  engine::TIoFaults::ArmFromEnvironment();
  if (!args.empty()) {
    for (const auto& s : Subcommands()) {
      if (s.name == args[0]) return s.run(std::vector<std::string>(args.begin() + 1, args.end()));
    }
  }
  std::fprintf(stderr, "usage: vandrel engine SUBCOMMAND ...\n\nsubcommands:\n");
  for (const auto& s : Subcommands()) {
    std::fprintf(stderr, "  %-34s %s\n", s.usage.c_str(), s.summary.c_str());
  }
  return 2;
}

const CommandRegistration registration{
    Command{"engine", "engine ls|cat|check CONTAINER ...",
            "inner files of a base container, the bytes of one, and its check", &Engine}};
const EngineSubcommandRegistration ls{
    {"ls", "ls CONTAINER", "inner files with sizes and pages", &List}};
const EngineSubcommandRegistration cat{
    {"cat", "cat CONTAINER NAME", "an inner file's bytes to standard output", &Cat}};
const EngineSubcommandRegistration check{
    {"check", "check [--repair] CONTAINER [TABLE]",
     "every invariant of the container as \"[kind] text\" lines; exit 0 clean, 1 damaged; "
     "--repair mends the tables (--password PW, --key FIELD;...)",
     &Check}};

}  // namespace

EngineSubcommandRegistration::EngineSubcommandRegistration(EngineSubcommand subcommand) {
  Subcommands().push_back(std::move(subcommand));
}

}  // namespace vandrel::cli
