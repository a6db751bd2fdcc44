// TDicTable: a read-only cursor over one compiled dictionary file
// (dic_format.h). Open maps the file in 64 KiB granules and checks its
// header; the cursor walks words in dictionary order, seeks a word through
// the index layers, and reads the current word, its decoded translation and
// the dictionary's parameter strings. Scrambled files are descrambled
// granule by granule into private copies on first use.
//
// A damaged file never makes the reader touch memory outside its mapping:
// Open checks the header's structure, and every page, item and body read
// afterwards is checked against its bounds. Damage raises an Exception with
// "File %s is not base" (the body-format error, EBodyFormat, for a damaged
// body), never a crash.
//
// Typical use by a tool:
//   TDicTable table(nullptr);
//   table.FileName = "Dic/english.dic";
//   table.Open();
//   for (table.First(); !table.Eof(); table.Next())   // N = 0: Eof at once
//     use(table.GetWord(), table.GetTrans());
// Next on the last record sets Eof without moving, which ends the walk.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dictionary/charmap.h"
#include "dictionary/page_man.h"
#include "dictionary/scramble.h"
#include "service/notify.h"

namespace vandrel {

class TDicTable : public TNotifyObject {
 public:
  // owner may be null; it is not owned (see TNotifyObject).
  explicit TDicTable(TNotifyObject* owner);
  // Closes the file.
  ~TDicTable() override;
  TDicTable(const TDicTable&) = delete;
  TDicTable& operator=(const TDicTable&) = delete;

  static const TMessageTable& MessageTable();
  const TMessageTable& ClassMessageTable() const override { return MessageTable(); }

  // Path of the dictionary file; set before Open.
  std::string FileName;

  // Maps and checks FileName; nothing when already open. Raises the platform
  // error (EOSError) when the file cannot be opened or mapped, and after
  // closing again: "Dictionary %s has old format. Download it latest
  // version.", "File %s is not base" (wrong signature or damaged layout),
  // "Dictionary %s has unknown version. Download latest program version.".
  // Puts the cursor on record 0.
  virtual void Open();
  // Unmaps and frees; nothing when closed. The file may be replaced after.
  virtual void Close();
  bool IsOpen() const { return !granules_.empty(); }

  // Header values; valid while open (RecordCount is 0 once closed).
  std::int32_t RecordCount() const { return record_count_; }
  std::uint32_t Version() const { return version_; }
  std::uint16_t Language() const { return language_; }
  std::uint16_t TransLanguage() const { return trans_language_; }
  double CreateTime() const { return create_time_; }
  bool Scrambled() const { return scrambled_; }
  bool Compressed() const { return compressed_; }
  std::uint32_t PageSize() const { return page_size_; }
  std::uint32_t LayerCount() const { return layer_count_; }
  std::uint32_t BodyLength() const { return body_length_; }
  std::int64_t FileSize() const { return file_size_; }
  // The characters that begin words / occur in words, in collation order.
  const WideString& FirstChars() const { return first_chars_; }
  const WideString& LangChars() const { return lang_chars_; }

  // Parameters page items 0, 1, 2; read from the file on every call.
  WideString GetName();
  WideString GetShortName();
  WideString GetDescription();

  // Navigation. On an empty dictionary they change nothing.
  void First();
  void Last();
  void Next();
  void Prior();
  // Negative values go to record 0, values past the end to the last record.
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
  // True when the cursor ends on key, compared at primary strength (case
  // and diacritics ignored) next to the seek position.
  bool FindExact(WideView key);
  // Ends on the neighbour of the seek position that shares the longer
  // prefix with key (the earlier one on a tie).
  void FindNearest(WideView key);

  // The current word (empty on an empty dictionary).
  WideString GetWord();
  // The current record's translation, decoded into marked-up text.
  WideString GetTrans();
  // The current record's lexeme-encoded body, decompressed when stored
  // compressed (what GetTrans decodes).
  std::string GetEncodedBody();

  // Readable address of file offset x; valid until Close. Callers never read
  // past the end of the 64 KiB granule that holds x. Raises "File %s is not
  // base" for an offset outside the file.
  const std::uint8_t* PageAddress(std::uint32_t offset);

 private:
  [[noreturn]] void RaiseNotBase() const;
  void CheckHeader();
  void MakeCopy(std::size_t granule);
  WideString CollectChars(std::uint32_t counts_at) const;

  // A page of index layer `layer` (-1 for the leaf pages) by its index in
  // that layer; raises for an index outside the layer.
  const std::uint8_t* LayerPage(int layer, std::int64_t index);
  const std::uint8_t* LeafPage(std::int64_t index) { return LayerPage(-1, index); }
  int ItemCount(const std::uint8_t* page);
  // Item i with at least min_size bytes.
  const std::uint8_t* Item(const std::uint8_t* page, int i, int min_size, int& size);
  WideString ItemKey(const std::uint8_t* page, int i, int key_at);
  // The key of item i for a search probe; valid until the next probe.
  WideView ProbeKey(const std::uint8_t* page, int i, int key_at);
  int SearchPage(const std::uint8_t* page, int key_at, WideView key, bool& found);
  int SearchRecNo(const std::uint8_t* page, std::int64_t value, std::int32_t& first_rec,
                  std::int32_t& child);
  std::uint32_t BodyOffset(std::int64_t page, int item);
  WideString ReadParam(int item);
  const WideString& CurrentWord();
  void DropWord() { word_.clear(); }

  std::unique_ptr<TPageMan> page_man_;  // exists while open
  const std::uint8_t* header_ = nullptr;
  // The file's one read-only view, and its 64 KiB granules inside it; a
  // granule's entry is null once a private copy replaced it. One view
  // instead of one per granule: opening a 60 MB dictionary then costs one
  // mapping instead of a thousand.
  const std::uint8_t* view_ = nullptr;
  std::vector<const std::uint8_t*> granules_;
  // Private descrambled copies (scrambled files only); owned, freed by Close.
  std::vector<std::uint8_t*> copies_;

  std::int32_t page_no_ = 0;
  std::int32_t item_no_ = 0;
  std::int32_t rec_no_ = 0;
  WideString word_;
  bool bof_ = false;
  bool eof_ = false;
  WideString first_chars_;
  WideString lang_chars_;
  std::int64_t file_size_ = 0;

  // Header values, checked at Open.
  std::uint32_t version_ = 0;
  std::uint32_t page_size_ = 0;
  std::int32_t record_count_ = 0;
  std::uint32_t leaf_offset_ = 0;
  std::uint32_t layer_count_ = 0;
  std::uint32_t layer_offsets_[10] = {};
  std::uint32_t body_start_ = 0;
  std::uint32_t body_length_ = 0;
  std::uint32_t params_offset_ = 0;
  std::uint16_t language_ = 0;
  std::uint16_t trans_language_ = 0;
  double create_time_ = 0;
  bool scrambled_ = false;
  bool compressed_ = false;
  TPageKey page_key_{};
  // Single-byte code pages convert byte by byte: search probes use this
  // table and one reused buffer instead of a conversion each.
  bool single_byte_ = false;
  char16_t byte_chars_[256] = {};
  WideString probe_;
};

}  // namespace vandrel
