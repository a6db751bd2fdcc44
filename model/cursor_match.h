// CR_MATCH: the words of a base set's merged word list that answer a match
// strategy (dictionary/word_match.h), in dictionary order, each with the
// bases that hold it. A request beyond the original protocol; the cursor's
// own state and position do not change and no notification is sent.
//
// Request (to a cursor's window), items in this order:
//
// | item | kind        | value                                              |
// |------|-------------|----------------------------------------------------|
// | 130  | wide string | strategy name: exact, prefix, nprefix, substring,  |
// |      |             | suffix, glob, re, lev, lev2, soundex, word         |
// | 116  | wide string | the text (pattern)                                 |
// | 131  | integer     | limit: at most this many words (0..100000)         |
//
// Answer:
//
// | item | kind        | value                                              |
// |------|-------------|----------------------------------------------------|
// | 102  | integer     | N, the number of words                             |
// | then N times:                                                            |
// | 116  | wide string | the word (the spelling of the first base that      |
// |      |             | holds it, in the set's order)                      |
// | 102  | integer     | M, the number of bases that hold it                |
// | 1    | integer     | M times: the window of each such base, set order   |
//
// Errors: an unknown strategy is code 224 "Unknown match strategy \"%s\"",
// a pattern the strategy cannot read code 225 "Bad match pattern: %s", a
// limit out of range code 226 "Bad match limit %d". A damaged dictionary
// is passed over (and logged once), as the cursor's moves pass it over.
#pragma once

#include <cstdint>
#include <vector>

#include "dictionary/charmap.h"
#include "dictionary/word_match.h"
#include "protocol/model_ids.h"

namespace vandrel {

// One answer of a merged match: a word and the indexes (in the set's
// order) of the sources that hold it.
struct TMergedMatch {
  WideString Word;
  std::vector<int> Sources;
};

// Merges per-source match lists (each in dictionary order) into one list
// of distinct words (CompareWords), at most limit long. For nprefix
// (nprefix_text set) each list starts at its own best match; the merged
// list starts at the best of them, as a locate picks it.
std::vector<TMergedMatch> MergeMatches(const std::vector<std::vector<WideString>>& lists,
                                       std::size_t limit, const WideString* nprefix_text);

}  // namespace vandrel
