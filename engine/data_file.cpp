// The data file: header, descriptors, record cache, free chain.
#include "engine/data_file.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "engine/engine_error.h"
#include "engine/engine_names.h"
#include "engine/record_codec.h"
#include "engine/record_scrambler.h"
#include "platform/nls.h"

namespace vandrel::engine {
namespace {

// Days from 1899-12-30 (fraction: time of day), local time, minus 693594.
double NowStamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&t, &local);
  const double days_since_1970 =
      static_cast<double>(t + local.tm_gmtoff) / 86400.0;  // local days since 1970-01-01
  return days_since_1970 + 25569.0 - 693594.0;
}

// A default, minimum or maximum text is a value of the field's type: numbers
// in the C locale for numeric types, at most the field size for strings.
bool ValidValueText(const TFieldDesc& f, const std::string& text) {
  if (text.empty()) return true;
  switch (f.type) {
    case kTypeString:
      return text.size() <= f.size;
    case kTypeSmallInt:
    case kTypeInteger:
    case kTypeFloat:
    case kTypeFixed:
    case kTypeWord:
    case kTypeLongWord:
    case kTypeExtended: {
      char* end = nullptr;
      std::strtod(text.c_str(), &end);
      return end != text.c_str() && *end == '\0';
    }
    default:
      return true;
  }
}

}  // namespace

void EncodeDataHeader(const TDataHeader& h, std::uint8_t* p) {
  std::memset(p, 0, kDataHeaderSize);
  StoreI32(p + 0, h.change_count);
  StoreI32(p + 4, h.blob_block_size);
  p[8] = h.version;
  StoreU32(p + 9, h.first_free);
  StoreU32(p + 13, h.next_record);
  StoreI32(p + 17, h.last_auto_increment);
  StoreU16(p + 21, h.record_size);
  StoreU16(p + 23, h.field_count);
  StoreU16(p + 25, h.blob_field_count);
  StoreDouble(p + 27, h.last_update);
  const std::size_t description_length = PutShortText(p + 35, h.description, 50);
  p[86] = h.encrypted ? 1 : 0;
  const std::size_t password_length = PutShortText(p + 87, h.password, kMaxPasswordLength);
  StoreU16(p + 103, h.locale);
  StoreU16(p + 105, h.sort);
  StoreU16(p + 107, h.user_major);
  StoreU16(p + 109, h.user_minor);
  p[111] = h.header_changed ? 1 : 0;
  StoreU64(p + 116, static_cast<std::uint64_t>(kEngineVersion));
  if (h.encrypted) {
    // The lengths just stored, not re-read: their bound is then plain.
    Scramble(kStringSeed, p + 36, description_length);
    Scramble(kStringSeed, p + 88, password_length);
  }
}

TDataHeader DecodeDataHeader(const std::uint8_t* in) {
  std::uint8_t p[kDataHeaderSize];
  std::memcpy(p, in, kDataHeaderSize);
  TDataHeader h;
  h.change_count = LoadI32(p + 0);
  h.blob_block_size = LoadI32(p + 4);
  h.version = p[8];
  h.first_free = LoadU32(p + 9);
  h.next_record = LoadU32(p + 13);
  h.last_auto_increment = LoadI32(p + 17);
  h.record_size = LoadU16(p + 21);
  h.field_count = LoadU16(p + 23);
  h.blob_field_count = LoadU16(p + 25);
  h.last_update = LoadDouble(p + 27);
  h.encrypted = p[86] == 1;
  const std::size_t dl = std::min<std::size_t>(p[35], 50);
  const std::size_t pl = std::min<std::size_t>(p[87], kMaxPasswordLength);
  if (h.encrypted) {
    Scramble(kStringSeed, p + 36, dl);
    Scramble(kStringSeed, p + 88, pl);
  }
  h.description.assign(reinterpret_cast<const char*>(p + 36), dl);
  h.password.assign(reinterpret_cast<const char*>(p + 88), pl);
  h.locale = LoadU16(p + 103);
  h.sort = LoadU16(p + 105);
  h.user_major = LoadU16(p + 107);
  h.user_minor = LoadU16(p + 109);
  h.header_changed = p[111] != 0;
  return h;
}

TDataFile::TDataFile(std::string table, bool in_memory)
    : TFileHandler(in_memory), table_(std::move(table)) {
  SetTableName(table_);
}

TDataFile::~TDataFile() = default;

void TDataFile::Fail(int code) const { RaiseEngineError(code, table_); }

std::uint32_t TDataFile::lcid() const {
  return header_.locale == 0 ? 0 : win::MAKELCID(header_.locale, header_.sort);
}

std::int64_t TDataFile::RecordOffset(std::uint32_t n) const {
  return static_cast<std::int64_t>(kDataHeaderSize) +
         static_cast<std::int64_t>(kFieldDescSize) * header_.field_count +
         static_cast<std::int64_t>(n - 1) * header_.record_size;
}

void TDataFile::CreateTable(const std::string& file_name, const TDataCreateParams& params) {
  if (params.fields.empty() || params.fields.size() > kMaxFieldCount) Fail(kFieldLimits);
  std::size_t blobs = 0, record_size = kRecordHeaderSize;
  for (const TFieldDesc& f : params.fields) {
    if (f.type == kTypeBlob) ++blobs;
    if (!f.IsAutoIncrement() && f.no_storage == 0) record_size += StoredLength(f.type, f.size) + 1u;
  }
  if (blobs > kMaxBlobFields || !ValidBlockSize(params.blob_block_size)) {
    Fail(kBlobFieldsOrBlockSize);
  }
  if (record_size > kRecordSizeLimit) Fail(kMaxRecordSize);
  header_ = TDataHeader{};
  header_.locale = params.locale;
  header_.sort = params.sort;
  header_.user_major = params.user_major;
  header_.user_minor = params.user_minor;
  header_.encrypted = params.encrypted;
  header_.blob_block_size = static_cast<std::int32_t>(params.blob_block_size);
  header_.field_count = static_cast<std::uint16_t>(params.fields.size());
  header_.blob_field_count = static_cast<std::uint16_t>(blobs);
  header_.description = params.description.substr(0, 50);
  if (params.encrypted) header_.password = params.password.substr(0, kMaxPasswordLength);
  header_.record_size = static_cast<std::uint16_t>(record_size);
  fields_ = params.fields;
  for (TFieldDesc& f : fields_) {
    f.stored_length = StoredLength(f.type, f.size);
    f.stored_scale = f.scale;
  }
  Create(file_name, TFileHandlerOptions{.exclusive = true});
  cache_capacity_ = std::min<std::size_t>(131070 / header_.record_size, 8191);
  read_ahead_ = std::max<std::size_t>(65535 / header_.record_size, 1);
  header_dirty_ = true;
  WriteHeader(true);
  WriteDescriptors();
}

void TDataFile::WriteDescriptors() {
  std::vector<std::uint8_t> area(kFieldDescSize * fields_.size());
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    EncodeFieldDesc(fields_[i], std::span<std::uint8_t, kFieldDescSize>(
                                    area.data() + i * kFieldDescSize, kFieldDescSize));
  }
  if (header_.encrypted) Scramble(kRecordSeed, area.data(), area.size());
  WriteAt(kDataHeaderSize, area.data(), area.size());
}

void TDataFile::OpenTable(const std::string& file_name, bool exclusive, bool read_only) {
  Open(file_name, TFileHandlerOptions{.read_only = read_only, .exclusive = exclusive});
  try {
    const std::int64_t size = Size();
    if (size < static_cast<std::int64_t>(kDataHeaderSize)) Fail(kHeaderCorrupt);
    std::uint8_t raw[kDataHeaderSize];
    ReadAt(0, raw, kDataHeaderSize);
    header_ = DecodeDataHeader(raw);
    if (header_.version != kFileVersion) Fail(kWrongVersion);
    // Length bytes within their capacity, flags in range.
    if (raw[35] > 50 || raw[87] > kMaxPasswordLength || raw[86] > 1) Fail(kHeaderCorrupt);
    if (!header_.encrypted && raw[87] != 0) Fail(kHeaderCorrupt);
    if (header_.sort > 15) Fail(kHeaderCorrupt);
    if (header_.locale != 0 && !win::IsValidLocale(lcid(), win::LCID_INSTALLED)) {
      Fail(kLanguageDriver);
    }
    CheckOpen(size);
  } catch (...) {
    fields_.clear();
    Close();
    throw;
  }
  header_dirty_ = false;
  cache_capacity_ = std::min<std::size_t>(131070 / header_.record_size, 8191);
  read_ahead_ = std::max<std::size_t>(65535 / header_.record_size, 1);
}

void TDataFile::CheckOpen(std::int64_t size) {
  const TDataHeader& h = header_;
  if (h.field_count == 0 || h.field_count > kMaxFieldCount) Fail(kHeaderCorrupt);
  if (!ValidBlockSize(h.blob_block_size)) Fail(kHeaderCorrupt);
  if (!std::isfinite(h.last_update)) Fail(kHeaderCorrupt);
  const std::int64_t descs = static_cast<std::int64_t>(kFieldDescSize) * h.field_count;
  const std::int64_t start = static_cast<std::int64_t>(kDataHeaderSize) + descs;
  if (size < start) Fail(kHeaderCorrupt);
  std::vector<std::uint8_t> area(static_cast<std::size_t>(descs));
  ReadAt(kDataHeaderSize, area.data(), area.size());
  if (h.encrypted) Scramble(kRecordSeed, area.data(), area.size());
  fields_.clear();
  std::vector<std::string> names;
  std::size_t offset = kRecordHeaderSize, blobs = 0, autos = 0;
  for (std::size_t i = 0; i < h.field_count; ++i) {
    const std::uint8_t* d = area.data() + i * kFieldDescSize;
    // Length bytes: name 30, description and value texts 50.
    if (d[2] > kMaxFieldNameLength || d[33] > kMaxFieldTextLength || d[94] > kMaxFieldTextLength ||
        d[145] > kMaxFieldTextLength || d[196] > kMaxFieldTextLength) {
      Fail(kHeaderCorrupt);
    }
    TFieldDesc f =
        DecodeFieldDesc(std::span<const std::uint8_t, kFieldDescSize>(d, kFieldDescSize));
    f.stored_length = StoredLength(f.type, f.size);
    f.stored_scale = f.scale;
    const std::string name = UpperTrim(f.name);
    if (name.empty() || !ValidNameStart(static_cast<unsigned char>(name[0]))) Fail(kHeaderCorrupt);
    if (std::find(names.begin(), names.end(), name) != names.end()) Fail(kHeaderCorrupt);
    names.push_back(name);
    if (f.number != i + 1) Fail(kHeaderCorrupt);
    if (f.type == 0 || f.type > kTypeVarBytes) Fail(kHeaderCorrupt);
    const bool sized = f.type == kTypeString || f.type == kTypeBytes || f.type == kTypeVarBytes;
    if (sized ? (f.size == 0 || f.size > 250) : f.size != 0) Fail(kHeaderCorrupt);
    if (f.scale != 0 && f.type != kTypeFixed) Fail(kHeaderCorrupt);
    if (!ValidValueText(f, f.default_value) || !ValidValueText(f, f.min_value) ||
        !ValidValueText(f, f.max_value)) {
      Fail(kHeaderCorrupt);
    }
    if (f.no_storage != 0) Fail(kHeaderCorrupt);
    if (f.IsAutoIncrement()) {
      if (f.offset != 5 || ++autos > 1) Fail(kHeaderCorrupt);
    } else {
      if (f.offset != offset) Fail(kHeaderCorrupt);
      offset += f.stored_length + 1u;
    }
    if (f.type == kTypeBlob) ++blobs;
    fields_.push_back(std::move(f));
  }
  if (blobs != h.blob_field_count || blobs > kMaxBlobFields) Fail(kHeaderCorrupt);
  if (offset > kRecordSizeLimit || h.record_size != offset) Fail(kHeaderCorrupt);
  const std::int64_t body = size - start;
  if (body % h.record_size != 0) Fail(kHeaderCorrupt);
  if (body / h.record_size + 1 != h.next_record) Fail(kHeaderCorrupt);
  if (h.next_record > kMaxRecordNumber) Fail(kHeaderCorrupt);
  if (h.first_free >= h.next_record) Fail(kHeaderCorrupt);
}

void TDataFile::CloseTable() {
  if (!IsOpen()) return;
  try {
    WriteDirty();
    if (header_dirty_) WriteHeader(false);
  } catch (...) {
    cache_.Clear();
    Close();
    throw;
  }
  cache_.Clear();
  hold_writes_ = false;
  Close();
}

void TDataFile::WriteHeader(bool force) {
  if (!force && !header_dirty_) return;
  ++header_.change_count;
  header_.last_update = NowStamp();
  header_.header_changed = true;
  std::uint8_t raw[kDataHeaderSize];
  EncodeDataHeader(header_, raw);
  WriteAt(0, raw, kDataHeaderSize);
  header_dirty_ = false;
}

bool TDataFile::HeaderChanged() {
  // The change count first: most refreshes find it as it was.
  std::uint8_t count[4];
  ReadAt(0, count, sizeof count);
  if (LoadI32(count) == header_.change_count) return false;
  TDataHeader h;
  ReadHeader(h);
  if (h.change_count == header_.change_count) return false;
  if (h.next_record < 1 || h.next_record > kMaxRecordNumber || h.first_free >= h.next_record ||
      h.record_size != header_.record_size || h.field_count != header_.field_count) {
    Fail(kHeaderCorrupt);
  }
  header_ = h;
  FlushCache();
  return true;
}

std::int32_t TDataFile::NextAutoIncrement() {
  if (header_.last_auto_increment == 2147483647) header_.last_auto_increment = 0;
  ++header_.last_auto_increment;
  header_dirty_ = true;
  return header_.last_auto_increment;
}

void TDataFile::SetLastAutoIncrement(std::int32_t v) {
  header_.last_auto_increment = v;
  header_dirty_ = true;
}

// ---- record cache ----

// A record buffer for the cache: a new one while below capacity, else the
// least recently used clean, unpinned record's. When every record is
// changed, they are written first, unless writes are held: then the cache
// grows.
std::unique_ptr<TRecord> TDataFile::NewCacheEntry() {
  std::unique_ptr<TRecord> r;
  if (cache_.full(cache_capacity_)) {
    r = cache_.TakeVictim();
    if (!r && !hold_writes_ && cache_.dirty_count() > 0) {
      WriteDirty();
      r = cache_.TakeVictim();
    }
  }
  if (!r) r = std::make_unique<TRecord>(*this, header_.record_size);
  r->dirty = false;
  r->pins = 0;
  r->key = 0;
  return r;
}

void TDataFile::Load(std::uint32_t n) {
  // Read ahead up to 64 KiB of records, never past the last one, stopping
  // at a record already cached; a walk backwards (the record before the
  // last one read first) reads the records before n instead.
  const bool backward = n + 1 == last_loaded_;
  std::uint32_t first = n, count = 1;
  if (backward) {
    while (count < read_ahead_ && first > 1 && !cache_.Contains(first - 1) &&
           cache_.size() + count < cache_capacity_) {
      --first;
      ++count;
    }
  } else {
    while (count < read_ahead_ && n + count < header_.next_record && !cache_.Contains(n + count) &&
           cache_.size() + count < cache_capacity_) {
      ++count;
    }
  }
  last_loaded_ = first;
  const std::size_t rs = header_.record_size;
  std::vector<std::uint8_t> buf(rs * count);
  ReadAt(RecordOffset(first), buf.data(), buf.size());
  ++reads_;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::unique_ptr<TRecord> r = NewCacheEntry();
    std::uint8_t* b = r->data();
    std::memcpy(b, buf.data() + i * rs, rs);
    if (header_.encrypted) Scramble(kRecordSeed, b, rs);
    if (b[0] == 0) StoreU32(b + 1, first + i);
    r->key = first + i;
    cache_.Add(std::move(r));
  }
}

TPinnedRecord TDataFile::GetRecord(std::uint32_t n) {
  if (n == 0 || n >= header_.next_record) Fail(kRecordBuffersCorrupt);
  TRecord* r = Lookup(n);
  if (r != nullptr) {
    ++hits_;
  } else {
    Load(n);
    r = Lookup(n);
    if (r == nullptr) Fail(kRecordBuffersCorrupt);
  }
  return TPinnedRecord(r);
}

TPinnedRecord TDataFile::AllocateRecord(bool append_only, bool auto_increment) {
  std::uint32_t n;
  TRecord* r;
  if (!append_only && header_.first_free != 0) {
    n = header_.first_free;
    if (n >= header_.next_record) Fail(kRecordBuffersCorrupt);
    TPinnedRecord old = GetRecord(n);
    const std::uint32_t link = LoadU32(old->data() + 1);
    if (old->data()[0] != 1 || link >= header_.next_record || link == n) {
      Fail(kRecordBuffersCorrupt);
    }
    header_.first_free = link;
    r = old.get();
  } else {
    const std::uint64_t next = header_.next_record;
    if (next + 1 > kMaxRecordNumber ||
        static_cast<std::uint64_t>(header_.record_size) * next > kMaxFileBytes) {
      Fail(kTableFull);
    }
    n = header_.next_record++;
    std::unique_ptr<TRecord> fresh = NewCacheEntry();
    fresh->key = n;
    r = cache_.Add(std::move(fresh));
  }
  header_dirty_ = true;
  std::memset(r->data(), 0, r->size());
  StoreU32(r->data() + 1, n);
  if (auto_increment) StoreI32(r->data() + 5, NextAutoIncrement());
  cache_.MarkDirty(r);
  return TPinnedRecord(r);
}

void TDataFile::DeleteRecord(std::uint32_t n) {
  TPinnedRecord r = GetRecord(n);
  if (r->data()[0] != 0) Fail(kRecordBuffersCorrupt);
  r->data()[0] = 1;
  StoreU32(r->data() + 1, header_.first_free);
  header_.first_free = n;
  header_dirty_ = true;
  cache_.MarkDirty(r.get());
}

void TDataFile::WriteDirty() {
  const std::vector<TRecord*> dirty = cache_.DirtyInOrder();
  const std::size_t rs = header_.record_size;
  std::vector<std::uint8_t> run;
  for (std::size_t i = 0; i < dirty.size();) {
    std::size_t j = i + 1;
    while (j < dirty.size() && dirty[j]->number() == dirty[j - 1]->number() + 1) ++j;
    run.resize((j - i) * rs);
    for (std::size_t k = i; k < j; ++k) {
      std::uint8_t* b = run.data() + (k - i) * rs;
      std::memcpy(b, dirty[k]->data(), rs);
      if (header_.encrypted) Scramble(kRecordSeed, b, rs);
    }
    WriteAt(RecordOffset(dirty[i]->number()), run.data(), run.size());
    i = j;
  }
  cache_.Cleaned(dirty);
}

void TDataFile::FlushCache() {
  WriteDirty();
  cache_.ForEach([this](const TRecord& r) {
    if (r.pins != 0) Fail(kRecordBuffersCorrupt);
  });
  cache_.Clear();
}

void TDataFile::DiscardChanges() {
  cache_.Clear();
  TDataHeader h;
  ReadHeader(h);
  if (h.next_record < 1 || h.next_record > kMaxRecordNumber || h.first_free >= h.next_record ||
      h.record_size != header_.record_size || h.field_count != header_.field_count) {
    Fail(kHeaderCorrupt);
  }
  header_ = h;
  header_dirty_ = false;
}

void TDataFile::ReadHeader(TDataHeader& h) {
  std::uint8_t raw[kDataHeaderSize];
  ReadAt(0, raw, kDataHeaderSize);
  h = DecodeDataHeader(raw);
}

void TDataFile::Empty() {
  cache_.ForEach([this](const TRecord& r) {
    if (r.pins != 0) Fail(kRecordBuffersCorrupt);
  });
  cache_.Clear();
  Truncate(RecordOffset(1));
  header_.change_count = 0;
  header_.first_free = 0;
  header_.next_record = 1;
  header_.last_auto_increment = 0;
  header_dirty_ = true;
}

}  // namespace vandrel::engine
