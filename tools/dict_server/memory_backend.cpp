// In-memory DICT databases: definitions by exact match, matches through the
// match strategies over each database's sorted words.
#include "tools/dict_server/memory_backend.h"

#include <algorithm>
#include <numeric>

#include "tools/common/utf8.h"

namespace vandrel::dictd {

void TMemoryBackend::Add(const TDatabase& database,
                         std::vector<std::pair<WideString, std::string>> entries) {
  std::stable_sort(entries.begin(), entries.end(),
                   [](const auto& a, const auto& b) { return CompareWords(a.first, b.first) < 0; });
  TData data;
  for (auto& [word, text] : entries) {
    data.words.push_back(std::move(word));
    data.texts.push_back(std::move(text));
  }
  databases_.push_back(database);
  data_.push_back(std::move(data));
}

std::vector<TDefinition> TMemoryBackend::Define(const std::string& database, WideView word) {
  std::vector<TDefinition> out;
  for (std::size_t i = 0; i < databases_.size(); ++i) {
    if (database != "*" && database != "!" && database != databases_[i].Name) continue;
    const TData& d = data_[i];
    for (std::size_t j = 0; j < d.words.size(); ++j)
      if (CompareWeighted(d.words[j], word, kWeightPrimary) == 0)
        out.push_back({databases_[i].Name, tools::WideToUtf8(d.words[j]), d.texts[j]});
    if (database == "!" && !out.empty()) break;
  }
  return out;
}

std::vector<TMatch> TMemoryBackend::Match(const std::string& database, TMatchStrategy strategy,
                                          WideView word) {
  const TWordMatcher matcher(strategy, word);
  std::vector<TMatch> out;
  for (std::size_t i = 0; i < databases_.size(); ++i) {
    if (database != "*" && database != "!" && database != databases_[i].Name) continue;
    TVectorWordSource source(data_[i].words);
    std::vector<WideString> words;
    matcher.Collect(source, strategy == TMatchStrategy::NPrefix ? 20 : 100000, words);
    for (const WideString& w : words) out.push_back({databases_[i].Name, tools::WideToUtf8(w)});
    if (database == "!" && !out.empty()) break;
  }
  return out;
}

std::string TMemoryBackend::Info(const std::string& database) {
  for (std::size_t i = 0; i < databases_.size(); ++i)
    if (databases_[i].Name == database)
      return databases_[i].Description + "\n" + std::to_string(data_[i].words.size()) + " words";
  return {};
}

}  // namespace vandrel::dictd
