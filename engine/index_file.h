// TIndexFile: the index file (".IDX") of a table: the primary index, up to
// 30 secondary indexes and the system index, each a B+tree of 4096-byte
// pages (page.h) with subtree counts and neighbour links, and the page cache.
//
// Header (bytes 0 ... 4095; integers little-endian):
//
// | offset | width    | field                                                  |
// |--------|----------|--------------------------------------------------------|
// | 0      | i32      | change count, +1 at every header write                 |
// | 4      | 4        | reserved, zero                                         |
// | 8      | 1        | version, 4                                             |
// | 9      | i32      | end of file: where the next new page goes (4096 empty) |
// | 13     | 1        | secondary count (0 ... 30)                             |
// | 14     | 33 × 120 | descriptors: 0 primary, 1 ... 30 secondary, 31 system, |
// |        |          | 32 reserved                                            |
// | 3974   | i32      | reserved, written 0                                    |
// | 3978   | 1        | no primary key (the primary index has no fields)       |
// | 3979   | 1        | header changed (the in-memory flag at writing)         |
// | 3980   | 116      | reserved, zero                                         |
//
// Index descriptor (120 bytes):
//
// | offset | width   | field                                                   |
// |--------|---------|---------------------------------------------------------|
// | 0      | 31      | name: length byte + up to 30 (primary: empty;           |
// |        |         | slot 31: "Sys Deleted")                                 |
// | 31     | u16     | key length                                              |
// | 33     | 1       | descending                                              |
// | 34     | 1       | case-insensitive                                        |
// | 35     | 1       | unique (always 1 for the primary index)                 |
// | 36     | 1       | compression 0 ... 3 (page.h)                            |
// | 37     | 1       | field count, at most 16                                 |
// | 38     | 16      | field descending, one byte per key field                |
// | 54     | 16 × u16| field numbers                                           |
// | 86     | i32     | root page, 0 = empty                                    |
// | 90     | i32     | first page of the index's free list, 0 = none           |
// | 94     | 26      | reserved, zero                                          |
//
// The system index (slot 31, key length 5, flags 0, no fields) holds one
// entry per record, active or deleted: status byte + sortable
// auto-increment value; it always compares bytewise. Equal keys are ordered
// by record number. Free pages are zero but their next link (the next free
// page of the same index). Encrypted tables store the header and every page
// scrambled as whole 4096-byte runs with the record seed.
//
// Positions (TIndexPos) name a leaf entry; any insert or delete may move
// entries, so a caller locates its key again after changing the index.
// Lifetime: the owning table creates and frees its TIndexFile; it needs the
// table's field descriptors for as long as it is open. The engine runs on
// the service's main thread only.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/file_handler.h"
#include "engine/key_encoding.h"
#include "engine/page.h"
#include "engine/record_layout.h"

namespace vandrel::engine {

constexpr std::size_t kIndexSlots = 33;
constexpr std::size_t kPrimarySlot = 0;
constexpr std::size_t kSystemSlot = 31;
constexpr std::size_t kMaxSecondary = 30;
constexpr std::size_t kMaxKeyFields = 16;
constexpr std::size_t kMaxFieldPart = 524;
constexpr std::size_t kIndexDescSize = 120;
constexpr std::size_t kIndexDescStart = 14;
constexpr std::size_t kMaxTreeDepth = 64;

struct TIndexDesc {
  std::string name;
  std::uint16_t key_length = 0;
  bool descending = false;
  bool case_insensitive = false;
  bool unique = false;
  std::uint8_t compression = 0;
  std::vector<std::uint16_t> fields;
  std::vector<bool> field_descending;
  std::uint32_t root = 0;
  std::uint32_t free_pages = 0;
};

struct TIndexHeader {
  std::int32_t change_count = 0;
  std::uint8_t version = 4;
  std::uint32_t end_of_file = kPageSize;
  std::uint8_t secondary_count = 0;
  std::array<TIndexDesc, kIndexSlots> slots;
  bool no_primary_key = false;
  bool header_changed = false;
};

// 4096 bytes (unscrambled) and back. Decoding clamps lengths to their
// capacity and checks nothing else.
void EncodeIndexHeader(const TIndexHeader& h, std::uint8_t* out);
TIndexHeader DecodeIndexHeader(const std::uint8_t* in);

struct TIndexPos {
  std::uint32_t page = 0;  // 0: no entry (end, or an empty index)
  std::uint32_t index = 0;
  bool valid() const { return page != 0; }
};

class TIndexFile : public TFileHandler {
 public:
  TIndexFile(std::string table, bool in_memory = false);
  ~TIndexFile() override;

  // fields: the table's descriptors, kept by reference while open; lcid 0:
  // no locale.
  void CreateIndex(const std::string& file_name, const std::vector<TFieldDesc>& fields,
                   std::uint32_t lcid, bool encrypted);
  // 12035 wrong version; 8961 inconsistent header.
  void OpenIndex(const std::string& file_name, const std::vector<TFieldDesc>& fields,
                 std::uint32_t lcid, bool encrypted, bool exclusive, bool read_only);
  void CloseIndex();

  // 9993 when defined, 9487 above 16 fields, 12292 for a BLOB field. Always
  // unique; no fields: the no-primary-key flag.
  void AddPrimaryIndex(TIndexDesc desc);
  // 9487, 10010, 10022, 10027, 12292; returns the slot.
  std::size_t AddSecondaryIndex(TIndexDesc desc);

  // Removes secondary index k (1 ... secondary count): the later ones move
  // down a slot and the removed descriptor, pages and all, lands in the slot
  // that fell free (its pages stay there until a repair reclaims them).
  void DeleteSecondaryIndex(std::size_t k);

  const TIndexHeader& header() const { return header_; }
  const TIndexDesc& desc(std::size_t slot) const { return header_.slots[slot]; }
  const TKeyLayout& layout(std::size_t slot) const { return layouts_[slot]; }
  const TPageFormat& format(std::size_t slot) const { return formats_[slot]; }
  // Whether slot holds an index (primary with fields, a secondary, system).
  bool HasIndex(std::size_t slot) const;
  // Key of a record (record size bytes) in slot's encoding.
  std::vector<std::uint8_t> BuildKey(std::size_t slot, const std::uint8_t* record) const;

  // Inserts (key, record); false (nothing changed) when the index is unique
  // and holds an equal key.
  bool Insert(std::size_t slot, const std::uint8_t* key, std::uint32_t record);
  // Removes the entry (key, record); false when there is none.
  bool Delete(std::size_t slot, const std::uint8_t* key, std::uint32_t record);
  // Delete() deletes the file, as for every handler.
  using TFileHandler::Delete;

  // The first entry whose key is >= key over its first len bytes (lower
  // bound); invalid when there is none.
  TIndexPos Find(std::size_t slot, const std::uint8_t* key, std::size_t len);
  // The entry (key, record), or invalid.
  TIndexPos Locate(std::size_t slot, const std::uint8_t* key, std::uint32_t record);
  TIndexPos First(std::size_t slot);
  TIndexPos Last(std::size_t slot);
  // Moves to the following / preceding entry; false (pos invalid) at the end.
  bool Next(std::size_t slot, TIndexPos& pos);
  bool Prior(std::size_t slot, TIndexPos& pos);
  // Key and record number at a valid position (the key stays valid until the
  // next call on this file).
  const std::uint8_t* KeyAt(std::size_t slot, const TIndexPos& pos);
  std::uint32_t RecordAt(std::size_t slot, const TIndexPos& pos);
  // Keys in the index.
  std::uint64_t KeyCount(std::size_t slot);
  // 0-based position of (key, record) in index order: the entries before it.
  std::uint64_t KeyPosition(std::size_t slot, const std::uint8_t* key, std::uint32_t record);
  // The entry at 0-based position n, or invalid past the end.
  TIndexPos PositionByCount(std::size_t slot, std::uint64_t n);

  // Writes dirty pages (sorted, runs of consecutive pages as one write) and
  // the header when changed.
  void Flush() override;
  void WriteHeader(bool force);
  bool HeaderChanged();
  // Cuts every page: all indexes empty.
  void Empty();
  // Drops every cached page, changed ones unwritten, and reads the header
  // again (a rollback).
  void DiscardChanges();
  // While held (a transaction), nothing is written to make room: the page
  // cache grows instead.
  void HoldWrites(bool hold) { hold_writes_ = hold; }
  void set_cache_capacity(std::size_t pages) { capacity_ = pages; }
  std::size_t cached_pages() const { return cache_.size(); }
  // The decoded page at offset (for checks): 8965 when it is not a page of
  // the file or does not decode.
  const TPage& ReadPage(std::size_t slot, std::uint32_t offset) { return Page(slot, offset); }

 private:
  struct PathStep {
    std::uint32_t page;
    std::uint32_t index;
  };
  using Path = std::vector<PathStep>;

  void SetUpSlots();
  void CheckHeader(std::int64_t file_size);
  TPage& Page(std::size_t slot, std::uint32_t offset);
  void MarkDirty(TPage& page);
  void DropCache() {
    cache_.clear();
    dirty_.clear();
    hot_.fill({});
    ++version_;
  }
  // Fills path with the descent to the end of a non-empty index (the last
  // entry of every page, the leaf position after its last entry).
  void DescendToEnd(std::size_t slot, Path& path);
  TPage& Allocate(std::size_t slot, std::uint8_t type);
  void FreePage(std::size_t slot, TPage& page);
  void Trim();
  // Descends to the leaf where (key, record) is or would go; path holds
  // every page and the index chosen in it (the leaf's: the position).
  void Descend(std::size_t slot, const std::uint8_t* key, std::size_t len, Path& path,
               const std::uint32_t* record = nullptr);
  std::uint32_t FirstRecord(std::size_t slot, std::uint32_t offset, std::size_t depth);
  // Moves the position of a full-key search past entries below (key,
  // record), across leaves when needed.
  void SeekRecord(std::size_t slot, const std::uint8_t* key, std::uint32_t record, Path& path);
  bool NextLeaf(std::size_t slot, Path& path);
  int CompareEntry(std::size_t slot, const TPage& leaf, std::size_t i, const std::uint8_t* key,
                   std::uint32_t record) const;
  void FixFirstKeys(std::size_t slot, const Path& path, std::size_t level);
  void SplitUp(std::size_t slot, Path& path, std::size_t level);
  void Rebalance(std::size_t slot, Path& path, std::size_t level);
  void CheckChild(const TPage& parent, const TPage& child, std::size_t depth) const;
  [[noreturn]] void Fail(int code) const;

  std::string table_;
  const std::vector<TFieldDesc>* fields_ = nullptr;
  std::uint32_t lcid_ = 0;
  bool encrypted_ = false;
  TIndexHeader header_;
  bool header_dirty_ = false;
  bool header_written_ = false;  // stored header = header_ but the change count
  std::array<TKeyLayout, kIndexSlots> layouts_;
  std::array<TPageFormat, kIndexSlots> formats_;
  struct Cached {
    std::unique_ptr<TPage> page;
    std::size_t slot;
    std::uint64_t used;
  };
  std::unordered_map<std::uint32_t, Cached> cache_;
  // The cache entries met last, by page number modulo the table size: the
  // pages of a descent are found without hashing. Emptied whenever cache_
  // drops an entry (the pointers point into its nodes).
  struct Hot {
    std::uint32_t offset = 0;
    Cached* cached = nullptr;
  };
  std::array<Hot, 2048> hot_{};
  // Raised by every change of any index, of the cache or of the slots.
  std::uint64_t version_ = 0;
  // The descent of the last whole-key Find: an insert of that key into that
  // index (a unique insert searches first) starts from it when nothing
  // changed in between.
  struct LastFind {
    std::size_t slot = kIndexSlots;
    std::uint64_t version = 0;
    std::vector<std::uint8_t> key;
    Path path;
  };
  LastFind last_find_;
  std::vector<TPage*> dirty_;  // the changed pages of cache_
  bool hold_writes_ = false;
  std::uint64_t clock_ = 0;
  std::size_t capacity_ = 4096;  // pages (16 MiB stored); an update table of 100k words fits
  std::vector<std::uint8_t> scratch_;
  std::vector<std::uint8_t> run_;  // the stored form of a write-back run, kept for the next
};

}  // namespace vandrel::engine
