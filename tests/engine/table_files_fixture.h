// Shared helpers of the table file tests: the word-update table's shape
// ("Data": Word CHAR(50) key, Trans BLOB, block size 128, English (USA)),
// its three files in a scratch container, inserts, and the check of the
// three files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/base_list.h"
#include "engine/blob_file.h"
#include "engine/data_file.h"
#include "engine/index_file.h"
#include "engine/record.h"
#include "engine/table_check.h"
#include "tests/support/test_support.h"

namespace vandrel::engine::test {

inline TDataCreateParams UpdateTableParams() {
  TDataCreateParams p;
  p.locale = 0x0409;
  p.sort = 0;
  TFieldDesc word;
  word.name = "Word";
  word.type = kTypeString;
  word.size = 50;
  TFieldDesc trans;
  trans.name = "Trans";
  trans.type = kTypeBlob;
  trans.subtype = 22;
  p.fields = {word, trans};
  LayOutRecord(p.fields);
  p.blob_block_size = 128;
  return p;
}

// The three files of one table, created or opened together.
class TableFiles {
 public:
  explicit TableFiles(std::string base) : base_(std::move(base)) {}
  ~TableFiles() {
    try {
      Close();
    } catch (...) {
    }
  }

  void Create(const TDataCreateParams& params, TIndexDesc primary) {
    data.CreateTable(base_ + ".DAT", params);
    index.CreateIndex(base_ + ".IDX", data.fields(), data.lcid(), params.encrypted);
    index.AddPrimaryIndex(std::move(primary));
    blob.CreateBlob(base_ + ".BLB", params.blob_block_size, params.encrypted);
  }
  void Open() {
    data.OpenTable(base_ + ".DAT", true, false);
    index.OpenIndex(base_ + ".IDX", data.fields(), data.lcid(), data.header().encrypted, true,
                    false);
    blob.OpenBlob(base_ + ".BLB", static_cast<std::uint32_t>(data.header().blob_block_size),
                  data.header().encrypted, true, false);
  }
  void Close() {
    if (data.IsOpen()) data.CloseTable();
    if (index.IsOpen()) index.CloseIndex();
    if (blob.IsOpen()) blob.CloseBlob();
  }
  void Flush() {
    data.WriteDirty();
    data.WriteHeader(false);
    index.Flush();
    blob.WriteDirty();
    blob.WriteHeader(false);
  }

  // Inserts a row of the update table: false when the word is a duplicate
  // (nothing stored).
  bool InsertWord(const std::string& word, const std::string& trans) {
    const TFieldDesc& fw = data.fields()[0];
    const TFieldDesc& ft = data.fields()[1];
    std::vector<std::uint8_t> rec(data.record_size());
    field::SetString(rec.data(), fw, word);
    const auto key = index.BuildKey(0, rec.data());
    if (index.Find(0, key.data(), key.size()).valid()) {
      const auto pos = index.Find(0, key.data(), key.size());
      if (index.layout(0).Compare(index.KeyAt(0, pos), key.data(), key.size()) == 0) return false;
    }
    TPinnedRecord r = data.AllocateRecord(false, false);
    std::memcpy(r->data() + 9, rec.data() + 9, data.record_size() - 9);
    const std::uint32_t first = blob.Save(
        r->number(), 0, reinterpret_cast<const std::uint8_t*>(trans.data()), trans.size());
    field::SetBlobRef(r->data(), ft, first);
    r->MarkDirty();
    EXPECT_TRUE(index.Insert(0, key.data(), r->number()));
    const auto sys = index.BuildKey(kSystemSlot, r->data());
    EXPECT_TRUE(index.Insert(kSystemSlot, sys.data(), r->number()));
    return true;
  }

  // Inserts a record of any table: its bytes after the 9-byte record header
  // are rec's; every index gets its key. Returns the record number, 0 when a
  // unique index refused the key (nothing stored).
  std::uint32_t InsertRecord(const std::vector<std::uint8_t>& rec, bool auto_increment = false) {
    for (std::size_t s = 0; s < kSystemSlot; ++s) {
      if (!index.HasIndex(s) || !index.desc(s).unique) continue;
      const auto key = index.BuildKey(s, rec.data());
      const TIndexPos p = index.Find(s, key.data(), key.size());
      if (p.valid() && index.layout(s).Compare(index.KeyAt(s, p), key.data(), key.size()) == 0) {
        return 0;
      }
    }
    if (const std::uint32_t reused = data.header().first_free; reused != 0) {
      // The deleted record's system entry leaves with it.
      TPinnedRecord old = data.GetRecord(reused);
      const auto sys = index.BuildKey(kSystemSlot, old->data());
      EXPECT_TRUE(index.Delete(kSystemSlot, sys.data(), reused));
    }
    TPinnedRecord r = data.AllocateRecord(false, auto_increment);
    std::memcpy(r->data() + 9, rec.data() + 9, data.record_size() - 9);
    if (!auto_increment) std::memcpy(r->data() + 5, rec.data() + 5, 4);
    r->MarkDirty();
    for (std::size_t s = 0; s < kIndexSlots; ++s) {
      if (!index.HasIndex(s)) continue;
      const auto key = index.BuildKey(s, r->data());
      EXPECT_TRUE(index.Insert(s, key.data(), r->number())) << "slot " << s;
    }
    return r->number();
  }

  // Deletes record n: its keys, its BLOB chains, then the record.
  void DeleteRecord(std::uint32_t n) {
    TPinnedRecord r = data.GetRecord(n);
    for (std::size_t s = 0; s < kIndexSlots; ++s) {
      if (!index.HasIndex(s)) continue;
      const auto key = index.BuildKey(s, r->data());
      EXPECT_TRUE(index.Delete(s, key.data(), n)) << "slot " << s << " record " << n;
    }
    for (const TFieldDesc& f : data.fields()) {
      if (f.type != kTypeBlob) continue;
      const std::uint32_t first = field::GetBlobRef(r->data(), f);
      if (first != 0) blob.Free(n, first);
      field::SetBlobRef(r->data(), f, 0);
    }
    r->MarkDirty();
    r.Release();
    data.DeleteRecord(n);
    TPinnedRecord d = data.GetRecord(n);
    const auto sys = index.BuildKey(kSystemSlot, d->data());
    EXPECT_TRUE(index.Insert(kSystemSlot, sys.data(), n));
  }

  std::string Trans(std::uint32_t n) {
    TPinnedRecord r = data.GetRecord(n);
    const std::uint32_t first = field::GetBlobRef(r->data(), data.fields()[1]);
    if (first == 0) return {};
    const auto v = blob.Load(n, first);
    return std::string(v.begin(), v.end());
  }

  // Flushes and checks the three files as stored.
  TTableReport Check() {
    Flush();
    const auto dat = Bytes(data);
    const auto idx = Bytes(index);
    const auto blb = Bytes(blob);
    return CheckTableBytes(dat, &idx, &blb);
  }
  static std::vector<std::uint8_t> Bytes(TFileHandler& f) {
    std::vector<std::uint8_t> b(static_cast<std::size_t>(f.Size()));
    if (!b.empty()) f.ReadAt(0, b.data(), static_cast<std::int64_t>(b.size()));
    return b;
  }

  const std::string& base() const { return base_; }

  TDataFile data{"Data"};
  TIndexFile index{"Data"};
  TBlobFile blob{"Data"};

 private:
  std::string base_;
};

inline std::string Lines(const TTableReport& r) {
  std::string out;
  for (const auto& l : r.Lines()) out += l + "\n";
  return out;
}

class TableFilesTest : public ::testing::Test {
 protected:
  void TearDown() override { TBaseList::Global().CloseAll(); }
  // Engine name of a table inside the scratch container "c.tmp" (no
  // extension: the file kinds add theirs).
  std::string Base(const std::string& table = "DATA") const {
    return dir_.path() + "/c.vbas\\" + table;
  }
  vandrel::test::ScratchDir dir_{"vandrel-tables"};
};

}  // namespace vandrel::engine::test
