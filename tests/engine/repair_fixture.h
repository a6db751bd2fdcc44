// A word table (Word CHAR(50) primary key, Trans BLOB, block size 128) in a
// base container of a scratch folder, with its model, for the repair and
// fault-injection tests: filling, reading back, raw file access for
// damage, and the table check.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/base_list.h"
#include "engine/data_cursor.h"
#include "engine/data_directory.h"
#include "engine/data_session.h"
#include "engine/engine_error.h"
#include "engine/file_handler.h"
#include "engine/io_faults.h"
#include "engine/record_codec.h"
#include "engine/table_check.h"
#include "engine/table_repair.h"
#include "tests/support/test_support.h"

namespace vandrel::engine::test {

using Model = std::map<std::string, std::string>;
using Bytes = std::vector<std::uint8_t>;

inline int CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EEngineError& e) {
    return e.Code();
  }
  return 0;
}

inline std::string Trans(int i) {
  // 0 ... 400 bytes: empty values, one block, several blocks.
  const int len = (i * 37) % 401;
  std::string s(static_cast<std::size_t>(len), ' ');
  for (int k = 0; k < len; ++k) s[k] = static_cast<char>('a' + (i + k) % 26);
  return s;
}

inline std::string WordOf(int i) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "w%04d", i);
  return buf;
}

class WordTableTest : public ::testing::Test {
 protected:
  static constexpr std::size_t kRecordSize = 70;
  static constexpr std::size_t kRecordsStart = 127 + 2 * 768;
  static constexpr std::size_t kTransOffset = 61;  // indicator; reference after it

  void TearDown() override {
    TIoFaults::Disarm();
    TBaseList::Global().CloseAll();
  }

  std::string Container() const { return dir_.path() + "/" + container_; }
  std::string Db() const { return Container() + "\\"; }
  std::string Base() const { return Db() + "Data"; }

  TableDef Definition(bool encrypted = false) const {
    TableDef def;
    def.name = "Data";
    FieldDef word;
    word.number = 1;
    word.name = "Word";
    word.type = kTypeString;
    word.size = 50;
    FieldDef trans;
    trans.number = 2;
    trans.name = "Trans";
    trans.type = kTypeBlob;
    trans.subtype = 1;
    def.fields = {word, trans};
    IndexDef primary;
    primary.fields = {1};
    def.indexes = {primary};
    def.blob_block_size = 128;
    def.language = 0x0409;
    def.encrypted = encrypted;
    def.password = encrypted ? "secret" : "";
    return def;
  }

  // Creates the table with n words, deletes every seventh; closes all.
  void Fill(int n, bool encrypted = false) {
    TDataDirectory& d = session_.OpenDirectory(Db());
    d.CreateTable(Definition(encrypted));
    if (encrypted) session_.AddPassword("secret");
    {
      TDataCursor c(d);
      c.Open("Data");
      for (int i = 0; i < n; ++i) Put(c, WordOf(i), Trans(i));
      for (int i = 0; i < n; i += 7) {
        ASSERT_TRUE(c.FindKey({WordOf(i)}));
        c.Delete();
        model_.erase(WordOf(i));
      }
      c.Close();
    }
    session_.CloseDirectory(d);
    TBaseList::Global().CloseAll();
  }

  void Put(TDataCursor& c, const std::string& word, const std::string& trans) {
    if (c.FindKey({word})) {
      c.Edit();
    } else {
      c.Insert();
      c.SetField(0, word);
    }
    c.SetField(1, trans);
    c.Post();
    model_[word] = trans;
  }

  // Every record through a cursor (order of the current index).
  Model Read(bool exclusive = false) {
    TDataDirectory& d = session_.OpenDirectory(Db());
    Model m;
    try {
      TDataCursor c(d);
      c.Open("Data", exclusive, true);
      for (bool ok = c.First(); ok; ok = c.Next()) m[c.GetField(0)] = c.GetField(1);
      c.Close();
    } catch (...) {
      session_.CloseDirectory(d);
      TBaseList::Global().CloseAll();
      throw;
    }
    session_.CloseDirectory(d);
    TBaseList::Global().CloseAll();
    return m;
  }

  std::string CheckLines(const std::string& base) {
    const TTableReport r = CheckTableFiles(base, false);
    std::string out;
    for (const auto& l : r.Lines()) out += l + "\n";
    TBaseList::Global().CloseAll();
    return r.Clean() ? std::string() : out;
  }
  std::string CheckLines() { return CheckLines(Base()); }

  TRepairReport Repair(bool fix = true, std::vector<std::uint16_t> key = {}) {
    TRepairOptions o;
    o.fix = fix;
    o.primary_key = std::move(key);
    TDataDirectory& d = session_.OpenDirectory(Db());
    TRepairReport r = RepairTable(d, "Data", o);
    session_.CloseDirectory(d);
    TBaseList::Global().CloseAll();
    return r;
  }

  static std::string Joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) out += l + "\n";
    return out;
  }

  // Raw inner files of the (closed) container.
  Bytes ReadFile(const std::string& ext) {
    TFileHandler f;
    f.Open(Base() + ext);
    Bytes b(static_cast<std::size_t>(f.Size()));
    if (!b.empty()) f.ReadAt(0, b.data(), static_cast<std::int64_t>(b.size()));
    f.Close();
    TBaseList::Global().CloseAll();
    return b;
  }
  void WriteFile(const std::string& ext, const Bytes& b) {
    TFileHandler f;
    f.Open(Base() + ext);
    f.Truncate(static_cast<std::int64_t>(b.size()));
    if (!b.empty()) f.WriteAt(0, b.data(), static_cast<std::int64_t>(b.size()));
    f.Close();
    TBaseList::Global().CloseAll();
  }

  std::size_t RecordAt(std::uint32_t n) const { return kRecordsStart + (n - 1) * kRecordSize; }
  // The first BLOB block of record n (from the data file's bytes).
  std::uint32_t FirstBlock(const Bytes& dat, std::uint32_t n) const {
    return LoadU32(dat.data() + RecordAt(n) + kTransOffset + 1);
  }
  // A record number holding a value of at least `blocks` blocks.
  std::uint32_t RecordWithBlocks(const Bytes& dat, const Bytes& blb, std::uint32_t blocks) const {
    const std::uint32_t records =
        static_cast<std::uint32_t>((dat.size() - kRecordsStart) / kRecordSize);
    for (std::uint32_t n = 1; n <= records; ++n) {
      if (dat[RecordAt(n)] != 0) continue;
      const std::uint32_t first = FirstBlock(dat, n);
      if (first != 0 && LoadU32(blb.data() + first + 14) > (blocks - 1) * 110) return n;
    }
    return 0;
  }
  std::string WordOfRecord(const Bytes& dat, std::uint32_t n) const {
    return std::string(reinterpret_cast<const char*>(dat.data() + RecordAt(n) + 10));
  }

  vandrel::test::ScratchDir dir_{"vandrel-repair"};
  std::string container_ = "db.vbas";
  TDataSession session_;
  Model model_;
};

}  // namespace vandrel::engine::test
