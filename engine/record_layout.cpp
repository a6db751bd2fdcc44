// Field descriptors and record layout.
#include "engine/record_layout.h"

#include <algorithm>
#include <cstring>

#include "engine/record_codec.h"

namespace vandrel::engine {
std::uint8_t StoredLength(std::uint8_t type, std::uint8_t size) {
  switch (type) {
    case kTypeString:
      return static_cast<std::uint8_t>(size + 1);
    case kTypeDate:
    case kTypeInteger:
    case kTypeTime:
    case kTypeLongWord:
      return 4;
    case kTypeBlob:
    case kTypeFloat:
    case kTypeFixed:
    case kTypeTimestamp:
      return 8;
    case kTypeBoolean:
    case kTypeSmallInt:
    case kTypeWord:
      return 2;
    case kTypeExtended:
      return 10;
    default:
      return size;
  }
}

std::size_t LayOutRecord(std::vector<TFieldDesc>& fields) {
  std::size_t offset = kRecordHeaderSize;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    TFieldDesc& f = fields[i];
    f.number = static_cast<std::uint16_t>(i + 1);
    f.stored_length = StoredLength(f.type, f.size);
    f.stored_scale = f.scale;
    if (f.IsAutoIncrement()) {
      f.offset = 5;
      continue;
    }
    f.offset = static_cast<std::uint16_t>(std::min<std::size_t>(offset, 0xFFFF));
    offset += f.stored_length + 1u;
  }
  return offset;
}

void EncodeFieldDesc(const TFieldDesc& f, std::span<std::uint8_t, kFieldDescSize> out) {
  std::uint8_t* p = out.data();
  std::memset(p, 0, kFieldDescSize);
  StoreU16(p + 0, f.number);
  PutShortText(p + 2, f.name, kMaxFieldNameLength);
  PutShortText(p + 33, f.description, kMaxFieldTextLength);
  p[84] = f.type;
  p[85] = f.subtype;
  p[86] = f.size;
  p[87] = f.scale;
  p[88] = f.stored_length;
  p[89] = f.stored_scale;
  StoreU16(p + 90, f.offset);
  p[92] = f.required ? 1 : 0;
  p[93] = f.case_conversion;
  PutShortText(p + 94, f.default_value, kMaxFieldTextLength);
  PutShortText(p + 145, f.min_value, kMaxFieldTextLength);
  PutShortText(p + 196, f.max_value, kMaxFieldTextLength);
  p[247] = f.no_storage;
}

TFieldDesc DecodeFieldDesc(std::span<const std::uint8_t, kFieldDescSize> in) {
  const std::uint8_t* p = in.data();
  TFieldDesc f;
  f.number = LoadU16(p + 0);
  f.name = GetShortText(p + 2, kMaxFieldNameLength);
  f.description = GetShortText(p + 33, kMaxFieldTextLength);
  f.type = p[84];
  f.subtype = p[85];
  f.size = p[86];
  f.scale = p[87];
  f.stored_length = p[88];
  f.stored_scale = p[89];
  f.offset = LoadU16(p + 90);
  f.required = p[92] != 0;
  f.case_conversion = p[93];
  f.default_value = GetShortText(p + 94, kMaxFieldTextLength);
  f.min_value = GetShortText(p + 145, kMaxFieldTextLength);
  f.max_value = GetShortText(p + 196, kMaxFieldTextLength);
  f.no_storage = p[247];
  return f;
}

}  // namespace vandrel::engine
