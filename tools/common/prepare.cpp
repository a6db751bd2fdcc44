// Source entries to sorted, merged, storable entries.
#include "tools/common/prepare.h"

#include <algorithm>

#include "dictionary/dic_format.h"
#include "platform/utf8.h"
#include "tools/common/markup.h"

namespace vandrel::tools {
namespace {

constexpr std::size_t kNotesPerKind = 5;
constexpr std::size_t kLossExamples = 3;
constexpr std::size_t kMaxLostKept = std::size_t{1} << 20;
const WideString kJoin = u"; ";

}  // namespace

std::vector<PreparedEntry> PrepareEntries(std::vector<SourceEntry> entries, std::uint16_t language,
                                          PrepareStats& stats, const ProgressFn& progress) {
  stats.source_entries += entries.size();
  std::size_t notes_length = 0, notes_word = 0;
  std::vector<PreparedEntry> kept;
  kept.reserve(entries.size());
  const std::size_t total = entries.size();
  for (std::size_t n = 0; n < total; ++n) {
    SourceEntry& e = entries[n];
    if (progress && n % 4096 == 0) progress(n, total);
    std::string bytes;
    WideToAnsi(language, e.word, bytes);
    if (bytes.size() < static_cast<std::size_t>(dic::kMinWordBytes) ||
        bytes.size() > static_cast<std::size_t>(dic::kMaxWordBytes)) {
      ++stats.skipped_length;
      if (notes_length++ < kNotesPerKind) {
        stats.notes.push_back({e.line, "skipped: word of " + std::to_string(bytes.size()) +
                                           " bytes (a word has 1 to 1024)"});
      }
      continue;
    }
    WideString stored = AnsiToWide(language, bytes);
    if (stored != e.word) {
      std::size_t replaced = 0;
      for (std::size_t i = 0; i < e.word.size(); ++i) {
        if (i < stored.size() && stored[i] == e.word[i]) continue;
        ++replaced;
        if (stats.lost.size() < kMaxLostKept) stats.lost.push_back(e.word[i]);
      }
      ++stats.words_changed;
      stats.word_chars_replaced += replaced;
      PrepareNote note{
          e.line, "word \"" + WideToUtf8(e.word) + "\" stored as \"" + WideToUtf8(stored) + "\""};
      if (stats.loss_examples.size() < kLossExamples) stats.loss_examples.push_back(note);
      if (notes_word++ < kNotesPerKind) stats.notes.push_back(std::move(note));
    }
    if (auto bad = CheckMarkup(e.trans)) {
      throw Exception("line " + std::to_string(e.line) + ": translation: " + bad->message);
    }
    stats.word_chars += e.word.size();
    stats.trans_chars += e.trans.size();
    kept.push_back({std::move(bytes), std::move(stored), std::move(e.trans)});
  }
  entries.clear();
  entries.shrink_to_fit();

  // Stable: source order among equal words.
  std::stable_sort(kept.begin(), kept.end(), [](const PreparedEntry& a, const PreparedEntry& b) {
    return CompareWords(a.word, b.word) < 0;
  });

  std::vector<PreparedEntry> out;
  out.reserve(kept.size());
  // The translations already joined into the current entry, as (offset,
  // length) in its text: the text only grows, so they stay valid.
  std::vector<std::pair<std::size_t, std::size_t>> seen;
  for (PreparedEntry& e : kept) {
    if (!out.empty() && CompareWords(out.back().word, e.word) == 0) {
      ++stats.merged;
      if (e.trans.empty()) continue;
      PreparedEntry& last = out.back();
      bool duplicate = false;
      for (const auto& [at, length] : seen) {
        duplicate = duplicate || WideView(last.trans).substr(at, length) == WideView(e.trans);
      }
      if (duplicate) continue;
      if (!last.trans.empty()) last.trans += kJoin;
      seen.emplace_back(last.trans.size(), e.trans.size());
      last.trans += e.trans;
      continue;
    }
    seen.clear();
    if (!e.trans.empty()) seen.emplace_back(0, e.trans.size());
    out.push_back(std::move(e));
  }
  kept.clear();
  if (progress) progress(total, total);
  return out;
}

}  // namespace vandrel::tools
