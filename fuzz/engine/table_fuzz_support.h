// Shared pieces of the table file fuzz targets: the word-update table's
// shape and in-memory files holding given bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/data_file.h"
#include "engine/engine_error.h"
#include "engine/file_handler.h"
#include "engine/record_layout.h"

namespace vandrel::engine::fuzz {

inline std::vector<TFieldDesc> UpdateFields() {
  TFieldDesc word;
  word.name = "Word";
  word.type = kTypeString;
  word.size = 50;
  TFieldDesc trans;
  trans.name = "Trans";
  trans.type = kTypeBlob;
  trans.subtype = 22;
  std::vector<TFieldDesc> f = {word, trans};
  LayOutRecord(f);
  return f;
}

// An in-memory file of that name holding bytes (replacing any earlier one).
inline void PutMemoryFile(const std::string& name, const std::uint8_t* data, std::size_t size) {
  TFileHandler f(true);
  f.Create(name);
  if (size != 0) f.WriteAt(0, data, static_cast<std::int64_t>(size));
  f.Close();
}

inline void DropMemoryFile(const std::string& name) {
  try {
    TFileHandler::DeleteFile(name, true, "Fuzz");
  } catch (const EEngineError&) {
  }
}

}  // namespace vandrel::engine::fuzz
