// Turns source entries into what the compiler accepts: words in the code
// page of the word language, sorted by CompareWords, one entry per word.
//
// The rules, in order:
//  1. A word must be 1 to 1024 bytes in the word code page; other entries
//     are skipped and counted.
//  2. Every word goes to the word code page and back (WideToAnsi, then
//     AnsiToWide), so that the stored words are in CompareWords order as a
//     reader sees them; words this changes are counted.
//  3. Translations are taken as they are: the body codec keeps every
//     character (what neither code page holds is stored as an escape), so
//     only their marks are checked here, and they are encoded once, by the
//     compiler.
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
#include <string_view>
#include <vector>

#include "tools/common/source.h"

namespace vandrel::tools {

struct PreparedEntry {
  std::string bytes;  // the word in the word code page, as stored
  WideString word;    // the same bytes read back: the form a reader sees
  WideString trans;
  // A dictd definition still to convert, as in SourceEntry (the bytes
  // belong to the Source's data): then trans is empty.
  std::string_view definition = {};
  // Definitions of entries with the same word joined to this one, each
  // adding "; " and its text (when what comes before is not empty).
  std::vector<std::string_view> joined = {};
};

// The translation of e: its trans, or its definitions converted (and
// joined) into buffer.
WideView TranslationOf(const SourceEntry& e, WideString& buffer);
WideView TranslationOf(const PreparedEntry& e, WideString& buffer);

// One skipped or changed entry, kept for reporting.
struct PrepareNote {
  std::uint32_t line;
  std::string text;  // UTF-8
};

struct PrepareStats {
  std::size_t source_entries = 0;
  std::size_t skipped_length = 0;          // rule 1
  std::size_t words_changed = 0;           // rule 2
  std::size_t word_chars_replaced = 0;     // rule 2: characters stored otherwise ("?" mostly)
  std::size_t word_chars = 0;              // characters of the kept words
  std::size_t trans_chars = 0;             // characters of the kept translations
  std::vector<PrepareNote> loss_examples;  // the first three words with characters replaced
  WideString lost;                         // the characters replaced (the first million)
  std::size_t merged = 0;                  // rule 4: entries folded into an earlier one
  std::vector<PrepareNote> notes;          // the first few of each kind
};

// done/total; called now and then.
using ProgressFn = std::function<void(std::size_t done, std::size_t total)>;

// Consumes entries; each word is converted to the code page of language
// once. Definitions not converted yet stay so (they hold no marks to
// check); the source's data must outlive the result. Raises Exception naming the source line when a
// translation is not well-formed marked-up text.
// threads: how many share the work (0: the cores, at most 4, for inputs of
// some thousands of entries); the result is the same for any number.
std::vector<PreparedEntry> PrepareEntries(std::vector<SourceEntry> entries, std::uint16_t language,
                                          PrepareStats& stats, const ProgressFn& progress = nullptr,
                                          std::size_t threads = 0);

}  // namespace vandrel::tools
