// Source entries to sorted, merged, storable entries.
#include "tools/common/prepare.h"

#include <algorithm>

#include "dictionary/body_codec.h"
#include "dictionary/dic_format.h"
#include "tools/common/markup.h"
#include "tools/common/utf8.h"

namespace vandrel::tools {
namespace {

constexpr std::size_t kNotesPerKind = 5;
const WideString kJoin = u"; ";

bool AllAscii(WideView w) {
  for (char16_t u : w) {
    if (u >= 0x80) return false;
  }
  return true;
}

}  // namespace

std::size_t RepairTranslation(WideString& trans, std::uint16_t language, std::uint16_t trans_language) {
  // ASCII text and marks come back unchanged from any code page.
  if (AllAscii(trans)) return 0;
  std::size_t replaced = 0;
  // Each round replaces at least one character, and "?" is stable, so this
  // ends; one round is the rule.
  for (std::size_t round = 0; round <= trans.size(); ++round) {
    WideString back = DecodeBody(language, trans_language, EncodeBody(language, trans_language, trans));
    if (back == trans) return replaced;
    if (back.size() != trans.size()) {
      // Only malformed marks change the length, and those were refused.
      throw Exception("translation does not keep its marks when stored");
    }
    for (std::size_t i = 0; i < trans.size(); ++i) {
      if (back[i] != trans[i] && trans[i] != u'?') {
        trans[i] = u'?';
        ++replaced;
      }
    }
  }
  return replaced;
}

std::vector<PreparedEntry> PrepareEntries(std::vector<SourceEntry> entries, std::uint16_t language,
                                          std::uint16_t trans_language, PrepareStats& stats,
                                          const ProgressFn& progress) {
  stats.source_entries += entries.size();
  std::size_t notes_length = 0, notes_word = 0, notes_trans = 0;
  std::vector<SourceEntry> kept;
  kept.reserve(entries.size());
  std::string bytes;
  const std::size_t total = entries.size();
  for (std::size_t n = 0; n < total; ++n) {
    SourceEntry& e = entries[n];
    if (progress && n % 4096 == 0) progress(n, total);
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
      ++stats.words_changed;
      if (notes_word++ < kNotesPerKind) {
        stats.notes.push_back({e.line, "word \"" + WideToUtf8(e.word) + "\" stored as \"" +
                                           WideToUtf8(stored) + "\""});
      }
      e.word = std::move(stored);
    }
    if (auto bad = CheckMarkup(e.trans)) {
      throw Exception("line " + std::to_string(e.line) + ": translation: " + bad->message);
    }
    std::size_t replaced = 0;
    try {
      replaced = RepairTranslation(e.trans, language, trans_language);
    } catch (const std::exception& x) {
      throw Exception("line " + std::to_string(e.line) + ": translation: " + x.what());
    }
    if (replaced > 0) {
      ++stats.translations_changed;
      stats.characters_replaced += replaced;
      if (notes_trans++ < kNotesPerKind) {
        stats.notes.push_back({e.line, "translation of \"" + WideToUtf8(e.word) + "\": " +
                                           std::to_string(replaced) + " character" +
                                           (replaced == 1 ? "" : "s") + " stored as \"?\""});
      }
    }
    kept.push_back(std::move(e));
  }
  entries.clear();
  entries.shrink_to_fit();

  std::stable_sort(kept.begin(), kept.end(), [](const SourceEntry& a, const SourceEntry& b) {
    return CompareWords(a.word, b.word) < 0;
  });

  std::vector<PreparedEntry> out;
  out.reserve(kept.size());
  // The translations already joined into the current entry, as (offset,
  // length) in its text: the text only grows, so they stay valid.
  std::vector<std::pair<std::size_t, std::size_t>> seen;
  for (SourceEntry& e : kept) {
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
    out.push_back({std::move(e.word), std::move(e.trans)});
  }
  kept.clear();
  if (progress) progress(total, total);
  return out;
}

}  // namespace vandrel::tools
