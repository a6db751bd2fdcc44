// In-process gzip reading: members, damage, truncation and the size limit.
#include "tools/common/gzip_file.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/exceptions.h"

namespace vandrel::tools {
namespace {

// One gzip member of text, as gzip writes it.
std::string Gzip(const std::string& text) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&z, text.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// text as dictd writes its data files: one member, a chunk list in the
// header's extra field, every chunk of chunk_text bytes compressed apart
// (fully flushed), then a final empty block and the trailer.
std::string GzipChunked(const std::string& text, std::size_t chunk_text) {
  std::vector<std::string> chunks;
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string tail;
  for (std::size_t at = 0;; at = std::min(text.size(), at + chunk_text)) {
    const bool last = at == text.size();
    const std::size_t n = last ? 0 : std::min(chunk_text, text.size() - at);
    std::string out(deflateBound(&z, n) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data() + at));
    z.avail_in = static_cast<uInt>(n);
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, last ? Z_FINISH : Z_FULL_FLUSH), last ? Z_STREAM_END : Z_OK);
    out.resize(out.size() - z.avail_out);
    (last ? tail : chunks.emplace_back()) = out;
    if (last) break;
  }
  deflateEnd(&z);
  const auto le16 = [](std::string& s, std::size_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
  };
  std::string extra = "RA";
  le16(extra, 6 + 2 * chunks.size());
  le16(extra, 1);
  le16(extra, chunk_text);
  le16(extra, chunks.size());
  for (const std::string& c : chunks) le16(extra, c.size());
  std::string out = std::string("\x1f\x8b\x08\x0c\0\0\0\0\x02\x03", 10);
  le16(out, extra.size());
  out += extra;
  out += std::string("name.dict", 10);  // with its NUL
  for (const std::string& c : chunks) out += c;
  out += tail;
  const uLong crc =
      crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(text.data()), text.size());
  le16(out, crc & 0xFFFF);
  le16(out, crc >> 16);
  le16(out, text.size() & 0xFFFF);
  le16(out, (text.size() >> 16) & 0xFFFF);
  return out;
}

// Text that compresses as dictionaries do (repetitive, not uniform).
std::string SampleText(std::size_t lines) {
  std::string text;
  for (std::size_t i = 0; i < lines; ++i)
    text += "entry " + std::to_string(i * 7919 % 100003) + "\tdefinition number " +
            std::to_string(i) + "\n";
  return text;
}

std::string Message(const std::string& data, std::size_t limit = kMaxGunzipSize) {
  try {
    GunzipBytes(data, "x.dict.dz", limit);
  } catch (const Exception& e) {
    return e.what();
  }
  return "no error";
}

TEST(GzipFile, ReadsOneAndSeveralMembers) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i) + "\n";
  EXPECT_EQ(GunzipBytes(Gzip(text), "x"), text);
  EXPECT_EQ(GunzipBytes(Gzip("first ") + Gzip("second"), "x"), "first second");
  EXPECT_EQ(GunzipBytes(Gzip(""), "x"), "");
  // Zero padding after the last member is taken, as gzip takes it.
  EXPECT_EQ(GunzipBytes(Gzip("abc") + std::string(8, '\0'), "x"), "abc");
}

TEST(GzipFile, DamagedOrCutDataIsAnErrorNamingTheFile) {
  const std::string good = Gzip(std::string(5000, 'a') + "xyz");
  std::string crc = good;
  crc[crc.size() - 6] ^= 0x55;  // the stored CRC
  EXPECT_NE(Message(crc).find("x.dict.dz: incorrect data check"), std::string::npos)
      << Message(crc);
  std::string body = good;
  body[12] ^= 0x7F;  // inside the deflate data
  EXPECT_NE(Message(body).find("x.dict.dz: "), std::string::npos);
  EXPECT_NE(Message(body), "no error");
  EXPECT_EQ(Message(good.substr(0, good.size() - 3)), "x.dict.dz: the gzip data is cut off");
  EXPECT_EQ(Message(good.substr(0, 5)), "x.dict.dz: the gzip data is cut off");
  EXPECT_EQ(Message(""), "x.dict.dz: not a gzip file (it is empty)");
  EXPECT_NE(Message("plain text, not gzip").find("x.dict.dz: incorrect header check"),
            std::string::npos);
  EXPECT_NE(Message(good + "junk").find("x.dict.dz: "), std::string::npos);
}

TEST(GzipFile, OutputBeyondTheLimitIsRefused) {
  // 8 MiB of zeros compress to a few KiB: the bomb a limit is for.
  const std::string bomb = Gzip(std::string(8u << 20, '\0'));
  ASSERT_LT(bomb.size(), 64u << 10);
  EXPECT_EQ(
      Message(bomb, 1u << 20),
      "x.dict.dz: decompressed data exceeds the limit of 1 MiB; not a dictionary this tool reads");
  EXPECT_EQ(GunzipBytes(bomb, "x", 8u << 20).size(), 8u << 20);
  // A trailer that understates the size does not get past the limit either.
  std::string lying = bomb;
  lying[lying.size() - 4] = 1;
  lying[lying.size() - 3] = lying[lying.size() - 2] = lying[lying.size() - 1] = 0;
  EXPECT_NE(Message(lying, 1u << 20).find("exceeds the limit"), std::string::npos);
}

TEST(GzipFile, ChunkedFilesReadOnSeveralThreadsGiveTheText) {
  const std::string text = SampleText(40000);
  // Chunk lengths are 16-bit; the last chunk full or not.
  for (const std::size_t chunk : {std::size_t{1000}, std::size_t{58315}, text.size() / 30}) {
    const std::string gz = GzipChunked(text, chunk);
    for (const std::size_t threads : {1, 2, 3, 7}) {
      const std::optional<std::string> got = GunzipChunked(gz, kMaxGunzipSize, threads);
      ASSERT_TRUE(got.has_value()) << chunk << " " << threads;
      EXPECT_TRUE(*got == text) << chunk << " " << threads;
    }
    EXPECT_TRUE(GunzipBytes(gz, "x") == text);
  }
  // A file of 1 MiB and more takes the chunked path.
  const std::string big = SampleText(400000);
  const std::string gz = GzipChunked(big, 58315);
  ASSERT_GE(gz.size(), 1u << 20);
  EXPECT_TRUE(GunzipBytes(gz, "x") == big);
  // Not chunked: an ordinary member.
  EXPECT_FALSE(GunzipChunked(Gzip(text), kMaxGunzipSize, 2).has_value());
}

TEST(GzipFile, ChunkListsThatDisagreeFallBackToReadingInOrder) {
  const std::string text = SampleText(20000);
  const std::string good = GzipChunked(text, 4096);
  const std::size_t table = 12 + 10;  // the first chunk's compressed size
  // The sizes of the two chunks beside the middle traded: two threads
  // start the second half where the list says, which is not where the
  // stream has it. (The list is read only where the text is split.)
  const std::size_t middle = (text.size() + 4095) / 4096 / 2;
  std::string swapped = good;
  const std::size_t before = table + 2 * (middle - 1);
  std::swap(swapped[before], swapped[before + 2]);
  std::swap(swapped[before + 1], swapped[before + 3]);
  ASSERT_NE(swapped, good);
  EXPECT_FALSE(GunzipChunked(swapped, kMaxGunzipSize, 2).has_value());
  EXPECT_TRUE(GunzipBytes(swapped, "x") == text);
  // A chunk list longer than the file, a chunk length of 0, a trailer
  // size that the chunk count cannot give.
  std::string long_list = good;
  long_list[table] = static_cast<char>(0xFF);
  long_list[table + 1] = static_cast<char>(0xFF);
  EXPECT_FALSE(GunzipChunked(long_list, kMaxGunzipSize, 2).has_value());
  std::string no_length = good;
  no_length[12 + 6] = no_length[12 + 7] = 0;
  EXPECT_FALSE(GunzipChunked(no_length, kMaxGunzipSize, 2).has_value());
  EXPECT_TRUE(GunzipBytes(no_length, "x") == text);
  std::string size = good;
  size[size.size() - 2] ^= 0x10;
  EXPECT_FALSE(GunzipChunked(size, kMaxGunzipSize, 2).has_value());
  EXPECT_NE(Message(size).find("x.dict.dz: "), std::string::npos);
  // The limit holds on this path too.
  EXPECT_FALSE(GunzipChunked(good, text.size() - 1, 2).has_value());
  EXPECT_NE(Message(good, text.size() - 1).find("exceeds the limit"), std::string::npos);
}

TEST(GzipFile, DamagedChunkedFilesAreErrorsNeverWrongText) {
  const std::string text = SampleText(20000);
  const std::string good = GzipChunked(text, 4096);
  std::string crc = good;
  crc[crc.size() - 7] ^= 0x01;
  EXPECT_FALSE(GunzipChunked(crc, kMaxGunzipSize, 2).has_value());
  EXPECT_NE(Message(crc).find("incorrect data check"), std::string::npos);
  // Damage in the middle of the compressed data, each byte in turn over a
  // stretch: an error or, where deflate cannot tell, a CRC mismatch; never
  // text other than the original.
  for (std::size_t at = good.size() / 2; at < good.size() / 2 + 64; ++at) {
    std::string bad = good;
    bad[at] ^= 0x5A;
    const std::optional<std::string> got = GunzipChunked(bad, kMaxGunzipSize, 2);
    EXPECT_TRUE(!got || *got == text) << at;
    EXPECT_NE(Message(bad), "no error") << at;
  }
  EXPECT_FALSE(GunzipChunked(good.substr(0, good.size() - 1), kMaxGunzipSize, 2).has_value());
  EXPECT_EQ(Message(good.substr(0, good.size() - 20)), "x.dict.dz: the gzip data is cut off");
}

}  // namespace
}  // namespace vandrel::tools
