// DICT databases through the Vandrel service: CR_MATCH for MATCH and to
// find every spelling of a word for DEFINE, then CR_FIND and CR_GET_TRANS.
#include "tools/dict_server/service_backend.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "client/cursor_match_client.h"
#include "client/service_error.h"
#include "dictionary/word_match.h"
#include "protocol/model_ids.h"
#include "tools/common/languages.h"
#include "tools/common/render.h"
#include "tools/common/utf8.h"

namespace vandrel::dictd {
namespace {

constexpr std::int32_t kNPrefixCount = 20;

std::u16string Wide(const char* text) { return std::u16string(text, text + std::strlen(text)); }

}  // namespace

TServiceBackend::TServiceBackend(const std::vector<std::string>& file_names) {
  client::TClientOptions options;
  options.Name = "vandrel dict-server";
  connection_ = std::make_unique<client::TServiceConnection>(options);
  base_man_.reset(new client::TBaseManClient(connection_->BaseManWindow()));
  all_ = base_man_->NewBaseSet();
  std::vector<std::string> files = file_names;
  if (files.empty()) {
    for (const auto& f : all_->ListFiles()) files.push_back(tools::WideToUtf8(f));
    std::sort(files.begin(), files.end());
  }
  for (const std::string& f : files) {
    const std::u16string file = tools::Utf8ToWideOrThrow(f);
    client::TBaseClient* base = nullptr;
    try {
      base = &all_->OpenBase(file);
    } catch (const client::EServiceError& e) {
      if (!file_names.empty()) throw;
      std::fprintf(stderr, "skipped %s: %s (error %d)\n", f.c_str(), e.Text().c_str(), e.Code());
      continue;
    }
    std::string name = tools::WideToUtf8(base->Params().ShortName);
    if (name.empty()) {
      name =
          f.size() > 4 && f.compare(f.size() - 4, 4, ".dic") == 0 ? f.substr(0, f.size() - 4) : f;
    }
    for (char& c : name)
      if (c == ' ' || c == '\t' || c == '"' || c == '\'' || c == '\\') c = '_';
    const std::string stem = name;
    for (int n = 2; IndexOf(name) != std::string::npos || name == "*" || name == "!"; ++n)
      name = stem + "_" + std::to_string(n);
    std::string description = tools::WideToUtf8(base->Params().Name);
    if (description.empty()) description = name;
    for (char& c : description)
      if (c == '\r' || c == '\n') c = ' ';
    databases_.push_back({name, description});
    bases_.push_back(base);
    files_.push_back(file);
  }
  all_cursor_ = &all_->NewCursor();
  singles_.resize(databases_.size());
  single_cursors_.resize(databases_.size(), nullptr);
}

TServiceBackend::~TServiceBackend() {
  try {
    for (auto& set : singles_)
      if (set) set->Close();
    all_->Close();
  } catch (const std::exception&) {
  }
}

std::size_t TServiceBackend::IndexOf(const std::string& name) const {
  for (std::size_t i = 0; i < databases_.size(); ++i)
    if (databases_[i].Name == name) return i;
  return std::string::npos;
}

TServiceBackend::TSource TServiceBackend::Source(const std::string& database) {
  if (database == "*" || database == "!") {
    TSource source{all_.get(), all_cursor_, {}};
    for (std::size_t i = 0; i < databases_.size(); ++i) source.databases.push_back(i);
    return source;
  }
  const std::size_t i = IndexOf(database);
  if (i == std::string::npos) throw std::runtime_error("unknown database " + database);
  if (!singles_[i]) {
    singles_[i] = base_man_->NewBaseSet();
    singles_[i]->OpenBase(files_[i]);
    single_cursors_[i] = &singles_[i]->NewCursor();
  }
  return TSource{singles_[i].get(), single_cursors_[i], {i}};
}

std::vector<TDefinition> TServiceBackend::Define(const std::string& database, WideView word) {
  TSource source = Source(database);
  const std::vector<client::TMatchedWord> words =
      client::MatchWords(*source.cursor, u"exact", word, 1000);
  const std::vector<win::HWND>& windows = source.set->BaseWindows();
  // By database, then by word.
  std::vector<std::pair<std::size_t, TDefinition>> found;
  for (const client::TMatchedWord& w : words) {
    if (!source.cursor->Find(w.Word)) continue;
    for (win::HWND base : w.Bases) {
      const auto at = std::find(windows.begin(), windows.end(), base);
      if (at == windows.end()) continue;
      const std::size_t db = source.databases.at(static_cast<std::size_t>(at - windows.begin()));
      const std::u16string trans = source.cursor->GetTrans(base);
      found.push_back(
          {db, {databases_[db].Name, tools::WideToUtf8(w.Word), tools::RenderTranslation(trans)}});
    }
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<TDefinition> out;
  for (auto& [db, d] : found) {
    if (database == "!" && !out.empty() && out.front().Database != d.Database) break;
    out.push_back(std::move(d));
  }
  return out;
}

std::vector<TMatch> TServiceBackend::Match(const std::string& database, TMatchStrategy strategy,
                                           WideView word) {
  TSource source = Source(database);
  std::vector<client::TMatchedWord> words;
  try {
    words =
        client::MatchWords(*source.cursor, Wide(MatchStrategyName(strategy)), word,
                           strategy == TMatchStrategy::NPrefix ? kNPrefixCount : kMaxMatchLimit);
  } catch (const client::EServiceError& e) {
    if (e.Code() == kErrBadPattern) throw EMatchPattern(e.Text());
    throw;
  }
  const std::vector<win::HWND>& windows = source.set->BaseWindows();
  // Grouped by database, each database's words in dictionary order.
  std::vector<std::vector<TMatch>> by_base(windows.size());
  for (const client::TMatchedWord& w : words) {
    for (win::HWND base : w.Bases) {
      const auto at = std::find(windows.begin(), windows.end(), base);
      if (at == windows.end()) continue;
      const auto index = static_cast<std::size_t>(at - windows.begin());
      by_base[index].push_back(
          {databases_[source.databases.at(index)].Name, tools::WideToUtf8(w.Word)});
    }
  }
  std::vector<TMatch> out;
  for (auto& list : by_base) {
    out.insert(out.end(), list.begin(), list.end());
    if (database == "!" && !out.empty()) break;
  }
  return out;
}

std::string TServiceBackend::Info(const std::string& database) {
  const std::size_t i = IndexOf(database);
  if (i == std::string::npos) return {};
  const client::TBaseParams& p = bases_[i]->Params();
  std::string text = databases_[i].Description + "\n\n";
  text += "file: " + tools::WideToUtf8(files_[i]) + "\n";
  text += "words: " + std::to_string(p.RecordCount) + "\n";
  text += "languages: " + tools::LanguageLabel(static_cast<std::uint16_t>(p.Language)) + " -> " +
          tools::LanguageLabel(static_cast<std::uint16_t>(p.TransLanguage));
  if (!p.Description.empty()) text += "\n\n" + tools::WideToUtf8(p.Description);
  return text;
}

}  // namespace vandrel::dictd
