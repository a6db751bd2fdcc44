// TBlobFile: the BLOB file (".BLB") of a table: values of BLOB fields as
// chains of fixed-size blocks, a free-block list and a block cache. TBlock
// is one cached block; TBlobBuffer one whole value while a cursor works with
// it.
//
// Header (bytes 0 ... 511; integers little-endian):
//
// | offset | width | field                                                      |
// |--------|-------|------------------------------------------------------------|
// | 0      | i32   | change count, +1 at every header write                     |
// | 4      | 4     | reserved, zero                                             |
// | 8      | 1     | version, 4                                                 |
// | 9      | i32   | first free block, 0 = none                                 |
// | 13     | i32   | end of file: where the next new block goes (512 if empty)  |
// | 17     | 1     | header changed (the in-memory flag at writing)             |
// | 18     | 494   | reserved, zero                                             |
//
// Block (block size bs bytes, at 512 + k × bs):
//
// | offset | width  | field                                                     |
// |--------|--------|-----------------------------------------------------------|
// | 0      | i32    | previous block of the value, 0 for the first              |
// | 4      | i32    | next block of the value, 0 for the last; free: next free  |
// | 8      | u16    | bytes used: min(bs - 18, bytes of the value still to go)  |
// | 10     | i32    | owner: record number owning the value (0 when free)       |
// | 14     | i32    | value length (first block only; 0 in the others)          |
// | 18     | bs-18  | data; a shortened value's last block is zero after it     |
//
// A free block has prev, bytes used, owner and length 0 and next = the old
// free head; its data bytes are left as they were (allocation zero-fills).
// A value of length L takes ceil(L / (bs - 18)) blocks; a longer chain, or
// one that revisits a block, is a loop. Encrypted tables store the header
// (one run) and each block's 18-byte header and data (two runs) scrambled
// with the record seed.
//
// The record holds the first block's offset in the first 4 bytes of the
// field (record.h). Lifetime: the owning table creates and frees its
// TBlobFile. The engine runs on the service's main thread only.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/buffer_cache.h"
#include "engine/file_handler.h"

namespace vandrel::engine {

constexpr std::size_t kBlobHeaderSize = 512;
constexpr std::size_t kBlockHeaderSize = 18;

struct TBlobHeader {
  std::int32_t change_count = 0;
  std::uint8_t version = 4;
  std::uint32_t first_free = 0;
  std::uint32_t end_of_file = kBlobHeaderSize;
  bool header_changed = false;
};

void EncodeBlobHeader(const TBlobHeader& h, std::uint8_t* out);  // 512 bytes
TBlobHeader DecodeBlobHeader(const std::uint8_t* in);

// key: the block's file offset.
struct TBlock : TCachedBuffer {
  std::uint32_t offset() const { return key; }
  std::uint32_t prev = 0;
  std::uint32_t next = 0;
  std::uint16_t used = 0;
  std::uint32_t owner = 0;
  std::uint32_t length = 0;
  std::vector<std::uint8_t> data;  // bs - 18 bytes
};

// One BLOB value of one field of one record while a cursor works with it.
struct TBlobBuffer {
  std::uint32_t record = 0;
  std::uint16_t field = 0;
  std::uint32_t first_block = 0;
  std::vector<std::uint8_t> bytes;
  bool dirty = false;
};

class TBlobFile : public TFileHandler {
 public:
  TBlobFile(std::string table, bool in_memory = false);
  ~TBlobFile() override;

  // block_size: the data file's stored value (0 means 64).
  void CreateBlob(const std::string& file_name, std::uint32_t block_size, bool encrypted);
  // 12035 for a wrong version, 8961 for an inconsistent header.
  void OpenBlob(const std::string& file_name, std::uint32_t block_size, bool encrypted,
                bool exclusive, bool read_only);
  // Writes dirty blocks and the header, then closes.
  void CloseBlob();

  const TBlobHeader& header() const { return header_; }
  std::uint32_t block_size() const { return bs_; }
  std::uint32_t data_per_block() const { return bs_ - kBlockHeaderSize; }

  // The value of record r whose chain starts at first. 8963 for a bad
  // offset, length, pointer or a loop; 8708 for a block of another owner;
  // 8711 when the chain ends early.
  std::vector<std::uint8_t> Load(std::uint32_t r, std::uint32_t first);
  // Stores value as record r's, reusing first's chain where it is r's own;
  // returns the new first block (0 for an empty value, whose old chain is
  // freed).
  std::uint32_t Save(std::uint32_t r, std::uint32_t first, const std::uint8_t* value,
                     std::size_t length);
  // Frees the chain of record r's value (delete, replace). Bad pointers,
  // foreign blocks and loops: 8963.
  void Free(std::uint32_t r, std::uint32_t first);

  // What a repair or check run finds in one chain: a message ("Invalid BLOB
  // offset ...", "Invalid intra-block pointer ...", "Recursive intra-block
  // pointer ...", each ending in "error fixed" or "error not fixed") and
  // whether the reference must be cleared. fix: cut the chain at the damage
  // (or clear the reference) and write it; else only report.
  struct ChainReport {
    std::string message;
    bool clear_reference = false;
  };
  ChainReport CheckChain(std::uint32_t r, std::uint32_t first, bool fix);

  void WriteDirty();
  void WriteHeader(bool force);
  bool HeaderChanged();
  void Empty();
  // Drops every cached block, changed ones unwritten, and reads the header
  // again (a rollback).
  void DiscardChanges();
  // While held (a transaction), nothing is written to make room.
  void HoldWrites(bool hold) { hold_writes_ = hold; }
  std::size_t cached_blocks() const { return cache_.size(); }
  void set_cache_capacity(std::size_t blocks) { capacity_ = std::max<std::size_t>(blocks, 1); }

 private:
  TBlock* Get(std::uint32_t offset, std::uint32_t read_ahead);
  TBlock* Allocate();
  void FreeBlock(TBlock* b);
  void FreeRest(std::uint32_t r, std::uint32_t offset);
  bool ValidOffset(std::uint32_t offset) const;
  void MarkDirty(TBlock* b) { cache_.MarkDirty(b); }
  // A block buffer for offset: a clean victim's when the cache is full.
  std::unique_ptr<TBlock> NewBlock(std::uint32_t offset);
  TBlobHeader ReadCheckedHeader();
  void StoreBlock(const TBlock& b, std::uint8_t* out) const;
  void Decode(TBlock& b, const std::uint8_t* in) const;
  [[noreturn]] void Fail(int code) const;

  std::string table_;
  TBlobHeader header_;
  std::uint32_t bs_ = 64;
  bool encrypted_ = false;
  bool header_dirty_ = false;
  std::size_t capacity_ = 0;
  TBufferCache<TBlock> cache_;
  bool hold_writes_ = false;
  std::uint64_t reads_ = 0;
  std::vector<std::uint8_t> run_;  // the stored form of a write-back run, kept for the next
};

}  // namespace vandrel::engine
