// The single-byte code pages built into the platform layer (874 and 1250 to
// 1258): the character of every byte as the C library's conversion tables
// define it. The data is generated once by scripts/gen_nls_tables.py and
// committed; the conversion rules (what an undefined byte becomes) live in
// the national-language support, not here.
#pragma once

#include <span>

#include "platform/win_types.h"

namespace vandrel::win::nls {

// Marks a byte that the code page leaves without a character.
constexpr char16_t kUndefinedByte = 0xFFFF;

struct SingleByteTable {
  UINT code_page;
  const char16_t* to_wide;  // 256 entries, static storage
};

// Every built-in single-byte code page, in ascending code-page order.
std::span<const SingleByteTable> SingleByteTables();

}  // namespace vandrel::win::nls
