// TDicFile: one compiled dictionary file (dic_format.h) mapped into memory,
// its header checked, its pages readable through checked readers. Nothing
// in it moves: a file has no current record (that is a reader position's,
// dic_reader.h), so any number of positions may read one TDicFile at once,
// from any thread. It knows nothing of windows or messages.
//
// Ownership: Open returns a shared pointer. Every position that reads the
// file holds one, so the mapping lives until the last reader lets go, even
// when the owner that opened it has closed it to replace the file.
//
// Scrambled files are descrambled granule by granule into private copies on
// first use; the copies are made under no lock (a granule that two threads
// copy at once keeps the first copy stored).
//
// A damaged file never makes a reader touch memory outside the mapping:
// Open checks the header's structure, and every page, item and body read
// afterwards is checked against its bounds. Damage raises EDicDamaged with
// the user's message "File %s is not base" and a detail naming the failed
// check and the place (see TDamage); a damaged body raises EDicBodyDamaged,
// the body-format error with the same detail.
//
// A file with a body dictionary (version 5) loads it once, at Open, and
// every position decodes with it. A dictionary whose bytes are damaged
// does not stop the file from opening: its codec-2 bodies raise
// EDicBodyDamaged instead, and everything else reads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "dictionary/body_codec.h"
#include "dictionary/charmap.h"
#include "dictionary/compression.h"
#include "dictionary/granule_copies.h"
#include "dictionary/scramble.h"
#include "platform/exceptions.h"
#include "platform/unique_handle.h"

namespace vandrel {

// Where a dictionary file failed a check.
struct TDamage {
  std::string check;       // what was wrong ("item outside the page", ...)
  int layer = -2;          // index layer of the page; -1 leaf pages; -2 header; -3 parameters page
  std::int64_t page = -1;  // page index inside its layer (or file page), -1 none
  int item = -1;           // item inside the page, -1 none
  std::int64_t record = -1;  // record whose body failed, -1 none
  std::int64_t offset = -1;  // file offset of the page or body, -1 none

  // The place alone: "leaf page 12", "index layer 1 page 0", "header",
  // "parameters page", "body of record 17".
  std::string Where() const;
  // The place, the item and the check: "leaf page 12, item 3 (file offset
  // 106496): item outside the page".
  std::string Detail() const;
};

// Carried by both damage exceptions; find it with DamageOf.
class TDamageInfo {
 public:
  explicit TDamageInfo(TDamage damage) : damage_(std::move(damage)) {}
  virtual ~TDamageInfo() = default;
  const TDamage& Damage() const { return damage_; }

 private:
  TDamage damage_;
};

// The file's structure is damaged; what() is "File %s is not base".
class EDicDamaged : public Exception, public TDamageInfo {
 public:
  EDicDamaged(const std::string& message, TDamage damage)
      : Exception(message), TDamageInfo(std::move(damage)) {}
};

// A stored body is damaged; what() is the body-format message.
class EDicBodyDamaged : public EBodyFormat, public TDamageInfo {
 public:
  EDicBodyDamaged(const std::string& message, TDamage damage)
      : EBodyFormat(message), TDamageInfo(std::move(damage)) {}
};

// The damage an exception carries, or null.
const TDamage* DamageOf(const std::exception& e);

class TDicFile {
 public:
  // A page of the file by its place: an index layer (0..L-1) or the leaf
  // pages (layer -1), and its index inside that layer.
  struct TPage {
    const std::uint8_t* data = nullptr;
    int layer = -1;
    std::int64_t index = 0;
  };

  // Maps and checks the file at path. Raises the platform error (EOSError)
  // when the file cannot be opened or mapped (an empty file included);
  // "Dictionary %s has old format. Download it latest version."; "File %s
  // is not base" (EDicDamaged: wrong signature or damaged layout);
  // "Dictionary %s has unknown version. Download latest program version.".
  static std::shared_ptr<const TDicFile> Open(const std::string& path);
  ~TDicFile();
  TDicFile(const TDicFile&) = delete;
  TDicFile& operator=(const TDicFile&) = delete;

  const std::string& FileName() const { return file_name_; }

  // Header values.
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

  // The body dictionary (null when the file has none or it is damaged),
  // and why a dictionary the header names could not be loaded ("" when it
  // loaded or there is none). A merge that copies stored bodies hands the
  // dictionary to its compiler, so that codec-2 bodies keep theirs.
  const std::shared_ptr<const TBodyDictionary>& BodyDictionary() const { return dictionary_; }
  const std::string& BodyDictionaryProblem() const { return dictionary_problem_; }

  // Parameters page items 0, 1, 2; read from the mapping on every call.
  WideString GetName() const { return ReadParam(0); }
  WideString GetShortName() const { return ReadParam(1); }
  WideString GetDescription() const { return ReadParam(2); }

  // Readable address of file offset x; the caller reads no further than the
  // end of the 64 KiB granule that holds x. Raises EDicDamaged for an
  // offset outside the file.
  const std::uint8_t* PageAddress(std::uint32_t offset) const;

  // Checked page readers. Each raises EDicDamaged naming the page (and
  // item) for anything outside its bounds.
  TPage LayerPage(int layer, std::int64_t index) const;
  TPage LeafPage(std::int64_t index) const { return LayerPage(-1, index); }
  // Number of leaf pages.
  std::int64_t LeafPageCount() const { return (body_start_ - leaf_offset_) / page_size_; }
  int ItemCount(const TPage& page) const;
  // Item i with at least min_size bytes; its size in size.
  const std::uint8_t* Item(const TPage& page, int i, int min_size, int& size) const;
  // The key of item i (from byte key_at) as wide text.
  WideString ItemKey(const TPage& page, int i, int key_at) const;
  // The same into a caller's buffer (reused between probes of a search).
  void ProbeKey(const TPage& page, int i, int key_at, WideString& into) const;
  // Binary search of a page by key: the last item whose key is not greater
  // than key (item 0 when key is smaller than all); found tells whether
  // the search met key exactly on the way.
  int SearchPage(const TPage& page, int key_at, WideView key, bool& found, WideString& probe) const;
  // CompareWords(key, the characters of bytes) on a single-byte page, with
  // key_weights[i] = CharWeight(key[i], kWeightCase).
  int CompareKeyToBytes(WideView key, const std::int32_t* key_weights, const std::uint8_t* bytes,
                        std::size_t size) const;
  // Index item by record number: the item whose child holds record value;
  // its first record and child page in first_rec and child.
  int SearchRecNo(const TPage& page, std::int64_t value, std::int32_t& first_rec,
                  std::int32_t& child) const;
  // Body offset (inside the body stream) of leaf item `item` of leaf page
  // `page`.
  std::uint32_t BodyOffset(std::int64_t page, int item) const;
  // Lexeme-encoded body of record rec, standing at item `item` of leaf page
  // `page`; decompressed when it is stored compressed.
  std::string EncodedBody(std::int64_t page, int item, std::int32_t rec) const;
  // The same record's body as stored (descrambled, still compressed when
  // its first byte is 0): what a merge copies for an unchanged word.
  std::string StoredBody(std::int64_t page, int item, std::int32_t rec) const;
  // Decoded translation of that record.
  WideString Trans(std::int64_t page, int item, std::int32_t rec) const;

  // Raises EDicDamaged ("File %s is not base") with the given place.
  [[noreturn]] void RaiseDamaged(TDamage damage) const;

 private:
  explicit TDicFile(std::string path);
  void Map();
  void CheckHeader();
  void LoadDictionary();
  const std::uint8_t* MakeCopy(std::size_t granule) const;
  WideString CollectChars(std::uint32_t counts_at) const;
  WideString ReadParam(int item) const;
  [[noreturn]] void RaiseHeader(const char* check) const;
  [[noreturn]] void RaisePage(const char* check, const TPage& page, int item = -1) const;
  std::uint32_t PageOffset(const TPage& page) const;

  std::string file_name_;
  // The file's one read-only view; the header lies at its start.
  win::UniqueView view_;
  std::int64_t file_size_ = 0;
  std::size_t granule_count_ = 0;
  // Private descrambled copies (scrambled files only), one per granule,
  // made on first use by whichever reader needs one first: a cache that
  // reading const files fills.
  mutable TGranuleCopies copies_;

  WideString first_chars_;
  WideString lang_chars_;
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
  std::uint32_t dictionary_offset_ = 0;
  std::uint32_t dictionary_length_ = 0;
  std::uint32_t dictionary_crc_ = 0;
  std::shared_ptr<const TBodyDictionary> dictionary_;
  std::string dictionary_problem_;
  // Single-byte code pages convert byte by byte: search probes use this
  // table instead of a conversion each.
  bool single_byte_ = false;
  char16_t byte_chars_[256] = {};
  // Each byte's primary and case weights (CharWeight with kWeightCase).
  std::int32_t byte_weights_[256] = {};
};

}  // namespace vandrel
