// Language identifiers as the tools accept and print them: "0x0419",
// "1049", or a short name such as "ru" or "de".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace vandrel::tools {

// Raises Exception "unknown language 'xx'" for a name or number it does not
// know, and for identifiers outside 16 bits. Names are two-letter ("de") or
// three-letter ("deu", "ger") language codes.
std::uint16_t ParseLanguage(const std::string& text);
// Word and translation languages from a file name that ends in two language
// codes, such as "freedict-deu-eng" or "en-ru"; nullopt otherwise.
std::optional<std::pair<std::uint16_t, std::uint16_t>> LanguagesFromName(const std::string& base);
// Short name ("ru") of a known identifier, empty otherwise.
std::string LanguageShortName(std::uint16_t language);
// "0x0419 ru (Russian)"; the name part comes from the character maps.
std::string LanguageLabel(std::uint16_t language);
// Raises Exception with a clear text when a dictionary cannot use the
// language: no code page or charset, or a double-byte code page (words and
// translations in those are not supported by the tools yet).
void CheckDictionaryLanguage(std::uint16_t language);

}  // namespace vandrel::tools
