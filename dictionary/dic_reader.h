// TDicReader: one reader's position in a dictionary file (dic_file.h):
// the current record (leaf page, item, record number), the Bof and Eof
// flags of its last step, and the cached current word. Positions are plain
// values: each cursor, walk or merge owns its own, copies them freely, and
// never disturbs another reader of the same file.
//
// The position holds a reference on its file, so the file stays mapped as
// long as a position reads it. A position without a file reads as an empty
// dictionary (RecordCount 0, Bof and Eof set).
//
// Walking a file:
//   TDicReader reader(TDicFile::Open(path));
//   for (reader.First(); !reader.Eof(); reader.Next())  // N = 0: Eof at once
//     use(reader.GetWord(), reader.GetTrans());
// Next on the last record sets Eof without moving, which ends the walk.
//
// Damage met on the way raises EDicDamaged or EDicBodyDamaged (dic_file.h);
// a step that raises leaves the position where it was, except that the
// cached word may be dropped.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "dictionary/charmap.h"
#include "dictionary/dic_file.h"

namespace vandrel {

class TDicReader {
 public:
  // A position on nothing: an empty dictionary.
  TDicReader() = default;
  // A position on record 0 of file (Bof and Eof set when it has no record).
  explicit TDicReader(std::shared_ptr<const TDicFile> file);

  const std::shared_ptr<const TDicFile>& File() const { return file_; }
  std::int32_t RecordCount() const { return file_ ? file_->RecordCount() : 0; }

  // Navigation. On an empty dictionary they change nothing.
  void First();
  void Last();
  void Next();
  void Prior();
  // Negative values go to record 0, values past the end to the last record.
  // Clears Bof and Eof.
  void SetRecNo(std::int32_t value);
  std::int32_t RecNo() const { return rec_no_; }
  std::int32_t PageNo() const { return page_no_; }
  std::int32_t ItemNo() const { return item_no_; }
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }

  // Index descent to the last word not greater than key (the first word
  // when key is smaller than all); true only for an exact match found on
  // the way. Resets Bof and Eof.
  bool Seek(WideView key);
  // True when the position ends on key, compared at primary strength (case
  // and diacritics ignored) next to the seek position; otherwise the
  // position goes back to where it was.
  bool FindExact(WideView key);
  // Ends on the neighbour of the seek position that shares the longer
  // prefix with key (the earlier one on a tie).
  void FindNearest(WideView key);

  // Where the position stands, without its cached word: cheap to take
  // before a step and to go back to when the step fails.
  struct TMark {
    std::int32_t page_no = 0;
    std::int32_t item_no = 0;
    std::int32_t rec_no = 0;
    bool bof = true;
    bool eof = true;
    bool word_valid = false;
  };
  TMark Mark() const { return {page_no_, item_no_, rec_no_, bof_, eof_, word_valid_}; }
  // Back to a mark taken on this position (same file), with the word then
  // cached when no read since replaced it: a step that failed on a damaged
  // page does not read that page again.
  void Restore(const TMark& mark);
  // A copy of the position without the cached word and search memory.
  TDicReader Uncached() const;

  // The current word (empty on an empty dictionary); cached until the
  // position moves.
  const WideString& GetWord();
  // The current record's translation, decoded into marked-up text.
  WideString GetTrans() const;
  // The current record's lexeme-encoded body, decompressed when stored
  // compressed (what GetTrans decodes).
  std::string GetEncodedBody() const;
  // The current record's body as stored (still compressed when it was).
  std::string GetStoredBody() const;

 private:
  void DropWord() { word_valid_ = false; }
  void TakeBackWord(const TMark& mark);

  std::shared_ptr<const TDicFile> file_;
  std::int32_t page_no_ = 0;
  std::int32_t item_no_ = 0;
  std::int32_t rec_no_ = 0;
  bool bof_ = true;
  bool eof_ = true;
  // The last word read, the item it was read from, and whether the
  // position still stands there (a move drops it; its memory stays).
  WideString word_;
  std::int32_t word_page_ = -1;
  std::int32_t word_item_ = -1;
  bool word_valid_ = false;
  // The key of the last search probe (kept to reuse its memory).
  WideString probe_;
};

}  // namespace vandrel
