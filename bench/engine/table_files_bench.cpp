// Table files at file level: word-update rows (words of 1-50 bytes,
// translations of 50-2,000 bytes as BLOBs) inserted with the key search a
// put makes first, key searches on the full table, and deletes back to
// empty; per primary-index compression mode the file sizes and times.
// Runtime folder: argv[1] (tmpfs), default /dev/shm.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/base_list.h"
#include "engine/blob_file.h"
#include "engine/data_file.h"
#include "engine/index_file.h"
#include "engine/record.h"

using namespace vandrel::engine;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// CPU seconds of this process: on a shared machine the wall time also
// counts other processes' turns.
double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Row {
  std::string word;
  std::string trans;
};

std::vector<Row> Rows(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> wl(1, 50), tl(50, 2000), ch('a', 'z');
  std::vector<Row> rows(n);
  for (std::size_t i = 0; i < n; ++i) {
    std::string w(static_cast<std::size_t>(wl(rng)), ' ');
    for (char& c : w) c = static_cast<char>(ch(rng));
    rows[i].word = std::move(w);
    rows[i].trans.assign(static_cast<std::size_t>(tl(rng)), static_cast<char>(ch(rng)));
  }
  return rows;
}

struct Table {
  TDataFile data{"Data"};
  TIndexFile index{"Data"};
  TBlobFile blob{"Data"};
};

void Run(const std::string& folder, std::size_t n, std::uint8_t compression, bool deletes) {
  const std::string base =
      folder + "/bench-" + std::to_string(n) + "-" + std::to_string(compression) + ".tmp\\DATA";
  const auto rows = Rows(n, 7);
  Table t;
  TDataCreateParams p;
  p.locale = 0x0409;
  TFieldDesc w;
  w.name = "Word";
  w.type = kTypeString;
  w.size = 50;
  TFieldDesc tr;
  tr.name = "Trans";
  tr.type = kTypeBlob;
  tr.subtype = 22;
  p.fields = {w, tr};
  LayOutRecord(p.fields);
  p.blob_block_size = 128;
  const auto t0 = Clock::now();
  const double c0 = CpuSeconds();
  t.data.CreateTable(base + ".DAT", p);
  t.index.CreateIndex(base + ".IDX", t.data.fields(), t.data.lcid(), false);
  TIndexDesc pk;
  pk.fields = {1};
  pk.compression = compression;
  t.index.AddPrimaryIndex(pk);
  t.blob.CreateBlob(base + ".BLB", 128, false);
  const TFieldDesc& fw = t.data.fields()[0];
  const TFieldDesc& ft = t.data.fields()[1];
  std::vector<std::uint8_t> rec(t.data.record_size());
  std::vector<std::uint32_t> numbers;
  for (const Row& row : rows) {
    field::SetString(rec.data(), fw, row.word);
    const auto key = t.index.BuildKey(0, rec.data());
    const TIndexPos pos = t.index.Find(0, key.data(), key.size());
    if (pos.valid() &&
        t.index.layout(0).Compare(t.index.KeyAt(0, pos), key.data(), key.size()) == 0) {
      continue;  // the word is there: a put would edit it
    }
    TPinnedRecord r = t.data.AllocateRecord(false, false);
    std::memcpy(r->data() + 9, rec.data() + 9, rec.size() - 9);
    field::SetBlobRef(
        r->data(), ft,
        t.blob.Save(r->number(), 0, reinterpret_cast<const std::uint8_t*>(row.trans.data()),
                    row.trans.size()));
    r->MarkDirty();
    t.index.Insert(0, key.data(), r->number());
    const auto sys = t.index.BuildKey(kSystemSlot, r->data());
    t.index.Insert(kSystemSlot, sys.data(), r->number());
    numbers.push_back(r->number());
  }
  t.data.WriteDirty();
  t.index.Flush();
  t.blob.WriteDirty();
  const auto t1 = Clock::now();
  const double c1 = CpuSeconds();
  // Key searches: median of batches of 1,000 exact finds.
  std::vector<std::vector<std::uint8_t>> keys;
  for (std::size_t i = 0; i < std::min<std::size_t>(n, 10000); ++i) {
    field::SetString(rec.data(), fw, rows[(i * 7919) % n].word);
    keys.push_back(t.index.BuildKey(0, rec.data()));
  }
  std::vector<double> per_find;
  std::size_t found = 0;
  for (std::size_t b = 0; b + 1000 <= keys.size(); b += 1000) {
    const auto s = Clock::now();
    for (std::size_t i = b; i < b + 1000; ++i) {
      found += t.index.Find(0, keys[i].data(), keys[i].size()).valid();
    }
    per_find.push_back(Seconds(s, Clock::now()) / 1000);
  }
  // Every key searched was inserted: a miss is a fault, not a figure.
  if (found != per_find.size() * 1000) {
    std::fprintf(stderr, "table_files_bench: %zu of %zu keys not found\n",
                 per_find.size() * 1000 - found, per_find.size() * 1000);
    std::exit(1);
  }
  std::sort(per_find.begin(), per_find.end());
  const double find_us = per_find.empty() ? 0 : per_find[per_find.size() / 2] * 1e6;
  const std::int64_t dat = t.data.Size(), idx = t.index.Size(), blb = t.blob.Size();
  std::printf(
      "%-8zu comp %u  insert %7.3f s (cpu %7.3f s, %5.2f us/row)  find %6.3f us (median)  "
      "DAT %9lld  IDX %9lld  BLB %10lld\n",
      numbers.size(), compression, Seconds(t0, t1), c1 - c0, (c1 - c0) / n * 1e6, find_us,
      static_cast<long long>(dat), static_cast<long long>(idx), static_cast<long long>(blb));
  if (deletes) {
    std::mt19937 rng(3);
    std::shuffle(numbers.begin(), numbers.end(), rng);
    const auto d0 = Clock::now();
    const double e0 = CpuSeconds();
    for (const std::uint32_t n2 : numbers) {
      TPinnedRecord r = t.data.GetRecord(n2);
      const auto key = t.index.BuildKey(0, r->data());
      t.index.Delete(0, key.data(), n2);
      const auto sys = t.index.BuildKey(kSystemSlot, r->data());
      t.index.Delete(kSystemSlot, sys.data(), n2);
      t.blob.Free(n2, field::GetBlobRef(r->data(), ft));
      field::SetBlobRef(r->data(), ft, 0);
      r->MarkDirty();
      r.Release();
      t.data.DeleteRecord(n2);
      TPinnedRecord dr = t.data.GetRecord(n2);
      const auto dsys = t.index.BuildKey(kSystemSlot, dr->data());
      t.index.Insert(kSystemSlot, dsys.data(), n2);
    }
    t.data.WriteDirty();
    t.index.Flush();
    t.blob.WriteDirty();
    const auto d1 = Clock::now();
    const double e1 = CpuSeconds();
    std::printf("%-8zu comp %u  delete %7.3f s (cpu %7.3f s, %5.2f us/row)  keys left %llu\n",
                numbers.size(), compression, Seconds(d0, d1), e1 - e0, (e1 - e0) / n * 1e6,
                static_cast<unsigned long long>(t.index.KeyCount(0)));
  }
  t.data.CloseTable();
  t.index.CloseIndex();
  t.blob.CloseBlob();
  TBaseList::Global().CloseAll();
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const std::string folder = argc > 1 ? argv[1] : "/dev/shm";
  const std::size_t rows = argc > 2 ? std::stoul(argv[2]) : 100000;
  // Third argument: the compression modes to run, as digits ("0123"); an
  // "i" among them leaves the deletes out (profiles of inserts).
  const std::string modes = argc > 3 ? argv[3] : "0123";
  const bool deletes = modes.find('i') == std::string::npos;
  std::filesystem::create_directories(folder);
  std::printf("word-update rows, file level (words 1-50 bytes, translations 50-2000 as BLOBs)\n");
  Run(folder, 1000, 0, false);
  for (const char m : modes) {
    if (m >= '0' && m <= '3') Run(folder, rows, static_cast<std::uint8_t>(m - '0'), deletes);
  }
  return 0;
}
