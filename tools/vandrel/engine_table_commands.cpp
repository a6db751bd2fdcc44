// `vandrel engine sql DATABASE STATEMENT` and `vandrel engine dump DATABASE
// TABLE`: make an engine table with a CREATE TABLE statement, and print a
// table's records as tab-separated text (a header line of field names, then
// one line a record in the order of its primary index). Texts and BLOB
// values are printed with \t, \n, \r, \\ and \xHH escapes, integers in
// decimal, other values as hex bytes; null values are empty.
//
// DATABASE is a base container ("db.vbas", a folder meaning its
// "Database.tmp") or MEMORY; a relative path is taken against the working
// directory. A container named "*.tmp" is temporary and removed when the
// command ends.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dataset/engine_query.h"
#include "dataset/engine_session.h"
#include "dataset/engine_table.h"
#include "engine/base_list.h"
#include "engine/record_codec.h"
#include "platform/exceptions.h"
#include "tools/vandrel/engine_command.h"

namespace vandrel::cli {
namespace {

std::string DatabaseName(std::string db) {
  if (db != "MEMORY" && (db.empty() || db.back() != '\\')) db += '\\';
  return db;
}

std::string Escape(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    switch (c) {
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char buf[5];
          std::snprintf(buf, sizeof buf, "\\x%02X", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

std::string Hex(const std::string& s) {
  std::string out;
  char buf[3];
  for (unsigned char c : s) {
    std::snprintf(buf, sizeof buf, "%02X", c);
    out += buf;
  }
  return out;
}

std::string Value(const engine::TFieldDesc& f, const std::string& bytes) {
  if (bytes.empty()) return {};
  const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
  switch (f.type) {
    case engine::kTypeString:
    case engine::kTypeBlob:
      return Escape(bytes);
    case engine::kTypeSmallInt:
      return bytes.size() >= 2 ? std::to_string(static_cast<std::int16_t>(engine::LoadU16(p)))
                               : Hex(bytes);
    case engine::kTypeWord:
      return bytes.size() >= 2 ? std::to_string(engine::LoadU16(p)) : Hex(bytes);
    case engine::kTypeBoolean:
      return bytes.size() >= 2 ? (engine::LoadU16(p) != 0 ? "true" : "false") : Hex(bytes);
    case engine::kTypeInteger:
      return bytes.size() >= 4 ? std::to_string(engine::LoadI32(p)) : Hex(bytes);
    case engine::kTypeLongWord:
      return bytes.size() >= 4 ? std::to_string(engine::LoadU32(p)) : Hex(bytes);
    case engine::kTypeFloat:
      if (bytes.size() >= 8) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", engine::LoadDouble(p));
        return buf;
      }
      return Hex(bytes);
    default:
      return Hex(bytes);
  }
}

int Sql(const std::vector<std::string>& args) {
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: vandrel engine sql DATABASE 'CREATE TABLE ...'\n");
    return 2;
  }
  try {
    dataset::TEngineQuery q;
    q.DatabaseName = DatabaseName(args[0]);
    q.SQL.push_back(args[1]);
    q.ExecSQL();
    engine::TBaseList::Global().CloseAll();
  } catch (const Exception& e) {
    engine::TBaseList::Global().CloseAll();
    std::fprintf(stderr, "vandrel engine sql: %s\n", e.what());
    return 1;
  }
  return 0;
}

int Dump(const std::vector<std::string>& all) {
  // --password PW (repeatable): passwords of encrypted tables.
  std::vector<std::string> args;
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (all[i] == "--password" && i + 1 < all.size()) {
      dataset::TEngineSession::Default().Session().AddPassword(all[++i]);
    } else {
      args.push_back(all[i]);
    }
  }
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: vandrel engine dump [--password PW]... DATABASE TABLE\n");
    return 2;
  }
  try {
    dataset::TEngineTable t;
    t.DatabaseName = DatabaseName(args[0]);
    t.TableName = args[1];
    t.ReadOnly = true;
    t.Open();
    std::string line;
    for (std::size_t i = 0; i < t.FieldCount(); ++i) {
      if (i != 0) line += '\t';
      line += Escape(t.FieldName(i));
    }
    std::printf("%s\n", line.c_str());
    for (t.First(); !t.Eof(); t.Next()) {
      line.clear();
      for (std::size_t i = 0; i < t.FieldCount(); ++i) {
        if (i != 0) line += '\t';
        line += Value(t.Cursor()->Field(i), t.FieldBytes(i));
      }
      std::fwrite(line.data(), 1, line.size(), stdout);
      std::fputc('\n', stdout);
    }
    t.Close();
    engine::TBaseList::Global().CloseAll();
  } catch (const Exception& e) {
    engine::TBaseList::Global().CloseAll();
    std::fprintf(stderr, "vandrel engine dump: %s\n", e.what());
    return 1;
  }
  return 0;
}

const EngineSubcommandRegistration sql{
    {"sql", "sql DATABASE STATEMENT", "create a table with a CREATE TABLE statement", Sql}};
const EngineSubcommandRegistration dump{{"dump", "dump [--password PW] DATABASE TABLE",
                                         "print a table's records as tab-separated text", Dump}};

}  // namespace
}  // namespace vandrel::cli
