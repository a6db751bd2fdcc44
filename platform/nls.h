// National-language support: code-page conversions, locale information,
// the locale comparison and case mapping of 8-bit strings, with the
// behaviour of the Win32 calls of the same names for the code pages and
// languages Vandrel meets.
//
// Code pages. 874 and 1250 to 1258 are built-in single-byte tables; 932,
// 936, 949 and 950 are double-byte pages whose tables are read from the C
// library's iconv on first use (a page that the C library lacks is not
// valid); 65001 is UTF-8; CP_ACP and CP_THREAD_ACP mean GetACP().
//
// Single-byte pages convert every byte both ways: a byte that the page
// leaves undefined converts to a stand-in character (bytes 80-9F hex to the
// control character of the same code, bytes A0-FF hex to the private-use
// character F700 hex + byte) and back, so any byte string survives
// MultiByteToWideChar followed by WideCharToMultiByte. With
// MB_ERR_INVALID_CHARS an undefined byte fails the conversion instead.
//
// Double-byte pages: a byte that starts no character, a lead byte followed by
// a byte that does not complete a character, and a lead byte at the end of
// the input each convert to U+FFFD (a lead byte with a following byte of 40
// hex or above consumes both, otherwise only itself), or fail the
// conversion with MB_ERR_INVALID_CHARS.
//
// Towards any code page but UTF-8 a character without an exact byte
// sequence becomes the default character ("?" unless the caller gives one)
// and sets the "used default" flag; there is no best-fit mapping, and each
// surrogate unit counts as one character without a representation.
//
// All functions are thread-safe. Failures return 0 (FALSE) and set the last
// error (platform/error.h) as Win32 does.
#pragma once

#include <string_view>

#include "platform/win_types.h"

namespace vandrel::win {

using LCID = DWORD;
using LANGID = WORD;
using LCTYPE = DWORD;

constexpr DWORD ERROR_INVALID_FLAGS = 1004;

// Code pages.
constexpr UINT CP_ACP = 0;
constexpr UINT CP_THREAD_ACP = 3;
constexpr UINT CP_UTF8 = 65001;

// MultiByteToWideChar flags (MB_COMPOSITE and MB_USEGLYPHCHARS are accepted
// and change nothing: no code page here has composite forms or glyph
// characters).
constexpr DWORD MB_PRECOMPOSED = 0x01;
constexpr DWORD MB_COMPOSITE = 0x02;
constexpr DWORD MB_USEGLYPHCHARS = 0x04;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x08;

// WideCharToMultiByte flags (all but WC_ERR_INVALID_CHARS are accepted for
// the ANSI pages and change nothing; UTF-8 accepts WC_ERR_INVALID_CHARS only).
constexpr DWORD WC_DISCARDNS = 0x10;
constexpr DWORD WC_SEPCHARS = 0x20;
constexpr DWORD WC_DEFAULTCHAR = 0x40;
constexpr DWORD WC_ERR_INVALID_CHARS = 0x80;
constexpr DWORD WC_COMPOSITECHECK = 0x200;
constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x400;

// Locale information types (GetLocaleInfoA).
constexpr LCTYPE LOCALE_ILANGUAGE = 0x0001;             // "0409"
constexpr LCTYPE LOCALE_SLANGUAGE = 0x0002;             // "English (United States)"
constexpr LCTYPE LOCALE_SCOUNTRY = 0x0006;              // "United States"
constexpr LCTYPE LOCALE_SENGLANGUAGE = 0x1001;          // "English"
constexpr LCTYPE LOCALE_SENGCOUNTRY = 0x1002;           // "United States"
constexpr LCTYPE LOCALE_IDEFAULTANSICODEPAGE = 0x1004;  // "1252"
constexpr LCTYPE LOCALE_SISO639LANGNAME = 0x0059;       // "en"
constexpr LCTYPE LOCALE_SISO3166CTRYNAME = 0x005A;      // "US"
constexpr LCTYPE LOCALE_NOUSEROVERRIDE = 0x80000000u;   // accepted, no effect

// Special locale identifiers: 0 and LOCALE_USER_DEFAULT mean the user's
// default locale, LOCALE_SYSTEM_DEFAULT the system's (the same here).
constexpr LCID LOCALE_NEUTRAL = 0x0000;
constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;

// IsValidLocale flags.
constexpr DWORD LCID_INSTALLED = 0x01;
constexpr DWORD LCID_SUPPORTED = 0x02;

// CompareStringA flags and results. NORM_IGNOREKANATYPE, NORM_IGNOREWIDTH
// and SORT_STRINGSORT are accepted and change nothing.
constexpr DWORD NORM_IGNORECASE = 0x00000001;
constexpr DWORD NORM_IGNORENONSPACE = 0x00000002;
constexpr DWORD NORM_IGNORESYMBOLS = 0x00000004;
constexpr DWORD SORT_STRINGSORT = 0x00001000;
constexpr DWORD NORM_IGNOREKANATYPE = 0x00010000;
constexpr DWORD NORM_IGNOREWIDTH = 0x00020000;
constexpr int CSTR_LESS_THAN = 1;
constexpr int CSTR_EQUAL = 2;
constexpr int CSTR_GREATER_THAN = 3;

// LCMapStringA flags (exactly one of the two case mappings;
// LCMAP_LINGUISTIC_CASING is accepted and changes nothing).
constexpr DWORD LCMAP_LOWERCASE = 0x00000100;
constexpr DWORD LCMAP_UPPERCASE = 0x00000200;
constexpr DWORD LCMAP_LINGUISTIC_CASING = 0x01000000;

constexpr LANGID PRIMARYLANGID(LANGID lang) { return lang & 0x3FF; }
constexpr LANGID SUBLANGID(LANGID lang) { return lang >> 10; }
constexpr LANGID MAKELANGID(LANGID primary, LANGID sub) {
  return static_cast<LANGID>((sub << 10) | primary);
}
constexpr LCID MAKELCID(LANGID lang, WORD sort) { return (static_cast<DWORD>(sort) << 16) | lang; }
constexpr LANGID LANGIDFROMLCID(LCID lcid) { return static_cast<LANGID>(lcid & 0xFFFF); }
constexpr WORD SORTIDFROMLCID(LCID lcid) { return static_cast<WORD>((lcid >> 16) & 0xF); }

// Converts src_len bytes (-1: up to and including the terminating zero) to
// UTF-16. dst_len 0 asks for the number of units needed. Returns the units
// written, or 0: ERROR_INVALID_PARAMETER (bad code page, null pointer,
// src_len 0 or below -1, dst_len below 0), ERROR_INVALID_FLAGS,
// ERROR_INSUFFICIENT_BUFFER, ERROR_NO_UNICODE_TRANSLATION (an invalid byte
// with MB_ERR_INVALID_CHARS).
int MultiByteToWideChar(UINT code_page, DWORD flags, const char* src, int src_len, char16_t* dst,
                        int dst_len);

// Converts src_len UTF-16 units (-1: up to and including the terminating
// zero). dst_len 0 asks for the number of bytes needed. default_char (first
// character of a zero-terminated string; null: "?") replaces characters the
// page cannot carry; *used_default (when given) tells whether it did. For
// UTF-8 both must be null, and unpaired surrogates become U+FFFD unless
// WC_ERR_INVALID_CHARS makes them fail with ERROR_NO_UNICODE_TRANSLATION.
int WideCharToMultiByte(UINT code_page, DWORD flags, const char16_t* src, int src_len, char* dst,
                        int dst_len, const char* default_char, BOOL* used_default);

BOOL IsValidCodePage(UINT code_page);
// True for the double-byte pages (932, 936, 949, 950).
bool IsDoubleByteCodePage(UINT code_page);
// The ANSI code page of the user's default language.
UINT GetACP();

// Writes the text of one item of locale information with its terminating
// zero and returns its length with the zero; size 0 asks for that length.
// Unknown locale: ERROR_INVALID_PARAMETER; unknown type: ERROR_INVALID_FLAGS;
// small buffer: ERROR_INSUFFICIENT_BUFFER.
int GetLocaleInfoA(LCID locale, LCTYPE type, char* data, int size);

// Known locales are the language identifiers of the built-in locale table
// with sort identifier 0, and the German languages and Hungarian with sort
// identifier 1 as well. Both flags mean the same here.
BOOL IsValidLocale(LCID locale, DWORD flags);

// The user's default language: from the environment's locale (LC_ALL, else
// LC_CTYPE, else LANG, as "de_DE.UTF-8"), read once per process; 0409 hex
// when none is set or it names no known language.
LANGID GetUserDefaultLangID();
LANGID GetSystemDefaultLangID();
LCID GetUserDefaultLCID();
LCID GetSystemDefaultLCID();

// The language identifier a POSIX locale name stands for ("de_DE.UTF-8"
// 0407 hex, "sr_RS@latin" 081A hex, "pt" 0416 hex); 0409 hex for "C",
// "POSIX", an empty or an unknown name.
LANGID LanguageFromPosixLocale(std::string_view name);

// The name of a language ("English (United States)"), "Language Neutral"
// for an unknown one. Copies at most size - 1 characters and a zero; returns
// the characters copied (without the zero), or the full length when buffer
// is null.
DWORD VerLanguageNameA(DWORD lang, char* buffer, DWORD size);

// Compares two 8-bit strings (lengths as in MultiByteToWideChar, but -1
// excludes the terminating zero) in the locale's code page by Vandrel's
// collation weights: primary weights, then diacritics (unless
// NORM_IGNORENONSPACE), then case (unless NORM_IGNORECASE); with
// NORM_IGNORESYMBOLS punctuation and symbols are skipped. Returns
// CSTR_LESS_THAN, CSTR_EQUAL, CSTR_GREATER_THAN, or 0 on failure
// (ERROR_INVALID_PARAMETER, ERROR_INVALID_FLAGS).
int CompareStringA(LCID locale, DWORD flags, const char* a, int a_len, const char* b, int b_len);

// Maps an 8-bit string to upper or lower case in the locale's code page
// (lengths as in MultiByteToWideChar). A character whose mapped form has no
// byte sequence in the code page stays as it was. dst_len 0 asks for the
// length needed; src and dst may be the same buffer.
int LCMapStringA(LCID locale, DWORD flags, const char* src, int src_len, char* dst, int dst_len);

}  // namespace vandrel::win
