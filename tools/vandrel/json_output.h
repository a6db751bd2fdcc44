// What the `vandrel` commands print with --json: one JSON document on
// standard output. A translation is given as plain text (as a terminal
// shows it, without styles) and as the tree of its marked-up structure:
//
// | node                  | fields                                                   |
// |-----------------------|----------------------------------------------------------|
// | text                  | "type": "text", "text"                                   |
// | line break            | "type": "break"                                          |
// | argument lexeme 1..3  | "type": "argument", "mark", "char"                       |
// | character lexeme 4    | "type": "char", "text"                                   |
// | translation span 5..8 | "type": "span", "kind": "translation", "mark",           |
// |                       | "language", "language_id", "children"                    |
// | word-language span 9  | "type": "span", "kind": "word", "mark": 9, "language",   |
// |                       | "language_id", "children"                                |
// | block 11              | "type": "block", "children"                              |
// | raw span 12           | "type": "raw", "text"                                    |
// | a mark out of place   | "type": "mark", "mark"                                   |
//
// "language" is the short code ("ru"), empty for an identifier without
// one; "language_id" the numeric identifier. Texts are UTF-8; a lone
// surrogate becomes U+FFFD.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "dictionary/charmap.h"

namespace vandrel::cli {

using Json = nlohmann::ordered_json;

// UTF-8 of a wide text, control characters kept (JSON escapes them).
std::string JsonString(WideView text);

// {"text": plain text, "markup": [nodes]} of a marked-up translation;
// language and trans_language are the dictionary's (words, translations).
Json TranslationJson(WideView trans, std::uint16_t language, std::uint16_t trans_language);

// The node list alone.
Json MarkupJson(WideView trans, std::uint16_t language, std::uint16_t trans_language);

// {"id": 1049, "code": "ru", "label": "0x0419 ru (Russian)"}.
Json LanguageJson(std::uint16_t language);

// Writes document to standard output, indented, with a final line break.
void PrintJson(const Json& document);

}  // namespace vandrel::cli
