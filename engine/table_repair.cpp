// The repair and verify run of a table's data, index and BLOB files.
#include "engine/table_repair.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <unordered_set>

#include "engine/blob_file.h"
#include "engine/data_directory.h"
#include "engine/data_file.h"
#include "engine/data_session.h"
#include "engine/engine_error.h"
#include "engine/file_handler.h"
#include "engine/index_file.h"
#include "engine/record_codec.h"
#include "engine/record_scrambler.h"
#include "engine/table_check.h"
#include "platform/nls.h"

namespace vandrel::engine {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Num(std::uint64_t v) { return std::to_string(v); }

// A table file held open exclusively for the run, with its bytes.
struct HeldFile {
  explicit HeldFile(bool in_memory) : handler(in_memory) {}
  TFileHandler handler;
  bool present = false;
  Bytes bytes;
};

void Load(HeldFile& f, const std::string& name, const std::string& table, bool read_only) {
  f.handler.SetTableName(table);
  if (!TFileHandler::Exists(name, f.handler.InMemory())) return;
  f.handler.Open(name, TFileHandlerOptions{.read_only = read_only, .exclusive = true});
  f.present = true;
  f.bytes.resize(static_cast<std::size_t>(f.handler.Size()));
  if (!f.bytes.empty()) {
    f.handler.ReadAt(0, f.bytes.data(), static_cast<std::int64_t>(f.bytes.size()));
  }
}

// Replaces a file's whole content.
void Store(HeldFile& f, const std::string& name, const Bytes& bytes) {
  if (!f.present) {
    f.handler.Create(name, TFileHandlerOptions{.exclusive = true});
    f.present = true;
  }
  if (!bytes.empty()) f.handler.WriteAt(0, bytes.data(), static_cast<std::int64_t>(bytes.size()));
  if (static_cast<std::int64_t>(bytes.size()) != f.handler.Size()) {
    f.handler.Truncate(static_cast<std::int64_t>(bytes.size()));
  }
  f.bytes = bytes;
}

class Repairer {
 public:
  Repairer(std::string base, std::string table, bool in_memory, const TRepairOptions& options)
      : base_(std::move(base)),
        table_(std::move(table)),
        in_memory_(in_memory),
        options_(options),
        dat_(in_memory),
        idx_(in_memory),
        blb_(in_memory) {}

  TRepairReport Run() {
    if (!TFileHandler::Exists(base_ + ".DAT", in_memory_)) RaiseEngineError(kInvalidPath, table_);
    const bool read_only = !options_.fix;
    Load(dat_, base_ + ".DAT", table_, read_only);
    Load(idx_, base_ + ".IDX", table_, read_only);
    Load(blb_, base_ + ".BLB", table_, read_only);
    if (!ReadDataHeader()) {
      report_.unrepairable = true;
      report_.damaged = true;
      return std::move(report_);
    }
    RepairRecords();
    std::optional<Bytes> new_index;
    if (IndexNeedsRebuild()) new_index = RebuildIndex();
    // A BLOB file of a table without BLOB fields holds nothing: freed.
    if (header_.blob_field_count > 0 || blb_.present) RepairBlob();
    RebuildFreeChain();
    if (options_.fix) Write(new_index);
    report_.records = records_;
    report_.active_records = 0;
    for (std::uint32_t n = 1; n <= records_; ++n) report_.active_records += Rec(n)[0] == 0;
    return std::move(report_);
  }

 private:
  void Say(const std::string& text) {
    const std::string m = text + ", " + (options_.fix ? "error fixed" : "error not fixed");
    report_.damaged = true;
    report_.messages.push_back(m);
    if (options_.progress) options_.progress(m);
  }
  void SayRecord(const std::string& what, std::uint32_t n) {
    Say(what + " for physical record # " + Num(n));
  }

  std::uint8_t* Rec(std::uint32_t n) {
    return recs_.data() + static_cast<std::size_t>(n - 1) * rs_;
  }

  // ---- data file ----

  // Decodes and checks the header and descriptors; the mendable header
  // faults (engine version, reserved bytes, flags) are mended on writing.
  bool ReadDataHeader() {
    const Bytes& d = dat_.bytes;
    if (d.size() < kDataHeaderSize || d[8] != kFileVersion) {
      Say("Invalid header in data file: not repairable");
      return false;
    }
    header_ = DecodeDataHeader(d.data());
    if (!header_.encrypted) header_.password.clear();
    if (!std::isfinite(header_.last_update)) header_.last_update = 0;
    fc_ = header_.field_count;
    start_ = kDataHeaderSize + kFieldDescSize * static_cast<std::size_t>(fc_);
    if (fc_ == 0 || fc_ > kMaxFieldCount || d.size() < start_) {
      Say("Invalid field descriptors in data file: not repairable");
      return false;
    }
    // The header and descriptors alone, as an empty table, must pass.
    Bytes probe(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(start_));
    TDataHeader h = header_;
    h.first_free = 0;
    h.next_record = 1;
    EncodeDataHeader(h, probe.data());
    const TTableReport r = CheckTableBytes(probe, nullptr, nullptr);
    bool sound = true;
    for (const TTableFinding& f : r.findings) {
      if (f.error && f.kind == "data") {
        Say("Invalid header in data file (" + f.text + "): not repairable");
        sound = false;
      }
    }
    if (!sound) return false;
    Bytes canonical(kDataHeaderSize);
    h = header_;
    EncodeDataHeader(h, canonical.data());
    if (!std::equal(canonical.begin(), canonical.end(), d.begin()))
      Say("Invalid header in data file");
    Bytes area(d.begin() + kDataHeaderSize, d.begin() + static_cast<std::ptrdiff_t>(start_));
    if (header_.encrypted) Scramble(kRecordSeed, area.data(), area.size());
    for (std::size_t i = 0; i < fc_; ++i) {
      TFieldDesc f = DecodeFieldDesc(std::span<const std::uint8_t, kFieldDescSize>(
          area.data() + i * kFieldDescSize, kFieldDescSize));
      f.stored_length = StoredLength(f.type, f.size);
      fields_.push_back(f);
    }
    rs_ = header_.record_size;
    return true;
  }

  void ClearBlobRefs(std::uint8_t* r) {
    for (const TFieldDesc& f : fields_) {
      if (f.type != kTypeBlob) continue;
      std::memset(r + f.offset, 0, f.stored_length + 1u);
    }
  }

  void RepairRecords() {
    const std::size_t body = dat_.bytes.size() - start_;
    records_ = static_cast<std::uint32_t>(
        std::min<std::size_t>(body / rs_, static_cast<std::size_t>(kMaxRecordNumber) - 1));
    if (body != static_cast<std::size_t>(records_) * rs_) {
      Say("Incomplete record at the end of the data file");
    }
    if (header_.next_record != records_ + 1) {
      Say("Invalid record count in data file header");
      header_.next_record = records_ + 1;
    }
    recs_.assign(dat_.bytes.begin() + static_cast<std::ptrdiff_t>(start_),
                 dat_.bytes.begin() + static_cast<std::ptrdiff_t>(start_ + records_ * rs_));
    for (std::uint32_t n = 1; n <= records_; ++n) {
      std::uint8_t* r = Rec(n);
      if (header_.encrypted) Scramble(kRecordSeed, r, rs_);
      if (r[0] > 1) {
        SayRecord("Invalid record status in data file", n);
        r[0] = 1;
        ClearBlobRefs(r);
        continue;
      }
      if (r[0] == 1) continue;
      if (LoadU32(r + 1) != n) {
        // Without its number and without any value it was never stored
        // (space a failed append left): deleted.
        if (std::all_of(r + 5, r + rs_, [](std::uint8_t b) { return b == 0; })) {
          SayRecord("Invalid record status in data file", n);
          r[0] = 1;
          continue;
        }
        SayRecord("Invalid record number in data file", n);
        StoreU32(r + 1, n);
      }
      if (NormalizeFields(r)) SayRecord("Invalid field value in data file", n);
    }
  }

  // Makes every field's bytes valid; true when something changed.
  bool NormalizeFields(std::uint8_t* r) {
    bool changed = false;
    const auto set = [&](std::uint8_t& b, std::uint8_t v) {
      if (b != v) {
        b = v;
        changed = true;
      }
    };
    for (const TFieldDesc& f : fields_) {
      if (f.IsAutoIncrement()) continue;
      std::uint8_t& ind = r[f.offset];
      std::uint8_t* v = r + f.offset + 1;
      const std::size_t len = f.stored_length;
      const bool any = std::any_of(v, v + len, [](std::uint8_t b) { return b != 0; });
      if (f.type == kTypeBlob) {
        // A reference is kept whatever the indicator says: its chain decides.
        set(ind, LoadU32(v) != 0 ? 1 : 0);
        for (std::size_t i = 4; i < len; ++i) set(v[i], 0);
        if (ind == 0)
          for (std::size_t i = 0; i < 4; ++i) set(v[i], 0);
        continue;
      }
      if (ind > 1) set(ind, any ? 1 : 0);
      if (ind == 0) {
        for (std::size_t i = 0; i < len; ++i) set(v[i], 0);
        continue;
      }
      if (f.type == kTypeString) {
        if (len == 0) continue;
        if (std::memchr(v, 0, len) == nullptr) set(v[len - 1], 0);
        std::size_t sl = std::strlen(reinterpret_cast<const char*>(v));
        while (sl > 0 && v[sl - 1] == ' ') set(v[--sl], 0);
        for (std::size_t i = sl; i < len; ++i) set(v[i], 0);
        if (sl == 0) set(ind, 0);
      } else if (f.type == kTypeBoolean && len >= 2 && LoadU16(v) > 1) {
        StoreU16(v, 1);
        changed = true;
      }
    }
    return changed;
  }

  void RebuildFreeChain() {
    std::vector<std::uint32_t> chain;
    std::vector<bool> on(records_ + 1ull, false);
    bool sound = true;
    for (std::uint32_t n = header_.first_free; n != 0;) {
      if (n > records_ || on[n] || Rec(n)[0] != 1) {
        sound = false;
        break;
      }
      on[n] = true;
      chain.push_back(n);
      n = LoadU32(Rec(n) + 1);
    }
    for (std::uint32_t n = 1; n <= records_; ++n) {
      if (Rec(n)[0] == 1 && !on[n]) {
        sound = false;
        chain.push_back(n);
      }
    }
    if (sound) return;
    Say("Invalid free record chain in data file");
    header_.first_free = chain.empty() ? 0 : chain[0];
    for (std::size_t i = 0; i < chain.size(); ++i) {
      StoreU32(Rec(chain[i]) + 1, i + 1 < chain.size() ? chain[i + 1] : 0);
    }
  }

  Bytes DataBytes(bool bump) {
    Bytes out(start_ + recs_.size());
    TDataHeader h = header_;
    if (bump) ++h.change_count;
    EncodeDataHeader(h, out.data());
    std::copy(dat_.bytes.begin() + kDataHeaderSize,
              dat_.bytes.begin() + static_cast<std::ptrdiff_t>(start_),
              out.begin() + kDataHeaderSize);
    std::copy(recs_.begin(), recs_.end(), out.begin() + static_cast<std::ptrdiff_t>(start_));
    if (header_.encrypted) {
      for (std::uint32_t n = 0; n < records_; ++n)
        Scramble(kRecordSeed, out.data() + start_ + n * rs_, rs_);
    }
    return out;
  }

  // ---- index file ----

  std::uint32_t lcid() const {
    return header_.locale == 0 ? 0 : win::MAKELCID(header_.locale, header_.sort);
  }

  // The stored definitions, when the header page is readable.
  std::optional<TIndexHeader> StoredIndexHeader() const {
    if (!idx_.present || idx_.bytes.size() < kPageSize) return std::nullopt;
    Bytes h(idx_.bytes.begin(), idx_.bytes.begin() + kPageSize);
    if (header_.encrypted) Scramble(kRecordSeed, h.data(), kPageSize);
    if (h[8] != 4) return std::nullopt;
    for (std::size_t i = 0; i < kIndexSlots; ++i) {
      const std::uint8_t* d = h.data() + kIndexDescStart + i * kIndexDescSize;
      if (d[0] > 30 || d[37] > kMaxKeyFields || d[36] > 3) return std::nullopt;
    }
    TIndexHeader x = DecodeIndexHeader(h.data());
    if (x.secondary_count > kMaxSecondary) return std::nullopt;
    return x;
  }

  bool IndexNeedsRebuild() {
    if (!idx_.present) {
      Say("Missing index file");
      return true;
    }
    const auto stored = StoredIndexHeader();
    if (!options_.primary_key.empty() &&
        (!stored || stored->slots[kPrimarySlot].fields != options_.primary_key)) {
      return true;
    }
    const TTableReport r = CheckTableBytes(DataBytes(false), &idx_.bytes, nullptr);
    for (const TTableFinding& f : r.findings) {
      if (f.error && (f.kind == "index" || f.kind == "cross")) {
        Say("Invalid index file (" + f.text + ")");
        return true;
      }
    }
    return false;
  }

  // Builds the indexes anew in a memory file and returns its bytes; a
  // record whose key a unique index already holds is deleted.
  Bytes RebuildIndex() {
    static int serial = 0;
    const std::string scratch = "REPAIR:" + Num(++serial) + ".IDX";
    const auto stored = StoredIndexHeader();
    if (!stored) Say("Index definitions lost in index file");
    TIndexFile index(table_, true);
    Bytes out;
    try {
      index.CreateIndex(scratch, fields_, lcid(), header_.encrypted);
      TIndexDesc primary;
      if (!options_.primary_key.empty()) {
        primary.fields = options_.primary_key;
      } else if (stored) {
        primary = stored->slots[kPrimarySlot];
      }
      try {
        index.AddPrimaryIndex(primary);
      } catch (const EEngineError&) {
        Say("Invalid primary index definition in index file");
        index.AddPrimaryIndex(TIndexDesc{});
      }
      for (std::size_t s = 1; stored && s <= stored->secondary_count; ++s) {
        try {
          index.AddSecondaryIndex(stored->slots[s]);
        } catch (const EEngineError&) {
          Say("Invalid definition of secondary index '" + stored->slots[s].name +
              "' in index file");
        }
      }
      for (std::uint32_t n = 1; n <= records_; ++n) {
        std::uint8_t* r = Rec(n);
        if (r[0] == 0) {
          for (std::size_t s = 0; s < kSystemSlot; ++s) {
            if (!index.HasIndex(s) || !index.desc(s).unique) continue;
            const Bytes key = index.BuildKey(s, r);
            const TIndexPos p = index.Find(s, key.data(), key.size());
            if (p.valid() &&
                index.layout(s).Compare(index.KeyAt(s, p), key.data(), key.size()) == 0) {
              const std::string name = s == kPrimarySlot ? "Primary" : index.desc(s).name;
              Say("Duplicate key in index '" + name + "' for physical record # " + Num(n) +
                  ", record deleted");
              ++report_.deleted_duplicates;
              r[0] = 1;
              ClearBlobRefs(r);
              break;
            }
          }
        }
        for (std::size_t s = 0; s < kIndexSlots; ++s) {
          if (!index.HasIndex(s) || (s != kSystemSlot && r[0] != 0)) continue;
          const Bytes key = index.BuildKey(s, r);
          if (!index.Insert(s, key.data(), n)) RaiseEngineError(kIndexBuffersCorrupt, table_);
        }
      }
      index.CloseIndex();
      HeldFile copy(true);
      Load(copy, scratch, table_, true);
      out = std::move(copy.bytes);
    } catch (...) {
      try {
        index.CloseIndex();
        TFileHandler::DeleteFile(scratch, true, table_);
      } catch (...) {
      }
      throw;
    }
    TFileHandler::DeleteFile(scratch, true, table_);
    report_.index_rebuilt = true;
    return out;
  }

  // ---- BLOB file ----

  void RepairBlob() {
    bs_ = EffectiveBlockSize(header_.blob_block_size);
    per_ = bs_ - static_cast<std::uint32_t>(kBlockHeaderSize);
    if (!blb_.present) Say("Missing BLOB file");
    Bytes& u = blob_;
    u = blb_.bytes;
    if (u.size() < kBlobHeaderSize) {
      if (blb_.present) Say("Invalid header in BLOB file");
      u.assign(kBlobHeaderSize, 0);
    }
    blocks_ = (u.size() - kBlobHeaderSize) / bs_;
    if (u.size() != kBlobHeaderSize + blocks_ * bs_) {
      Say("Incomplete block at the end of the BLOB file");
      u.resize(kBlobHeaderSize + blocks_ * bs_);
    }
    if (header_.encrypted) Scramble(kRecordSeed, u.data(), kBlobHeaderSize);
    for (std::uint64_t k = 0; k < blocks_ && header_.encrypted; ++k) {
      std::uint8_t* b = u.data() + kBlobHeaderSize + k * bs_;
      Scramble(kRecordSeed, b, kBlockHeaderSize);
      Scramble(kRecordSeed, b + kBlockHeaderSize, per_);
    }
    TBlobHeader h = DecodeBlobHeader(u.data());
    const std::uint64_t eof = kBlobHeaderSize + blocks_ * bs_;
    Bytes canonical(kBlobHeaderSize);
    TBlobHeader want = h;
    want.version = 4;
    want.end_of_file = static_cast<std::uint32_t>(eof);
    EncodeBlobHeader(want, canonical.data());
    if (blb_.present && blb_.bytes.size() >= kBlobHeaderSize &&
        (!std::equal(canonical.begin(), canonical.begin() + 9, u.begin()) ||
         !std::equal(canonical.begin() + 13, canonical.end(), u.begin() + 13))) {
      Say("Invalid header in BLOB file");
    }
    claimed_.assign(blocks_, 0);
    for (std::uint32_t n = 1; n <= records_; ++n) {
      std::uint8_t* r = Rec(n);
      if (r[0] != 0) continue;
      for (const TFieldDesc& f : fields_) {
        if (f.type == kTypeBlob && r[f.offset] != 0) RepairChain(n, r + f.offset);
      }
    }
    // Every block no value holds goes on the free list: the stored list's
    // sound part first, in its order, then the rest by offset.
    std::vector<std::uint64_t> free_list;
    std::vector<bool> listed(blocks_, false);
    bool sound = true;
    for (std::uint64_t off = h.first_free; off != 0;) {
      if (!Valid(off) || listed[K(off)] || claimed_[K(off)] != 0) {
        sound = false;
        break;
      }
      listed[K(off)] = true;
      free_list.push_back(off);
      off = LoadU32(Block(off) + 4);
    }
    std::uint64_t orphans = 0;
    for (std::uint64_t k = 0; k < blocks_; ++k) {
      if (claimed_[k] != 0 || listed[k]) continue;
      ++orphans;
      free_list.push_back(kBlobHeaderSize + k * bs_);
    }
    if (!sound) Say("Invalid free block list in BLOB file");
    if (orphans > 0) Say(Num(orphans) + " unowned blocks in BLOB file");
    for (std::size_t i = 0; i < free_list.size(); ++i) {
      std::uint8_t* b = Block(free_list[i]);
      std::memset(b, 0, kBlockHeaderSize);
      StoreU32(b + 4, static_cast<std::uint32_t>(i + 1 < free_list.size() ? free_list[i + 1] : 0));
    }
    want.first_free = free_list.empty() ? 0 : static_cast<std::uint32_t>(free_list[0]);
    blob_header_ = want;
  }

  bool Valid(std::uint64_t off) const {
    return off >= kBlobHeaderSize && off < kBlobHeaderSize + blocks_ * bs_ &&
           (off - kBlobHeaderSize) % bs_ == 0;
  }
  std::uint64_t K(std::uint64_t off) const { return (off - kBlobHeaderSize) / bs_; }
  std::uint8_t* Block(std::uint64_t off) { return blob_.data() + off; }

  // One value of record n (ref: the field's indicator and 8 bytes).
  void RepairChain(std::uint32_t n, std::uint8_t* ref) {
    const std::uint64_t first = LoadU32(ref + 1);
    if (!Valid(first) || claimed_[K(first)] != 0 || LoadU32(Block(first)) != 0 ||
        LoadU32(Block(first) + 10) != n || LoadU32(Block(first) + 14) == 0) {
      SayRecord("Invalid BLOB offset in BLOB file", n);
      std::memset(ref, 0, 9);
      return;
    }
    std::uint64_t length = LoadU32(Block(first) + 14);
    const std::uint64_t expected = (length + per_ - 1) / per_;
    std::vector<std::uint64_t> chain{first};
    std::unordered_set<std::uint64_t> seen{first};
    bool said = false;
    for (std::uint64_t cur = first;;) {
      const std::uint64_t next = LoadU32(Block(cur) + 4);
      if (next == 0) break;
      if (seen.contains(next)) {
        SayRecord("Recursive intra-block pointer in BLOB file", n);
        said = true;
        break;
      }
      if (chain.size() >= expected || !Valid(next) || claimed_[K(next)] != 0 ||
          LoadU32(Block(next) + 10) != n) {
        SayRecord("Invalid intra-block pointer in BLOB file", n);
        said = true;
        break;
      }
      chain.push_back(next);
      seen.insert(next);
      cur = next;
    }
    // The value's bytes: whole blocks, the last one of a cut chain as far
    // as it says it is used.
    Bytes value;
    for (std::size_t i = 0; i < chain.size() && value.size() < length; ++i) {
      const std::uint8_t* b = Block(chain[i]);
      std::uint64_t take = std::min<std::uint64_t>(per_, length - value.size());
      if (i + 1 == chain.size() && chain.size() < expected) {
        take = std::min<std::uint64_t>(take, LoadU16(b + 8));
      }
      value.insert(value.end(), b + kBlockHeaderSize, b + kBlockHeaderSize + take);
    }
    if (value.size() < length) {
      if (!said) SayRecord("Invalid BLOB length in BLOB file", n);
      length = value.size();
    }
    if (length == 0) {
      std::memset(ref, 0, 9);
      return;
    }
    // The chain written anew over its own blocks; blocks it no longer
    // needs stay unclaimed and are freed.
    const std::size_t need = static_cast<std::size_t>((length + per_ - 1) / per_);
    Bytes before;
    for (std::size_t i = 0; i < chain.size(); ++i) {
      before.insert(before.end(), Block(chain[i]), Block(chain[i]) + bs_);
    }
    std::uint64_t done = 0;
    for (std::size_t i = 0; i < need; ++i) {
      std::uint8_t* b = Block(chain[i]);
      const std::uint64_t used = std::min<std::uint64_t>(per_, length - done);
      StoreU32(b, static_cast<std::uint32_t>(i == 0 ? 0 : chain[i - 1]));
      StoreU32(b + 4, static_cast<std::uint32_t>(i + 1 < need ? chain[i + 1] : 0));
      StoreU16(b + 8, static_cast<std::uint32_t>(used));
      StoreU32(b + 10, n);
      StoreU32(b + 14, static_cast<std::uint32_t>(i == 0 ? length : 0));
      std::memcpy(b + kBlockHeaderSize, value.data() + done, used);
      std::memset(b + kBlockHeaderSize + used, 0, per_ - used);
      done += used;
      claimed_[K(chain[i])] = n;
    }
    bool same = need == chain.size();
    for (std::size_t i = 0; same && i < chain.size(); ++i) {
      same = std::equal(Block(chain[i]), Block(chain[i]) + bs_, before.begin() + i * bs_);
    }
    if (!same && !said) SayRecord("Invalid BLOB block in BLOB file", n);
  }

  Bytes BlobBytes(bool bump) {
    Bytes out = blob_;
    TBlobHeader h = blob_header_;
    if (bump) ++h.change_count;
    EncodeBlobHeader(h, out.data());
    if (header_.encrypted) {
      Scramble(kRecordSeed, out.data(), kBlobHeaderSize);
      for (std::uint64_t k = 0; k < blocks_; ++k) {
        std::uint8_t* b = out.data() + kBlobHeaderSize + k * bs_;
        Scramble(kRecordSeed, b, kBlockHeaderSize);
        Scramble(kRecordSeed, b + kBlockHeaderSize, per_);
      }
    }
    return out;
  }

  // ---- writing ----

  void Write(const std::optional<Bytes>& new_index) {
    // The data and BLOB files first; the keys over them last.
    if (DataBytes(false) != dat_.bytes) Store(dat_, base_ + ".DAT", DataBytes(true));
    if ((header_.blob_field_count > 0 || blb_.present) &&
        (!blb_.present || BlobBytes(false) != blb_.bytes)) {
      Store(blb_, base_ + ".BLB", BlobBytes(true));
    }
    if (new_index) Store(idx_, base_ + ".IDX", *new_index);
    dat_.handler.Flush();
    blb_.handler.Flush();
    idx_.handler.Flush();
  }

  std::string base_, table_;
  bool in_memory_;
  const TRepairOptions& options_;
  TRepairReport report_;
  HeldFile dat_, idx_, blb_;
  TDataHeader header_;
  std::size_t fc_ = 0, start_ = 0, rs_ = 1;
  std::vector<TFieldDesc> fields_;
  std::uint32_t records_ = 0;
  Bytes recs_;  // unscrambled
  std::uint32_t bs_ = 64, per_ = 46;
  std::uint64_t blocks_ = 0;
  Bytes blob_;  // unscrambled
  TBlobHeader blob_header_;
  std::vector<std::uint32_t> claimed_;  // per block: the owning record, 0 none
};

}  // namespace

TRepairReport RepairTableFiles(const std::string& base, const std::string& table, bool in_memory,
                               const TRepairOptions& options) {
  return Repairer(base, table, in_memory, options).Run();
}

TRepairReport RepairTable(TDataDirectory& dir, const std::string& table,
                          const TRepairOptions& options) {
  if (!ValidTableName(table) || !dir.TableExists(table)) RaiseEngineError(kInvalidPath, table);
  const std::string base = dir.FileBase(table);
  {
    // An encrypted table is repaired only in a session that knows its
    // password.
    TFileHandler f(dir.InMemory());
    f.SetTableName(table);
    f.Open(base + ".DAT", TFileHandlerOptions{.read_only = true});
    std::uint8_t h[kDataHeaderSize] = {};
    const std::int64_t n = f.ReadAt(0, h, sizeof h, true);
    f.Close();
    if (n == static_cast<std::int64_t>(sizeof h)) {
      const TDataHeader header = DecodeDataHeader(h);
      if (header.encrypted && !dir.Session().ObtainPassword(header.password, table)) {
        RaiseEngineError(kPasswordRequired, table);
      }
    }
  }
  return RepairTableFiles(base, table, dir.InMemory(), options);
}

}  // namespace vandrel::engine
