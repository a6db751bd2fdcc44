// The base container's file format: one operating-system file of 4096-byte
// pages holding a whole engine database. Every value is fixed by files on
// disk: never change one.
//
// All integers are 32-bit little-endian signed. Page n starts at byte
// n * 4096; page numbers count from 0.
//
// Page 0, the header (bytes 20-4095 zero):
//
//   offset  width  field                 meaning
//   0       4      signature             "VBAS" (0x53414256 little-endian)
//   4       4      version               1
//   8       4      page count            pages in use, header and table included
//   12      4      table end             first page after the allocation table;
//                                        the table is pages 1 .. table end - 1
//   16      4      first directory page  -1 while there is none
//
// Pages 1 .. table end - 1, the allocation table: one entry per page, 1024
// entries a page, consecutive, so the table is one array indexed by page
// number. table end - 1 = ceil(page count / 1024).
//
//   entry   meaning
//   0       free page (always all zero); also every entry >= page count
//   -1      in use, last page of its chain (header and table pages too)
//   n > 0   in use, next page of the chain is n (table end <= n < page count)
//
// Directory pages: a chain from the header's first directory page, 32
// entries of 128 bytes a page. Directory pages are never freed.
//
//   offset  width  field        meaning
//   0       64     name         1-63 bytes, zero-terminated, zero after; first
//                               byte 0: free entry (all 128 bytes zero)
//   64      4      attributes   file attribute bits, within 0x1B7
//   68      4      first page   first data page, -1 when the file has none
//   72      4      size         length in bytes, 0 .. 2^31 - 1
//   76      52     reserved     zero
//
// File data: byte k of an inner file lies in chain page k / 4096 at offset
// k % 4096. A file of size s owns exactly ceil(s / 4096) pages; bytes of its
// last page past s are zero.
//
// A new, empty container is 8192 bytes: the header (page count 2, table end
// 2, first directory page -1) and page 1 with entries 0 and 1 set to -1.
//
// Growth: a new page is page count (the file grows by one page). When page
// count is a multiple of 1024 the table is full; the page at table end
// moves to page count and becomes the table's last page first. The file may
// be longer than page count * 4096 (spare pages of a container left open or
// crashed); they are zero, and a clean close cuts them.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace vandrel::engine::container {

static_assert(std::endian::native == std::endian::little,
              "the container is mapped and read in place: little-endian hosts only");

constexpr std::int64_t kPageSize = 4096;
constexpr std::int32_t kEntriesPerTablePage = 1024;
constexpr std::int32_t kDirEntrySize = 128;
constexpr std::int32_t kDirEntriesPerPage = 32;
constexpr std::int32_t kMaxNameLength = 63;
constexpr std::uint32_t kSignature = 0x53414256;  // "VBAS"
constexpr std::int32_t kVersion = 1;
constexpr std::int32_t kEndOfChain = -1;
constexpr std::int32_t kFreePage = 0;
constexpr std::uint32_t kAttributeMask = 0x1B7;
constexpr std::int64_t kMaxInnerSize = 0x7FFFFFFF;
constexpr std::int32_t kMaxPageCount = 0x7FFFFFFF;

// Header offsets.
constexpr std::size_t kSignatureOffset = 0;
constexpr std::size_t kVersionOffset = 4;
constexpr std::size_t kPageCountOffset = 8;
constexpr std::size_t kTableEndOffset = 12;
constexpr std::size_t kFirstDirPageOffset = 16;
constexpr std::size_t kHeaderUsed = 20;

// Directory entry offsets.
constexpr std::size_t kNameOffset = 0;
constexpr std::size_t kNameField = 64;
constexpr std::size_t kAttributesOffset = 64;
constexpr std::size_t kFirstPageOffset = 68;
constexpr std::size_t kSizeOffset = 72;
constexpr std::size_t kReservedOffset = 76;

inline std::int32_t GetI32(const std::uint8_t* p) {
  std::int32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
inline void PutI32(std::uint8_t* p, std::int32_t v) { std::memcpy(p, &v, 4); }

// The table pages a container of page_count pages needs.
constexpr std::int32_t TablePagesFor(std::int64_t page_count) {
  return static_cast<std::int32_t>((page_count + kEntriesPerTablePage - 1) / kEntriesPerTablePage);
}

}  // namespace vandrel::engine::container
