// The compiled dictionary file (".dic"): its page layout, header fields,
// limits and the scrambling table. The reader (dic_table.h) and the compiler
// (vocab_compiler.h) share everything here; nothing in this file may change
// once files exist, because every value is embedded in stored dictionaries.
//
// All integers are little-endian; offsets are bytes from the file start.
//
// File: a sequence of pages of P bytes (P divides 65536, so no page
// straddles a 64 KiB granule). The compiler writes P = 8192; the reader
// accepts 4096, 8192, 16384 and 32768 (item offsets are 16-bit, and the
// header needs 2282 bytes). Pages in file order:
//
//   | pages                         | content                               |
//   |-------------------------------|---------------------------------------|
//   | 0                             | header (never scrambled)              |
//   | layer L-1 (root, one page)    | index pages, top layer first          |
//   | ... layer 0                   | index pages just above the leaves     |
//   | leaf pages                    | one item per word, in word order      |
//   | body pages                    | the body stream, zero-padded          |
//   | dictionary pages (version 5)  | the body dictionary, zero-padded      |
//   | parameters page (last)        | Name, ShortName, Description          |
//
// Header (page 0; 2282 bytes used, rest zero):
//
//   | offset | width | field                                                |
//   |--------|-------|------------------------------------------------------|
//   | 0      | 4     | signature "VDIC" ("VBAS" marks the retired format)   |
//   | 4      | 4     | format version, unsigned; 0..5 read, 3..5 written    |
//   | 8      | 4     | page size P                                          |
//   | 12     | 4     | record count N                                       |
//   | 16     | 4     | offset of the first leaf page                        |
//   | 20     | 4     | index layer count L (0 when N = 0, at most 10)       |
//   | 24     | 40    | offsets of the first page of layers 0..9 (unused 0)  |
//   | 64     | 4     | offset of the body stream                            |
//   | 68     | 4     | body stream length in bytes                          |
//   | 72     | 4     | offset of the parameters page                        |
//   | 76     | 4     | Language of the words (low 16 bits)                  |
//   | 80     | 4     | TransLanguage of the translations                    |
//   | 84     | 8     | CreateTime: IEEE double, days since 1899-12-30       |
//   | 92     | 1024  | 256 counters: words whose first byte is b            |
//   | 1116   | 1024  | 256 counters: occurrences of byte b in all words     |
//   | 2140   | 1     | Scrambled flag (pages >= 1 stored scrambled)         |
//   | 2141   | 128   | page key: 32 random nonzero 32-bit words             |
//   | 2269   | 1     | Compressed flag (long bodies may be compressed)      |
//   | 2270   | 4     | offset of the body dictionary (version 5; 0: none)   |
//   | 2274   | 4     | body dictionary length in bytes (0: none)            |
//   | 2278   | 4     | CRC-32 (zlib's) of the body dictionary's bytes       |
//
// Words are stored as bytes in the ANSI code page of Language.
//
// Format version: a file any of whose bodies holds an escape (byte 0F and a
// UTF-16 unit, body_codec.h) is written as version 4, so that readers that
// do not know the escape refuse it instead of showing other text; every
// other file is written as version 3, byte for byte as before escapes
// existed. Readers accept 0..5 and decode escapes in any version.
//
// Body dictionary: a compressed file whose bodies are numerous enough gets
// a trained compression dictionary (compression.h, codec 2), stored once,
// on pages of its own between the body stream and the parameters page
// (scrambled like every page >= 1), and named by the three header fields
// at 2270. Such a file is written as version 5 (which also allows
// escapes), so that readers without codec 2 refuse it instead of failing
// on every long body. Readers of a version below 5 ignore the three fields.
// A dictionary whose pages lie outside that gap is a damaged header; a
// dictionary whose bytes fail the CRC or the codec's own checks leaves the
// file readable, and only its codec-2 bodies raise the body error.
//
// Item pages (index, leaf, parameters) use the TPageMan layout of
// page_man.h: a 16-bit count, 16-bit item offsets, item 0 at the page end.
//
// Leaf item (one per word; record r is the r-th leaf item in page order):
//
//   | item offset | width    | field                                       |
//   |-------------|----------|---------------------------------------------|
//   | 0           | 4        | body offset, relative to the body stream    |
//   | 4           | size - 4 | the word's bytes, no terminator             |
//
// Index item (one per page of the layer below; layer 0 points at leaves):
//
//   | item offset | width    | field                                       |
//   |-------------|----------|---------------------------------------------|
//   | 0           | 4        | record number of the child's first word     |
//   | 4           | 4        | child page index inside the layer below     |
//   | 8           | size - 8 | key: the child's first word, as bytes       |
//
// Body stream: the bodies of all records back to back in record order; a
// body runs from its leaf item's offset to the next record's offset (the
// last one to the stream length). A body is empty, a lexeme-encoded
// translation (body_codec.h; never starts with byte 0), or byte 0 followed
// by a compressed image of the encoded bytes (layout in compression.h).
//
// Parameters page: items 0, 1, 2 = Name, ShortName, Description as UTF-16LE
// without terminator.
//
// Scrambling of page n >= 1 (ScramblePage, scramble.h): the page, as P/4
// little-endian words, is XORed with a key stream k where
//   M    = low byte of n with its bits reversed, repeated in all four bytes;
//   k[i] = Key[11 + i mod 11] ^ kScrambleTable[i mod 32] ^ M;
//   k[i] ^= k[i - 71] for i = 71 .. P/4 - 1, in ascending order.
// The same operation descrambles.
#pragma once

#include <cstdint>
#include <cstring>

namespace vandrel::dic {

// Header field offsets.
constexpr std::uint32_t kSignatureAt = 0;
constexpr std::uint32_t kVersionAt = 4;
constexpr std::uint32_t kPageSizeAt = 8;
constexpr std::uint32_t kRecordCountAt = 12;
constexpr std::uint32_t kLeafOffsetAt = 16;
constexpr std::uint32_t kLayerCountAt = 20;
constexpr std::uint32_t kLayerOffsetsAt = 24;
constexpr std::uint32_t kBodyStartAt = 64;
constexpr std::uint32_t kBodyLengthAt = 68;
constexpr std::uint32_t kParamsOffsetAt = 72;
constexpr std::uint32_t kLanguageAt = 76;
constexpr std::uint32_t kTransLanguageAt = 80;
constexpr std::uint32_t kCreateTimeAt = 84;
constexpr std::uint32_t kFirstCharCountsAt = 92;
constexpr std::uint32_t kCharCountsAt = 1116;
constexpr std::uint32_t kScrambledAt = 2140;
constexpr std::uint32_t kPageKeyAt = 2141;
constexpr std::uint32_t kCompressedAt = 2269;
constexpr std::uint32_t kDictionaryOffsetAt = 2270;
constexpr std::uint32_t kDictionaryLengthAt = 2274;
constexpr std::uint32_t kDictionaryCrcAt = 2278;
constexpr std::uint32_t kHeaderSize = 2282;

constexpr char kSignature[4] = {'V', 'D', 'I', 'C'};
constexpr char kOldSignature[4] = {'V', 'B', 'A', 'S'};
// The newest version (readers accept 0 up to it); the version of a file
// whose bodies hold no escape; the first version that knows escapes; the
// first that may hold a body dictionary.
constexpr std::uint32_t kFormatVersion = 5;
constexpr std::uint32_t kVersionWithoutEscapes = 3;
constexpr std::uint32_t kVersionWithEscapes = 4;
constexpr std::uint32_t kVersionWithDictionary = 5;

constexpr std::uint32_t kGranuleSize = 65536;
constexpr std::uint32_t kCompilerPageSize = 8192;
constexpr std::uint32_t kMinPageSize = 4096;
constexpr std::uint32_t kMaxPageSize = 32768;
constexpr std::uint32_t kMaxLayers = 10;
constexpr std::uint32_t kPageKeyWords = 32;

// Item layouts.
constexpr int kLeafKeyAt = 4;
constexpr int kIndexKeyAt = 8;

// Words are 1 to 1024 bytes: then an 8192-byte index page holds at least
// seven items, so ten layers cover far more than 2^31 records.
constexpr int kMinWordBytes = 1;
constexpr int kMaxWordBytes = 1024;

// Bodies of at most this many encoded bytes are never compressed; with a
// body dictionary, shorter bodies already shrink, down to this many.
// (The compiler's choice: a reader looks at each body's first byte.)
constexpr std::size_t kCompressThreshold = 106;
constexpr std::size_t kDictionaryCompressThreshold = 32;

// True for the page sizes a reader can address.
constexpr bool ValidPageSize(std::uint32_t p) {
  return p == 4096 || p == 8192 || p == 16384 || p == 32768;
}

// The built-in scrambling table. Files scrambled with other values cannot be
// read, so these words are part of the format: never change them.
constexpr std::uint32_t kScrambleTable[32] = {
    0xDE397A1F, 0xDF611FC4, 0x8937CEF1, 0xB5D3AF8F, 0xBA4E9AE8, 0x2405DEE6, 0xB04579C1, 0x635FE45F,
    0xF7C87046, 0x65724206, 0x81E8386E, 0xE7CD5E99, 0x0EB752C5, 0x1EA0A9F6, 0x9D891F10, 0x1CD2BE37,
    0xEB02899C, 0x349E0996, 0xA21C220E, 0x6D214F6D, 0x6219A197, 0xC16DB58A, 0x77463FE4, 0xDACA8458,
    0x12D05993, 0x70EC9F2C, 0x16B2862A, 0x8983DCAD, 0x1F8161E2, 0x90B0424B, 0x8E8B86D2, 0x700E746B};

inline std::uint32_t LoadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline void StoreU32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

inline double LoadDouble(const std::uint8_t* p) {
  std::uint64_t bits =
      static_cast<std::uint64_t>(LoadU32(p)) | (static_cast<std::uint64_t>(LoadU32(p + 4)) << 32);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

inline void StoreDouble(std::uint8_t* p, double d) {
  std::uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  StoreU32(p, static_cast<std::uint32_t>(bits));
  StoreU32(p + 4, static_cast<std::uint32_t>(bits >> 32));
}

}  // namespace vandrel::dic
