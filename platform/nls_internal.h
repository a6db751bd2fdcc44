// What the national-language support files share among themselves: code
// pages as objects that decode and encode one character at a time, and the
// code page of a locale. Not for use outside platform/nls*.cpp.
#pragma once

#include <cstddef>

#include "platform/nls.h"

namespace vandrel::win::nls {

constexpr char16_t kReplacementChar = 0xFFFD;

// A single- or double-byte ANSI code page. Objects live for the process and
// are immutable once FindCodePage has returned them.
class CodePage {
 public:
  virtual ~CodePage() = default;
  virtual UINT Number() const = 0;
  virtual bool IsDoubleByte() const = 0;
  // Decodes the character that starts at src (len >= 1): stores it in ch,
  // stores in valid whether the bytes are defined in the page (otherwise ch
  // is the stand-in character the page documents) and returns the number of
  // bytes consumed (1 or 2).
  virtual std::size_t Decode(const unsigned char* src, std::size_t len, char16_t& ch,
                             bool& valid) const = 0;
  // Writes the exact byte sequence of ch (1 or 2 bytes) and returns its
  // length, or returns 0 when the page has none.
  virtual std::size_t Encode(char16_t ch, unsigned char out[2]) const = 0;
};

// The page for a code-page number (CP_ACP and CP_THREAD_ACP resolved), or
// null for UTF-8, an unknown number, or a double-byte page whose tables the
// C library cannot provide.
const CodePage* FindCodePage(UINT code_page);

// The ANSI code page of a locale identifier, 0 when the locale is not valid.
UINT LocaleCodePage(LCID locale);

}  // namespace vandrel::win::nls
