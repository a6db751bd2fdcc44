// Page scrambling of compiled dictionaries: one routine both scrambles and
// descrambles a page, keyed by the file's page key, the built-in scrambling
// table (dic_format.h) and the page number.
#pragma once

#include <array>
#include <cstdint>

#include "dictionary/dic_format.h"

namespace vandrel {

using TPageKey = std::array<std::uint32_t, dic::kPageKeyWords>;

// The page key stored in a header (kPageKeyAt, unaligned).
TPageKey ReadPageKey(const std::uint8_t* header);
void WritePageKey(std::uint8_t* header, const TPageKey& key);

// XORs page_size bytes at page with the key stream of page number page_no.
// page_size must be a multiple of 4.
void ScramblePage(std::uint8_t* page, const TPageKey& key, std::uint32_t page_size,
                  std::uint32_t page_no);

}  // namespace vandrel
