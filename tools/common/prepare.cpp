// Source entries to sorted, merged, storable entries.
#include "tools/common/prepare.h"

#include <algorithm>
#include <thread>

#include "dictionary/dic_format.h"
#include "platform/utf8.h"
#include "tools/common/dictd_source.h"
#include "tools/common/markup.h"

namespace vandrel::tools {
namespace {

constexpr std::size_t kNotesPerKind = 5;
constexpr std::size_t kLossExamples = 3;
constexpr std::size_t kMaxLostKept = std::size_t{1} << 20;
const WideString kJoin = u"; ";

}  // namespace

WideView TranslationOf(const SourceEntry& e, WideString& buffer) {
  if (e.definition.empty()) return e.trans;
  DictdDefinitionToMarkup(e.definition, buffer);
  return buffer;
}

WideView TranslationOf(const PreparedEntry& e, WideString& buffer) {
  if (e.joined.empty()) {
    if (e.definition.empty()) return e.trans;
    DictdDefinitionToMarkup(e.definition, buffer);
    return buffer;
  }
  if (e.definition.empty()) {
    buffer = e.trans;
  } else {
    DictdDefinitionToMarkup(e.definition, buffer);
  }
  WideString more;
  for (std::string_view d : e.joined) {
    DictdDefinitionToMarkup(d, more);
    if (!buffer.empty()) buffer += kJoin;
    buffer += more;
  }
  return buffer;
}

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
    if (e.definition.empty()) {
      if (auto bad = CheckMarkup(e.trans)) {
        throw Exception("line " + std::to_string(e.line) + ": translation: " + bad->message);
      }
      stats.trans_chars += e.trans.size();
    } else {
      // Measured below, beside the sorting.
    }
    stats.word_chars += e.word.size();
    WideString().swap(e.word);
    kept.push_back({std::move(bytes), std::move(stored), std::move(e.trans), e.definition});
  }
  entries.clear();
  entries.shrink_to_fit();

  // Sorted by position, not by moving whole entries; stable: source order
  // among equal words. A source already in order is left as it is.
  const auto before = [&kept](std::uint32_t a, std::uint32_t b) {
    return CompareWords(kept[a].word, kept[b].word) < 0;
  };
  std::vector<std::uint32_t> order(kept.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::uint32_t>(i);
  // The definitions' lengths are measured on another core meanwhile.
  std::size_t definition_chars = 0;
  std::thread measure([&kept, &definition_chars] {
    for (const PreparedEntry& e : kept)
      if (!e.definition.empty()) definition_chars += DictdMarkupLength(e.definition);
  });
  bool sorted = false;
  try {
    sorted = std::is_sorted(order.begin(), order.end(), before);
    if (!sorted) std::stable_sort(order.begin(), order.end(), before);
  } catch (...) {
    measure.join();
    throw;
  }
  measure.join();
  stats.trans_chars += definition_chars;
  if (!sorted) {
    // Entry order[i] moves to i, one cycle at a time.
    for (std::size_t i = 0; i < order.size(); ++i) {
      if (order[i] == i) continue;
      PreparedEntry held = std::move(kept[i]);
      std::size_t to = i;
      for (;;) {
        const std::size_t from = order[to];
        order[to] = static_cast<std::uint32_t>(to);
        if (from == i) {
          kept[to] = std::move(held);
          break;
        }
        kept[to] = std::move(kept[from]);
        to = from;
      }
    }
  }
  order.clear();
  order.shrink_to_fit();

  // Equal words become one entry, in place: out entries [0, n).
  std::size_t n = 0;
  // The distinct non-empty translations joined into the current entry so
  // far: as (offset, length) in its text while it holds text (the text only
  // grows, so they stay valid); converted, in group, while it holds
  // definitions not converted yet (definition and joined).
  std::vector<std::pair<std::size_t, std::size_t>> seen;
  std::vector<WideString> group;
  WideString buffer;
  for (std::size_t i = 0; i < kept.size(); ++i) {
    PreparedEntry& e = kept[i];
    if (n > 0 && CompareWords(kept[n - 1].word, e.word) == 0) {
      ++stats.merged;
      const WideView trans = TranslationOf(e, buffer);
      if (trans.empty()) continue;
      PreparedEntry& last = kept[n - 1];
      if (!last.definition.empty() && e.definition.empty()) {
        // Text joins definitions (not from one source): all become text.
        WideString text;
        TranslationOf(last, text);
        last.trans = std::move(text);
        last.definition = {};
        last.joined.clear();
        last.joined.shrink_to_fit();
        seen.clear();
        for (const WideString& g : group) {
          const std::size_t at = seen.empty() ? 0 : seen.back().first + seen.back().second + 2;
          seen.emplace_back(at, g.size());
        }
        group.clear();
      }
      if (!last.definition.empty()) {
        if (std::find(group.begin(), group.end(), trans) != group.end()) continue;
        group.emplace_back(trans);
        last.joined.push_back(e.definition);
        continue;
      }
      bool duplicate = false;
      for (const auto& [at, length] : seen) {
        duplicate = duplicate || WideView(last.trans).substr(at, length) == trans;
      }
      if (duplicate) continue;
      if (!last.trans.empty()) last.trans += kJoin;
      seen.emplace_back(last.trans.size(), trans.size());
      last.trans += trans;
      continue;
    }
    seen.clear();
    group.clear();
    if (!e.definition.empty()) {
      // Measured (converted) only when another entry joins it.
      if (i + 1 < kept.size() && CompareWords(e.word, kept[i + 1].word) == 0) {
        const WideView trans = TranslationOf(e, buffer);
        if (!trans.empty()) group.emplace_back(trans);
      }
    } else if (!e.trans.empty()) {
      seen.emplace_back(0, e.trans.size());
    }
    if (n != i) kept[n] = std::move(e);
    ++n;
  }
  kept.resize(n);
  if (progress) progress(total, total);
  return kept;
}

}  // namespace vandrel::tools
