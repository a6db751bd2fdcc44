// Marked-up translations (U+0001..U+000C marks, U+000D line breaks) made
// readable on a terminal or in a pipe.
//
// | mark     | shown as                                  | terminal style |
// |----------|-------------------------------------------|----------------|
// | 1, 2, 3  | the argument character in brackets: [c]   | dim brackets   |
// | 4        | the character                             | bold           |
// | 5        | the text (main translation)               | bold           |
// | 6        | the text                                  | green          |
// | 7        | the text                                  | cyan           |
// | 8        | the text (comments, labels)               | dim            |
// | 9        | the text (example in the words' language) | italic         |
// | 11       | a block: its own lines, indented 2 spaces | -              |
// | 12       | the characters as they are                | underlined     |
// | 13       | a line break                              | -              |
//
// Styles are ANSI escape sequences, used only when asked for (the output is
// a terminal). A control character that the text should not hold, and the
// C1 controls, are shown escaped ("\x1B"), never sent to the terminal.
#pragma once

#include <string>

#include "dictionary/charmap.h"

namespace vandrel::tools {

struct RenderOptions {
  bool ansi = false;   // style spans with ANSI escapes
  std::string indent;  // put before every line after the first
};

// UTF-8 text; no trailing line break.
std::string RenderTranslation(WideView text, const RenderOptions& options = {});
// The marked-up text with its marks escaped as in the tab-separated source.
std::string RenderRaw(WideView text);
// Plain text (a word, a name): every control character shown escaped.
std::string RenderPlain(WideView text);

}  // namespace vandrel::tools
