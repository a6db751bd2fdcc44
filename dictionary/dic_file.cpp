// The dictionary file: mapping, header checks, lazy descrambling, checked
// page and item readers, bodies and parameters.
#include "dictionary/dic_file.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "dictionary/compression.h"
#include "dictionary/dic_format.h"
#include "dictionary/page_man.h"
#include "platform/collation_weights.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/mapping.h"

namespace vandrel {

namespace {

using dic::kGranuleSize;
using dic::LoadU32;

// Win32's answer to mapping an empty file.
constexpr win::DWORD kErrorFileInvalid = 1006;

}  // namespace

// ---- damage ----

std::string TDamage::Where() const {
  std::string where;
  if (record >= 0) {
    where = "body of record " + std::to_string(record);
  } else if (layer == -1) {
    where = "leaf page " + std::to_string(page);
  } else if (layer >= 0) {
    where = "index layer " + std::to_string(layer) + " page " + std::to_string(page);
  } else if (layer == -3) {
    where = "parameters page";
  } else {
    where = "header";
  }
  return where;
}

std::string TDamage::Detail() const {
  std::string detail = Where();
  if (item >= 0) detail += ", item " + std::to_string(item);
  if (offset >= 0) detail += " (file offset " + std::to_string(offset) + ")";
  return detail + ": " + check;
}

const TDamage* DamageOf(const std::exception& e) {
  const auto* info = dynamic_cast<const TDamageInfo*>(&e);
  return info != nullptr ? &info->Damage() : nullptr;
}

// ---- opening ----

TDicFile::TDicFile(std::string path) : file_name_(std::move(path)) {}

TDicFile::~TDicFile() = default;

std::shared_ptr<const TDicFile> TDicFile::Open(const std::string& path) {
  std::shared_ptr<TDicFile> file(new TDicFile(path));
  file->Map();
  file->CheckHeader();
  file->LoadDictionary();
  file->first_chars_ = file->CollectChars(dic::kFirstCharCountsAt);
  file->lang_chars_ = file->CollectChars(dic::kCharCountsAt);
  return file;
}

void TDicFile::Map() {
  // Read access, no sharing: nobody writes the file while it is mapped.
  const win::UniqueHandle file(win::CreateFileA(file_name_.c_str(), win::GENERIC_READ, 0, nullptr,
                                                win::OPEN_EXISTING, 0, nullptr));
  if (!file) RaiseLastOSError();
  win::DWORD size_high = 0;
  win::SetLastError(win::ERROR_SUCCESS);
  const win::DWORD size_low = win::GetFileSize(file.get(), &size_high);
  const win::DWORD size_error = win::GetLastError();
  if (size_low == win::INVALID_FILE_SIZE && size_error != win::ERROR_SUCCESS)
    throw OSError(size_error);
  file_size_ = static_cast<std::int64_t>((std::uint64_t{size_high} << 32) | size_low);
  // Offsets in the file are 32-bit signed; nothing larger is a dictionary.
  if (file_size_ > INT32_MAX) RaiseHeader("file larger than 2 GiB");
  if (file_size_ == 0) throw OSError(kErrorFileInvalid);

  const win::UniqueHandle mapping(win::CreateFileMappingA(
      file.get(), nullptr, win::PAGE_READONLY | win::SEC_COMMIT, 0, 0, nullptr));
  if (!mapping) RaiseLastOSError();
  view_.reset(win::MapViewOfFile(mapping.get(), win::FILE_MAP_READ, 0, 0,
                                 static_cast<std::size_t>(file_size_)));
  if (!view_) RaiseLastOSError();
  // The view keeps the file's contents reachable on its own; both handles
  // close here.
  granule_count_ = static_cast<std::size_t>((file_size_ - 1) / kGranuleSize + 1);
}

void TDicFile::RaiseDamaged(TDamage damage) const {
  throw EDicDamaged("File " + file_name_ + " is not base", std::move(damage));
}

void TDicFile::RaiseHeader(const char* check) const {
  TDamage damage;
  damage.check = check;
  RaiseDamaged(std::move(damage));
}

void TDicFile::CheckHeader() {
  const std::uint8_t* header = view_.bytes();
  const auto u32 = [header](std::uint32_t at) { return LoadU32(header + at); };
  if (file_size_ < 4) RaiseHeader("file shorter than its signature");
  if (std::memcmp(header, dic::kOldSignature, 4) == 0)
    throw Exception("Dictionary " + file_name_ + " has old format. Download it latest version.");
  if (std::memcmp(header, dic::kSignature, 4) != 0) RaiseHeader("signature");
  if (file_size_ < 8) RaiseHeader("file shorter than its version");
  version_ = u32(dic::kVersionAt);
  if (version_ > dic::kFormatVersion)
    throw Exception("Dictionary " + file_name_ +
                    " has unknown version. Download latest program version.");

  // The structure: every region inside the file, in file order, on page
  // boundaries, so that no later read can leave the mapping.
  const std::uint32_t p = u32(dic::kPageSizeAt);
  if (!dic::ValidPageSize(p) || file_size_ < p) RaiseHeader("page size");
  page_size_ = p;
  const std::uint32_t n = u32(dic::kRecordCountAt);
  const std::uint32_t layers = u32(dic::kLayerCountAt);
  if (n > INT32_MAX || layers > dic::kMaxLayers || (n == 0) != (layers == 0))
    RaiseHeader("record count or layer count");
  const auto aligned = [p](std::uint32_t x) { return x >= p && x % p == 0; };

  std::uint64_t next = p;  // the first offset the next region may use
  for (std::uint32_t i = layers; i-- > 0;) {
    const std::uint32_t at = u32(dic::kLayerOffsetsAt + 4 * i);
    if (!aligned(at) || at < next) RaiseHeader("index layer offsets");
    layer_offsets_[i] = at;
    next = std::uint64_t{at} + p;
  }
  for (std::uint32_t i = layers; i < dic::kMaxLayers; ++i) layer_offsets_[i] = 0;
  const std::uint32_t leaf = u32(dic::kLeafOffsetAt);
  if (!aligned(leaf) || leaf < next) RaiseHeader("leaf page offset");
  next = std::uint64_t{leaf} + (n > 0 ? p : 0);
  const std::uint32_t body = u32(dic::kBodyStartAt);
  const std::uint32_t body_length = u32(dic::kBodyLengthAt);
  const std::uint32_t params = u32(dic::kParamsOffsetAt);
  if (!aligned(body) || body < next) RaiseHeader("body stream offset");
  if (!aligned(params) || std::uint64_t{body} + body_length > params)
    RaiseHeader("body stream length or parameters page offset");
  if (std::uint64_t{params} + p > static_cast<std::uint64_t>(file_size_))
    RaiseHeader("parameters page past the end of the file");
  // The body dictionary lies in the gap between the body stream's last
  // page and the parameters page.
  if (version_ >= dic::kVersionWithDictionary) {
    const std::uint32_t at = u32(dic::kDictionaryOffsetAt);
    const std::uint32_t length = u32(dic::kDictionaryLengthAt);
    if ((at == 0) != (length == 0)) RaiseHeader("body dictionary offset or length");
    if (length != 0) {
      const std::uint64_t body_end = (std::uint64_t{body} + body_length + p - 1) / p * p;
      if (!aligned(at) || at < body_end || std::uint64_t{at} + length > params)
        RaiseHeader("body dictionary outside its pages");
      dictionary_offset_ = at;
      dictionary_length_ = length;
      dictionary_crc_ = u32(dic::kDictionaryCrcAt);
    }
  }
  // Every leaf page holds at least one item of at least 6 bytes.
  const std::uint64_t leaf_pages = (body - leaf) / p;
  if (n < leaf_pages || n > leaf_pages * ((p - 2) / 6))
    RaiseHeader("record count against the leaf pages");

  record_count_ = static_cast<std::int32_t>(n);
  layer_count_ = layers;
  leaf_offset_ = leaf;
  body_start_ = body;
  body_length_ = body_length;
  params_offset_ = params;
  language_ = static_cast<std::uint16_t>(u32(dic::kLanguageAt));
  trans_language_ = static_cast<std::uint16_t>(u32(dic::kTransLanguageAt));
  create_time_ = dic::LoadDouble(header + dic::kCreateTimeAt);
  scrambled_ = header[dic::kScrambledAt] != 0;
  page_key_ = ReadPageKey(header);
  compressed_ = header[dic::kCompressedAt] != 0;
  if (scrambled_) copies_ = TGranuleCopies(granule_count_);
  // Words cannot be read in a language without a code page.
  std::uint32_t code_page = 0;
  try {
    code_page = LocaleToCodePage(language_);
  } catch (const Exception&) {
    RaiseHeader("language without a code page");
  }
  single_byte_ = code_page != 932 && code_page != 936 && code_page != 949 && code_page != 950;
  if (single_byte_) {
    std::string all(256, '\0');
    for (int b = 0; b < 256; ++b) all[b] = static_cast<char>(b);
    const WideString chars = AnsiToWide(language_, all);
    single_byte_ = chars.size() == 256;
    if (single_byte_) {
      std::copy(chars.begin(), chars.end(), byte_chars_);
      for (int b = 0; b < 256; ++b) byte_weights_[b] = CharWeight(byte_chars_[b], kWeightCase);
    }
  }
}

void TDicFile::LoadDictionary() {
  if (dictionary_length_ == 0) return;
  std::string bytes;
  bytes.reserve(dictionary_length_);
  std::uint32_t position = dictionary_offset_;
  const std::uint32_t stop = dictionary_offset_ + dictionary_length_;
  while (position < stop) {
    const std::uint32_t piece = std::min(stop - position, kGranuleSize - position % kGranuleSize);
    bytes.append(reinterpret_cast<const char*>(PageAddress(position)), piece);
    position += piece;
  }
  const uLong crc = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(bytes.data()),
                          static_cast<uInt>(bytes.size()));
  if (static_cast<std::uint32_t>(crc) != dictionary_crc_) {
    dictionary_problem_ = "the file's body dictionary fails its CRC";
    return;
  }
  try {
    dictionary_ = TBodyDictionary::Load(std::move(bytes));
  } catch (const EBodyFormat&) {
    dictionary_problem_ = "the file's body dictionary is damaged";
  }
}

WideString TDicFile::CollectChars(std::uint32_t counts_at) const {
  // The header page is never scrambled: the view holds it as stored.
  std::string bytes;
  for (int b = 0; b < 256; ++b)
    if (static_cast<std::int32_t>(LoadU32(view_.bytes() + counts_at + 4 * b)) > 0)
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

// ---- pages ----

const std::uint8_t* TDicFile::PageAddress(std::uint32_t offset) const {
  if (offset >= file_size_) {
    TDamage damage;
    damage.check = "offset outside the file";
    damage.offset = offset;
    RaiseDamaged(std::move(damage));
  }
  const std::size_t g = offset / kGranuleSize;
  if (!scrambled_) return view_.bytes() + offset;
  const std::uint8_t* copy = copies_.Get(g);
  if (copy == nullptr) copy = MakeCopy(g);
  return copy + offset % kGranuleSize;
}

const std::uint8_t* TDicFile::MakeCopy(std::size_t g) const {
  win::UniqueVirtualBlock block(win::VirtualAlloc(
      nullptr, kGranuleSize, win::MEM_RESERVE | win::MEM_COMMIT, win::PAGE_READWRITE));
  if (!block) RaiseLastOSError();
  std::uint8_t* copy = block.bytes();
  const std::int64_t at = static_cast<std::int64_t>(g) * kGranuleSize;
  std::memcpy(copy, view_.bytes() + at,
              static_cast<std::size_t>(std::min<std::int64_t>(kGranuleSize, file_size_ - at)));
  // Slots past the end of the file hold zeros and are descrambled too; the
  // header (page 0) is never scrambled.
  const std::uint32_t slots = kGranuleSize / page_size_;
  for (std::uint32_t e = g == 0 ? 1 : 0; e < slots; ++e)
    ScramblePage(copy + e * page_size_, page_key_, page_size_,
                 static_cast<std::uint32_t>(g) * slots + e);
  // Another reader may have stored its copy first: then that one is used.
  return copies_.Publish(g, std::move(block));
}

std::uint32_t TDicFile::PageOffset(const TPage& page) const {
  const std::uint32_t begin = page.layer < 0 ? leaf_offset_ : layer_offsets_[page.layer];
  return begin + static_cast<std::uint32_t>(page.index) * page_size_;
}

void TDicFile::RaisePage(const char* check, const TPage& page, int item) const {
  TDamage damage;
  damage.check = check;
  damage.layer = page.layer;
  damage.page = page.index;
  damage.item = item;
  damage.offset = PageOffset(page);
  RaiseDamaged(std::move(damage));
}

TDicFile::TPage TDicFile::LayerPage(int layer, std::int64_t index) const {
  std::uint32_t begin, end;
  if (layer < 0) {
    begin = leaf_offset_;
    end = body_start_;
  } else {
    begin = layer_offsets_[layer];
    end = layer == 0 ? leaf_offset_ : layer_offsets_[layer - 1];
  }
  TPage page;
  page.layer = layer < 0 ? -1 : layer;
  page.index = index;
  if (index < 0 || index >= static_cast<std::int64_t>((end - begin) / page_size_)) {
    TDamage damage;
    damage.check = "page index outside the layer";
    damage.layer = page.layer;
    damage.page = index;
    RaiseDamaged(std::move(damage));
  }
  page.data = PageAddress(begin + static_cast<std::uint32_t>(index) * page_size_);
  return page;
}

int TDicFile::ItemCount(const TPage& page) const {
  TPageMan man;
  man.Page = const_cast<std::uint8_t*>(page.data);
  man.PageSize = page_size_;
  int count = 0;
  if (!man.CheckedItemCount(count)) RaisePage("item offset table outside the page", page);
  return count;
}

const std::uint8_t* TDicFile::Item(const TPage& page, int i, int min_size, int& size) const {
  TPageMan man;
  man.Page = const_cast<std::uint8_t*>(page.data);
  man.PageSize = page_size_;
  const std::uint8_t* ptr = nullptr;
  if (!man.CheckedItem(i, ptr, size)) RaisePage("item outside the page", page, i);
  if (size < min_size) RaisePage("item too short", page, i);
  return ptr;
}

WideString TDicFile::ItemKey(const TPage& page, int i, int key_at) const {
  int size = 0;
  const std::uint8_t* ptr = Item(page, i, key_at, size);
  return AnsiToWide(language_, std::string_view(reinterpret_cast<const char*>(ptr) + key_at,
                                                static_cast<std::size_t>(size - key_at)));
}

void TDicFile::ProbeKey(const TPage& page, int i, int key_at, WideString& into) const {
  if (!single_byte_) {
    into = ItemKey(page, i, key_at);
    return;
  }
  int size = 0;
  const std::uint8_t* ptr = Item(page, i, key_at, size);
  into.resize(static_cast<std::size_t>(size - key_at));
  for (std::size_t k = 0; k < into.size(); ++k) into[k] = byte_chars_[ptr[key_at + k]];
}

namespace {

// Binary search of a page's items for the last key not greater than the
// one compared (compare(i) is the sign of key minus item i's key); item 0
// when all are greater.
template <class Compare>
int SearchItems(int n, bool& found, Compare compare) {
  if (n == 1) return 0;
  int lo = 0;
  int hi = n - 1;
  for (;;) {
    if (lo >= hi - 1) {
      const int c = compare(hi);
      if (c >= 0) {
        lo = hi;
        found = c == 0;
      }
      break;
    }
    const int mid = (lo + hi) / 2;
    const int c = compare(mid);
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

// The longest key compared without decoding the items.
constexpr std::size_t kByteCompareKey = 128;

}  // namespace

int TDicFile::CompareKeyToBytes(WideView key, const std::int32_t* key_weights,
                                const std::uint8_t* bytes, std::size_t size) const {
  // CompareWords over the item's characters, read through the page's
  // single-byte table: primary weights decide, then the length, then the
  // first case difference.
  constexpr auto kPrimary = static_cast<std::int32_t>(collation::kPrimaryBits);
  const std::size_t n = std::min(key.size(), size);
  int by_case = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (key[i] == byte_chars_[bytes[i]]) continue;
    const std::int32_t wa = key_weights[i];
    const std::int32_t wb = byte_weights_[bytes[i]];
    if ((wa & kPrimary) != (wb & kPrimary)) return (wa & kPrimary) < (wb & kPrimary) ? -1 : 1;
    if (by_case == 0 && wa != wb) by_case = wa < wb ? -1 : 1;
  }
  if (key.size() != size) return key.size() < size ? -1 : 1;
  return by_case;
}

int TDicFile::SearchPage(const TPage& page, int key_at, WideView key, bool& found,
                         WideString& probe) const {
  found = false;
  const int n = ItemCount(page);
  if (n <= 0) RaisePage("page without items", page);
  if (single_byte_ && key.size() <= kByteCompareKey) {
    // The key's weights once; each probe compares the item's bytes as
    // they lie in the page.
    std::int32_t key_weights[kByteCompareKey];
    for (std::size_t i = 0; i < key.size(); ++i) key_weights[i] = CharWeight(key[i], kWeightCase);
    return SearchItems(n, found, [&](int i) {
      int size = 0;
      const std::uint8_t* ptr = Item(page, i, key_at, size);
      return CompareKeyToBytes(key, key_weights, ptr + key_at,
                               static_cast<std::size_t>(size - key_at));
    });
  }
  return SearchItems(n, found, [&](int i) {
    ProbeKey(page, i, key_at, probe);
    return CompareWords(key, probe);
  });
}

int TDicFile::SearchRecNo(const TPage& page, std::int64_t value, std::int32_t& first_rec,
                          std::int32_t& child) const {
  const int n = ItemCount(page);
  if (n <= 0) RaisePage("page without items", page);
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

// ---- bodies and parameters ----

std::uint32_t TDicFile::BodyOffset(std::int64_t page, int item) const {
  int size = 0;
  const std::uint8_t* ptr = Item(LeafPage(page), item, dic::kLeafKeyAt, size);
  return static_cast<std::uint32_t>(TPageMan::GetInt(ptr));
}

std::string TDicFile::EncodedBody(std::int64_t page, int item, std::int32_t rec) const {
  std::string bytes = StoredBody(page, item, rec);
  if (!bytes.empty() && bytes[0] == '\0') {
    TDamage damage;
    damage.record = rec;
    damage.offset = std::int64_t{body_start_} + BodyOffset(page, item);
    try {
      if (!dictionary_problem_.empty() && bytes.size() > 1 && bytes[1] == '\x02')
        throw EBodyFormat("Compressed body is corrupt: " + dictionary_problem_ + ".");
      bytes = DecompressBody(std::string_view(bytes).substr(1), dictionary_.get());
    } catch (const EBodyFormat& e) {
      damage.check = std::string("compressed body: ") + e.what();
      throw EDicBodyDamaged(e.what(), std::move(damage));
    }
  }
  return bytes;
}

std::string TDicFile::StoredBody(std::int64_t page, int item, std::int32_t rec) const {
  const std::uint32_t start = BodyOffset(page, item);
  std::uint32_t end = body_length_;
  if (std::int64_t{rec} + 1 != record_count_) {
    if (item < ItemCount(LeafPage(page)) - 1)
      end = BodyOffset(page, item + 1);
    else
      end = BodyOffset(page + 1, 0);
  }
  TDamage damage;
  damage.record = rec;
  damage.offset = std::int64_t{body_start_} + start;
  if (start > end || end > body_length_) {
    damage.check = "body range outside the body stream";
    throw EDicBodyDamaged("File " + file_name_ + " is not base", std::move(damage));
  }
  std::string bytes;
  bytes.reserve(end - start);
  std::uint32_t position = body_start_ + start;
  const std::uint32_t stop = body_start_ + end;
  while (position < stop) {
    const std::uint32_t piece = std::min(stop - position, kGranuleSize - position % kGranuleSize);
    bytes.append(reinterpret_cast<const char*>(PageAddress(position)), piece);
    position += piece;
  }
  return bytes;
}

WideString TDicFile::Trans(std::int64_t page, int item, std::int32_t rec) const {
  const std::string body = EncodedBody(page, item, rec);
  try {
    return DecodeBody(language_, trans_language_, body);
  } catch (const EBodyFormat& e) {
    TDamage damage;
    damage.record = rec;
    damage.check = std::string("body: ") + e.what();
    throw EDicBodyDamaged(e.what(), std::move(damage));
  }
}

WideString TDicFile::ReadParam(int item) const {
  TPage page;
  page.data = PageAddress(params_offset_);
  page.layer = -3;
  page.index = params_offset_ / page_size_;
  TPageMan man;
  man.Page = const_cast<std::uint8_t*>(page.data);
  man.PageSize = page_size_;
  const std::uint8_t* ptr = nullptr;
  int size = 0;
  if (!man.CheckedItem(item, ptr, size)) {
    TDamage damage;
    damage.check = "parameters page item outside the page";
    damage.layer = -3;
    damage.page = page.index;
    damage.item = item;
    damage.offset = params_offset_;
    RaiseDamaged(std::move(damage));
  }
  return TPageMan::GetWideStr(ptr, size / 2);
}

}  // namespace vandrel
