// The dictionary table reader: mapping, header checks, lazy descrambling,
// navigation, index descent and body reading.
#include "dictionary/dic_table.h"

#include <algorithm>
#include <cstring>

#include "dictionary/body_codec.h"
#include "dictionary/compression.h"
#include "dictionary/dic_format.h"
#include "platform/error.h"
#include "platform/exceptions.h"
#include "platform/file.h"
#include "platform/handle.h"
#include "platform/mapping.h"

namespace vandrel {

namespace {

using dic::kGranuleSize;
using dic::LoadU32;

// Win32's answer to mapping an empty file.
constexpr win::DWORD kErrorFileInvalid = 1006;

// Leading characters that a and b share by primary weight.
std::size_t SharedPrefix(WideView a, WideView b) {
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t i = 0;
  while (i < n && CharWeight(a[i], kWeightPrimary) == CharWeight(b[i], kWeightPrimary)) ++i;
  return i;
}

}  // namespace

TDicTable::TDicTable(TNotifyObject* owner) : TNotifyObject(owner) {}

TDicTable::~TDicTable() { TDicTable::Close(); }

const TMessageTable& TDicTable::MessageTable() {
  static const TMessageTable table("TDicTable", &TNotifyObject::MessageTable(), {});
  return table;
}

void TDicTable::RaiseNotBase() const { throw Exception("File " + FileName + " is not base"); }

void TDicTable::Open() {
  if (IsOpen()) return;
  page_man_ = std::make_unique<TPageMan>();

  win::HANDLE file = win::CreateFileA(FileName.c_str(), win::GENERIC_READ, 0, nullptr,
                                      win::OPEN_EXISTING, 0, nullptr);
  if (file == win::INVALID_HANDLE_VALUE) {
    const win::DWORD error = win::GetLastError();
    page_man_.reset();
    throw OSError(error);
  }
  win::DWORD size_high = 0;
  win::SetLastError(win::ERROR_SUCCESS);
  const win::DWORD size_low = win::GetFileSize(file, &size_high);
  const win::DWORD size_error = win::GetLastError();
  if (size_low == win::INVALID_FILE_SIZE && size_error != win::ERROR_SUCCESS) {
    win::CloseHandle(file);
    page_man_.reset();
    throw OSError(size_error);
  }
  file_size_ = static_cast<std::int64_t>((std::uint64_t{size_high} << 32) | size_low);
  // Offsets in the file are 32-bit signed; nothing larger is a dictionary.
  if (file_size_ > INT32_MAX) {
    win::CloseHandle(file);
    page_man_.reset();
    RaiseNotBase();
  }

  win::HANDLE mapping =
      file_size_ == 0 ? nullptr
                      : win::CreateFileMappingA(file, nullptr, win::PAGE_READONLY | win::SEC_COMMIT,
                                                0, 0, nullptr);
  if (mapping == nullptr) {
    const win::DWORD error = file_size_ == 0 ? kErrorFileInvalid : win::GetLastError();
    win::CloseHandle(file);
    page_man_.reset();
    throw OSError(error);
  }

  const auto granules = static_cast<std::size_t>((file_size_ - 1) / kGranuleSize + 1);
  void* view = win::MapViewOfFile(mapping, win::FILE_MAP_READ, 0, 0,
                                  static_cast<std::size_t>(file_size_));
  if (view == nullptr) {
    const win::DWORD error = win::GetLastError();
    win::CloseHandle(mapping);
    win::CloseHandle(file);
    page_man_.reset();
    throw OSError(error);
  }
  view_ = static_cast<const std::uint8_t*>(view);
  granules_.resize(granules);
  copies_.assign(granules, nullptr);
  for (std::size_t g = 0; g < granules; ++g) granules_[g] = view_ + g * kGranuleSize;
  // The view keeps the file's contents reachable on its own.
  win::CloseHandle(mapping);
  win::CloseHandle(file);

  header_ = granules_[0];
  try {
    CheckHeader();
    page_man_->PageSize = page_size_;
    bof_ = eof_ = record_count_ == 0;
    page_no_ = item_no_ = rec_no_ = 0;
    DropWord();
    first_chars_ = CollectChars(dic::kFirstCharCountsAt);
    lang_chars_ = CollectChars(dic::kCharCountsAt);
  } catch (...) {
    Close();
    throw;
  }
}

void TDicTable::CheckHeader() {
  const auto u32 = [this](std::uint32_t at) { return LoadU32(header_ + at); };
  if (file_size_ < 4) RaiseNotBase();
  if (std::memcmp(header_, dic::kOldSignature, 4) == 0)
    throw Exception("Dictionary " + FileName + " has old format. Download it latest version.");
  if (std::memcmp(header_, dic::kSignature, 4) != 0) RaiseNotBase();
  if (file_size_ < 8) RaiseNotBase();
  version_ = u32(dic::kVersionAt);
  if (version_ > dic::kFormatVersion)
    throw Exception("Dictionary " + FileName +
                    " has unknown version. Download latest program version.");

  // The structure: every region inside the file, in file order, on page
  // boundaries, so that no later read can leave the mapping.
  const std::uint32_t p = u32(dic::kPageSizeAt);
  if (!dic::ValidPageSize(p) || file_size_ < p) RaiseNotBase();
  page_size_ = p;
  const std::uint32_t n = u32(dic::kRecordCountAt);
  const std::uint32_t layers = u32(dic::kLayerCountAt);
  if (n > INT32_MAX || layers > dic::kMaxLayers || (n == 0) != (layers == 0)) RaiseNotBase();
  const auto aligned = [p](std::uint32_t x) { return x >= p && x % p == 0; };

  std::uint64_t next = p;  // the first offset the next region may use
  for (std::uint32_t i = layers; i-- > 0;) {
    const std::uint32_t at = u32(dic::kLayerOffsetsAt + 4 * i);
    if (!aligned(at) || at < next) RaiseNotBase();
    layer_offsets_[i] = at;
    next = std::uint64_t{at} + p;
  }
  for (std::uint32_t i = layers; i < dic::kMaxLayers; ++i) layer_offsets_[i] = 0;
  const std::uint32_t leaf = u32(dic::kLeafOffsetAt);
  if (!aligned(leaf) || leaf < next) RaiseNotBase();
  next = std::uint64_t{leaf} + (n > 0 ? p : 0);
  const std::uint32_t body = u32(dic::kBodyStartAt);
  const std::uint32_t body_length = u32(dic::kBodyLengthAt);
  const std::uint32_t params = u32(dic::kParamsOffsetAt);
  if (!aligned(body) || body < next || !aligned(params) ||
      std::uint64_t{body} + body_length > params ||
      std::uint64_t{params} + p > static_cast<std::uint64_t>(file_size_))
    RaiseNotBase();
  // Every leaf page holds at least one item of at least 6 bytes.
  const std::uint64_t leaf_pages = (body - leaf) / p;
  if (n < leaf_pages || n > leaf_pages * ((p - 2) / 6)) RaiseNotBase();

  record_count_ = static_cast<std::int32_t>(n);
  layer_count_ = layers;
  leaf_offset_ = leaf;
  body_start_ = body;
  body_length_ = body_length;
  params_offset_ = params;
  language_ = static_cast<std::uint16_t>(u32(dic::kLanguageAt));
  trans_language_ = static_cast<std::uint16_t>(u32(dic::kTransLanguageAt));
  create_time_ = dic::LoadDouble(header_ + dic::kCreateTimeAt);
  scrambled_ = header_[dic::kScrambledAt] != 0;
  page_key_ = ReadPageKey(header_);
  compressed_ = header_[dic::kCompressedAt] != 0;
  // Words cannot be read in a language without a code page.
  std::uint32_t code_page = 0;
  try {
    code_page = LocaleToCodePage(language_);
  } catch (const Exception&) {
    RaiseNotBase();
  }
  single_byte_ = code_page != 932 && code_page != 936 && code_page != 949 && code_page != 950;
  if (single_byte_) {
    std::string all(256, '\0');
    for (int b = 0; b < 256; ++b) all[b] = static_cast<char>(b);
    const WideString chars = AnsiToWide(language_, all);
    single_byte_ = chars.size() == 256;
    if (single_byte_) std::copy(chars.begin(), chars.end(), byte_chars_);
  }
}

void TDicTable::Close() {
  if (!IsOpen()) return;
  first_chars_.clear();
  lang_chars_.clear();
  if (view_ != nullptr) win::UnmapViewOfFile(view_);
  view_ = nullptr;
  granules_.clear();
  for (std::uint8_t*& copy : copies_) {
    if (copy) win::VirtualFree(copy, 0, win::MEM_RELEASE);
    copy = nullptr;
  }
  copies_.clear();
  page_man_.reset();
  header_ = nullptr;
  DropWord();
  // A closed table has no records: navigation does nothing, GetWord and
  // GetTrans give empty strings.
  record_count_ = 0;
  layer_count_ = 0;
}

WideString TDicTable::CollectChars(std::uint32_t counts_at) const {
  std::string bytes;
  for (int b = 0; b < 256; ++b)
    if (static_cast<std::int32_t>(LoadU32(header_ + counts_at + 4 * b)) > 0)
      bytes += static_cast<char>(b);
  const WideString chars = AnsiToWide(language_, bytes);
  // Stable insertion sort by primary and diacritic weight.
  WideString sorted;
  std::vector<std::int32_t> weights;
  for (char16_t ch : chars) {
    const std::int32_t w = CharWeight(ch, kWeightDiacritic);
    const auto at = std::upper_bound(weights.begin(), weights.end(), w) - weights.begin();
    weights.insert(weights.begin() + at, w);
    sorted.insert(sorted.begin() + at, ch);
  }
  return sorted;
}

const std::uint8_t* TDicTable::PageAddress(std::uint32_t offset) {
  if (!IsOpen() || offset >= file_size_) RaiseNotBase();
  const std::size_t g = offset / kGranuleSize;
  if (scrambled_ && copies_[g] == nullptr) MakeCopy(g);
  const std::uint8_t* base = scrambled_ ? copies_[g] : granules_[g];
  return base + offset % kGranuleSize;
}

void TDicTable::MakeCopy(std::size_t g) {
  void* memory = win::VirtualAlloc(nullptr, kGranuleSize, win::MEM_RESERVE | win::MEM_COMMIT,
                                   win::PAGE_READWRITE);
  if (memory == nullptr) RaiseLastOSError();
  auto* copy = static_cast<std::uint8_t*>(memory);
  const std::int64_t at = static_cast<std::int64_t>(g) * kGranuleSize;
  std::memcpy(copy, granules_[g],
              static_cast<std::size_t>(std::min<std::int64_t>(kGranuleSize, file_size_ - at)));
  // Slots past the end of the file hold zeros and are descrambled too; the
  // header (page 0) is never scrambled.
  const std::uint32_t slots = kGranuleSize / page_size_;
  for (std::uint32_t e = g == 0 ? 1 : 0; e < slots; ++e)
    ScramblePage(copy + e * page_size_, page_key_, page_size_,
                 static_cast<std::uint32_t>(g) * slots + e);
  // The view's pages of this granule are no longer read; being clean file
  // pages, the system drops them when it needs the memory.
  granules_[g] = nullptr;
  copies_[g] = copy;
  if (g == 0) header_ = copy;
}

const std::uint8_t* TDicTable::LayerPage(int layer, std::int64_t index) {
  std::uint32_t begin, end;
  if (layer < 0) {
    begin = leaf_offset_;
    end = body_start_;
  } else {
    begin = layer_offsets_[layer];
    end = layer == 0 ? leaf_offset_ : layer_offsets_[layer - 1];
  }
  if (index < 0 || index >= static_cast<std::int64_t>((end - begin) / page_size_)) RaiseNotBase();
  return PageAddress(begin + static_cast<std::uint32_t>(index) * page_size_);
}

int TDicTable::ItemCount(const std::uint8_t* page) {
  page_man_->Page = const_cast<std::uint8_t*>(page);
  int count = 0;
  if (!page_man_->CheckedItemCount(count)) RaiseNotBase();
  return count;
}

const std::uint8_t* TDicTable::Item(const std::uint8_t* page, int i, int min_size, int& size) {
  page_man_->Page = const_cast<std::uint8_t*>(page);
  const std::uint8_t* ptr = nullptr;
  if (!page_man_->CheckedItem(i, ptr, size) || size < min_size) RaiseNotBase();
  return ptr;
}

WideString TDicTable::ItemKey(const std::uint8_t* page, int i, int key_at) {
  int size = 0;
  const std::uint8_t* ptr = Item(page, i, key_at, size);
  return AnsiToWide(language_, std::string_view(reinterpret_cast<const char*>(ptr) + key_at,
                                                static_cast<std::size_t>(size - key_at)));
}

WideView TDicTable::ProbeKey(const std::uint8_t* page, int i, int key_at) {
  if (!single_byte_) {
    probe_ = ItemKey(page, i, key_at);
    return probe_;
  }
  int size = 0;
  const std::uint8_t* ptr = Item(page, i, key_at, size);
  probe_.resize(static_cast<std::size_t>(size - key_at));
  for (std::size_t k = 0; k < probe_.size(); ++k) probe_[k] = byte_chars_[ptr[key_at + k]];
  return probe_;
}

int TDicTable::SearchPage(const std::uint8_t* page, int key_at, WideView key, bool& found) {
  found = false;
  const int n = ItemCount(page);
  if (n <= 0) RaiseNotBase();
  if (n == 1) return 0;
  int lo = 0;
  int hi = n - 1;
  for (;;) {
    if (lo >= hi - 1) {
      const int c = CompareWords(key, ProbeKey(page, hi, key_at));
      if (c >= 0) {
        lo = hi;
        found = c == 0;
      }
      break;
    }
    const int mid = (lo + hi) / 2;
    const int c = CompareWords(key, ProbeKey(page, mid, key_at));
    if (c < 0) {
      hi = mid;
    } else if (c == 0) {
      lo = mid;
      found = true;
      break;
    } else {
      lo = mid;
    }
  }
  return lo;
}

int TDicTable::SearchRecNo(const std::uint8_t* page, std::int64_t value, std::int32_t& first_rec,
                           std::int32_t& child) {
  const int n = ItemCount(page);
  if (n <= 0) RaiseNotBase();
  const auto record = [&](int i) {
    int size = 0;
    const std::uint8_t* ptr = Item(page, i, dic::kIndexKeyAt, size);
    return static_cast<std::int64_t>(TPageMan::GetInt(ptr));
  };
  int result = 0;
  if (n > 1) {
    int lo = 0;
    int hi = n - 1;
    result = -1;
    for (;;) {
      const int mid = (lo + hi) / 2;
      const std::int64_t r = record(mid);
      if (r == value) {
        result = mid;
        break;
      }
      if (lo == mid) break;
      if (r < value)
        lo = mid;
      else
        hi = mid;
    }
    if (result < 0) result = value < record(hi) ? lo : hi;
  }
  int size = 0;
  const std::uint8_t* ptr = Item(page, result, dic::kIndexKeyAt, size);
  first_rec = TPageMan::GetInt(ptr);
  child = TPageMan::GetInt(ptr);
  return result;
}

bool TDicTable::Seek(WideView key) {
  page_no_ = -1;
  item_no_ = -1;
  bof_ = false;
  eof_ = false;
  if (record_count_ == 0) return false;
  page_no_ = 0;
  bool found = false;
  std::int64_t rec = 0;
  for (std::uint32_t i = layer_count_; i-- > 0;) {
    const std::uint8_t* page = LayerPage(static_cast<int>(i), page_no_);
    item_no_ = SearchPage(page, dic::kIndexKeyAt, key, found);
    int size = 0;
    const std::uint8_t* ptr = Item(page, item_no_, dic::kIndexKeyAt, size);
    rec = TPageMan::GetInt(ptr);
    page_no_ = TPageMan::GetInt(ptr);
  }
  item_no_ = SearchPage(LeafPage(page_no_), dic::kLeafKeyAt, key, found);
  rec += item_no_;
  if (rec < 0 || rec >= record_count_) RaiseNotBase();
  rec_no_ = static_cast<std::int32_t>(rec);
  DropWord();
  return found;
}

bool TDicTable::FindExact(WideView key) {
  if (record_count_ == 0 || (bof_ && eof_)) return false;
  const std::int32_t page = page_no_, item = item_no_, rec = rec_no_;
  if (Seek(key)) return true;
  if (CompareWeighted(key, CurrentWord(), kWeightPrimary) == 0) return true;
  Next();
  if (eof_) return false;
  if (CompareWeighted(key, CurrentWord(), kWeightPrimary) == 0) return true;
  page_no_ = page;
  item_no_ = item;
  rec_no_ = rec;
  DropWord();
  return false;
}

void TDicTable::FindNearest(WideView key) {
  if (record_count_ == 0 || (bof_ && eof_)) return;
  if (Seek(key)) return;
  const std::size_t before = SharedPrefix(key, CurrentWord());
  Next();
  if (eof_) return;
  const std::size_t after = SharedPrefix(key, CurrentWord());
  if (before >= after) Prior();
}

void TDicTable::SetRecNo(std::int32_t value) {
  if (record_count_ == 0) return;
  if (value < 0) value = 0;
  std::int32_t page = 0;
  std::int32_t first = 0;
  for (std::uint32_t i = layer_count_; i-- > 0;) {
    std::int32_t child = 0;
    SearchRecNo(LayerPage(static_cast<int>(i), page), value, first, child);
    page = child;
  }
  const int count = ItemCount(LeafPage(page));
  const std::int64_t rec = std::min<std::int64_t>(value, std::int64_t{count} + first - 1);
  const std::int64_t item = rec - first;
  if (rec < 0 || rec >= record_count_ || item < 0 || item >= count) RaiseNotBase();
  page_no_ = page;
  item_no_ = static_cast<std::int32_t>(item);
  rec_no_ = static_cast<std::int32_t>(rec);
  bof_ = eof_ = false;
  DropWord();
}

void TDicTable::First() {
  if (record_count_ == 0) return;
  page_no_ = item_no_ = rec_no_ = 0;
  bof_ = eof_ = false;
  DropWord();
}

void TDicTable::Last() {
  if (record_count_ == 0) return;
  SetRecNo(record_count_ - 1);
}

void TDicTable::Next() {
  if (record_count_ == 0 || eof_) return;
  const bool in_page = item_no_ < ItemCount(LeafPage(page_no_)) - 1;
  if (!in_page && std::int64_t{rec_no_} + 1 == record_count_) {
    eof_ = true;
    return;
  }
  // More items in the leaf pages than records in the header.
  if (std::int64_t{rec_no_} + 1 >= record_count_) RaiseNotBase();
  if (in_page) {
    ++item_no_;
  } else {
    ++page_no_;
    item_no_ = 0;
  }
  ++rec_no_;
  bof_ = false;
  DropWord();
}

void TDicTable::Prior() {
  if (record_count_ == 0 || bof_) return;
  if (item_no_ <= 0 && rec_no_ == 0) {
    bof_ = true;
    return;
  }
  if (rec_no_ <= 0) RaiseNotBase();
  if (item_no_ <= 0) {
    const int count = ItemCount(LeafPage(std::int64_t{page_no_} - 1));
    --page_no_;
    item_no_ = count - 1;
  } else {
    --item_no_;
  }
  --rec_no_;
  eof_ = false;
  DropWord();
}

const WideString& TDicTable::CurrentWord() {
  if (word_.empty()) word_ = ItemKey(LeafPage(page_no_), item_no_, dic::kLeafKeyAt);
  return word_;
}

WideString TDicTable::GetWord() {
  if (record_count_ == 0) return {};
  return CurrentWord();
}

std::uint32_t TDicTable::BodyOffset(std::int64_t page, int item) {
  int size = 0;
  const std::uint8_t* ptr = Item(LeafPage(page), item, dic::kLeafKeyAt, size);
  return static_cast<std::uint32_t>(TPageMan::GetInt(ptr));
}

std::string TDicTable::GetEncodedBody() {
  if (record_count_ == 0) return {};
  const std::uint32_t start = BodyOffset(page_no_, item_no_);
  std::uint32_t end = body_length_;
  if (std::int64_t{rec_no_} + 1 != record_count_) {
    if (item_no_ < ItemCount(LeafPage(page_no_)) - 1)
      end = BodyOffset(page_no_, item_no_ + 1);
    else
      end = BodyOffset(std::int64_t{page_no_} + 1, 0);
  }
  if (start > end || end > body_length_) throw EBodyFormat("File " + FileName + " is not base");

  std::string bytes;
  bytes.reserve(end - start);
  std::uint32_t position = body_start_ + start;
  const std::uint32_t stop = body_start_ + end;
  while (position < stop) {
    const std::uint32_t piece = std::min(stop - position, kGranuleSize - position % kGranuleSize);
    bytes.append(reinterpret_cast<const char*>(PageAddress(position)), piece);
    position += piece;
  }
  if (!bytes.empty() && bytes[0] == '\0') bytes = DecompressBody(std::string_view(bytes).substr(1));
  return bytes;
}

WideString TDicTable::GetTrans() {
  if (record_count_ == 0) return {};
  return DecodeBody(language_, trans_language_, GetEncodedBody());
}

WideString TDicTable::ReadParam(int item) {
  if (!IsOpen()) RaiseNotBase();
  int size = 0;
  const std::uint8_t* ptr = Item(PageAddress(params_offset_), item, 0, size);
  return TPageMan::GetWideStr(ptr, size / 2);
}

WideString TDicTable::GetName() { return ReadParam(0); }
WideString TDicTable::GetShortName() { return ReadParam(1); }
WideString TDicTable::GetDescription() { return ReadParam(2); }

}  // namespace vandrel
