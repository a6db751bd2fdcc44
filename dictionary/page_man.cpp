// TPageMan: the item layout of variable-length pages (layout table in
// page_man.h). Values are assembled byte by byte, so pages read the same on
// any host and at any alignment.
#include "dictionary/page_man.h"

#include <cstdio>
#include <cstring>

namespace vandrel {
namespace {

unsigned Get16(const std::uint8_t* p) { return p[0] | (unsigned{p[1]} << 8); }

void Put16(std::uint8_t* p, unsigned v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

// The stored 16-bit offset of item i, with 0 read as 65536.
int OffsetAt(const std::uint8_t* page, int i) {
  const unsigned v = Get16(page + 2 + 2 * i);
  return v == 0 ? 65536 : static_cast<int>(v);
}

}  // namespace

int TPageMan::ItemCount() const { return static_cast<int>(Get16(Page)); }

int TPageMan::ItemSize(int i) const {
  const int end = i == 0 ? static_cast<int>(PageSize) : OffsetAt(Page, i - 1);
  return end - OffsetAt(Page, i);
}

std::uint8_t* TPageMan::ItemPtr(int i) const { return Page + OffsetAt(Page, i); }

int TPageMan::FreeSpace() const {
  const int n = ItemCount();
  const int top = n == 0 ? static_cast<int>(PageSize) : OffsetAt(Page, n - 1);
  return top - 2 * n - 4;
}

std::uint8_t* TPageMan::AddItem(int size) {
  const int free = FreeSpace();
  if (size < 0 || size > free) {
    char text[96];
    std::snprintf(text, sizeof text, "Page item of %d bytes does not fit: %d bytes free.", size,
                  free);
    throw EPageFull(text);
  }
  const int n = ItemCount();
  const int offset = (n == 0 ? static_cast<int>(PageSize) : OffsetAt(Page, n - 1)) - size;
  Put16(Page + 2 + 2 * n, static_cast<unsigned>(offset) & 0xFFFF);
  Put16(Page, static_cast<unsigned>(n + 1));
  return Page + offset;
}

bool TPageMan::CheckedItemCount(int& count) const {
  if (Page == nullptr || PageSize < 2 || PageSize > 65536) return false;
  const int n = ItemCount();
  if (2 + 2 * static_cast<long>(n) > static_cast<long>(PageSize)) return false;
  count = n;
  return true;
}

bool TPageMan::CheckedItem(int i, const std::uint8_t*& ptr, int& size) const {
  int n = 0;
  if (!CheckedItemCount(n) || i < 0 || i >= n) return false;
  const int table_end = 2 + 2 * n;
  const int page_size = static_cast<int>(PageSize);
  const int start = OffsetAt(Page, i);
  const int end = i == 0 ? page_size : OffsetAt(Page, i - 1);
  if (start < table_end || start > page_size || end < start || end > page_size) return false;
  ptr = Page + start;
  size = end - start;
  return true;
}

std::int32_t TPageMan::GetInt(const std::uint8_t*& cursor) {
  const std::uint32_t v = cursor[0] | (std::uint32_t{cursor[1]} << 8) |
                          (std::uint32_t{cursor[2]} << 16) | (std::uint32_t{cursor[3]} << 24);
  cursor += 4;
  return static_cast<std::int32_t>(v);
}

void TPageMan::PutInt(std::uint8_t*& cursor, std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  for (int k = 0; k < 4; ++k) cursor[k] = static_cast<std::uint8_t>(v >> (8 * k));
  cursor += 4;
}

std::string TPageMan::GetStr(const std::uint8_t*& cursor, int count) {
  if (count <= 0) return {};
  std::string s(reinterpret_cast<const char*>(cursor), static_cast<std::size_t>(count));
  cursor += count;
  return s;
}

void TPageMan::PutStr(std::uint8_t*& cursor, const std::string& s) {
  if (!s.empty()) std::memcpy(cursor, s.data(), s.size());
  cursor += s.size();
}

WideString TPageMan::GetWideStr(const std::uint8_t*& cursor, int count) {
  if (count <= 0) return {};
  WideString w(static_cast<std::size_t>(count), u'\0');
  for (int k = 0; k < count; ++k) w[k] = static_cast<char16_t>(Get16(cursor + 2 * k));
  cursor += 2 * static_cast<std::size_t>(count);
  return w;
}

void TPageMan::PutWideStr(std::uint8_t*& cursor, WideView w) {
  for (std::size_t k = 0; k < w.size(); ++k) Put16(cursor + 2 * k, w[k]);
  cursor += 2 * w.size();
}

}  // namespace vandrel
