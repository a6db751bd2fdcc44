// Help for a word the dictionaries do not hold, for `vandrel lookup` and
// `find`: its base forms (through Hunspell, tools/common/word_forms.h) that
// the dictionaries hold, and suggestions - the nearest words by edit
// distance.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "client/cursor_client.h"
#include "dictionary/charmap.h"
#include "tools/vandrel/dict_session.h"

namespace vandrel::cli {

// Up to count words of the cursor's set within edit distance 2 of word
// (case and accents ignored), nearest first, then in dictionary order.
std::vector<WideString> Suggestions(client::TCursorClient& cursor, WideView word,
                                    std::size_t count = 10);

// Prints "word: not found; did you mean:" and the suggestions, one a line,
// or "word: not found" when there are none.
void PrintSuggestions(client::TCursorClient& cursor, WideView word);

// For every base form of word, in the languages of the open dictionaries,
// that the set holds: moves the cursor onto it, prints "word → form" and
// calls print (the form's translations). Returns whether any was shown.
bool ShowWordForms(DictSession& session, client::TCursorClient& cursor, WideView word,
                   const std::function<void()>& print);

}  // namespace vandrel::cli
