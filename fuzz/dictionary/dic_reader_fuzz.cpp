// Opens a mutated dictionary file once and walks it with several positions
// at the same time: one forward, one backward, interleaved step by step,
// while a third jumps and searches between their steps. Each position must
// see what it would see alone - a forward walk repeated afterwards on its
// own gives the same words - and a damaged file may raise the library's
// Exception only. A crash, an access outside the mapping, another exception
// type or two walks that disagree is a finding.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dictionary/dic_file.h"
#include "dictionary/dic_reader.h"
#include "platform/exceptions.h"

namespace {

using vandrel::Exception;
using vandrel::TDicFile;
using vandrel::TDicReader;
using vandrel::WideString;

constexpr int kMaxSteps = 2000;

// A private file for the input, removed when the process ends.
struct TFuzzFile {
  TFuzzFile() {
    std::random_device random;
    // Memory-backed when available: every input is written again.
    const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                           ? "/dev/shm"
                                           : std::filesystem::temp_directory_path();
    path = base /
           ("vandrel-reader-fuzz-" + std::to_string(random()) + std::to_string(random()) + ".dic");
  }
  ~TFuzzFile() {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
  }
  std::filesystem::path path;
};

// One step of a walk, or false once the walk is over or the step failed.
bool Step(TDicReader& reader, bool forward, std::vector<WideString>& seen) {
  if (forward ? reader.Eof() : reader.Bof()) return false;
  try {
    seen.push_back(reader.GetWord());
    forward ? reader.Next() : reader.Prior();
  } catch (const Exception&) {
    return false;
  }
  return true;
}

// The third position: a jump or a search between the walkers' steps.
void Disturb(TDicReader& reader, int round, const std::vector<WideString>& keys) {
  try {
    const std::int32_t n = reader.RecordCount();
    switch (round % 4) {
      case 0:
        reader.SetRecNo(round % (n + 3) - 1);
        reader.GetTrans();
        break;
      case 1:
        reader.Seek(keys[static_cast<std::size_t>(round) % keys.size()]);
        break;
      case 2:
        reader.FindExact(keys[static_cast<std::size_t>(round) % keys.size()]);
        reader.GetEncodedBody();
        break;
      default:
        reader.FindNearest(keys[static_cast<std::size_t>(round) % keys.size()]);
        reader.GetWord();
        break;
    }
  } catch (const Exception&) {
  }
}

void Walk(const std::shared_ptr<const TDicFile>& file) {
  TDicReader forward(file), backward(file), seeker(file);
  std::vector<WideString> keys = {u"", u"a", u"zzz", u"\u00e9t\u00e9"};
  std::vector<WideString> ahead, behind;
  bool go_on = true, go_back = true;
  try {
    forward.First();
    backward.Last();
  } catch (const Exception&) {
    return;
  }
  for (int round = 0; (go_on || go_back) && round < kMaxSteps; ++round) {
    if (go_on) go_on = Step(forward, true, ahead);
    Disturb(seeker, round, keys);
    if (go_back) go_back = Step(backward, false, behind);
    if (!ahead.empty() && round % 16 == 0) keys.push_back(ahead.back());
  }
  // The forward walk again, alone: the same words in the same order, as
  // far as the interleaved one went.
  TDicReader alone(file);
  std::vector<WideString> again;
  try {
    alone.First();
  } catch (const Exception&) {
    std::abort();  // it succeeded a moment ago on the same bytes
  }
  while (again.size() < ahead.size() && Step(alone, true, again)) {
  }
  if (again.size() < ahead.size()) again.resize(ahead.size());
  for (std::size_t i = 0; i < ahead.size(); ++i)
    if (again[i] != ahead[i]) std::abort();
  try {
    file->GetName();
    file->GetShortName();
    file->GetDescription();
  } catch (const Exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TFuzzFile input;
  {
    std::ofstream out(input.path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  std::shared_ptr<const TDicFile> file;
  try {
    file = TDicFile::Open(input.path.string());
  } catch (const Exception&) {
    return 0;
  }
  Walk(file);
  return 0;
}
