// Source entries to sorted, merged, storable entries.
#include "tools/common/prepare.h"

#include <algorithm>
#include <exception>
#include <thread>

#include "dictionary/dic_format.h"
#include "platform/utf8.h"
#include "tools/common/dictd_source.h"
#include "tools/common/huge_pages.h"
#include "tools/common/markup.h"

namespace vandrel::tools {
namespace {

constexpr std::size_t kNotesPerKind = 5;
constexpr std::size_t kLossExamples = 3;
constexpr std::size_t kMaxLostKept = std::size_t{1} << 20;
const WideString kJoin = u"; ";
// Entries for each thread at least, and the threads at most, by default.
constexpr std::size_t kEntriesPerThread = 16384;
constexpr std::size_t kMaxPrepareThreads = 4;

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

namespace {

// What one part of the entries gives: its kept entries (at the start of
// its range of the output), their order by word, and its share of the
// counts. Notes are kept per kind, as many as the whole may keep.
struct Part {
  enum NoteKind { kLength, kWord };
  std::size_t begin = 0;  // first source entry, and first output slot
  std::size_t end = 0;
  std::size_t kept = 0;
  std::vector<std::uint32_t> order;  // of kept entries, from begin
  PrepareStats stats;
  std::vector<NoteKind> note_kinds;  // beside stats.notes
  std::exception_ptr error;
};

// Rules 1 to 3 on entries [part.begin, part.end), the kept ones moved to
// out[part.begin...]; then their translations measured and their order
// by word found (stable).
void PreparePart(std::vector<SourceEntry>& entries, std::uint16_t language,
                 std::vector<PreparedEntry>& out, Part& part, const ProgressFn& progress,
                 std::size_t total) {
  PrepareStats& stats = part.stats;
  std::size_t notes_length = 0, notes_word = 0;
  const auto note = [&](Part::NoteKind kind, PrepareNote n) {
    std::size_t& count = kind == Part::kLength ? notes_length : notes_word;
    if (count++ >= kNotesPerKind) return;
    stats.notes.push_back(std::move(n));
    part.note_kinds.push_back(kind);
  };
  std::size_t at = part.begin;
  for (std::size_t n = part.begin; n < part.end; ++n) {
    SourceEntry& e = entries[n];
    // Reported as a share of the whole.
    if (progress && (n - part.begin) % 4096 == 0)
      progress((n - part.begin) * total / (part.end - part.begin), total);
    std::string bytes;
    WideToAnsi(language, e.word, bytes);
    if (bytes.size() < static_cast<std::size_t>(dic::kMinWordBytes) ||
        bytes.size() > static_cast<std::size_t>(dic::kMaxWordBytes)) {
      ++stats.skipped_length;
      note(Part::kLength, {e.line, "skipped: word of " + std::to_string(bytes.size()) +
                                       " bytes (a word has 1 to 1024)"});
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
      PrepareNote changed{
          e.line, "word \"" + WideToUtf8(e.word) + "\" stored as \"" + WideToUtf8(stored) + "\""};
      if (stats.loss_examples.size() < kLossExamples) stats.loss_examples.push_back(changed);
      note(Part::kWord, std::move(changed));
    }
    if (e.definition.empty()) {
      if (auto bad = CheckMarkup(e.trans)) {
        throw Exception("line " + std::to_string(e.line) + ": translation: " + bad->message);
      }
      stats.trans_chars += e.trans.size();
    } else {
      stats.trans_chars += DictdMarkupLength(e.definition);
    }
    stats.word_chars += e.word.size();
    WideString().swap(e.word);
    out[at++] = {std::move(bytes), std::move(stored), std::move(e.trans), e.definition};
  }
  part.kept = at - part.begin;
  // Sorted by position, not by moving whole entries; stable: source order
  // among equal words. A part already in order is left as it is.
  const PreparedEntry* const kept = out.data() + part.begin;
  const auto before = [kept](std::uint32_t a, std::uint32_t b) {
    return CompareWords(kept[a].word, kept[b].word) < 0;
  };
  part.order.resize(part.kept);
  for (std::size_t i = 0; i < part.kept; ++i) part.order[i] = static_cast<std::uint32_t>(i);
  if (!std::is_sorted(part.order.begin(), part.order.end(), before))
    std::stable_sort(part.order.begin(), part.order.end(), before);
}

// Rule 4 on the sorted entries [begin, end), in place: they become
// [begin, returned); merged counts the entries folded into an earlier one.
// Every word of the range compares unequal to the words outside it.
std::size_t MergeEqualWords(std::vector<PreparedEntry>& kept, std::size_t begin, std::size_t end,
                            std::size_t& merged) {
  std::size_t n = begin;
  // The distinct non-empty translations joined into the current entry so
  // far: as (offset, length) in its text while it holds text (the text only
  // grows, so they stay valid); converted, in group, while it holds
  // definitions not converted yet (definition and joined).
  std::vector<std::pair<std::size_t, std::size_t>> seen;
  std::vector<WideString> group;
  WideString buffer;
  for (std::size_t i = begin; i < end; ++i) {
    PreparedEntry& e = kept[i];
    if (n > begin && CompareWords(kept[n - 1].word, e.word) == 0) {
      ++merged;
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
      if (i + 1 < end && CompareWords(e.word, kept[i + 1].word) == 0) {
        const WideView trans = TranslationOf(e, buffer);
        if (!trans.empty()) group.emplace_back(trans);
      }
    } else if (!e.trans.empty()) {
      seen.emplace_back(0, e.trans.size());
    }
    if (n != i) kept[n] = std::move(e);
    ++n;
  }
  return n;
}

}  // namespace

std::vector<PreparedEntry> PrepareEntries(std::vector<SourceEntry> entries, std::uint16_t language,
                                          PrepareStats& stats, const ProgressFn& progress,
                                          std::size_t threads) {
  stats.source_entries += entries.size();
  const std::size_t total = entries.size();
  if (threads == 0) {
    // Below some thousands of entries a thread costs more than it saves.
    threads = total < kEntriesPerThread
                  ? 1
                  : std::min<std::size_t>(kMaxPrepareThreads,
                                          std::max(1u, std::thread::hardware_concurrency()));
  }
  // Each part converts, measures and sorts its share of the entries on
  // its own thread (the first on this one); the kept entries are then
  // closed up in source order and the parts' orders merged, which gives
  // the order one stable sort of the whole gives.
  std::vector<Part> parts(
      std::max<std::size_t>(1, std::min(threads, std::max<std::size_t>(1, total))));
  for (std::size_t p = 0; p < parts.size(); ++p) {
    parts[p].begin = total * p / parts.size();
    parts[p].end = total * (p + 1) / parts.size();
  }
  std::vector<PreparedEntry> kept;
  kept.reserve(total);
  AdviseHugePages(kept.data(), total * sizeof(PreparedEntry));
  kept.resize(total);
  {
    const auto run = [&](Part& part, const ProgressFn& report) {
      try {
        PreparePart(entries, language, kept, part, report, total);
      } catch (...) {
        part.error = std::current_exception();
      }
    };
    std::vector<std::jthread> helpers;
    for (std::size_t p = 1; p < parts.size(); ++p)
      helpers.emplace_back([&run, &part = parts[p]] { run(part, nullptr); });
    run(parts[0], progress);
  }
  entries.clear();
  entries.shrink_to_fit();
  // The first error in source order is the one a single pass meets.
  for (const Part& part : parts)
    if (part.error) std::rethrow_exception(part.error);

  std::size_t notes_length = 0, notes_word = 0;
  std::vector<std::uint32_t> order;
  order.reserve(total);
  std::size_t n = 0;
  for (Part& part : parts) {
    PrepareStats& s = part.stats;
    stats.skipped_length += s.skipped_length;
    stats.words_changed += s.words_changed;
    stats.word_chars_replaced += s.word_chars_replaced;
    stats.word_chars += s.word_chars;
    stats.trans_chars += s.trans_chars;
    for (PrepareNote& note : s.loss_examples)
      if (stats.loss_examples.size() < kLossExamples)
        stats.loss_examples.push_back(std::move(note));
    stats.lost.append(s.lost, 0, kMaxLostKept - std::min(kMaxLostKept, stats.lost.size()));
    for (std::size_t i = 0; i < s.notes.size(); ++i) {
      std::size_t& count = part.note_kinds[i] == Part::kLength ? notes_length : notes_word;
      if (count++ < kNotesPerKind) stats.notes.push_back(std::move(s.notes[i]));
    }
    // Closed up behind the parts before it.
    if (n != part.begin)
      std::move(kept.begin() + static_cast<std::ptrdiff_t>(part.begin),
                kept.begin() + static_cast<std::ptrdiff_t>(part.begin + part.kept),
                kept.begin() + static_cast<std::ptrdiff_t>(n));
    const auto middle = static_cast<std::ptrdiff_t>(order.size());
    for (std::uint32_t i : part.order) order.push_back(static_cast<std::uint32_t>(n + i));
    part.order = {};
    n += part.kept;
    // Stable: an entry of an earlier part comes first among equal words.
    std::inplace_merge(order.begin(), order.begin() + middle, order.end(),
                       [&kept](std::uint32_t a, std::uint32_t b) {
                         return CompareWords(kept[a].word, kept[b].word) < 0;
                       });
  }
  kept.resize(n);
  bool sorted = true;
  for (std::size_t i = 0; i < order.size() && sorted; ++i) sorted = order[i] == i;
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

  // Equal words become one entry, in place. The entries are cut into
  // parts between unequal words, each merged on its own thread, then
  // closed up.
  std::vector<std::size_t> bounds(parts.size() + 1, kept.size());
  bounds[0] = 0;
  for (std::size_t p = 1; p < parts.size(); ++p) {
    std::size_t at = std::max(bounds[p - 1], kept.size() * p / parts.size());
    while (at > 0 && at < kept.size() && CompareWords(kept[at - 1].word, kept[at].word) == 0) ++at;
    bounds[p] = at;
  }
  std::vector<std::size_t> ends(parts.size()), merged(parts.size(), 0);
  std::vector<std::exception_ptr> errors(parts.size());
  {
    const auto run = [&](std::size_t p) {
      try {
        ends[p] = MergeEqualWords(kept, bounds[p], bounds[p + 1], merged[p]);
      } catch (...) {
        errors[p] = std::current_exception();
      }
    };
    std::vector<std::jthread> helpers;
    for (std::size_t p = 1; p < parts.size(); ++p)
      if (bounds[p] < bounds[p + 1]) helpers.emplace_back(run, p);
    run(0);
  }
  for (const std::exception_ptr& error : errors)
    if (error) std::rethrow_exception(error);
  n = 0;
  for (std::size_t p = 0; p < parts.size(); ++p) {
    stats.merged += merged[p];
    if (bounds[p] >= bounds[p + 1]) continue;
    if (n != bounds[p])
      std::move(kept.begin() + static_cast<std::ptrdiff_t>(bounds[p]),
                kept.begin() + static_cast<std::ptrdiff_t>(ends[p]),
                kept.begin() + static_cast<std::ptrdiff_t>(n));
    n += ends[p] - bounds[p];
  }
  kept.resize(n);
  if (progress) progress(total, total);
  return kept;
}

}  // namespace vandrel::tools
