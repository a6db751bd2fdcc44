// Character maps and collation: conversions between UTF-16 and the code page
// of a dictionary language, the charset of a language, the per-block maps
// that tell which charset and byte carry a wide character, wide strings
// packed into byte strings, and the word order of every dictionary
// (CompareWords). The per-block maps are built on first use and kept for the
// life of the process.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vandrel {

using WideString = std::u16string;
using WideView = std::u16string_view;

// Font charsets.
constexpr std::uint8_t kAnyCharset = 1;  // byte below 80 hex: any charset

// Locale identifier: language in bits 0-15, sort identifier from bit 16 up.
// Throws Exception "Cannot convert Locale to Codepage: ..." on failure.
std::uint32_t LocaleToCodePage(std::uint32_t locale);
// Throws Exception "Cannot convert Locale to Charset: <id in decimal>".
std::uint8_t LocaleToCharset(std::uint16_t language);
std::string LanguageName(std::uint16_t language);

// One wide character per byte of s. Every byte string survives AnsiToWide
// followed by WideToAnsi in a single-byte code page (bytes the page leaves
// undefined included). In a double-byte page (Japanese, Korean, Chinese) a
// pair of bytes gives one character: the characters come first and the
// positions past them are U+0000, so the length rule still holds.
// Throws Exception (unknown locale) or EOSError (conversion failure).
WideString AnsiToWide(std::uint32_t locale, std::string_view s);
// One byte per character of w; true when every character had a
// representation (the default character was not used). In a double-byte
// page s holds the whole characters whose bytes fit into w.size() bytes,
// then zero bytes; characters left out make the result false unless they
// are U+0000 (so the padding of AnsiToWide converts back unchanged).
bool WideToAnsi(std::uint32_t locale, WideView w, std::string& s);

std::string PackWide(WideView w);
WideString UnpackWide(std::string_view s);

// The charset and byte that carry ch; true when the byte is not '?' or ch
// itself is '?'. Only single bytes count: characters that take two bytes
// in every page that has them (CJK ideographs) give kAnyCharset and '?'.
// Thread-safe; the block maps are built on first use.
bool CharToAnsi(char16_t ch, std::uint8_t& charset, std::uint8_t& byte);

// Masks for CharWeight / CompareWeighted.
constexpr std::uint32_t kWeightPrimary = 0;
constexpr std::uint32_t kWeightCase = 0xFF;
constexpr std::uint32_t kWeightDiacritic = 0xFF00;

std::int32_t CharWeight(char16_t ch, std::uint32_t mask);
// -1, 0 or 1.
int CompareWeighted(WideView a, WideView b, std::uint32_t mask);
// Primary weights, then case; diacritics never count. -1, 0 or 1.
int CompareWords(WideView a, WideView b);

}  // namespace vandrel
