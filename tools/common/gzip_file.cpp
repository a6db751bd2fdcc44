// gzip decompression through zlib.
#include "tools/common/gzip_file.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>
#include <thread>
#include <vector>

#include "platform/exceptions.h"
#include "tools/common/huge_pages.h"
#include "tools/common/source.h"

namespace vandrel::tools {
namespace {

std::string MiB(std::size_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

// Owns an inflate stream.
class Inflater {
 public:
  explicit Inflater(const std::string& name) {
    // 16 + window bits: gzip header and trailer, CRC and size checked.
    if (inflateInit2(&z_, 16 + MAX_WBITS) != Z_OK)
      throw Exception("cannot read " + name + ": out of memory");
  }
  ~Inflater() { inflateEnd(&z_); }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  z_stream* get() { return &z_; }

 private:
  z_stream z_{};
};

// dictd writes its data files as one gzip member whose deflate stream is
// flushed fully every CHLEN bytes of text, so that a reader can start at any
// chunk; the header's extra field lists the chunks:
//
// | offset | width     | field (little-endian)                          |
// |--------|-----------|------------------------------------------------|
// | 0      | 2         | subfield id "RA"                               |
// | 2      | 2         | subfield length                                |
// | 4      | 2         | version, 1                                     |
// | 6      | 2         | CHLEN: text bytes per chunk (the last: fewer)  |
// | 8      | 2         | CHCNT: chunks                                  |
// | 10     | 2 * CHCNT | compressed bytes of each chunk, in order       |
//
// The chunks' deflate data follow the header back to back; a final empty
// block and the usual trailer (CRC-32, size) end the member.
struct Chunked {
  std::size_t data_at = 0;        // first chunk's first byte in the file
  std::size_t chunk_text = 0;     // CHLEN
  std::vector<std::size_t> ends;  // compressed end of each chunk, from data_at
  std::size_t text_size = 0;      // from the trailer
  std::uint32_t crc = 0;          // from the trailer
};

std::uint16_t Le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t Le32(const unsigned char* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The chunk list of a single-member file that has one and whose numbers
// agree with each other and with the file's size; nullopt otherwise (the
// reader then takes the member from its start).
std::optional<Chunked> FindChunks(std::string_view data, std::size_t limit) {
  const auto* d = reinterpret_cast<const unsigned char*>(data.data());
  const std::size_t size = data.size();
  constexpr unsigned kHeaderCrc = 2, kExtra = 4, kName = 8, kComment = 16;
  if (size < 18 || d[0] != 0x1f || d[1] != 0x8b || d[2] != 8 || !(d[3] & kExtra) || d[3] & 0xE0)
    return std::nullopt;
  const std::size_t extra_end = 12 + std::size_t{Le16(d + 10)};
  if (extra_end > size) return std::nullopt;
  Chunked c;
  const unsigned char* table = nullptr;
  std::size_t count = 0;
  for (std::size_t at = 12; extra_end - at >= 4;) {
    const std::size_t length = Le16(d + at + 2);
    if (extra_end - at - 4 < length) return std::nullopt;
    if (d[at] == 'R' && d[at + 1] == 'A' && length >= 6 && Le16(d + at + 4) == 1) {
      c.chunk_text = Le16(d + at + 6);
      count = Le16(d + at + 8);
      if (length != 6 + 2 * count) return std::nullopt;
      table = d + at + 10;
    }
    at += 4 + length;
  }
  if (table == nullptr || c.chunk_text == 0 || count < 2) return std::nullopt;
  std::size_t at = extra_end;
  for (const unsigned flag : {kName, kComment}) {
    if (!(d[3] & flag)) continue;
    const void* nul = std::memchr(d + at, 0, size - at);
    if (nul == nullptr) return std::nullopt;
    at = static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - d) + 1;
  }
  if (d[3] & kHeaderCrc) at += 2;
  // The chunks, then at least the final empty block and the trailer.
  c.data_at = at;
  std::size_t end = 0;
  c.ends.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    end += Le16(table + 2 * i);
    c.ends.push_back(end);
  }
  if (at > size || size - at < end + 8 + 2) return std::nullopt;
  c.crc = Le32(d + size - 8);
  c.text_size = Le32(d + size - 4);
  // The trailer's size is the text's modulo 2^32: it must put the last
  // chunk's text between 1 and CHLEN bytes.
  if (c.text_size <= (count - 1) * c.chunk_text || c.text_size > count * c.chunk_text ||
      c.text_size > limit)
    return std::nullopt;
  return c;
}

// Inflates chunks [first, last) of c into out at their place and returns
// the CRC-32 of that text, or nullopt when the data do not give exactly
// the text the chunk list promises. The last part reads on to the end of
// the deflate stream, which must end just before the trailer.
std::optional<std::uint32_t> InflateChunks(std::string_view data, const Chunked& c,
                                           std::size_t first, std::size_t last, std::string& out) {
  const std::size_t count = c.ends.size();
  const std::size_t in_at = c.data_at + (first == 0 ? 0 : c.ends[first - 1]);
  const std::size_t in_end = last == count ? data.size() - 8 : c.data_at + c.ends[last - 1];
  const std::size_t out_at = first * c.chunk_text;
  const std::size_t out_end = last == count ? c.text_size : last * c.chunk_text;
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return std::nullopt;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + in_at));
  z.avail_in = static_cast<uInt>(in_end - in_at);
  z.next_out = reinterpret_cast<Bytef*>(out.data() + out_at);
  z.avail_out = static_cast<uInt>(out_end - out_at);
  const int rc = inflate(&z, Z_SYNC_FLUSH);
  const bool ended = rc == Z_STREAM_END;
  const bool whole = z.avail_in == 0 && z.avail_out == 0;
  inflateEnd(&z);
  // A chunk that is not where the list says, or that reaches back before
  // its start, fails here; so does a stream that ends too early or late.
  if (!whole || ended != (last == count) || (rc != Z_OK && rc != Z_STREAM_END)) return std::nullopt;
  return static_cast<std::uint32_t>(crc32(crc32(0, nullptr, 0),
                                          reinterpret_cast<const Bytef*>(out.data() + out_at),
                                          static_cast<uInt>(out_end - out_at)));
}

}  // namespace

std::optional<std::string> GunzipChunked(std::string_view data, std::size_t limit,
                                         std::size_t threads) {
  const std::optional<Chunked> c = FindChunks(data, limit);
  if (!c || c->text_size > UINT_MAX) return std::nullopt;
  const std::size_t count = c->ends.size();
  const std::size_t parts = std::min<std::size_t>(std::max<std::size_t>(1, threads), count);
  std::string out;
  out.reserve(c->text_size);
  AdviseHugePages(out.data(), c->text_size);
  out.resize(c->text_size);
  std::vector<std::optional<std::uint32_t>> crcs(parts);
  std::vector<std::size_t> bounds(parts + 1);
  for (std::size_t p = 0; p <= parts; ++p) bounds[p] = count * p / parts;
  {
    std::vector<std::jthread> helpers;
    for (std::size_t p = 1; p < parts; ++p)
      helpers.emplace_back(
          [&, p] { crcs[p] = InflateChunks(data, *c, bounds[p], bounds[p + 1], out); });
    crcs[0] = InflateChunks(data, *c, bounds[0], bounds[1], out);
  }
  std::uint32_t crc = 0;
  for (std::size_t p = 0; p < parts; ++p) {
    if (!crcs[p]) return std::nullopt;
    const std::size_t length =
        std::min(bounds[p + 1] * c->chunk_text, c->text_size) - bounds[p] * c->chunk_text;
    crc = p == 0 ? *crcs[p]
                 : static_cast<std::uint32_t>(
                       crc32_combine(crc, *crcs[p], static_cast<z_off_t>(length)));
  }
  if (crc != c->crc) return std::nullopt;
  return out;
}

std::string GunzipBytes(std::string_view data, const std::string& name, std::size_t limit) {
  if (data.empty()) throw Exception(name + ": not a gzip file (it is empty)");
  // Below a few MB of text one thread is as quick.
  if (data.size() >= (std::size_t{1} << 20)) {
    const std::size_t threads = std::min(4u, std::max(1u, std::thread::hardware_concurrency()));
    if (std::optional<std::string> text = GunzipChunked(data, limit, threads))
      return std::move(*text);
  }
  Inflater inflater(name);
  z_stream* z = inflater.get();
  std::string out;
  // The last member's trailer gives its size modulo 2^32: the whole output
  // of the usual single-member file. Grown as needed up to the limit.
  std::size_t guess = 1 << 16;
  if (data.size() >= 18) {
    const auto* t = reinterpret_cast<const unsigned char*>(data.data() + data.size() - 4);
    const std::size_t stated = t[0] | t[1] << 8 | t[2] << 16 | std::size_t{t[3]} << 24;
    // Trusted only as far as text compresses, so that damaged or hostile
    // trailers do not make it allocate up to the limit at once.
    guess = std::max(guess, std::min(stated, data.size() * 64));
  }
  out.resize(std::min(limit, guess));
  std::size_t produced = 0;
  std::size_t consumed = 0;
  bool member_done = false;
  for (;;) {
    if (produced == out.size()) {
      if (out.size() >= limit) {
        throw Exception(name + ": decompressed data exceeds the limit of " + MiB(limit) +
                        "; not a dictionary this tool reads");
      }
      out.resize(std::min(limit, out.size() * 2));
    }
    const std::size_t in_now = std::min<std::size_t>(data.size() - consumed, UINT_MAX);
    const std::size_t out_now = std::min<std::size_t>(out.size() - produced, UINT_MAX);
    z->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + consumed));
    z->avail_in = static_cast<uInt>(in_now);
    z->next_out = reinterpret_cast<Bytef*>(out.data() + produced);
    z->avail_out = static_cast<uInt>(out_now);
    const int rc = inflate(z, Z_NO_FLUSH);
    consumed += in_now - z->avail_in;
    produced += out_now - z->avail_out;
    if (rc == Z_STREAM_END) {
      member_done = true;
      // Another member may follow (gzip writes one per input it was given);
      // trailing zero bytes are padding, as gzip itself takes them.
      std::size_t rest = consumed;
      while (rest < data.size() && data[rest] == 0) ++rest;
      if (rest == data.size()) break;
      if (inflateReset(z) != Z_OK) throw Exception(name + ": damaged gzip data");
      member_done = false;
      continue;
    }
    if (rc == Z_OK) continue;
    if (rc == Z_BUF_ERROR) {
      if (z->avail_out == 0) continue;     // room is made above
      if (consumed == data.size()) break;  // input ended inside a member
    }
    const char* why = z->msg ? z->msg : "damaged gzip data";
    throw Exception(name + ": " + why + " (at compressed byte " + std::to_string(consumed) + ")");
  }
  if (!member_done) throw Exception(name + ": the gzip data is cut off");
  out.resize(produced);
  return out;
}

std::string GunzipFile(const std::string& path, std::size_t limit) {
  return GunzipBytes(ReadWholeFile(path), path, limit);
}

}  // namespace vandrel::tools
