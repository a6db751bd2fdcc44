// In-process gzip reading: members, damage, truncation and the size limit.
#include "tools/common/gzip_file.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

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

}  // namespace
}  // namespace vandrel::tools
