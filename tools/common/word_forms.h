// Base forms of inflected words ("houses" -> "house", "Häuser" -> "Haus"),
// through Hunspell and its packaged dictionaries: the language of a
// dictionary's words picks the Hunspell dictionary (English en_US, German
// de_DE, Russian ru_RU, from /usr/share/hunspell or $VANDREL_HUNSPELL_DIR).
// A language without a Hunspell dictionary has no forms. Built without
// Hunspell (only where the library is missing), nothing has forms.
//
// Hunspell dictionaries are loaded on first use and kept for the process;
// not thread-safe.
#pragma once

#include <cstdint>
#include <vector>

#include "dictionary/charmap.h"

namespace vandrel::tools {

// The base forms Hunspell gives for word in language (a Windows language
// identifier), without word itself (case ignored) and without repeats.
std::vector<WideString> BaseForms(WideView word, std::uint16_t language);

// Whether this build reads Hunspell dictionaries at all.
bool WordFormsAvailable();

}  // namespace vandrel::tools
