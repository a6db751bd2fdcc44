// The repair (and verify) run of one table: every damage the table check
// finds in the data, index and BLOB files is mended where the stored bytes
// allow it, without losing a record that can still be read.
//
// What a run does, in order:
//   - data file: a torn record at the end is cut, the record count in the
//     header follows the file, records with an invalid status become
//     deleted, an active record gets its own number back, invalid field
//     bytes are made valid (null indicators 0/1, zero tails, terminated
//     strings without trailing blanks, booleans 0/1, BLOB indicators that
//     agree with their references), the free-record chain is rebuilt over
//     every deleted record;
//   - BLOB file: each active record's chains are walked; a bad first block
//     clears the reference ("Invalid BLOB offset ..."), a bad or looping
//     link cuts the chain at the block before it ("Invalid intra-block
//     pointer ...", "Recursive intra-block pointer ..."), a value longer
//     than its chain is cut to the bytes the chain holds; blocks no value
//     owns are freed, the free list and the header rebuilt (a missing BLOB
//     file is created empty);
//   - index file: rebuilt from the records whenever it is missing or any
//     index or cross-file invariant fails, keeping the stored index
//     definitions (a primary key can be given for a table whose index file
//     was lost). A record whose key a unique index already holds is the
//     only record a run deletes, and it says so.
// A damaged header or field descriptors of the data file cannot be
// repaired: the run reports it and changes nothing.
//
// Messages end in "error fixed" (repair) or "error not fixed" (verify);
// each is handed to the progress callback as it is found and kept in the
// report. The files are opened exclusively for the run (11013 when the
// table is open anywhere in the process).
//
// Engine thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vandrel::engine {

class TDataDirectory;

struct TRepairOptions {
  bool fix = true;  // false: verify only, nothing written
  // Primary key field numbers (1-based) to use when the index file's
  // definitions are lost (missing file, damaged header, or one without a
  // primary key); empty: keep what is stored.
  std::vector<std::uint16_t> primary_key;
  std::function<void(const std::string& message)> progress;
};

struct TRepairReport {
  std::vector<std::string> messages;
  bool damaged = false;       // anything found
  bool unrepairable = false;  // the data file's header or descriptors
  bool index_rebuilt = false;
  std::uint32_t records = 0;         // physical records after the run
  std::uint32_t active_records = 0;  // active records after the run
  std::uint32_t deleted_duplicates = 0;
};

// base: the table's engine file name without extension; table: the name
// used in messages.
TRepairReport RepairTableFiles(const std::string& base, const std::string& table, bool in_memory,
                               const TRepairOptions& options);

// The table of a database: 11010 for a bad name or an absent table, 11013
// while it is open, 10498 for an encrypted table whose password the
// directory's session does not know.
TRepairReport RepairTable(TDataDirectory& dir, const std::string& table,
                          const TRepairOptions& options);

}  // namespace vandrel::engine
