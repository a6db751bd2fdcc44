// `vandrel lookup`, `find` and `words`: reading the merged word list of the
// open dictionaries through a cursor of the service.
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
#include "tools/vandrel/word_help.h"

namespace vandrel::cli {
namespace {

using client::TBaseClient;
using client::TCursorClient;

const char kLookupUsage[] = "lookup WORD [-d DICT]... [--raw] [--color=auto|always|never]";
const char kFindUsage[] = "find WORD [-d DICT]... [--raw] [--color=auto|always|never]";
const char kWordsUsage[] = "words WORD [-n N] [-d DICT]...";

std::string Bold(const std::string& text, const tools::RenderOptions& ro) {
  return ro.ansi ? "\x1b[1m" + text + "\x1b[0m" : text;
}

// The current word's translation in every dictionary that holds it, in
// the order the dictionaries were opened, each under its label.
void PrintTranslations(DictSession& session, TCursorClient& cursor, const DictOptions& options) {
  const tools::RenderOptions base_ro = OutputRenderOptions(options);
  std::vector<TBaseClient*> holders;
  std::size_t width = 0;
  for (TBaseClient* base : session.Set().Bases()) {
    for (win::HWND h : cursor.State().Bases) {
      if (h == base->Remote()) {
        holders.push_back(base);
        width = std::max(width, DictSession::Label(*base).size());
      }
    }
  }
  std::printf("%s\n", Bold(tools::RenderPlain(cursor.State().Word), base_ro).c_str());
  for (TBaseClient* base : holders) {
    const std::string label = DictSession::Label(*base);
    tools::RenderOptions ro = base_ro;
    ro.indent = std::string(2 + width + 2, ' ');
    const std::string shown = ShowTranslation(cursor.GetTrans(base->Remote()), options, ro);
    std::printf("  %-*s  %s\n", static_cast<int>(width), label.c_str(), shown.c_str());
  }
}

// One WORD after the options; the dictionaries opened; a cursor.
struct Lookup {
  DictOptions options;
  WideString word;
};

Lookup ParseLookup(const std::vector<std::string>& args,
                   const std::function<int(const std::string&,
                                           const std::function<std::string()>&)>& extra = nullptr) {
  Lookup l{ParseDictOptions(args, extra), {}};
  if (l.options.positional.size() != 1) throw DictUsageError{"expected one WORD"};
  l.word = tools::Utf8ToWideOrThrow(l.options.positional[0]);
  return l;
}

void RequireDictionaries(const std::vector<TBaseClient*>& opened) {
  if (opened.empty()) throw Exception("no dictionary is open (the dictionary folder has none)");
}

int RunLookup(const std::vector<std::string>& args) {
  const Lookup l = ParseLookup(args);
  DictSession session("vandrel lookup");
  RequireDictionaries(session.Open(l.options.dictionaries));
  TCursorClient& cursor = session.Set().NewCursor();
  if (!cursor.Locate(l.word) || cursor.State().Word.empty()) {
    std::printf("%s: the dictionaries are empty\n", l.options.positional[0].c_str());
    return 1;
  }
  // The best match begins with the text typed; it is the word itself when
  // they differ at most in case (the dictionaries' exact match ignores
  // case as well).
  const bool exact = CompareWeighted(cursor.State().Word, l.word, kWeightPrimary) == 0;
  if (!exact) {
    // An inflected form of a word the dictionaries hold; else, when no
    // word begins with the text, the nearest words by spelling.
    const WideString nearest = cursor.State().Word;
    if (ShowWordForms(session, cursor, l.word,
                      [&] { PrintTranslations(session, cursor, l.options); }))
      return 0;
    if (CompareWeighted(WideView(nearest).substr(0, l.word.size()), l.word, kWeightPrimary) != 0) {
      PrintSuggestions(cursor, l.word);
      return 1;
    }
    cursor.Locate(l.word);
    std::printf("%s: not found; nearest:\n", tools::RenderPlain(l.word).c_str());
  }
  PrintTranslations(session, cursor, l.options);
  return exact ? 0 : 1;
}

int RunFind(const std::vector<std::string>& args) {
  const Lookup l = ParseLookup(args);
  DictSession session("vandrel find");
  RequireDictionaries(session.Open(l.options.dictionaries));
  TCursorClient& cursor = session.Set().NewCursor();
  if (!cursor.Find(l.word)) {
    if (ShowWordForms(session, cursor, l.word,
                      [&] { PrintTranslations(session, cursor, l.options); }))
      return 0;
    PrintSuggestions(cursor, l.word);
    return 1;
  }
  PrintTranslations(session, cursor, l.options);
  return 0;
}

int RunWords(const std::vector<std::string>& args) {
  long count = 10;
  const Lookup l =
      ParseLookup(args, [&](const std::string& a, const std::function<std::string()>& next) {
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
  if (!cursor.Locate(l.word) || cursor.State().Word.empty()) {
    std::printf("%s: the dictionaries are empty\n", l.options.positional[0].c_str());
    return 1;
  }
  // The pane: the best match first, then the words after it.
  for (long i = 0; i < count; ++i) {
    if (i > 0 && !cursor.Next()) break;
    std::printf("%s\n", tools::RenderPlain(cursor.State().Word).c_str());
  }
  return 0;
}

const CommandRegistration lookup_registration{
    Command{"lookup", kLookupUsage,
            "the best match for WORD in the open dictionaries, with each one's translation",
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
