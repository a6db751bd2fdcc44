// Suggestions through CR_MATCH (lev2) and word forms through Hunspell.
#include "tools/vandrel/word_help.h"

#include <algorithm>
#include <cstdio>

#include "client/cursor_match_client.h"
#include "dictionary/word_match.h"
#include "tools/common/render.h"
#include "tools/common/word_forms.h"

namespace vandrel::cli {

std::vector<WideString> Suggestions(client::TCursorClient& cursor, WideView word,
                                    std::size_t count) {
  const FoldedString folded = FoldWord(word);
  std::vector<std::pair<int, WideString>> near;
  for (client::TMatchedWord& m : client::MatchWords(cursor, u"lev2", word, 2000))
    near.emplace_back(EditDistance(FoldWord(m.Word), folded, 2), std::move(m.Word));
  std::stable_sort(near.begin(), near.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<WideString> out;
  for (auto& [distance, w] : near) {
    if (out.size() == count) break;
    out.push_back(std::move(w));
  }
  return out;
}

void PrintSuggestions(client::TCursorClient& cursor, WideView word) {
  const std::vector<WideString> words = Suggestions(cursor, word);
  if (words.empty()) {
    std::printf("%s: not found\n", tools::RenderPlain(word).c_str());
    return;
  }
  std::printf("%s: not found; did you mean:\n", tools::RenderPlain(word).c_str());
  for (const WideString& w : words) std::printf("  %s\n", tools::RenderPlain(w).c_str());
}

bool ShowWordForms(DictSession& session, client::TCursorClient& cursor, WideView word,
                   const std::function<void()>& print) {
  std::vector<std::uint16_t> languages;
  for (client::TBaseClient* base : session.Set().Bases()) {
    const auto language = static_cast<std::uint16_t>(base->Params().Language);
    if (std::find(languages.begin(), languages.end(), language) == languages.end())
      languages.push_back(language);
  }
  std::vector<WideString> shown;
  for (const std::uint16_t language : languages) {
    for (const WideString& form : tools::BaseForms(word, language)) {
      if (std::find(shown.begin(), shown.end(), form) != shown.end()) continue;
      if (!cursor.Find(form)) continue;
      shown.push_back(form);
      std::printf("%s \u2192 %s\n", tools::RenderPlain(word).c_str(),
                  tools::RenderPlain(form).c_str());
      print();
    }
  }
  return !shown.empty();
}

}  // namespace vandrel::cli
