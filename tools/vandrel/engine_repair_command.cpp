// `vandrel engine check --repair [--password PW]... [--key FIELD;...]
// DATABASE [TABLE]`: the repair run of one table, or of every table of a
// base container. Each message of the run is printed as "TABLE: message",
// then the table's check after the run. The container is opened
// exclusively (a service holding it makes the run fail with 11013).
// Exit 0 when every table is clean afterwards, 1 when damage is left.
#include <cstdio>
#include <string>
#include <vector>

#include "engine/base_list.h"
#include "engine/container.h"
#include "engine/data_directory.h"
#include "engine/data_file.h"
#include "engine/data_session.h"
#include "engine/engine_names.h"
#include "engine/table_check.h"
#include "engine/table_repair.h"
#include "platform/exceptions.h"
#include "tools/vandrel/engine_command.h"

namespace vandrel::cli {
namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: vandrel engine check --repair [--password PW]... [--key FIELD;...] "
               "DATABASE [TABLE]\n");
  return 2;
}

// Field numbers of the names (';'-separated, case-insensitive), from the
// table's data file; an unknown name is an error.
bool KeyFields(const std::string& base, const std::string& names, std::vector<std::uint16_t>* out) {
  engine::TDataFile data("key", false);
  data.OpenTable(base + ".DAT", true, true);
  const auto fields = data.fields();
  data.CloseTable();
  std::size_t at = 0;
  while (at <= names.size()) {
    const std::size_t end = std::min(names.find(';', at), names.size());
    const std::string name = names.substr(at, end - at);
    bool found = false;
    for (const auto& f : fields) {
      if (engine::UpperAscii(f.name) == engine::UpperAscii(name)) {
        out->push_back(f.number);
        found = true;
      }
    }
    if (!found) {
      std::fprintf(stderr, "vandrel engine check: no field \"%s\"\n", name.c_str());
      return false;
    }
    at = end + 1;
  }
  return true;
}

}  // namespace

int RepairTables(const std::vector<std::string>& args) {
  std::vector<std::string> passwords, rest;
  std::string key;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if ((args[i] == "--password" || args[i] == "--key") && i + 1 < args.size()) {
      (args[i] == "--key" ? key : passwords.emplace_back()) = args[i + 1];
      ++i;
    } else if (args[i].rfind("--", 0) == 0) {
      return Usage();
    } else {
      rest.push_back(args[i]);
    }
  }
  if (rest.empty() || rest.size() > 2 || (!key.empty() && rest.size() != 2)) return Usage();
  bool clean = true;
  try {
    engine::TDataSession session;
    for (const auto& p : passwords) session.AddPassword(p);
    std::string db = rest[0];
    while (!db.empty() && db.back() == '\\') db.pop_back();
    engine::TDataDirectory& dir = session.OpenDirectory(db + "\\");
    std::vector<std::string> tables;
    if (rest.size() == 2) {
      tables.push_back(rest[1]);
    } else {
      engine::TEntireDataBase* c =
          engine::TBaseList::Global().Resolve(engine::CanonicalContainerPath(db), false);
      for (const auto& f : c->List()) {
        if (f.name.size() > 4 && f.name.compare(f.name.size() - 4, 4, ".DAT") == 0) {
          tables.push_back(f.name.substr(0, f.name.size() - 4));
        }
      }
    }
    for (const auto& table : tables) {
      engine::TRepairOptions options;
      if (!key.empty() && !KeyFields(dir.FileBase(table), key, &options.primary_key)) {
        engine::TBaseList::Global().CloseAll();
        return 1;
      }
      options.progress = [&](const std::string& m) {
        std::printf("%s: %s\n", table.c_str(), m.c_str());
      };
      const engine::TRepairReport r = engine::RepairTable(dir, table, options);
      const engine::TTableReport after = engine::CheckTableFiles(dir.FileBase(table), false);
      for (const auto& line : after.Lines()) std::printf("%s: %s\n", table.c_str(), line.c_str());
      std::printf("%s: %u records, %u active, %s\n", table.c_str(), r.records, r.active_records,
                  !after.Clean() ? "damaged" : (r.damaged ? "repaired" : "clean"));
      clean = clean && after.Clean();
    }
    session.CloseDirectory(dir);
    engine::TBaseList::Global().CloseAll();
  } catch (const Exception& e) {
    engine::TBaseList::Global().CloseAll();
    std::fprintf(stderr, "vandrel engine check: %s\n", e.what());
    return 1;
  }
  return clean ? 0 : 1;
}

}  // namespace vandrel::cli
