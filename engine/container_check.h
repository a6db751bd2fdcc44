// The structural check of a base container: every invariant of the format
// (container_format.h) verified on the raw bytes, reported as findings.
//
// API in brief:
//   TContainerReport r = CheckContainerBytes(bytes, size);
//   TContainerReport r = CheckContainerFile(path);     // reads the file
//   TContainerReport r = CheckContainer(open_db);      // an open container
//   r.Clean()  // no error (notes allowed)
//   r.Lines()  // "[kind] text", one finding a line
//
// Kinds: size, header, table, chain, directory, leak, free, data, spare.
// Opening a container refuses every error except leak, free and data
// (lost space and stray bytes that no operation reads).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/container.h"

namespace vandrel::engine {

struct TContainerFinding {
  bool error = true;  // false: a note (allowed, worth reporting)
  std::string kind;
  std::string text;
};

struct TContainerReport {
  std::vector<TContainerFinding> findings;
  // The directory's files as far as they could be read.
  std::vector<TInnerFileInfo> files;
  bool Clean() const;
  // True when an error makes the container unsafe to open.
  bool Fatal() const;
  std::vector<std::string> Lines() const;
};

TContainerReport CheckContainerBytes(const std::uint8_t* bytes, std::uint64_t size);
// A file that cannot be read gives one [size] error.
TContainerReport CheckContainerFile(const std::string& path);
TContainerReport CheckContainer(const TEntireDataBase& db);

// Reads a whole file into bytes; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>* bytes);
// The bytes of one inner file, read from the raw container bytes along its
// chain (names compare as inner names do). false when the name is absent or
// its chain is damaged (the walk is bounded by the page count).
bool ReadInnerFromBytes(const std::uint8_t* bytes, std::uint64_t size, const std::string& name,
                        std::vector<std::uint8_t>* out);

}  // namespace vandrel::engine
