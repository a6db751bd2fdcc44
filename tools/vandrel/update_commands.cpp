// `vandrel put`, `vandrel remove` and `vandrel update`: word changes to a
// dictionary, each command one update bracket, so the service rebuilds the
// file once. A progress bar is drawn on a terminal; Ctrl-C asks the service
// to stop the rebuild, which keeps the old file and drops the changes.
//
// Words that compare equal in the dictionary's order ("resume" and
// "résumé") are one entry: a put of one replaces the other, a removal of
// one removes the other. Trailing blanks of a word are dropped; a put keeps
// the first 50 bytes of a longer word.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/common/progress.h"
#include "tools/common/source.h"
#include "tools/common/tsv_source.h"
#include "tools/common/utf8.h"
#include "tools/vandrel/command.h"
#include "tools/vandrel/dict_session.h"

namespace vandrel::cli {
namespace {

const char kPutUsage[] = "put DICT WORD TRANSLATION";
const char kRemoveUsage[] = "remove DICT WORD";
const char kUpdateUsage[] = "update DICT FILE.tsv";

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) { g_interrupted = true; }

// One change: an empty translation removes the word.
struct Change {
  WideString word;
  WideString trans;
};

// WORD<TAB>TRANSLATION lines with the source's escapes; "#" lines and
// empty lines skipped; an empty translation removes the word.
std::vector<Change> ReadChanges(const std::string& path) {
  const std::string text = tools::ReadWholeFile(path);
  std::vector<Change> changes;
  std::size_t at = 0;
  std::uint32_t line_no = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    ++line_no;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos || line.find('\t', tab + 1) != std::string::npos)
      throw Exception(path + ":" + std::to_string(line_no) + ": expected WORD<TAB>TRANSLATION");
    Change change;
    std::string error;
    if (!tools::UnescapeField(std::string_view(line).substr(0, tab), change.word, error) ||
        !tools::UnescapeField(std::string_view(line).substr(tab + 1), change.trans, error))
      throw Exception(path + ":" + std::to_string(line_no) + ": " + error);
    changes.push_back(std::move(change));
  }
  return changes;
}

// Sends the changes in one bracket; returns 1 when the rebuild was stopped.
int Apply(const char* client_name, const std::string& dictionary,
          const std::vector<Change>& changes) {
  DictSession session(client_name);
  client::TBaseClient& base = *session.Open({dictionary}).front();
  tools::ProgressBar bar("rebuilding " + dictionary);
  bool stopped = false;
  base.OnProgress = [&](std::int32_t position, std::int32_t total) {
    bar.Update(static_cast<std::size_t>(position) + 1, static_cast<std::size_t>(total) + 1);
    if (g_interrupted) stopped = true;
    return stopped;
  };
  g_interrupted = false;
  auto* previous = std::signal(SIGINT, OnInterrupt);
  const std::int32_t before = base.Params().RecordCount;
  try {
    base.BeginUpdate();
    try {
      for (const Change& change : changes) {
        if (change.trans.empty())
          base.DeleteWord(change.word);
        else
          base.PutWord(change.word, change.trans);
      }
    } catch (...) {
      // Nothing stored is merged: the bracket is closed after dropping it.
      try {
        base.ClearChange();
        base.EndUpdate();
      } catch (const std::exception&) {
      }
      throw;
    }
    base.EndUpdate();
  } catch (...) {
    std::signal(SIGINT, previous);
    throw;
  }
  std::signal(SIGINT, previous);
  bar.Clear();
  if (stopped) {
    std::fprintf(stderr, "vandrel: stopped; %s is unchanged\n", dictionary.c_str());
    return 1;
  }
  std::printf("%s: %d words (was %d)\n", dictionary.c_str(), base.Params().RecordCount, before);
  return 0;
}

int RunPut(const std::vector<std::string>& args) {
  const DictOptions o = ParseDictOptions(args, DictRules{3, false});
  if (o.positional.size() != 3) throw DictUsageError{"expected DICT WORD TRANSLATION"};
  Change change{tools::Utf8ToWideOrThrow(o.positional[1]),
                tools::Utf8ToWideOrThrow(o.positional[2])};
  if (change.trans.empty()) throw DictUsageError{"empty translation (use remove)"};
  return Apply("vandrel put", o.positional[0], {change});
}

int RunRemove(const std::vector<std::string>& args) {
  const DictOptions o = ParseDictOptions(args, DictRules{2, false});
  if (o.positional.size() != 2) throw DictUsageError{"expected DICT WORD"};
  return Apply("vandrel remove", o.positional[0],
               {{tools::Utf8ToWideOrThrow(o.positional[1]), {}}});
}

int RunUpdate(const std::vector<std::string>& args) {
  const DictOptions o = ParseDictOptions(args, DictRules{2, false});
  if (o.positional.size() != 2) throw DictUsageError{"expected DICT FILE.tsv"};
  const std::vector<Change> changes = ReadChanges(o.positional[1]);
  return Apply("vandrel update", o.positional[0], changes);
}

const CommandRegistration put_registration{Command{
    "put", kPutUsage, "add a word or replace its translation (one rebuild)",
    [](const std::vector<std::string>& a) { return RunDictCommand("put", kPutUsage, RunPut, a); }}};
const CommandRegistration remove_registration{Command{
    "remove", kRemoveUsage, "remove a word (one rebuild)", [](const std::vector<std::string>& a) {
      return RunDictCommand("remove", kRemoveUsage, RunRemove, a);
    }}};
const CommandRegistration update_registration{
    Command{"update", kUpdateUsage,
            "apply WORD<TAB>TRANSLATION lines (empty translation removes) in one rebuild",
            [](const std::vector<std::string>& a) {
              return RunDictCommand("update", kUpdateUsage, RunUpdate, a);
            }}};

}  // namespace
}  // namespace vandrel::cli
