// Index key building and comparison.
#include "engine/key_encoding.h"

#include <algorithm>
#include <cstring>

#include "engine/record_codec.h"
#include "platform/nls.h"

namespace vandrel::engine {
namespace {

int Bytewise(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  const int r = n == 0 ? 0 : std::memcmp(a, b, n);
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}

}  // namespace

void SortableInt32(std::int32_t v, std::uint8_t out[4]) {
  StoreBigEndian(out, static_cast<std::uint32_t>(v) ^ 0x80000000u, 4);
}

void SortableDouble(double v, std::uint8_t out[8]) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  bits = (bits >> 63) != 0 ? ~bits : bits | (1ull << 63);
  StoreBigEndian(out, bits, 8);
}

TKeyLayout TKeyLayout::System() {
  TKeyLayout k;
  k.system_ = true;
  k.key_length_ = 5;
  k.field_part_ = 5;
  return k;
}

TKeyLayout TKeyLayout::ForIndex(const std::vector<TFieldDesc>& table_fields,
                                const std::vector<std::uint16_t>& field_numbers,
                                const std::vector<bool>& field_descending, bool unique,
                                bool descending, bool case_insensitive, std::uint32_t lcid) {
  TKeyLayout k;
  k.unique_ = unique;
  k.descending_ = descending;
  k.case_insensitive_ = case_insensitive;
  k.lcid_ = lcid;
  if (lcid != 0) k.collation_ = &TKeyCollation::ForLocale(lcid);
  for (std::size_t i = 0; i < field_numbers.size(); ++i) {
    const TFieldDesc& f = table_fields.at(field_numbers[i] - 1u);
    TKeyField kf;
    kf.type = f.type;
    kf.auto_increment = f.IsAutoIncrement();
    kf.record_offset = f.offset;
    kf.stored_length = StoredLength(f.type, f.size);
    kf.descending = descending || (i < field_descending.size() && field_descending[i]);
    k.fields_.push_back(kf);
    k.field_part_ += kf.stored_length + 1u;
  }
  k.key_length_ = k.field_part_ + (unique ? 0 : 4);
  return k;
}

void TKeyLayout::BuildKey(const std::uint8_t* record, std::uint8_t* key) const {
  std::memset(key, 0, key_length_);
  if (system_) {
    key[0] = record[0];
    SortableInt32(LoadI32(record + 5), key + 1);
    return;
  }
  std::uint8_t* out = key;
  for (const TKeyField& f : fields_) {
    std::uint8_t* data = out + 1;
    const std::size_t n = f.stored_length;
    if (f.auto_increment) {
      out[0] = 1;
      SortableInt32(LoadI32(record + 5), data);
    } else if (record[f.record_offset] != 0) {
      out[0] = 1;
      const std::uint8_t* v = record + f.record_offset + 1;
      switch (f.type) {
        case kTypeString: {
          const void* z = std::memchr(v, 0, n);
          const std::size_t len = z == nullptr ? n : static_cast<const std::uint8_t*>(z) - v;
          std::memcpy(data, v, len);
          if (case_insensitive_ && len != 0) {
            win::LCMapStringA(lcid_ != 0 ? lcid_ : 0x0409, win::LCMAP_UPPERCASE,
                              reinterpret_cast<const char*>(data), static_cast<int>(len),
                              reinterpret_cast<char*>(data), static_cast<int>(len));
          }
          break;
        }
        case kTypeDate:
        case kTypeInteger:
        case kTypeTime:
          SortableInt32(LoadI32(v), data);
          break;
        case kTypeSmallInt:
          StoreBigEndian(data, LoadU16(v) ^ 0x8000u, 2);
          break;
        case kTypeBoolean:
        case kTypeWord:
          StoreBigEndian(data, LoadU16(v), 2);
          break;
        case kTypeFloat:
        case kTypeTimestamp:
          SortableDouble(LoadDouble(v), data);
          break;
        case kTypeFixed:
          StoreBigEndian(data, LoadU64(v) ^ (1ull << 63), 8);
          break;
        default:
          std::memcpy(data, v, n);
          break;
      }
    }
    if (collation_ == nullptr && f.descending && !descending_) {
      for (std::size_t i = 0; i <= n; ++i) out[i] = static_cast<std::uint8_t>(~out[i]);
    }
    out += n + 1;
  }
  if (!unique_) SortableInt32(LoadI32(record + 5), key + field_part_);
}

int TKeyLayout::Compare(const std::uint8_t* a, const std::uint8_t* b, std::size_t len) const {
  if (collation_ == nullptr || system_) {
    const int r = Bytewise(a, b, len);
    return descending_ && !system_ ? -r : r;
  }
  std::size_t pos = 0;
  for (const TKeyField& f : fields_) {
    if (pos >= len) return 0;
    const std::size_t width = std::min<std::size_t>(f.stored_length + 1u, len - pos);
    int r;
    if (f.type == kTypeString) {
      r = a[pos] == b[pos] ? 0 : a[pos] < b[pos] ? -1 : 1;
      if (r == 0 && width > 1)
        r = collation_->Compare(a + pos + 1, width - 1, b + pos + 1, width - 1);
    } else {
      r = Bytewise(a + pos, b + pos, width);
    }
    if (r != 0) return f.descending ? -r : r;
    pos += width;
  }
  return pos < len ? Bytewise(a + pos, b + pos, len - pos) : 0;
}

}  // namespace vandrel::engine
