// Turns source entries into what the compiler accepts: words in the code
// page of the word language, sorted by CompareWords, one entry per word.
//
// The rules, in order:
//  1. A word must be 1 to 1024 bytes in the word code page; other entries
//     are skipped and counted.
//  2. Every word goes to the word code page and back (WideToAnsi, then
//     AnsiToWide), so that the stored words are in CompareWords order as a
//     reader sees them; words this changes are counted.
//  3. A translation character that the two code pages of the dictionary
//     cannot carry through a stored body is replaced by "?" and counted,
//     instead of coming back as some other character.
//  4. Entries are sorted by CompareWords (stable: source order among equal
//     words), and entries whose words compare equal (case is part of the
//     order, diacritics are not: "e" and "é" are one word) become one: the
//     first spelling is kept, and the distinct non-empty translations are
//     joined by "; " in source order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/common/source.h"

namespace vandrel::tools {

struct PreparedEntry {
  WideString word;
  WideString trans;
};

// One skipped or changed entry, kept for reporting.
struct PrepareNote {
  std::uint32_t line;
  std::string text;  // UTF-8
};

struct PrepareStats {
  std::size_t source_entries = 0;
  std::size_t skipped_length = 0;         // rule 1
  std::size_t words_changed = 0;          // rule 2
  std::size_t translations_changed = 0;   // rule 3
  std::size_t characters_replaced = 0;    // rule 3
  std::size_t merged = 0;                 // rule 4: entries folded into an earlier one
  std::vector<PrepareNote> notes;         // the first few of each kind
};

// done/total; called now and then.
using ProgressFn = std::function<void(std::size_t done, std::size_t total)>;

// Consumes entries. Raises Exception naming the source line when a
// translation is not well-formed marked-up text.
std::vector<PreparedEntry> PrepareEntries(std::vector<SourceEntry> entries, std::uint16_t language,
                                          std::uint16_t trans_language, PrepareStats& stats,
                                          const ProgressFn& progress = nullptr);

// The translation as it survives a stored body: characters that the two
// code pages cannot carry become "?". Returns the number replaced.
std::size_t RepairTranslation(WideString& trans, std::uint16_t language, std::uint16_t trans_language);

}  // namespace vandrel::tools
