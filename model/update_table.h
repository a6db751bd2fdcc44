// TUpdateTable: the update table "Data" of the container "Updates.tmp" in
// the service's state folder (its working directory). It collects the
// changes of one update bracket: each row is a word (8-bit, in the code
// page of the table's locale, cut to 50 bytes) and its new translation
// (packed wide text); an empty translation deletes the word at the merge.
//
// The table is opened exclusively, so its buffers stay in memory until it
// closes; closing its last file removes the temporary container from disk.
// Engine thread only.
#pragma once

#include <cstdint>
#include <string>

#include "dataset/engine_table.h"
#include "dictionary/charmap.h"

namespace vandrel {

// "Updates.tmp\" : the update database, an inner-file name of the
// temporary container "Updates.tmp" in the working directory.
extern const char* const kUpdatesDatabase;
// The container's file name, relative to the working directory.
extern const char* const kUpdatesFile;
// The separator of two translations of one word given in one update.
extern const char16_t* const kTransSeparator;
// The longest word the table stores, in bytes.
constexpr std::size_t kUpdateWordBytes = 50;

// The language the update table is created in for a dictionary language:
// the exact one when it is listed, else the first listed language with the
// same ANSI code page, else "English (USA)".
std::string UpdateLanguageName(std::uint16_t dictionary_language);
// Runs the CREATE TABLE statement of "Data" in the update database.
void CreateUpdateTable(std::uint16_t dictionary_language);

// At service start: deletes a leftover "Updates.tmp" of the working
// directory and every "X.tmp" beside an "X.dic" of the dictionary folder
// (the output of a merge cut short), unless a process still holds it.
void RemoveUpdateLeftovers(const std::string& dictionary_folder);

// At the outermost BeginUpdate: refuses (code 1) when the working
// directory is the folder of dictionary_file, or when another process holds
// "Updates.tmp"; else deletes a leftover "Updates.tmp".
void PrepareUpdatesFile(const std::string& dictionary_file);

class TUpdateTable : public dataset::TEngineTable {
 public:
  // Names the update database and table, key order, exclusive.
  TUpdateTable();

  // Locale of the table (language | sort << 16); valid while open.
  std::uint32_t Locale() const;
  WideString GetWord();
  WideString GetTrans();
  void SetTrans(WideView text);
  // The 8-bit key of a word for a put: converted, trimmed of trailing
  // blanks, cut to 50 bytes. Raises ELocal (code 1) for a word that is
  // empty after trimming, holds U+0000, or has characters the table's code
  // page lacks (naming the word).
  std::string PutKey(WideView word) const;
  // The same for a deletion, which also refuses a word longer than 50
  // bytes (its prefix may be another word).
  std::string DeleteKey(WideView word) const;
  void SetWordKey(const std::string& key);
  // Writes the changed buffers to the container: the merge's walk then
  // reuses clean buffers instead of passing over every changed one.
  void WriteBack();
  bool FindKeyBytes(const std::string& key) { return FindKey(key); }
};

}  // namespace vandrel
