// The dictionary compiler and the parameters page writer.
#include "dictionary/vocab_compiler.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <random>
#include <thread>

#include "dictionary/body_codec.h"
#include "dictionary/compression.h"
#include "dictionary/scramble.h"
#include "platform/date_time.h"
#include "platform/error.h"
#include "platform/exceptions.h"
#include "platform/file.h"
#include "platform/unique_handle.h"

namespace vandrel {

namespace {

using dic::LoadU32;
using dic::StoreU32;

TPageKey RandomPageKey() {
  std::random_device device;
  std::seed_seq seed{
      static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()),
      static_cast<std::uint64_t>(device())};
  std::mt19937 random(seed);
  TPageKey key{};
  for (auto& word : key) {
    do word = random();
    while (word == 0);
  }
  return key;
}

void WriteAll(win::HANDLE file, const void* data, std::uint32_t size) {
  win::DWORD written = 0;
  if (!win::WriteFile(file, data, size, &written, nullptr)) RaiseLastOSError();
  if (written != size) throw OSError(win::ERROR_WRITE_FAULT);
}

void SeekTo(win::HANDLE file, std::uint32_t offset) {
  if (win::SetFilePointer(file, static_cast<win::LONG>(offset), nullptr, win::FILE_BEGIN) ==
      win::INVALID_SET_FILE_POINTER)
    RaiseLastOSError();
}

}  // namespace

TVocabCompiler::TVocabCompiler()
    : threads_(std::max(1u, std::min(4u, std::thread::hardware_concurrency()))) {
  std::memcpy(header_ + dic::kSignatureAt, dic::kSignature, 4);
  StoreU32(header_ + dic::kVersionAt, dic::kVersionWithoutEscapes);
  StoreU32(header_ + dic::kPageSizeAt, dic::kCompilerPageSize);
  StoreU32(header_ + dic::kLeafOffsetAt, dic::kCompilerPageSize);
  StoreU32(header_ + dic::kBodyStartAt, dic::kCompilerPageSize);
  StoreU32(header_ + dic::kLanguageAt, 1033);
  StoreU32(header_ + dic::kTransLanguageAt, 1033);
  WritePageKey(header_, RandomPageKey());
}

TVocabCompiler::~TVocabCompiler() {
  try {
    EndCompile();
  } catch (...) {
    Release();
  }
}

void TVocabCompiler::SetLanguage(std::uint16_t language) {
  StoreU32(header_ + dic::kLanguageAt, language);
}
void TVocabCompiler::SetTransLanguage(std::uint16_t language) {
  StoreU32(header_ + dic::kTransLanguageAt, language);
}
void TVocabCompiler::SetScrambled(bool scrambled) { header_[dic::kScrambledAt] = scrambled; }
void TVocabCompiler::SetCompressed(bool compressed) { header_[dic::kCompressedAt] = compressed; }
std::uint16_t TVocabCompiler::Language() const {
  return static_cast<std::uint16_t>(LoadU32(header_ + dic::kLanguageAt));
}
std::uint16_t TVocabCompiler::TransLanguage() const {
  return static_cast<std::uint16_t>(LoadU32(header_ + dic::kTransLanguageAt));
}
bool TVocabCompiler::Scrambled() const { return header_[dic::kScrambledAt] != 0; }
bool TVocabCompiler::Compressed() const { return header_[dic::kCompressedAt] != 0; }
std::int32_t TVocabCompiler::RecordCount() const { return static_cast<std::int32_t>(added_); }
std::int32_t TVocabCompiler::Committed() const {
  return static_cast<std::int32_t>(LoadU32(header_ + dic::kRecordCountAt));
}
std::uint32_t TVocabCompiler::PageSize() const { return LoadU32(header_ + dic::kPageSizeAt); }

void TVocabCompiler::BeginCompile(const std::string& file_name, Creation creation) {
  if (file_) throw Exception("Compilation of " + file_name_ + " is already running");
  const std::uint32_t page = PageSize();
  file_name_ = file_name;
  alloc_ = std::make_unique<TAllocMan>();
  alloc_->SetBlockSize(page);
  page_man_ = std::make_unique<TPageMan>();
  page_man_->PageSize = page;
  win::UniqueHandle file(win::CreateFileA(
      file_name.c_str(), win::GENERIC_READ | win::GENERIC_WRITE, 0, nullptr,
      creation == Creation::kNew ? win::CREATE_NEW : win::CREATE_ALWAYS, 0, nullptr));
  if (!file) {
    const win::DWORD error = win::GetLastError();
    Release();
    throw OSError(error);
  }
  file_ = std::move(file);
  try {
    SeekTo(file_.get(), page);
  } catch (...) {
    Release();
    throw;
  }
  body_fill_ = page;
  next_page_ = 1;
  previous_word_.clear();
  added_ = 0;
  pending_.clear();
  report_ = {};
  StoreU32(header_ + dic::kVersionAt, dic::kVersionWithoutEscapes);
  // Without a given dictionary one is trained for a compressed file.
  if (!dictionary_given_) dictionary_.reset();
  dictionary_settled_ = dictionary_given_ || !Compressed() || dictionary_capacity_ == 0;
  sample_bytes_ = 0;
  if (!dictionary_settled_ && !training_sample_.empty()) {
    std::string bytes =
        TrainOn(training_sample_, Language(), TransLanguage(), dictionary_capacity_);
    training_sample_.clear();
    dictionary_settled_ = true;
    if (!bytes.empty())
      dictionary_ = TBodyDictionary::Load(std::move(bytes), TBodyDictionary::Use::kEncodeAndDecode);
  }
}

std::string TVocabCompiler::TrainOn(const std::vector<WideString>& translations,
                                    std::uint16_t language, std::uint16_t trans_language,
                                    std::size_t capacity) {
  std::vector<std::string> bodies;
  std::size_t bytes = 0;
  for (const WideString& t : translations) {
    std::string body;
    try {
      body = EncodeBody(language, trans_language, t, nullptr);
    } catch (const Exception&) {
      continue;  // AddWord reports it
    }
    if (body.size() > dic::kDictionaryCompressThreshold) {
      bytes += body.size();
      bodies.push_back(std::move(body));
    }
  }
  capacity = std::min(capacity, bytes / 10);
  if (capacity < 1024) return {};
  return TBodyDictionary::Train(std::vector<std::string_view>(bodies.begin(), bodies.end()),
                                capacity);
}

void TVocabCompiler::SetBodyDictionary(std::string bytes) {
  dictionary_given_ = true;
  dictionary_.reset();
  if (!bytes.empty())
    dictionary_ = TBodyDictionary::Load(std::move(bytes), TBodyDictionary::Use::kEncodeAndDecode);
}

void TVocabCompiler::AddWord(WideView word, WideView translation) {
  std::string bytes;
  WideToAnsi(Language(), word, bytes);
  WideString stored = AnsiToWide(Language(), bytes);
  std::size_t replaced = 0;
  for (std::size_t i = 0; i < word.size(); ++i)
    replaced += i >= stored.size() || stored[i] != word[i];
  AddStoredWord(std::move(bytes), std::move(stored), translation);
  if (replaced > 0) {
    ++report_.words_changed;
    report_.word_chars_replaced += replaced;
  }
}

void TVocabCompiler::CheckNextWord(const std::string& bytes, WideView stored) const {
  const std::size_t record = added_;
  if (bytes.size() < static_cast<std::size_t>(dic::kMinWordBytes) ||
      bytes.size() > static_cast<std::size_t>(dic::kMaxWordBytes))
    throw Exception("Word #" + std::to_string(record) + " has " + std::to_string(bytes.size()) +
                    " bytes; a word has 1 to 1024 bytes");
  // The order a reader will see is that of the stored bytes.
  if (record >= INT32_MAX) throw Exception("Dictionary " + file_name_ + " is too large");
  if (record > 0 && CompareWords(stored, previous_word_) <= 0)
    throw Exception("Word #" + std::to_string(record) +
                    " is not in dictionary order: it does not follow the previous word");
}

void TVocabCompiler::Accept(Pending entry, WideString stored) {
  previous_word_ = std::move(stored);
  ++added_;
  Enqueue(std::move(entry));
}

void TVocabCompiler::AddStoredWord(std::string bytes, WideString stored, WideView translation) {
  if (!file_) throw Exception("No compilation is running");
  // Everything that can fail runs before the first change, so a refused
  // word leaves the dictionary being built as it was.
  CheckNextWord(bytes, stored);

  BodyReport encoded;
  Pending entry{std::move(bytes),
                EncodeBody(Language(), TransLanguage(), translation, &encoded),
                encoded.escapes,
                false,
                false,
                false};
  Accept(std::move(entry), std::move(stored));
}

void TVocabCompiler::AddEncodedWord(std::string bytes, WideString stored, std::string body,
                                    std::size_t escapes) {
  if (!file_) throw Exception("No compilation is running");
  CheckNextWord(bytes, stored);
  Pending entry{std::move(bytes), std::move(body), escapes, false, false, false};
  Accept(std::move(entry), std::move(stored));
}

void TVocabCompiler::AddStoredBody(WideView word, std::string stored_body, bool may_hold_escapes) {
  if (!file_) throw Exception("No compilation is running");
  std::string bytes;
  WideToAnsi(Language(), word, bytes);
  WideString stored = AnsiToWide(Language(), bytes);
  const std::size_t record = added_;
  CheckNextWord(bytes, stored);
  // A stored body is final: byte 0 says whether it is compressed, and it is
  // never compressed again.
  const bool compressed = !stored_body.empty() && stored_body[0] == '\0';
  // A codec-2 body decodes only with its own file's dictionary.
  if (compressed && stored_body.size() > 1 && stored_body[1] == '\x02' && !dictionary_given_)
    throw Exception("Word #" + std::to_string(record) +
                    " has a body compressed with its file's dictionary, which " + file_name_ +
                    " does not keep");
  Pending entry{std::move(bytes), std::move(stored_body), 0, compressed, true, may_hold_escapes};
  Accept(std::move(entry), std::move(stored));
}

void TVocabCompiler::Enqueue(Pending entry) {
  // Long bodies wait to be compressed by all cores at once; the entries
  // behind them wait too, so that everything reaches the pages in order.
  const bool compress = !entry.final && NeedsCompression(entry.body);
  if (pending_.empty() && !compress && !compressing_.joinable()) {
    Commit(entry);
    return;
  }
  if (compress) sample_bytes_ += entry.body.size();
  pending_.push_back(std::move(entry));
  if (!dictionary_settled_) {
    // The first long bodies are the training sample: they wait until there
    // are enough of them (or too many entries wait behind them).
    if (sample_bytes_ < kTrainingBytes && pending_.size() < kTrainingBytes / 64) return;
    TrainOnPending();
  }
  if (pending_.size() >= kBatch) Flush();
}

void TVocabCompiler::TrainOnPending() {
  std::vector<std::string_view> sample;
  for (const Pending& e : pending_)
    if (!e.final && NeedsCompression(e.body)) sample.push_back(e.body);
  TrainDictionary(sample);
}

void TVocabCompiler::TrainDictionary(const std::vector<std::string_view>& sample) {
  dictionary_settled_ = true;
  const std::size_t capacity = std::min(dictionary_capacity_, sample_bytes_ / 10);
  if (capacity < 1024) return;
  std::string bytes = TBodyDictionary::Train(sample, capacity);
  if (bytes.empty()) return;
  dictionary_ = TBodyDictionary::Load(std::move(bytes), TBodyDictionary::Use::kEncodeAndDecode);
}

bool TVocabCompiler::NeedsCompression(const std::string& body) const {
  // Until the dictionary is settled the shorter bodies wait too: they are
  // part of the sample, and compressed once a dictionary is there.
  const bool trained = dictionary_ != nullptr || !dictionary_settled_;
  return Compressed() &&
         body.size() > (trained ? dic::kDictionaryCompressThreshold : dic::kCompressThreshold);
}

namespace {

// A compressed body: byte 0, then the codec's image; kept only when
// shorter than the body itself.
bool CompressIfShorter(std::string& body, const TBodyDictionary* dictionary,
                       TBodyCompressor& compressor) {
  std::string candidate(1, '\0');
  candidate += compressor.Compress(body, dictionary);
  if (candidate.size() >= body.size()) return false;
  body.swap(candidate);
  return true;
}

}  // namespace

bool TVocabCompiler::BodyFinisher::Finish(std::string& body, TBodyCompressor& compressor) const {
  return body.size() > threshold_ && CompressIfShorter(body, dictionary_.get(), compressor);
}

std::optional<TVocabCompiler::BodyFinisher> TVocabCompiler::Finisher() const {
  if (!file_ || !dictionary_settled_) return std::nullopt;
  BodyFinisher finisher;
  // What Flush gives CompressBatch.
  if (Compressed())
    finisher.threshold_ = dictionary_ ? dic::kDictionaryCompressThreshold : dic::kCompressThreshold;
  finisher.dictionary_ = dictionary_;
  return finisher;
}

void TVocabCompiler::AddFinishedWord(std::string bytes, WideString stored, std::string body,
                                     std::size_t escapes, bool compressed) {
  if (!file_) throw Exception("No compilation is running");
  CheckNextWord(bytes, stored);
  Pending entry{std::move(bytes), std::move(body), escapes, compressed, true, false};
  Accept(std::move(entry), std::move(stored));
}

void TVocabCompiler::CompressBatch(std::vector<Pending>& batch, std::size_t threshold,
                                   const TBodyDictionary* dictionary,
                                   std::vector<std::unique_ptr<TBodyCompressor>>& compressors) {
  const auto range = [&batch, threshold, dictionary](TBodyCompressor& compressor, std::size_t begin,
                                                     std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      Pending& e = batch[i];
      if (e.final || e.body.size() <= threshold) continue;
      e.compressed = CompressIfShorter(e.body, dictionary, compressor);
    }
  };
  // The batch is cut into one slice per thread; this thread takes the first.
  const std::size_t threads = std::max<std::size_t>(1, std::min(compressors.size(), batch.size()));
  const std::size_t slice = (batch.size() + threads - 1) / threads;
  std::vector<std::thread> helpers;
  std::vector<std::exception_ptr> errors(threads);
  for (std::size_t t = 1; t < threads; ++t) {
    helpers.emplace_back([&, t] {
      try {
        range(*compressors[t], t * slice, std::min(batch.size(), (t + 1) * slice));
      } catch (...) {
        errors[t] = std::current_exception();
      }
    });
  }
  try {
    range(*compressors[0], 0, std::min(batch.size(), slice));
  } catch (...) {
    errors[0] = std::current_exception();
  }
  for (std::thread& h : helpers) h.join();
  for (const auto& e : errors)
    if (e) std::rethrow_exception(e);
}

void TVocabCompiler::CommitInFlight() {
  if (!compressing_.joinable()) return;
  compressing_.join();
  std::vector<Pending> batch;
  batch.swap(in_flight_);
  if (in_flight_error_) {
    std::exception_ptr error = in_flight_error_;
    in_flight_error_ = nullptr;
    std::rethrow_exception(error);
  }
  for (Pending& e : batch) Commit(e);
}

void TVocabCompiler::Flush(bool last) {
  // The batch compressed in the background reaches the pages first.
  CommitInFlight();
  if (pending_.empty()) return;
  if (!Compressed() && !dictionary_) {
    // Nothing to compress (stored bodies waiting behind nothing).
    std::vector<Pending> batch;
    batch.swap(pending_);
    for (Pending& e : batch) Commit(e);
    return;
  }
  while (compressors_.size() < threads_)
    compressors_.push_back(std::make_unique<TBodyCompressor>());
  compressors_.resize(threads_);
  const bool trained = dictionary_ != nullptr;
  const std::size_t threshold =
      Compressed() ? (trained ? dic::kDictionaryCompressThreshold : dic::kCompressThreshold)
                   : SIZE_MAX;
  if (last || threads_ == 1) {
    std::vector<Pending> batch;
    batch.swap(pending_);
    CompressBatch(batch, threshold, dictionary_.get(), compressors_);
    for (Pending& e : batch) Commit(e);
    return;
  }
  // This batch is compressed on other threads while this one encodes the
  // next words; it is committed, in order, at the next Flush.
  in_flight_.swap(pending_);
  pending_.clear();
  compressing_ = std::thread([this, threshold] {
    try {
      CompressBatch(in_flight_, threshold, dictionary_.get(), compressors_);
    } catch (...) {
      in_flight_error_ = std::current_exception();
    }
  });
}

void TVocabCompiler::Commit(Pending& entry) {
  const std::uint32_t page = PageSize();
  const std::int32_t record = Committed();
  const std::string& body = entry.body;
  // Offsets are 32-bit signed: refuse what would push the file past them.
  const std::uint64_t body_length = LoadU32(header_ + dic::kBodyLengthAt);
  const std::uint64_t pages_after = std::uint64_t{alloc_->Count()} + spilled_pages_ + chunk_pages_ +
                                    2 + layers_.size() + 2 + (body.size() + page - 1) / page;
  if (body_length + body.size() > INT32_MAX || pages_after * page > INT32_MAX ||
      record == INT32_MAX)
    throw Exception("Dictionary " + file_name_ + " is too large");

  word_bytes_ = std::move(entry.bytes);
  const auto first = static_cast<std::uint8_t>(word_bytes_[0]);
  std::uint8_t* counter = header_ + dic::kFirstCharCountsAt + 4 * first;
  StoreU32(counter, LoadU32(counter) + 1);
  for (char c : word_bytes_) {
    counter = header_ + dic::kCharCountsAt + 4 * static_cast<std::uint8_t>(c);
    StoreU32(counter, LoadU32(counter) + 1);
  }

  const int item_size = static_cast<int>(word_bytes_.size()) + 4;
  if (leaf_pages_.empty()) StartLeafPage(word_bytes_);
  page_man_->Page = leaf_pages_.back();
  if (page_man_->FreeSpace() < item_size) {
    StartLeafPage(word_bytes_);
    page_man_->Page = leaf_pages_.back();
  }
  std::uint8_t* cursor = page_man_->AddItem(item_size);
  TPageMan::PutInt(cursor, static_cast<std::int32_t>(body_length));
  TPageMan::PutStr(cursor, word_bytes_);

  StoreU32(header_ + dic::kRecordCountAt, static_cast<std::uint32_t>(record + 1));
  AppendBody(body);
  StoreU32(header_ + dic::kBodyLengthAt, static_cast<std::uint32_t>(body_length + body.size()));
  report_.compressed_bodies += entry.compressed;
  if (entry.escapes > 0) {
    report_.escapes += entry.escapes;
    ++report_.bodies_with_escapes;
  }
  // Readers that do not know the escape must refuse the file.
  if ((entry.escapes > 0 || entry.escape_version) &&
      LoadU32(header_ + dic::kVersionAt) < dic::kVersionWithEscapes)
    StoreU32(header_ + dic::kVersionAt, dic::kVersionWithEscapes);
}

void TVocabCompiler::StartLeafPage(const std::string& word) {
  leaf_pages_.push_back(alloc_->Alloc());
  // The current word opens the page, so the record count is its first
  // record number.
  RegisterChild(0, static_cast<std::int32_t>(leaf_pages_.size() - 1), Committed(), word);
}

void TVocabCompiler::RegisterChild(std::size_t layer, std::int32_t child, std::int32_t first_rec,
                                   const std::string& key) {
  if (layer >= layers_.size()) {
    if (layer >= dic::kMaxLayers) throw Exception("Dictionary " + file_name_ + " is too large");
    layers_.resize(layer + 1);
    StoreU32(header_ + dic::kLayerCountAt, static_cast<std::uint32_t>(layer + 1));
    AddLayerPage(layer);
  }
  const int item_size = static_cast<int>(key.size()) + 8;
  page_man_->Page = layers_[layer].back();
  if (page_man_->FreeSpace() < item_size) {
    AddLayerPage(layer);
    // Registering the new page above re-pointed the page manager.
    page_man_->Page = layers_[layer].back();
  }
  std::uint8_t* cursor = page_man_->AddItem(item_size);
  TPageMan::PutInt(cursor, first_rec);
  TPageMan::PutInt(cursor, child);
  TPageMan::PutStr(cursor, key);
}

void TVocabCompiler::AddLayerPage(std::size_t layer) {
  layers_[layer].push_back(alloc_->Alloc());
  const std::size_t pages = layers_[layer].size();
  // A layer's first page is registered above only when the layer gets its
  // second one; the root layer therefore always has a single page.
  if (pages == 2) {
    page_man_->Page = layers_[layer][0];
    const std::uint8_t* item = page_man_->ItemPtr(0);
    const std::string first_key(
        reinterpret_cast<const char*>(item) + dic::kIndexKeyAt,
        static_cast<std::size_t>(page_man_->ItemSize(0) - dic::kIndexKeyAt));
    RegisterChild(layer + 1, 0, 0, first_key);
  }
  if (pages >= 2)
    RegisterChild(layer + 1, static_cast<std::int32_t>(pages - 1), Committed(), word_bytes_);
}

void TVocabCompiler::AppendBody(const std::string& body) {
  const std::uint32_t page = PageSize();
  std::size_t done = 0;
  while (done < body.size()) {
    if (body_fill_ == page) {
      if (chunk_pages_ == kBodyChunkPages) SpillBodyPages();
      if (body_chunk_.empty()) body_chunk_.resize(std::size_t{kBodyChunkPages} * page);
      ++chunk_pages_;
      body_fill_ = 0;
    }
    const std::size_t n = std::min<std::size_t>(body.size() - done, page - body_fill_);
    std::memcpy(body_chunk_.data() + std::size_t{chunk_pages_ - 1} * page + body_fill_,
                body.data() + done, n);
    body_fill_ += static_cast<std::uint32_t>(n);
    done += n;
  }
}

void TVocabCompiler::SpillBodyPages() {
  if (!bodies_) {
    std::random_device random;
    for (int attempt = 0;; ++attempt) {
      char suffix[24];
      std::snprintf(suffix, sizeof suffix, ".bodies.%08x", static_cast<unsigned>(random()));
      const std::string name = file_name_ + suffix;
      bodies_.reset(win::CreateFileA(
          name.c_str(), win::GENERIC_READ | win::GENERIC_WRITE, 0, nullptr, win::CREATE_NEW,
          win::FILE_ATTRIBUTE_TEMPORARY | win::FILE_FLAG_DELETE_ON_CLOSE, nullptr));
      if (bodies_) break;
      if (win::GetLastError() != win::ERROR_FILE_EXISTS || attempt >= 16) RaiseLastOSError();
    }
  }
  WriteAll(bodies_.get(), body_chunk_.data(), chunk_pages_ * PageSize());
  spilled_pages_ += chunk_pages_;
  chunk_pages_ = 0;
}

void TVocabCompiler::WriteBodyPages() {
  const std::uint32_t page = PageSize();
  // The last page ends in zeros.
  if (chunk_pages_ > 0)
    std::memset(body_chunk_.data() + std::size_t{chunk_pages_ - 1} * page + body_fill_, 0,
                page - body_fill_);
  if (spilled_pages_ > 0) {
    SeekTo(bodies_.get(), 0);
    std::vector<std::uint8_t> buffer(std::size_t{kBodyChunkPages} * page);
    for (std::uint32_t copied = 0; copied < spilled_pages_;) {
      const std::uint32_t n = std::min(kBodyChunkPages, spilled_pages_ - copied);
      win::DWORD read = 0;
      if (!win::ReadFile(bodies_.get(), buffer.data(), n * page, &read, nullptr))
        RaiseLastOSError();
      if (read != n * page) throw OSError(win::ERROR_READ_FAULT);
      if (Scrambled())
        for (std::uint32_t i = 0; i < n; ++i)
          ScramblePage(buffer.data() + std::size_t{i} * page, ReadPageKey(header_), page,
                       next_page_ + i);
      WriteAll(file_.get(), buffer.data(), n * page);
      next_page_ += n;
      copied += n;
    }
    bodies_.reset();
  }
  if (Scrambled())
    for (std::uint32_t i = 0; i < chunk_pages_; ++i)
      ScramblePage(body_chunk_.data() + std::size_t{i} * page, ReadPageKey(header_), page,
                   next_page_ + i);
  WriteAll(file_.get(), body_chunk_.data(), chunk_pages_ * page);
  next_page_ += chunk_pages_;
}

void TVocabCompiler::WritePage(std::uint8_t* page) {
  if (Scrambled()) ScramblePage(page, ReadPageKey(header_), PageSize(), next_page_);
  WriteAll(file_.get(), page, PageSize());
  ++next_page_;
}

void TVocabCompiler::EndCompile() {
  if (!file_) return;
  const std::uint32_t page = PageSize();
  try {
    if (!dictionary_settled_) TrainOnPending();
    Flush(true);
    for (std::size_t layer = layers_.size(); layer-- > 0;) {
      StoreU32(header_ + dic::kLayerOffsetsAt + 4 * layer, next_page_ * page);
      for (std::uint8_t* p : layers_[layer]) WritePage(p);
    }
    StoreU32(header_ + dic::kLeafOffsetAt, next_page_ * page);
    for (std::uint8_t* p : leaf_pages_) WritePage(p);
    StoreU32(header_ + dic::kBodyStartAt, next_page_ * page);
    WriteBodyPages();
    WriteDictionary();

    StoreU32(header_ + dic::kParamsOffsetAt, next_page_ * page);
    // Empty until WriteBaseParams fills it.
    std::vector<std::uint8_t> params = BuildParamsPage(page, file_name_, {}, {}, {});
    WritePage(params.data());

    dic::StoreDouble(header_ + dic::kCreateTimeAt, NowAsDateTime());
    std::vector<std::uint8_t> header(page, 0);
    std::memcpy(header.data(), header_, dic::kHeaderSize);
    SeekTo(file_.get(), 0);
    WriteAll(file_.get(), header.data(), page);
    if (!win::FlushFileBuffers(file_.get())) RaiseLastOSError();
    if (!file_.close()) {
      Release();
      RaiseLastOSError();
    }
  } catch (...) {
    Release();
    throw;
  }
  Release();
}

void TVocabCompiler::WriteDictionary() {
  StoreU32(header_ + dic::kDictionaryOffsetAt, 0);
  StoreU32(header_ + dic::kDictionaryLengthAt, 0);
  StoreU32(header_ + dic::kDictionaryCrcAt, 0);
  report_.dictionary_bytes = 0;
  if (!dictionary_) return;
  const std::string& bytes = dictionary_->Bytes();
  const std::uint32_t page = PageSize();
  if (std::uint64_t{next_page_} * page + bytes.size() + page > INT32_MAX)
    throw Exception("Dictionary " + file_name_ + " is too large");
  StoreU32(header_ + dic::kDictionaryOffsetAt, next_page_ * page);
  StoreU32(header_ + dic::kDictionaryLengthAt, static_cast<std::uint32_t>(bytes.size()));
  const uLong crc = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(bytes.data()),
                          static_cast<uInt>(bytes.size()));
  StoreU32(header_ + dic::kDictionaryCrcAt, static_cast<std::uint32_t>(crc));
  StoreU32(header_ + dic::kVersionAt, dic::kVersionWithDictionary);
  std::vector<std::uint8_t> buffer(page);
  for (std::size_t done = 0; done < bytes.size(); done += page) {
    std::fill(buffer.begin(), buffer.end(), 0);
    std::memcpy(buffer.data(), bytes.data() + done,
                std::min<std::size_t>(page, bytes.size() - done));
    WritePage(buffer.data());
  }
  report_.dictionary_bytes = bytes.size();
}

void TVocabCompiler::Release() {
  if (compressing_.joinable()) compressing_.join();
  in_flight_.clear();
  in_flight_error_ = nullptr;
  file_.reset();
  layers_.clear();
  leaf_pages_.clear();
  bodies_.reset();
  body_chunk_.clear();
  body_chunk_.shrink_to_fit();
  chunk_pages_ = 0;
  spilled_pages_ = 0;
  pending_.clear();
  page_man_.reset();
  alloc_.reset();
}

std::ptrdiff_t ParamsDescriptionRoom(std::uint32_t page_size, WideView name, WideView short_name) {
  std::vector<std::uint8_t> page(page_size, 0);
  TPageMan pm;
  pm.Page = page.data();
  pm.PageSize = page_size;
  for (WideView text : {name, short_name}) {
    if (2 * text.size() > static_cast<std::size_t>(std::max(pm.FreeSpace(), 0))) return -1;
    pm.AddItem(static_cast<int>(2 * text.size()));
  }
  return std::max(pm.FreeSpace(), 0) / 2;
}

std::vector<std::uint8_t> BuildParamsPage(std::uint32_t page_size, const std::string& file_name,
                                          WideView name, WideView short_name,
                                          WideView description) {
  std::vector<std::uint8_t> buffer(page_size, 0);
  TPageMan pm;
  pm.Page = buffer.data();
  pm.PageSize = page_size;
  const auto add = [&](WideView text) {
    std::uint8_t* cursor = pm.AddItem(static_cast<int>(2 * text.size()));
    TPageMan::PutWideStr(cursor, text);
  };
  if (2 * name.size() > static_cast<std::size_t>(std::max(pm.FreeSpace(), 0)))
    throw Exception("Name of dictionary " + file_name + " is too long");
  add(name);
  if (2 * short_name.size() > static_cast<std::size_t>(std::max(pm.FreeSpace(), 0)))
    throw Exception("Short name of dictionary " + file_name + " is too long");
  add(short_name);
  std::size_t keep =
      std::min(description.size(), static_cast<std::size_t>(std::max(pm.FreeSpace(), 0)) / 2);
  // Never keep half of a surrogate pair.
  if (keep > 0 && keep < description.size() && description[keep - 1] >= 0xD800 &&
      description[keep - 1] <= 0xDBFF)
    --keep;
  add(description.substr(0, keep));
  return buffer;
}

void WriteBaseParams(const std::string& file_name, WideView name, WideView short_name,
                     WideView description) {
  const win::UniqueHandle owned(win::CreateFileA(file_name.c_str(),
                                                 win::GENERIC_READ | win::GENERIC_WRITE, 0, nullptr,
                                                 win::OPEN_EXISTING, 0, nullptr));
  if (!owned) RaiseLastOSError();
  const win::HANDLE file = owned.get();

  const auto not_base = [&] { return Exception("File " + file_name + " is not base"); };
  std::uint8_t header[dic::kHeaderSize];
  win::DWORD read = 0;
  if (!win::ReadFile(file, header, dic::kHeaderSize, &read, nullptr)) RaiseLastOSError();
  win::DWORD size_high = 0;
  const win::DWORD size = win::GetFileSize(file, &size_high);
  if (size == win::INVALID_FILE_SIZE && win::GetLastError() != win::ERROR_SUCCESS)
    RaiseLastOSError();
  const std::uint32_t page = LoadU32(header + dic::kPageSizeAt);
  const std::uint32_t params_at = LoadU32(header + dic::kParamsOffsetAt);
  if (read != dic::kHeaderSize || std::memcmp(header, dic::kSignature, 4) != 0 ||
      !dic::ValidPageSize(page) || params_at < page || params_at % page != 0 ||
      std::uint64_t{params_at} + page > (std::uint64_t{size_high} << 32 | size))
    throw not_base();

  std::vector<std::uint8_t> buffer =
      BuildParamsPage(page, file_name, name, short_name, description);
  if (header[dic::kScrambledAt])
    ScramblePage(buffer.data(), ReadPageKey(header), page, params_at / page);
  SeekTo(file, params_at);
  WriteAll(file, buffer.data(), page);
  if (!win::FlushFileBuffers(file)) RaiseLastOSError();
}

}  // namespace vandrel
