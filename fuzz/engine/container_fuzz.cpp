// Fuzz target: a damaged base container. The bytes are written to a file
// and opened as a container; when it opens, every inner file is listed,
// read whole, written to, cut and reopened, and the container must still
// pass its check; the raw check and raw reads run on the bytes as well.
// Only the container's own errors may come out, never a crash.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/container.h"
#include "engine/container_check.h"
#include "platform/exceptions.h"
#include "platform/process.h"

namespace {

using namespace vandrel;
using namespace vandrel::engine;

std::string ScratchPath() {
  static const std::string path = [] {
    std::filesystem::path dir = std::filesystem::exists("/dev/shm")
                                    ? std::filesystem::path("/dev/shm")
                                    : std::filesystem::temp_directory_path();
    return (dir /
            ("vandrel-fuzz-container-" + std::to_string(win::GetCurrentProcessId()) + ".vbas"))
        .string();
  }();
  return path;
}

void Exercise(TEntireDataBase& db, bool was_clean) {
  std::vector<TInnerFileInfo> files = db.List();
  std::vector<std::uint8_t> buffer;
  for (const TInnerFileInfo& f : files) {
    int slot = db.OpenInner(f.name, 0);
    if (slot < 0) continue;
    std::int64_t size = db.InnerSize(slot);
    buffer.resize(static_cast<std::size_t>(size));
    if (db.ReadAt(slot, 0, buffer.data(), size) != size) std::abort();
    const std::uint8_t more[3] = {1, 2, 3};
    db.WriteAt(slot, size + 5000, more, sizeof(more));
    db.SetInnerSize(slot, size / 2);
    db.CloseInner(slot);
  }
  int slot = db.CreateInner("FUZZ.NEW", 0x80, 0x80 | kInnerDeleteOnClose);
  if (slot > 0) {
    std::vector<std::uint8_t> bytes(9000, 0x77);
    db.WriteAt(slot, 0, bytes.data(), static_cast<std::int64_t>(bytes.size()));
    db.CloseInner(slot);
  }
  if (was_clean && !CheckContainer(db).Clean()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  TContainerReport raw = CheckContainerBytes(data, size);
  for (const TInnerFileInfo& f : raw.files) {
    std::vector<std::uint8_t> out;
    ReadInnerFromBytes(data, size, f.name, &out);
  }
  const std::string path = ScratchPath();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  try {
    std::unique_ptr<TEntireDataBase> db = TEntireDataBase::Open(path);
    if (raw.Fatal()) std::abort();  // opened what the check calls unsafe
    Exercise(*db, raw.Clean());
    db.reset();
    db = TEntireDataBase::Open(path);  // what a clean close leaves opens again
  } catch (const EContainerError&) {
  } catch (const EOSError&) {
  }
  std::remove(path.c_str());
  return 0;
}
