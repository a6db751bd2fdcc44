// gzip decompression through zlib.
#include "tools/common/gzip_file.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

#include "platform/exceptions.h"
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

}  // namespace

std::string GunzipBytes(std::string_view data, const std::string& name, std::size_t limit) {
  if (data.empty()) throw Exception(name + ": not a gzip file (it is empty)");
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
