// The item layout of variable-length pages (index pages, leaf pages, the
// parameters page): a 16-bit count, a table of 16-bit item offsets, and item
// data allocated from the page end downwards. TPageMan works on a page that
// somebody else owns; the checked readers refuse items that leave the page.
//
// Page layout (P = PageSize, at most 65536; all values little-endian):
//
// | page offset          | width | field                                        |
// |----------------------|-------|----------------------------------------------|
// | 0                    | 2     | n: number of items, unsigned                 |
// | 2 + 2*i              | 2     | offset of item i from the page start         |
// | 2 + 2*n              |       | free space                                   |
// | offset of item n-1   |       | item data: item n-1 lowest, item 0 ends at P |
//
// Item sizes are not stored: item i ends where item i-1 begins (item 0 at P).
// An offset of 65536 (an empty item at the end of a 64 KiB page) is stored
// as 0; no item can start at offset 0, where the count lives, so a stored 0
// always reads as 65536.
#pragma once

#include <cstdint>
#include <string>

#include "dictionary/charmap.h"
#include "platform/exceptions.h"

namespace vandrel {

// AddItem was asked for more than FreeSpace: the page is left unchanged.
class EPageFull : public Exception {
 public:
  using Exception::Exception;
};

class TPageMan {
 public:
  std::uint8_t* Page = nullptr;  // not owned
  std::uint32_t PageSize = 0;

  int ItemCount() const;
  int ItemSize(int i) const;
  std::uint8_t* ItemPtr(int i) const;
  // Room for the data of one more item, its offset entry already counted.
  int FreeSpace() const;
  // Appends item n of `size` bytes (0 allowed) and returns its address.
  // Raises EPageFull, changing nothing, when size is negative or above
  // FreeSpace.
  std::uint8_t* AddItem(int size);

  // Checked variants for pages read from disk: false when the offset table
  // leaves the page, or when the item's offset points into the offset table
  // or past the page, or its end lies below its start or past the page.
  // Nothing outside the page is read.
  bool CheckedItemCount(int& count) const;
  bool CheckedItem(int i, const std::uint8_t*& ptr, int& size) const;

  // Cursor helpers: read or write at the cursor and move it past what they
  // touched. They do not know the item's bounds: the caller checks them.
  // A count below 1 reads nothing and leaves the cursor.
  static std::int32_t GetInt(const std::uint8_t*& cursor);
  static void PutInt(std::uint8_t*& cursor, std::int32_t value);
  static std::string GetStr(const std::uint8_t*& cursor, int count);
  static void PutStr(std::uint8_t*& cursor, const std::string& s);
  static WideString GetWideStr(const std::uint8_t*& cursor, int count);
  static void PutWideStr(std::uint8_t*& cursor, WideView w);
};

}  // namespace vandrel
