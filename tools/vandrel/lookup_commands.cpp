// `vandrel lookup`, `find` and `words`: reading the merged word list of the
// open dictionaries through a cursor of the service.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "client/cursor_client.h"
#include "client/service_error.h"
#include "dictionary/charmap.h"
#include "platform/exceptions.h"
#include "protocol/page_ids.h"
#include "service/errors.h"
#include "tools/common/render.h"
#include "tools/common/utf8.h"
#include "tools/vandrel/command.h"
#include "tools/vandrel/dict_session.h"
#include "tools/vandrel/json_output.h"
#include "tools/vandrel/word_help.h"

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

// The entry of a word answered with its bases' translations, in the
// order the dictionaries were opened. A translation that could not be
// read fails the command as its own request would.
WordEntry EntryOf(DictSession& session, const WideString& word,
                  const std::vector<client::TBaseTranslation>& translations, Match match) {
  WordEntry e{word, match, {}};
  for (TBaseClient* base : session.Set().Bases()) {
    for (const client::TBaseTranslation& t : translations) {
      if (t.Base != base->Remote()) continue;
      if (t.Code != 0) throw client::EServiceError(t.Code, ErrorTextFromWide(t.Text));
      e.holders.push_back({base, t.Text});
    }
  }
  return e;
}

// Every word of the merged list equal to typed at primary strength (apart
// from letter case and accents), from the cursor on a located word. Such
// words stand next to each other in the list: the cursor steps back to the
// word before the first of them, then collects them forwards a short page
// at a time, with their translations.
std::vector<WordEntry> EqualWords(DictSession& session, TCursorClient& cursor, WideView typed) {
  auto equal = [&](const WideString& word) {
    return CompareWeighted(word, typed, kWeightPrimary) == 0;
  };
  client::TPageStart start = client::TPageStart::FromCurrent;
  while (cursor.Prior()) {
    if (!equal(cursor.State().Word)) {
      start = client::TPageStart::AfterCurrent;
      break;
    }
  }
  std::vector<WordEntry> entries;
  constexpr std::int32_t kPage = 3;
  for (bool more = true; more;) {
    const client::TPageAnswer page = cursor.Page(kPage, start, true);
    start = client::TPageStart::AfterCurrent;
    more = page.Words.size() == kPage;
    for (const client::TPageWord& w : page.Words) {
      // A word list that does not move forwards ends the walk.
      if (!equal(w.Word) || (!entries.empty() && CompareWords(w.Word, entries.back().word) <= 0)) {
        more = false;
        break;
      }
      entries.push_back(EntryOf(session, w.Word, w.Translations, MatchOf(w.Word, typed)));
    }
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
  // One request: the best match and its translations.
  const client::TLookupAnswer located = cursor.LookupWord(l.word);
  if (located.Found && !located.State.Word.empty()) {
    // The best match begins with the text typed: when the list holds the
    // word itself in any letter case or accents, it is the first of them.
    found = CompareWeighted(located.State.Word, l.word, kWeightPrimary) == 0;
    if (found) {
      entries = EqualWords(session, cursor, l.word);
    } else {
      entries.push_back(
          EntryOf(session, located.State.Word, located.Translations, Match::kNearest));
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
    if (!found) {
      // An inflected form of a word the dictionaries hold; else, when no
      // word begins with the text, the nearest words by spelling.
      if (ShowWordForms(session, cursor, l.word, [&] {
            PrintEntries({CurrentEntry(session, cursor, Match::kExact)}, l.options);
          }))
        return 0;
      const WideView nearest = entries[0].word;
      if (CompareWeighted(nearest.substr(0, l.word.size()), l.word, kWeightPrimary) != 0) {
        PrintSuggestions(cursor, l.word);
        return 1;
      }
      std::printf("%s: not found; nearest:\n", tools::RenderPlain(l.word).c_str());
    }
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
    // An inflected form of a word the dictionaries hold; else the nearest
    // words by spelling.
    if (ShowWordForms(session, cursor, l.word, [&] {
          PrintEntries({CurrentEntry(session, cursor, Match::kExact)}, l.options);
        }))
      return 0;
    PrintSuggestions(cursor, l.word);
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
  // The pane: the best match first, then the words after it; one request
  // per page.
  client::TPageStart start = client::TPageStart::FromLocate;
  while (static_cast<long>(words.size()) < count) {
    const auto want = static_cast<std::int32_t>(
        std::min<long>(count - static_cast<long>(words.size()), kMaxPageWords));
    const client::TPageAnswer page = cursor.Page(want, start, false, l.word);
    for (const client::TPageWord& w : page.Words) words.push_back(w.Word);
    if (static_cast<std::int32_t>(page.Words.size()) < want) break;
    start = client::TPageStart::AfterCurrent;
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
