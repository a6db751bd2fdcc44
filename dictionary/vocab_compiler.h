// TVocabCompiler: writes a compiled dictionary file (dic_format.h) from
// (word, translation) pairs delivered in dictionary order. Index and leaf
// pages are built in memory; body pages, which come before nothing the
// compiler knows the size of, go to a temporary file beside the output as
// they fill (64 at a time) and are copied behind the leaf pages when the
// compilation ends; the header is written last. WriteBaseParams rewrites the parameters page (Name,
// ShortName, Description) of a finished file.
//
// The compiler writes to the path it is given and flushes the file to disk
// before EndCompile returns; a caller that replaces a dictionary compiles to
// a temporary name and renames it over the old file afterwards, so a crash
// never leaves a half-written file under a dictionary's name.
//
// Typical use by a tool:
//   TVocabCompiler compiler;
//   compiler.SetLanguage(1049); compiler.SetTransLanguage(1033);
//   compiler.SetScrambled(true); compiler.SetCompressed(true);
//   compiler.BeginCompile("out.tmp");
//   for (...) compiler.AddWord(word, marked_up_translation);  // sorted
//   compiler.EndCompile();
//   WriteBaseParams("out.tmp", name, short_name, description);
//   MoveFileExA("out.tmp", "out.dic", MOVEFILE_REPLACE_EXISTING);
#pragma once

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "dictionary/alloc_man.h"
#include "dictionary/charmap.h"
#include "dictionary/compression.h"
#include "dictionary/dic_format.h"
#include "dictionary/page_man.h"
#include "platform/unique_handle.h"
#include "platform/win_types.h"

namespace vandrel {

// What a compilation stored otherwise than given, and how.
struct TCompileReport {
  std::size_t words_changed = 0;        // words the word code page changed
  std::size_t word_chars_replaced = 0;  // their characters stored as "?" or another letter
  std::size_t escapes = 0;              // translation units stored as escapes
  std::size_t bodies_with_escapes = 0;
  std::size_t compressed_bodies = 0;
  std::size_t dictionary_bytes = 0;  // the body dictionary stored (0: none)
};

class TVocabCompiler {
 public:
  // Header image: signature, version 3 (4 once a body holds an escape, 5
  // with a body dictionary), page size 8192, Language
  // and TransLanguage 1033, a random page key; everything else 0.
  TVocabCompiler();
  // Runs EndCompile when a file is still open (errors are swallowed: the
  // caller that failed deletes the output).
  ~TVocabCompiler();
  TVocabCompiler(const TVocabCompiler&) = delete;
  TVocabCompiler& operator=(const TVocabCompiler&) = delete;

  // Settings; change them before BeginCompile only.
  void SetLanguage(std::uint16_t language);
  void SetTransLanguage(std::uint16_t language);
  void SetScrambled(bool scrambled);
  void SetCompressed(bool compressed);
  std::uint16_t Language() const;
  std::uint16_t TransLanguage() const;
  bool Scrambled() const;
  bool Compressed() const;

  // How BeginCompile creates its output: kReplace truncates an existing
  // file (following a link to it); kNew fails with the platform error
  // ERROR_FILE_EXISTS when anything, a link included, has the name.
  enum class Creation { kReplace, kNew };
  // Creates the output file; raises the platform error on failure. Nothing
  // else reaches the file before EndCompile.
  void BeginCompile(const std::string& file_name, Creation creation = Creation::kReplace);
  // word: 1 to 1024 bytes in the code page of Language, comparing greater
  // (CompareWords) than the previous word; otherwise an Exception and the
  // word is not added. With Compressed set, long bodies are compressed in
  // batches on all cores, so a word may reach the pages (and a size limit
  // be found) at a later AddWord or at EndCompile. translation: marked-up text; lexeme errors of
  // the body codec propagate unchanged.
  void AddWord(WideView word, WideView translation);
  // The same for a word already converted: bytes in the code page of
  // Language and stored = AnsiToWide(Language, bytes), as a caller that
  // sorted by the stored form holds them. Nothing is converted again.
  void AddStoredWord(std::string bytes, WideString stored, WideView translation);
  // The same with the translation encoded already by the caller (on any
  // thread): body = EncodeBody(Language(), TransLanguage(), translation,
  // &report) and escapes = report.escapes. The file is the one AddStoredWord
  // writes; encoding many words on other threads first is what this is for.
  void AddEncodedWord(std::string bytes, WideString stored, std::string body, std::size_t escapes);
  // Compresses bodies as the compiler does, on any thread and without
  // touching the compiler: a caller that encodes bodies on other threads
  // finishes them there too and passes them to AddFinishedWord, so that the
  // compiler's thread only writes pages. Copies are independent.
  class BodyFinisher {
   public:
    // Compresses body in place when the file compresses it and that makes
    // it shorter; true then.
    bool Finish(std::string& body, TBodyCompressor& compressor) const;

   private:
    friend class TVocabCompiler;
    std::size_t threshold_ = SIZE_MAX;  // longer bodies are compressed
    std::shared_ptr<const TBodyDictionary> dictionary_;
  };
  // After BeginCompile; nullopt while the body dictionary is still to be
  // trained on the first bodies (they go through AddEncodedWord then).
  std::optional<BodyFinisher> Finisher() const;
  // The same as AddEncodedWord with the body finished already by a
  // Finisher() of this compilation: compressed is what Finish returned.
  void AddFinishedWord(std::string bytes, WideString stored, std::string body, std::size_t escapes,
                       bool compressed);
  // A word with a body as another file of the same languages and switches
  // stores it (TDicReader::GetStoredBody): copied as it is, not encoded.
  // may_hold_escapes: the source file's version allows escapes; the new
  // file then gets that version too. A codec-2 body is refused (Exception)
  // unless SetBodyDictionary gave the compiler its file's dictionary.
  void AddStoredBody(WideView word, std::string stored_body, bool may_hold_escapes);
  // Writes every page and the header, flushes and closes the file, frees the
  // buffers. Nothing when no file is open. Raises the platform error when a
  // write fails; the output is then incomplete (and closed).
  void EndCompile();

  // Threads that compress long bodies (default: the cores, at most 4).
  // The file is the same for any number.
  void SetCompressionThreads(std::size_t threads) { threads_ = std::max<std::size_t>(1, threads); }

  // Body dictionary (codec 2, compression.h). By default a compressed file
  // gets one trained on the first kTrainingBytes of its long bodies (they
  // wait for it), at most capacity bytes and a tenth of the sample; a sample
  // too small for a dictionary of 1 KiB, or a capacity of 0, leaves the
  // file without one (codec 1). Set before BeginCompile.
  static constexpr std::size_t kDefaultDictionaryCapacity = 112 * 1024;
  static constexpr std::size_t kTrainingBytes = 4 << 20;
  void SetDictionaryCapacity(std::size_t capacity) { dictionary_capacity_ = capacity; }
  // Trains on these translations (marked-up text, as AddWord takes them)
  // instead of the first long bodies: a caller that holds every entry
  // passes some spread over the whole dictionary, which gives a better
  // dictionary and lets no body wait. Set before BeginCompile, after the
  // languages; trained by BeginCompile.
  void SetTrainingSample(std::vector<WideString> translations) {
    training_sample_ = std::move(translations);
  }
  // The dictionary SetTrainingSample's translations give (what BeginCompile
  // trains): at most capacity bytes and a tenth of the long bodies'
  // bytes; empty when they give none. Thread-safe: a caller may train while
  // it still prepares the words, and pass the result to SetBodyDictionary.
  static std::string TrainOn(const std::vector<WideString>& translations, std::uint16_t language,
                             std::uint16_t trans_language, std::size_t capacity);
  // Uses this dictionary instead of training one: a merge that copies the
  // stored bodies of a file passes that file's dictionary, and the new
  // file keeps it. Raises EBodyFormat when bytes are not a dictionary.
  // Empty bytes: no dictionary and no training. Set before BeginCompile.
  void SetBodyDictionary(std::string bytes);

  bool IsCompiling() const { return file_.valid(); }
  // Words accepted so far.
  std::int32_t RecordCount() const;
  // The header image (dic::kHeaderSize bytes), for inspection.
  const std::uint8_t* HeaderImage() const { return header_; }
  // Counts since BeginCompile.
  const TCompileReport& Report() const { return report_; }

 private:
  // Refuses a word of bad length, one past the record limit, or one that
  // does not follow the previous word; changes nothing.
  void CheckNextWord(const std::string& bytes, WideView stored) const;
  // A word waiting for its body to be compressed.
  struct Pending {
    std::string bytes;
    std::string body;
    std::size_t escapes;
    bool compressed;
    bool final;           // a stored body, copied as it is
    bool escape_version;  // the file needs the version that knows escapes
  };
  // Commits entry, or queues it behind the bodies waiting for compression.
  void Enqueue(Pending entry);
  // Takes a checked word: stored follows as the previous word, and entry
  // goes to Enqueue.
  void Accept(Pending entry, WideString stored);
  static constexpr std::size_t kBatch = 1024;
  bool NeedsCompression(const std::string& body) const;
  // Compresses the bodies of batch longer than threshold on threads threads.
  // compressors: one per thread, kept between batches.
  static void CompressBatch(std::vector<Pending>& batch, std::size_t threshold,
                            const TBodyDictionary* dictionary,
                            std::vector<std::unique_ptr<TBodyCompressor>>& compressors);
  // Commits the pending bodies in order: the batch in flight first; then
  // the pending ones start compressing in the background (committed at the
  // next Flush), or, when last, are compressed and committed at once.
  void Flush(bool last = false);
  // Waits for the batch in flight and commits it.
  void CommitInFlight();
  // Trains the body dictionary (once) on the pending bodies or a sample of
  // sample_bytes_ bytes.
  void TrainOnPending();
  void TrainDictionary(const std::vector<std::string_view>& sample);
  void WriteDictionary();
  // Puts one word and its final body into the pages.
  void Commit(Pending& entry);
  void StartLeafPage(const std::string& word);
  // Words in the pages (the header's record count).
  std::int32_t Committed() const;
  void RegisterChild(std::size_t layer, std::int32_t child, std::int32_t first_rec,
                     const std::string& key);
  void AddLayerPage(std::size_t layer);
  void AppendBody(const std::string& body);
  // Writes the full body pages held in body_chunk_ to the temporary file
  // (created by the first call) and empties the chunk.
  void SpillBodyPages();
  // Writes the spilled body pages, then those still held, to the output.
  void WriteBodyPages();
  void WritePage(std::uint8_t* page);
  void Release();
  std::uint32_t PageSize() const;

  std::unique_ptr<TAllocMan> alloc_;    // created by BeginCompile
  std::unique_ptr<TPageMan> page_man_;  // created by BeginCompile
  std::string file_name_;
  win::UniqueHandle file_;  // while compiling
  // Page buffers, owned by alloc_.
  std::vector<std::vector<std::uint8_t*>> layers_;
  std::vector<std::uint8_t*> leaf_pages_;
  // Body pages: chunk_pages_ of them in body_chunk_ (the last one being
  // filled, body_fill_ bytes of it), spilled_pages_ before them in bodies_,
  // a temporary file removed when closed.
  static constexpr std::uint32_t kBodyChunkPages = 64;
  std::vector<std::uint8_t> body_chunk_;
  std::uint32_t chunk_pages_ = 0;
  std::uint32_t spilled_pages_ = 0;
  win::UniqueHandle bodies_;
  std::uint8_t header_[dic::kHeaderSize] = {};
  std::uint32_t body_fill_ = 0;
  std::uint32_t next_page_ = 0;
  // The current word's bytes (the key of pages started for it) and its wide
  // form as a reader sees it (for the order check).
  std::string word_bytes_;
  WideString previous_word_;
  TCompileReport report_;
  std::size_t added_ = 0;  // words accepted, committed or pending
  std::vector<Pending> pending_;
  // The batch being compressed by compressing_ (touched by no other thread
  // until it is joined), and its failure.
  std::vector<Pending> in_flight_;
  std::thread compressing_;
  std::exception_ptr in_flight_error_;
  std::vector<std::unique_ptr<TBodyCompressor>> compressors_;
  std::size_t threads_;
  std::size_t dictionary_capacity_ = kDefaultDictionaryCapacity;
  // The given dictionary's bytes (SetBodyDictionary), if any.
  bool dictionary_given_ = false;
  std::string given_dictionary_;
  // Whether the dictionary is settled (given, trained, or none); until then
  // long bodies wait in pending_, sample_bytes_ of them.
  bool dictionary_settled_ = false;
  std::size_t sample_bytes_ = 0;
  std::vector<WideString> training_sample_;
  std::shared_ptr<const TBodyDictionary> dictionary_;
};

// The parameters page, laid out here for every writer: items 0, 1 and 2
// (page_man.h) hold name, short name and description as UTF-16 without a
// terminator.
//
// The UTF-16 units left for the description beside name and short name on
// a page of page_size bytes; negative when those two alone do not fit.
std::ptrdiff_t ParamsDescriptionRoom(std::uint32_t page_size, WideView name, WideView short_name);
// The page, unscrambled. The description is cut to the room left (never
// inside a surrogate pair); a name or short name that does not fit raises
// "Name of dictionary %s is too long" / "Short name of dictionary %s is too
// long" (file_name names the file in the text).
std::vector<std::uint8_t> BuildParamsPage(std::uint32_t page_size, const std::string& file_name,
                                          WideView name, WideView short_name, WideView description);

// Rewrites the parameters page of an existing dictionary file. The
// description is cut to the room left after name and short name; a name and
// short name that do not fit one page together raise an Exception before
// the file is touched. Raises the platform error when the file cannot be
// opened, read or written, and "File %s is not base" for a file whose header
// is damaged. Flushes the file before closing it.
void WriteBaseParams(const std::string& file_name, WideView name, WideView short_name,
                     WideView description);

}  // namespace vandrel
