// `vandrel dic dump`, `info` and `lookup`: reading a dictionary file.
#include <cmath>
#include <cstdio>
#include <fstream>

#include "dictionary/dic_table.h"
#include "platform/console.h"
#include "platform/date_time.h"
#include "platform/exceptions.h"
#include "platform/unique_handle.h"
#include "tools/common/languages.h"
#include "tools/common/render.h"
#include "tools/common/tsv_source.h"
#include "tools/common/utf8.h"
#include "tools/vandrel/arguments.h"
#include "tools/vandrel/dic_commands.h"
#include "tools/vandrel/json_output.h"

namespace vandrel::cli {
namespace {

using tools::WideToUtf8;

void OpenTable(TDicTable& table, const std::string& path) {
  table.FileName = path;
  try {
    table.Open();
  } catch (const EOSError& e) {
    // The system's text says what failed, not on which file.
    throw EOSError(e.ErrorCode(), path + ": " + e.what());
  }
}

void WriteOut(std::FILE* f, const std::string& s) {
  if (std::fwrite(s.data(), 1, s.size(), f) != s.size()) throw Exception("write failed");
}

}  // namespace

int DicDump(const Args& args) {
  std::string out_path;
  std::vector<std::string> files;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-o" || args[i] == "--output") {
      if (i + 1 >= args.size()) throw UsageError{"-o needs a file name"};
      out_path = args[++i];
    } else if (args[i] == "--") {
      files.insert(files.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      throw UsageError{"unknown option " + args[i]};
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.size() != 1) throw UsageError{"expected one FILE.dic"};
  const std::string& file = files[0];
  TDicTable table;
  OpenTable(table, file);

  win::UniqueStdFile out_file;
  if (!out_path.empty()) {
    out_file.reset(std::fopen(out_path.c_str(), "wb"));
    if (!out_file) throw Exception("cannot create " + out_path);
  }
  std::FILE* const out = out_file ? out_file.get() : stdout;

  tools::SourceParams p;
  p.name = table.GetName();
  p.short_name = table.GetShortName();
  p.description = table.GetDescription();
  p.language = table.Language();
  p.trans_language = table.TransLanguage();
  p.scrambled = table.Scrambled();
  p.compressed = table.Compressed();
  std::string chunk =
      "# Vandrel dictionary source: " + std::to_string(table.RecordCount()) + " words\n";
  chunk += tools::TsvDirectives(p);
  const std::int32_t n = table.RecordCount();
  table.First();
  for (std::int32_t r = 0; r < n; ++r) {
    if (r > 0) table.Next();
    chunk += tools::TsvLine(table.GetWord(), table.GetTrans());
    if (chunk.size() > (1u << 16)) {
      WriteOut(out, chunk);
      chunk.clear();
    }
  }
  WriteOut(out, chunk);
  if (std::fflush(out) != 0 || !out_file.close()) throw Exception("write failed");
  return 0;
}

int DicInfoOf(const std::string& file, bool json, bool check_all);

int DicInfo(const Args& args) {
  bool json = false;
  bool verbose = false;
  std::vector<std::string> files;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--json") {
      json = true;
    } else if (args[i] == "-v" || args[i] == "--verbose") {
      verbose = true;
    } else if (args[i] == "--") {
      files.insert(files.end(), args.begin() + static_cast<long>(i) + 1, args.end());
      break;
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      throw UsageError{"unknown option " + args[i]};
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.size() != 1) throw UsageError{"expected FILE.dic"};
  if (!verbose) return DicInfoOf(files[0], json, false);
  // --verbose: every page and body is read as well, and damage says where.
  try {
    return DicInfoOf(files[0], json, true);
  } catch (const std::exception& e) {
    const TDamage* damage = DamageOf(e);
    if (damage == nullptr) throw;
    std::fflush(stdout);
    throw Exception(std::string(e.what()) + "\ndamaged: " + damage->Detail());
  }
}

int DicInfoOf(const std::string& file, bool json, bool check_all) {
  TDicTable table;
  OpenTable(table, file);
  if (check_all) {
    for (table.First(); !table.Eof(); table.Next()) {
      table.GetWord();
      table.GetTrans();
    }
  }
  const std::size_t dictionary_bytes =
      table.File()->BodyDictionary() ? table.File()->BodyDictionary()->Bytes().size() : 0;
  if (json) {
    PrintJson(Json{{"file", file},
                   {"version", table.Version()},
                   {"page_size", table.PageSize()},
                   {"words", table.RecordCount()},
                   {"index_layers", table.LayerCount()},
                   {"language", LanguageJson(table.Language())},
                   {"trans_language", LanguageJson(table.TransLanguage())},
                   {"created", FormatDateTime(table.CreateTime())},
                   {"scrambled", table.Scrambled()},
                   {"compressed", table.Compressed()},
                   {"body_stream_bytes", table.BodyLength()},
                   {"body_dictionary_bytes", dictionary_bytes},
                   {"file_bytes", table.FileSize()},
                   {"first_chars", JsonString(table.FirstChars())},
                   {"chars", JsonString(table.LangChars())},
                   {"name", JsonString(table.GetName())},
                   {"short_name", JsonString(table.GetShortName())},
                   {"description", JsonString(table.GetDescription())}});
    return 0;
  }
  auto line = [](const char* key, const std::string& value) {
    std::printf("%-16s %s\n", key, value.c_str());
  };
  line("file:", file);
  line("version:", std::to_string(table.Version()));
  line("page size:", std::to_string(table.PageSize()));
  line("words:", std::to_string(table.RecordCount()));
  line("index layers:", std::to_string(table.LayerCount()));
  line("language:", tools::LanguageLabel(table.Language()));
  line("trans-language:", tools::LanguageLabel(table.TransLanguage()));
  line("created:", FormatDateTime(table.CreateTime()));
  line("scrambled:", table.Scrambled() ? "yes" : "no");
  line("compressed:", table.Compressed() ? "yes" : "no");
  line("body stream:", std::to_string(table.BodyLength()) + " bytes");
  if (dictionary_bytes > 0 || !table.File()->BodyDictionaryProblem().empty())
    line("body dictionary:", table.File()->BodyDictionaryProblem().empty()
                                 ? std::to_string(dictionary_bytes) + " bytes"
                                 : table.File()->BodyDictionaryProblem());
  line("file size:", std::to_string(table.FileSize()) + " bytes");
  line("first chars:", tools::RenderPlain(table.FirstChars()));
  line("chars:", tools::RenderPlain(table.LangChars()));
  line("name:", tools::RenderRaw(table.GetName()));
  line("short name:", tools::RenderRaw(table.GetShortName()));
  line("description:", tools::RenderRaw(table.GetDescription()));
  if (check_all) line("checked:", "every page and body reads");
  return 0;
}

int DicLookup(const Args& args) {
  bool raw = false, json = false;
  std::string color = "auto";
  PositionalArgs positional;
  const auto unknown = [](const std::string& a) { throw UsageError{"unknown option " + a}; };
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--raw") {
      raw = true;
    } else if (a == "--json") {
      json = true;
    } else if (a.rfind("--color=", 0) == 0) {
      color = a.substr(8);
      if (color != "auto" && color != "always" && color != "never") {
        throw UsageError{"--color is auto, always or never"};
      }
    } else if (a == "--") {
      for (std::size_t k = i + 1; k < args.size(); ++k) positional.Add(args[k]);
      break;
    } else if (a.size() > 1 && a[0] == '-') {
      positional.AddUnknown(a, unknown);
    } else {
      positional.Add(a);
    }
  }
  std::vector<std::string> words = positional.Take(PositionalArgs::kAny, unknown);
  if (words.size() < 2) throw UsageError{"expected FILE.dic and a WORD"};
  const std::string file = words.front();
  words.erase(words.begin());
  TDicTable table;
  OpenTable(table, file);
  tools::RenderOptions ro;
  ro.ansi = color == "always" || (color == "auto" && win::IsConsoleStream(win::STD_OUTPUT_HANDLE));
  ro.indent = "  ";
  int code = 0;
  Json results = Json::array();
  for (const std::string& w : words) {
    WideString key = tools::Utf8ToWideOrThrow(w);
    if (table.RecordCount() == 0) {
      if (json) {
        results.push_back(Json{{"query", w}, {"found", "none"}});
      } else {
        std::printf("%s: the dictionary is empty\n", w.c_str());
      }
      code = 1;
      continue;
    }
    bool exact = table.FindExact(key);
    if (!exact) {
      table.FindNearest(key);
      code = 1;
    }
    const WideString word = table.GetWord();
    const WideString trans = table.GetTrans();
    if (json) {
      Json r{{"query", w},
             {"found", exact ? "exact" : "nearest"},
             {"word", JsonString(word)},
             {"translation", TranslationJson(trans, table.Language(), table.TransLanguage())}};
      if (raw) r["translation"]["raw"] = JsonString(trans);
      results.push_back(std::move(r));
      continue;
    }
    std::string shown = raw ? tools::RenderRaw(trans) : tools::RenderTranslation(trans, ro);
    if (!exact) std::printf("%s: not found; nearest:\n", w.c_str());
    if (ro.ansi) {
      std::printf("\x1b[1m%s\x1b[0m\n  %s\n", tools::RenderPlain(word).c_str(), shown.c_str());
    } else {
      std::printf("%s\n  %s\n", tools::RenderPlain(word).c_str(), shown.c_str());
    }
  }
  if (json) PrintJson(Json{{"file", file}, {"results", std::move(results)}});
  return code;
}

}  // namespace vandrel::cli
