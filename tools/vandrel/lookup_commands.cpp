// `vandrel lookup`, `find` and `words`: reading the merged word list of the
// open dictionaries through a cursor of the service.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "client/cursor_client.h"
#include "dictionary/charmap.h"
#include "platform/exceptions.h"
#include "tools/common/render.h"
#include "tools/common/utf8.h"
#include "tools/vandrel/command.h"
#include "tools/vandrel/dict_session.h"
#include "tools/vandrel/json_output.h"

namespace vandrel::cli {
namespace {

using client::TBaseClient;
using client::TCursorClient;

const char kLookupUsage[] = "lookup WORD [-d DICT]... [--raw] [--json] [--color=auto|always|never]";
const char kFindUsage[] = "find WORD [-d DICT]... [--raw] [--json] [--color=auto|always|never]";
const char kWordsUsage[] = "words WORD [-n N] [-d DICT]... [--json]";

// How a word of the merged list matches the typed one.
enum class Match { kExact, kCase, kAccents, kNearest };

const char* MatchName(Match m) {
  switch (m) {
    case Match::kExact:
      return "exact";
    case Match::kCase:
      return "case";
    case Match::kAccents:
      return "accents";
    case Match::kNearest:
      return "nearest";
  }
  return "";
}

// One word of the merged list with the dictionaries that hold it, in the
// order they were opened, and each one's translation.
struct Holder {
  TBaseClient* base;
  WideString trans;
};
struct WordEntry {
  WideString word;
  Match match;
  std::vector<Holder> holders;
};

// The cursor's current word with its translations.
WordEntry CurrentEntry(DictSession& session, TCursorClient& cursor, Match match) {
  WordEntry e{cursor.State().Word, match, {}};
  for (TBaseClient* base : session.Set().Bases()) {
    const auto& held = cursor.State().Bases;
    if (std::find(held.begin(), held.end(), base->Remote()) != held.end()) {
      e.holders.push_back({base, cursor.GetTrans(base->Remote())});
    }
  }
  return e;
}

std::string Bold(const std::string& text, const tools::RenderOptions& ro) {
  return ro.ansi ? "\x1b[1m" + text + "\x1b[0m" : text;
}

// Each word in bold, then its translation in every dictionary that holds
// it, under the dictionary's label; the labels of all words aligned.
void PrintEntries(const std::vector<WordEntry>& entries, const DictOptions& options) {
  const tools::RenderOptions base_ro = OutputRenderOptions(options);
  std::size_t width = 0;
  for (const WordEntry& e : entries) {
    for (const Holder& h : e.holders) width = std::max(width, DictSession::Label(*h.base).size());
  }
  for (const WordEntry& e : entries) {
    std::printf("%s\n", Bold(tools::RenderPlain(e.word), base_ro).c_str());
    for (const Holder& h : e.holders) {
      tools::RenderOptions ro = base_ro;
      ro.indent = std::string(2 + width + 2, ' ');
      const std::string shown = ShowTranslation(h.trans, options, ro);
      std::printf("  %-*s  %s\n", static_cast<int>(width), DictSession::Label(*h.base).c_str(),
                  shown.c_str());
    }
  }
}

// {"word", "match", "dictionary", "file", "translation"} for every
// dictionary's entry, in the order the text output shows them.
Json EntriesJson(const std::vector<WordEntry>& entries, const DictOptions& options) {
  Json list = Json::array();
  for (const WordEntry& e : entries) {
    for (const Holder& h : e.holders) {
      const client::TBaseParams& p = h.base->Params();
      Json item{{"word", JsonString(e.word)},
                {"match", MatchName(e.match)},
                {"dictionary", DictSession::Label(*h.base)},
                {"file", JsonString(h.base->GetFileName())}};
      item["translation"] = TranslationJson(h.trans, static_cast<std::uint16_t>(p.Language),
                                            static_cast<std::uint16_t>(p.TransLanguage));
      if (options.raw) item["translation"]["raw"] = JsonString(h.trans);
      list.push_back(std::move(item));
    }
  }
  return list;
}

// One WORD after the options.
struct Lookup {
  DictOptions options;
  WideString word;
};

Lookup ParseLookup(const std::vector<std::string>& args, const ExtraOption& extra = nullptr) {
  Lookup l{ParseDictOptions(args, DictRules{1, true}, extra), {}};
  if (l.options.positional.size() != 1) throw DictUsageError{"expected one WORD"};
  l.word = tools::Utf8ToWideOrThrow(l.options.positional[0]);
  return l;
}

void RequireDictionaries(const std::vector<TBaseClient*>& opened) {
  if (opened.empty()) throw Exception("no dictionary is open (the dictionary folder has none)");
}

Match MatchOf(WideView word, WideView typed) {
  if (word == typed) return Match::kExact;
  if (CompareWeighted(word, typed, kWeightDiacritic) == 0) return Match::kCase;
  return Match::kAccents;
}

// Every word of the merged list equal to typed at primary strength (apart
// from letter case and accents), from the cursor on a located word. Such
// words stand next to each other in the list: the cursor steps back to the
// first of them, then collects them forwards.
std::vector<WordEntry> EqualWords(DictSession& session, TCursorClient& cursor, WideView typed) {
  auto equal = [&] { return CompareWeighted(cursor.State().Word, typed, kWeightPrimary) == 0; };
  while (cursor.Prior()) {
    if (!equal()) {
      cursor.Next();
      break;
    }
  }
  std::vector<WordEntry> entries;
  while (equal()) {
    entries.push_back(CurrentEntry(session, cursor, MatchOf(cursor.State().Word, typed)));
    const WideString before = cursor.State().Word;
    // A word list that does not move forwards ends the walk.
    if (!cursor.Next() || CompareWords(cursor.State().Word, before) <= 0) break;
  }
  // The typed spelling first, then other letter cases, then other accents;
  // in list order within each.
  std::stable_sort(entries.begin(), entries.end(),
                   [](const WordEntry& a, const WordEntry& b) { return a.match < b.match; });
  return entries;
}

int RunLookup(const std::vector<std::string>& args) {
  const Lookup l = ParseLookup(args);
  DictSession session("vandrel lookup");
  RequireDictionaries(session.Open(l.options.dictionaries));
  TCursorClient& cursor = session.Set().NewCursor();
  std::vector<WordEntry> entries;
  bool found = false;
  if (cursor.Locate(l.word) && !cursor.State().Word.empty()) {
    // The best match begins with the text typed: when the list holds the
    // word itself in any letter case or accents, it is the first of them.
    found = CompareWeighted(cursor.State().Word, l.word, kWeightPrimary) == 0;
    if (found) {
      entries = EqualWords(session, cursor, l.word);
    } else {
      entries.push_back(CurrentEntry(session, cursor, Match::kNearest));
    }
  }
  if (l.options.json) {
    PrintJson(Json{{"query", l.options.positional[0]},
                   {"found", found             ? "exact"
                             : entries.empty() ? "none"
                                               : "nearest"},
                   {"entries", EntriesJson(entries, l.options)}});
  } else if (entries.empty()) {
    std::printf("%s: the dictionaries are empty\n", l.options.positional[0].c_str());
  } else {
    if (!found) std::printf("%s: not found; nearest:\n", tools::RenderPlain(l.word).c_str());
    PrintEntries(entries, l.options);
  }
  return found ? 0 : 1;
}

int RunFind(const std::vector<std::string>& args) {
  const Lookup l = ParseLookup(args);
  DictSession session("vandrel find");
  RequireDictionaries(session.Open(l.options.dictionaries));
  TCursorClient& cursor = session.Set().NewCursor();
  std::vector<WordEntry> entries;
  if (cursor.Find(l.word)) entries.push_back(CurrentEntry(session, cursor, Match::kExact));
  if (l.options.json) {
    PrintJson(Json{{"query", l.options.positional[0]},
                   {"found", !entries.empty()},
                   {"entries", EntriesJson(entries, l.options)}});
  } else if (entries.empty()) {
    std::printf("%s: not found\n", tools::RenderPlain(l.word).c_str());
  } else {
    PrintEntries(entries, l.options);
  }
  return entries.empty() ? 1 : 0;
}

int RunWords(const std::vector<std::string>& args) {
  long count = 10;
  const Lookup l = ParseLookup(args, [&](const std::string& a, const auto& next) {
    if (a != "-n") return 0;
    const std::string v = next();
    char* end = nullptr;
    count = std::strtol(v.c_str(), &end, 10);
    if (v.empty() || *end != '\0' || count < 1 || count > 1000000) {
      throw DictUsageError{"-n takes a number from 1 to 1000000"};
    }
    return 2;
  });
  DictSession session("vandrel words");
  RequireDictionaries(session.Open(l.options.dictionaries));
  TCursorClient& cursor = session.Set().NewCursor();
  std::vector<WideString> words;
  if (cursor.Locate(l.word) && !cursor.State().Word.empty()) {
    // The pane: the best match first, then the words after it.
    for (long i = 0; i < count; ++i) {
      if (i > 0 && !cursor.Next()) break;
      words.push_back(cursor.State().Word);
    }
  }
  if (l.options.json) {
    Json list = Json::array();
    for (const WideString& w : words) list.push_back(JsonString(w));
    PrintJson(Json{{"query", l.options.positional[0]}, {"words", std::move(list)}});
  } else if (words.empty()) {
    std::printf("%s: the dictionaries are empty\n", l.options.positional[0].c_str());
  } else {
    for (const WideString& w : words) std::printf("%s\n", tools::RenderPlain(w).c_str());
  }
  return words.empty() ? 1 : 0;
}

const CommandRegistration lookup_registration{Command{
    "lookup", kLookupUsage,
    "WORD in every letter case and accents (else the nearest word), each dictionary's entry",
    [](const std::vector<std::string>& a) {
      return RunDictCommand("lookup", kLookupUsage, RunLookup, a);
    }}};
const CommandRegistration find_registration{Command{
    "find", kFindUsage, "exactly WORD, with its translation in every dictionary that has it",
    [](const std::vector<std::string>& a) {
      return RunDictCommand("find", kFindUsage, RunFind, a);
    }}};
const CommandRegistration words_registration{Command{
    "words", kWordsUsage, "the word list from the best match for WORD on (default 10 words)",
    [](const std::vector<std::string>& a) {
      return RunDictCommand("words", kWordsUsage, RunWords, a);
    }}};

}  // namespace
}  // namespace vandrel::cli
