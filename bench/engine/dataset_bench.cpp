// Tables through the dataset layer, with a std::map doing the same work in
// the same run as the floor:
//   create_1k        CREATE TABLE (the update table) + 1,000 rows, close
//   insert_100k_shared / insert_100k_exclusive   100,000 rows, close
//   find_key         FindKey of random present words in the 100k table
//   walk_100k        First / Next / Word of every row
// Words are 1-50 random letters, translations 50-200 bytes. The database
// is a container in the folder given as the first argument (tmpfs); a
// second argument runs only the workloads whose names contain it (for
// profiles: "shared", "exclusive"; find_key and walk_100k need the
// exclusive table).
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "dataset/engine_query.h"
#include "dataset/engine_table.h"
#include "engine/base_list.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace vandrel;

const char kUpdateStatement[] =
    "CREATE TABLE Data (Word Character (50), Trans BLOB (0 , 1) PRIMARY KEY(Word) BLOB BLOCK "
    "SIZE 128 LANGUAGE \"English (USA)\" SORT \"Default order\");";

double Ms(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

// CPU milliseconds of this process: on a shared machine the wall time also
// counts other processes' turns.
double CpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) * 1e-6;
}

std::vector<std::pair<std::string, std::string>> Rows(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::map<std::string, std::string> unique;
  while (unique.size() < n) {
    std::string w(1 + rng() % 50, ' ');
    for (char& c : w) c = static_cast<char>('a' + rng() % 26);
    unique.emplace(w, std::string(50 + rng() % 151, static_cast<char>('A' + rng() % 26)));
  }
  std::vector<std::pair<std::string, std::string>> rows(unique.begin(), unique.end());
  std::shuffle(rows.begin(), rows.end(), rng);
  return rows;
}

void Create(const std::string& db) {
  dataset::TEngineQuery q;
  q.DatabaseName = db;
  q.SQL.push_back(kUpdateStatement);
  q.ExecSQL();
}

void Fill(dataset::TEngineTable& t, const std::vector<std::pair<std::string, std::string>>& rows,
          std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    t.Insert();
    t.SetFieldBytes(0, rows[i].first);
    t.SetFieldBytes(1, rows[i].second);
    t.Post();
  }
}

double MapFill(const std::vector<std::pair<std::string, std::string>>& rows, std::size_t n) {
  const auto t0 = Clock::now();
  std::map<std::string, std::string> m;
  for (std::size_t i = 0; i < n; ++i) m.emplace(rows[i].first, rows[i].second);
  return Ms(t0);
}

void Open(dataset::TEngineTable& t, const std::string& db, bool exclusive) {
  t.DatabaseName = db;
  t.TableName = "Data";
  t.IndexFieldNames = "Word";
  t.Exclusive = exclusive;
  t.Open();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : "/dev/shm";
  const std::string only = argc > 2 ? argv[2] : "";
  const auto wanted = [&](const char* name) {
    return only.empty() || std::string(name).find(only) != std::string::npos;
  };
  const auto rows = Rows(100000, 7);
  std::printf("%-24s %12s %12s %12s\n", "workload", "engine", "std::map", "engine cpu");

  if (wanted("create_1k")) {  // 1,000 rows including CREATE
    const std::string db = folder + "/bench1k.vbas\\";
    const auto t0 = Clock::now();
    const double c0 = CpuMs();
    Create(db);
    dataset::TEngineTable t;
    Open(t, db, true);
    Fill(t, rows, 1000);
    t.Close();
    const double ms = Ms(t0);
    const double cpu = CpuMs() - c0;
    std::printf("%-24s %9.2f ms %9.2f ms %9.2f ms\n", "create_1k", ms, MapFill(rows, 1000), cpu);
  }
  for (bool exclusive : {false, true}) {
    if (!wanted(exclusive ? "insert_100k_exclusive" : "insert_100k_shared")) continue;
    const std::string db = folder + (exclusive ? "/bench_x.vbas\\" : "/bench_s.vbas\\");
    Create(db);
    dataset::TEngineTable t;
    Open(t, db, exclusive);
    const auto t0 = Clock::now();
    const double c0 = CpuMs();
    Fill(t, rows, rows.size());
    t.Close();
    const double ms = Ms(t0);
    const double cpu = CpuMs() - c0;
    std::printf("%-24s %9.1f ms %9.1f ms %9.1f ms\n",
                exclusive ? "insert_100k_exclusive" : "insert_100k_shared", ms,
                MapFill(rows, rows.size()), cpu);
  }
  if (wanted("find_key") || wanted("walk_100k")) {
    const std::string db = folder + "/bench_x.vbas\\";
    dataset::TEngineTable t;
    Open(t, db, true);
    std::map<std::string, std::string> m(rows.begin(), rows.end());
    std::mt19937 rng(3);
    std::vector<std::size_t> probes(200000);
    for (auto& p : probes) p = rng() % rows.size();
    auto t0 = Clock::now();
    double c0 = CpuMs();
    std::size_t found = 0;
    for (std::size_t p : probes) found += t.FindKey(rows[p].first) ? 1 : 0;
    const double us = Ms(t0) * 1000 / static_cast<double>(probes.size());
    const double cpu_us = (CpuMs() - c0) * 1000 / static_cast<double>(probes.size());
    t0 = Clock::now();
    std::size_t mfound = 0;
    for (std::size_t p : probes) mfound += m.count(rows[p].first);
    const double mus = Ms(t0) * 1000 / static_cast<double>(probes.size());
    std::printf("%-24s %9.3f us %9.3f us %9.3f us   (%zu/%zu found)\n", "find_key", us, mus, cpu_us,
                found, mfound);

    t0 = Clock::now();
    c0 = CpuMs();
    std::size_t n = 0, bytes = 0;
    for (t.First(); !t.Eof(); t.Next()) {
      bytes += t.FieldBytes(0).size();
      ++n;
    }
    const double walk = Ms(t0);
    const double walk_cpu = CpuMs() - c0;
    t0 = Clock::now();
    std::size_t mbytes = 0;
    for (const auto& [w, tr] : m) mbytes += w.size();
    std::printf("%-24s %9.1f ms %9.3f ms %9.1f ms   (%zu rows, %zu / %zu bytes)\n", "walk_100k",
                walk, Ms(t0), walk_cpu, n, bytes, mbytes);
    t.Close();
  }
  engine::TBaseList::Global().CloseAll();
  return 0;
}
