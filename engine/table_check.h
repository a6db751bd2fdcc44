// The structural check of one table's three files (data, index, BLOB): every
// invariant of their formats verified on the stored bytes, including the
// ones across files (each active record once in every index under the key
// rebuilt from it, the system index, BLOB chains owned, sized and
// leak-free). Encrypted tables are unscrambled first.
//
// API in brief:
//   TTableReport r = CheckTableBytes(dat, &idx, &blb);   // raw file bytes
//   TTableReport r = CheckTableFiles("c.vbas\\DATA", false);  // .DAT .IDX .BLB
//   r.Clean()  // no error (notes allowed)
//   r.Lines()  // "[file kind] text", one finding a line
//
// Kinds: data (header, descriptors, records, free chain), index (header,
// descriptors, trees, free lists, pages), blob (header, chains, free list),
// cross (across files). A missing index or BLOB file is checked as absent.
// The checker trusts nothing it reads: every length, offset and pointer is
// bounded before use, walks are bounded by the file size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vandrel::engine {

struct TTableFinding {
  bool error = true;  // false: a note
  std::string kind;   // data, index, blob, cross
  std::string text;
};

struct TTableReport {
  std::vector<TTableFinding> findings;
  std::uint32_t records = 0;  // physical records
  std::uint32_t active_records = 0;
  bool Clean() const;
  std::vector<std::string> Lines() const;
};

TTableReport CheckTableBytes(const std::vector<std::uint8_t>& dat,
                             const std::vector<std::uint8_t>* idx,
                             const std::vector<std::uint8_t>* blb);
// Checks every table of a container held in bytes (each inner "*.DAT" with
// its ".IDX" and ".BLB"): lines "TABLE: [kind] text"; *clean is false when
// any table has an error.
std::vector<std::string> CheckContainerTables(const std::uint8_t* bytes, std::uint64_t size,
                                              bool* clean);
// Reads base + ".DAT", ".IDX", ".BLB" through the file layer (absent index
// or BLOB files are reported, an absent data file is one error).
TTableReport CheckTableFiles(const std::string& base, bool in_memory);

}  // namespace vandrel::engine
