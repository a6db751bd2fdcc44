// `vandrel list`, `create` and `delete`: the dictionary files of the
// service's dictionary folder.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/exceptions.h"
#include "tools/common/languages.h"
#include "tools/common/render.h"
#include "tools/common/utf8.h"
#include "tools/vandrel/command.h"
#include "tools/vandrel/dict_session.h"
#include "tools/vandrel/json_output.h"

namespace vandrel::cli {
namespace {

const char kListUsage[] = "list [-l] [--json]";
const char kCreateUsage[] =
    "create DICT [--lang L] [--trans-lang L] [--scramble] [--compress] [--force]";
const char kDeleteUsage[] = "delete DICT";

bool SameNameNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto low = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
           return low(x) == low(y);
         });
}

int RunList(const std::vector<std::string>& args) {
  bool long_form = false;
  const DictOptions o =
      ParseDictOptions(args, DictRules{0, true}, [&](const std::string& a, const auto&) {
        if (a != "-l" && a != "--long") return 0;
        long_form = true;
        return 1;
      });
  if (!o.positional.empty() || !o.dictionaries.empty())
    throw DictUsageError{"no arguments expected"};
  DictSession session("vandrel list");
  Json list = Json::array();
  if (!long_form) {
    std::vector<std::string> files;
    for (const auto& f : session.Set().ListFiles()) {
      files.push_back(o.json ? JsonString(f) : tools::RenderPlain(f));
    }
    std::sort(files.begin(), files.end());
    for (const std::string& f : files) {
      if (o.json) {
        list.push_back(Json{{"file", f}});
      } else {
        std::printf("%s\n", f.c_str());
      }
    }
    if (o.json) PrintJson(Json{{"dictionaries", std::move(list)}});
    return 0;
  }
  // Every file opened: its words, languages and name.
  for (client::TBaseClient* base : session.Open({})) {
    const client::TBaseParams& p = base->Params();
    const auto language = static_cast<std::uint16_t>(p.Language);
    const auto trans_language = static_cast<std::uint16_t>(p.TransLanguage);
    if (o.json) {
      list.push_back(Json{{"file", JsonString(base->GetFileName())},
                          {"words", p.RecordCount},
                          {"language", LanguageJson(language)},
                          {"trans_language", LanguageJson(trans_language)},
                          {"name", JsonString(p.Name)},
                          {"short_name", JsonString(p.ShortName)}});
      continue;
    }
    std::printf("%-20s %8d words  %s -> %s  %s\n", tools::RenderPlain(base->GetFileName()).c_str(),
                p.RecordCount, tools::LanguageShortName(language).c_str(),
                tools::LanguageShortName(trans_language).c_str(),
                tools::RenderPlain(p.Name).c_str());
  }
  if (o.json) PrintJson(Json{{"dictionaries", std::move(list)}});
  return 0;
}

int RunCreate(const std::vector<std::string>& args) {
  std::string lang, trans_lang;
  bool scramble = false, compress = false, force = false;
  const DictOptions o = ParseDictOptions(args, [&](const std::string& a, const auto& next) {
    if (a == "--lang") {
      lang = next();
      return 2;
    }
    if (a == "--trans-lang") {
      trans_lang = next();
      return 2;
    }
    if (a == "--scramble") return static_cast<int>(scramble = true);
    if (a == "--compress") return static_cast<int>(compress = true);
    if (a == "--force") return static_cast<int>(force = true);
    return 0;
  });
  if (o.positional.size() != 1 || !o.dictionaries.empty())
    throw DictUsageError{"expected one DICT"};
  const std::string file = DictionaryFileName(o.positional[0]);
  // Languages: the options, then a name ending in two codes (en-ru), then
  // English.
  std::uint16_t language = 0x0409, trans_language = 0x0409;
  std::string stem = file.substr(0, file.find_last_of('.'));
  if (const auto from_name = tools::LanguagesFromName(stem)) {
    language = from_name->first;
    trans_language = from_name->second;
  }
  if (!lang.empty()) language = tools::ParseLanguage(lang);
  if (!trans_lang.empty()) trans_language = tools::ParseLanguage(trans_lang);
  tools::CheckDictionaryLanguage(language);
  tools::CheckDictionaryLanguage(trans_language);

  DictSession session("vandrel create");
  // The service replaces a file of that name; a person rarely means to.
  if (!force) {
    for (const auto& f : session.Set().ListFiles()) {
      if (SameNameNoCase(tools::WideToUtf8(f), file)) {
        throw Exception(file + " exists already (--force replaces it with an empty dictionary)");
      }
    }
  }
  session.Set().CreateBaseFile(tools::Utf8ToWideOrThrow(file), language, trans_language, scramble,
                               compress);
  std::printf("created %s (%s -> %s)\n", file.c_str(), tools::LanguageLabel(language).c_str(),
              tools::LanguageLabel(trans_language).c_str());
  return 0;
}

int RunDelete(const std::vector<std::string>& args) {
  const DictOptions o = ParseDictOptions(args);
  if (o.positional.size() != 1 || !o.dictionaries.empty())
    throw DictUsageError{"expected one DICT"};
  const std::string file = DictionaryFileName(o.positional[0]);
  DictSession session("vandrel delete");
  session.Set().DeleteBaseFile(tools::Utf8ToWideOrThrow(file));
  std::printf("deleted %s\n", file.c_str());
  return 0;
}

const CommandRegistration list_registration{Command{
    "list", kListUsage, "the dictionary files of the service (-l: with words, languages, names)",
    [](const std::vector<std::string>& a) {
      return RunDictCommand("list", kListUsage, RunList, a);
    }}};
const CommandRegistration create_registration{
    Command{"create", kCreateUsage, "an empty dictionary file in the service's dictionary folder",
            [](const std::vector<std::string>& a) {
              return RunDictCommand("create", kCreateUsage, RunCreate, a);
            }}};
const CommandRegistration delete_registration{
    Command{"delete", kDeleteUsage, "delete a dictionary file (refused while a client has it open)",
            [](const std::vector<std::string>& a) {
              return RunDictCommand("delete", kDeleteUsage, RunDelete, a);
            }}};

}  // namespace
}  // namespace vandrel::cli
