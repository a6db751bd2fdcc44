// The item layout of variable-length pages (index pages, leaf pages, the
// parameters page): a 16-bit count, a table of 16-bit item offsets, and item
// data allocated from the page end downwards. TPageMan works on a page that
// somebody else owns; the checked readers refuse items that leave the page.
#pragma once

#include <cstdint>
#include <string>

#include "dictionary/charmap.h"

namespace vandrel {

class TPageMan {
 public:
  std::uint8_t* Page = nullptr;  // not owned
  std::uint32_t PageSize = 0;

  int ItemCount() const;
  int ItemSize(int i) const;
  std::uint8_t* ItemPtr(int i) const;
  int FreeSpace() const;
  std::uint8_t* AddItem(int size);

  // Checked variants for pages read from disk: false when the count table,
  // the item's offset or its size leaves the page (or sizes are negative).
  bool CheckedItemCount(int& count) const;
  bool CheckedItem(int i, const std::uint8_t*& ptr, int& size) const;

  static std::int32_t GetInt(const std::uint8_t*& cursor);
  static void PutInt(std::uint8_t*& cursor, std::int32_t value);
  static std::string GetStr(const std::uint8_t*& cursor, int count);
  static void PutStr(std::uint8_t*& cursor, const std::string& s);
  static WideString GetWideStr(const std::uint8_t*& cursor, int count);
  static void PutWideStr(std::uint8_t*& cursor, WideView w);
};

}  // namespace vandrel
