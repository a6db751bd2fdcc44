// UTF-8 text of source files and terminals to the UTF-16 wide strings of
// the dictionary layer, and back. Characters above U+FFFF become surrogate
// pairs, as everywhere UTF-16 is used.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "dictionary/charmap.h"

namespace vandrel::tools {

// Decodes s. On a malformed sequence (bad lead or continuation byte,
// overlong form, surrogate code point, value above U+10FFFF, cut-off end)
// returns false and sets *bad_at to its byte offset; out then holds the
// text before it.
bool Utf8ToWide(std::string_view s, WideString& out, std::size_t* bad_at = nullptr);
// Throws Exception "invalid UTF-8 at byte N" on malformed input.
WideString Utf8ToWideOrThrow(std::string_view s);

// Encodes w; a lone surrogate unit becomes U+FFFD.
std::string WideToUtf8(WideView w);
void AppendUtf8(std::string& out, char32_t c);

}  // namespace vandrel::tools
