// The tab-separated dictionary source: UTF-8 text, one entry a line,
//
//   word <TAB> marked-up translation
//
// Lines starting with "#" are comments, except directives "#!key<TAB>value"
// that carry the header values and parameter strings:
//   #!name, #!short-name, #!description   parameter strings (escaped text)
//   #!language, #!trans-language          "en", "ru", "0x0409", "1049", ...
//   #!scrambled, #!compressed             0 or 1
// Empty lines are skipped; a line ending in CR LF is read as ending in LF.
//
// Both fields use backslash escapes for what a line cannot hold:
//   \1 .. \9   marks U+0001 .. U+0009 (\9: text in the words' language)
//   \b         mark U+000B (block)
//   \f         mark U+000C (raw span)
//   \n         line break U+000D
//   \\         backslash
//   \#         "#" (needed only for a word that begins with "#")
//   \xHH       any other character up to U+00FF by its hex code
// A literal TAB inside a field, or any other escape, is an error.
#pragma once

#include <string>
#include <string_view>

#include "tools/common/source.h"

namespace vandrel::tools {

// The escaped UTF-8 form of a field.
std::string EscapeField(WideView text, bool is_word);
// Decodes an escaped UTF-8 field; false with a reason on a bad escape or
// bad UTF-8.
bool UnescapeField(std::string_view field, WideString& out, std::string& error);

// Parses the text of a source; name appears in error messages. Raises
// ESourceFormat listing the first bad lines (bad UTF-8, a missing or extra
// TAB, a bad escape, malformed marks, an unknown directive).
Source ParseTsvSource(std::string_view text, const std::string& name);
Source ReadTsvSource(const std::string& path);

// Directive lines for every value params holds, in a fixed order.
std::string TsvDirectives(const SourceParams& params);
// One entry line, with its LF.
std::string TsvLine(WideView word, WideView trans);

}  // namespace vandrel::tools
