// Opens a mutated dictionary file and drives the reader through everything
// it offers: a full walk both ways, record jumps, searches, translations and
// parameters, then a rewrite of the parameters page. A damaged file may
// raise the library's Exception; anything else (a crash, an access outside
// the mapping, another exception type) is a finding.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "dictionary/dic_table.h"
#include "dictionary/vocab_compiler.h"
#include "platform/exceptions.h"

namespace {

using vandrel::Exception;
using vandrel::TDicTable;
using vandrel::WideString;

// A private folder for the input file and the session namespace that the
// table's hidden window lives in; removed when the process ends.
struct TFuzzDir {
  TFuzzDir() {
    std::random_device random;
    // Memory-backed when available: every input is written and flushed.
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                           ? "/dev/shm"
                                           : std::filesystem::temp_directory_path();
    path = base / ("vandrel-dic-fuzz-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(path / "runtime");
    std::filesystem::permissions(path / "runtime", std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    setenv("VANDREL_RUNTIME_DIR", (path / "runtime").c_str(), 1);
  }
  ~TFuzzDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::filesystem::path path;
};

void Drive(TDicTable& table) {
  std::vector<WideString> words;
  int steps = 0;
  for (table.First(); !table.Eof() && steps < 3000; table.Next(), ++steps) {
    words.push_back(table.GetWord());
    table.GetTrans();
  }
  steps = 0;
  for (table.Last(); !table.Bof() && steps < 3000; table.Prior(), ++steps) table.GetWord();
  const std::int32_t n = table.RecordCount();
  for (std::int32_t r : {-5, 0, 1, n / 2, n - 1, n, n + 10}) {
    table.SetRecNo(r);
    table.GetWord();
    table.GetEncodedBody();
  }
  std::vector<WideString> keys = {u"", u"a", u"zzz", u"\u00e9t\u00e9"};
  for (std::size_t i = 0; i < words.size(); i += 1 + words.size() / 8) {
    keys.push_back(words[i]);
    keys.push_back(words[i] + u"a");
    keys.push_back(words[i].substr(0, words[i].size() / 2));
  }
  for (const WideString& key : keys) {
    table.Seek(key);
    table.FindExact(key);
    table.GetWord();
    table.FindNearest(key);
    table.GetTrans();
  }
  table.GetName();
  table.GetShortName();
  table.GetDescription();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TFuzzDir dir;
  static TDicTable table;
  const std::string path = (dir.path / "input.dic").string();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  table.FileName = path;
  try {
    table.Open();
    Drive(table);
  } catch (const Exception&) {
  }
  table.Close();
  try {
    vandrel::WriteBaseParams(path, u"name", u"short", WideString(9000, u'd'));
    table.Open();
    table.GetDescription();
    table.First();
    table.GetTrans();
  } catch (const Exception&) {
  }
  table.Close();
  return 0;
}
