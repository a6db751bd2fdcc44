// Encoding ahead on worker threads: the bodies come out in entry order,
// equal to encoding each translation on the caller's thread, for any number
// of threads and across chunk and window boundaries, and compressed as the
// compiler compresses them when given its finisher; an entry whose
// encoding fails is handed back to the caller; stopping early is safe.
#include "tools/common/encode_ahead.h"

#include <gtest/gtest.h>

#include "dictionary/body_codec.h"
#include "dictionary/compression.h"
#include "tests/support/test_support.h"

namespace vandrel::tools {
namespace {

constexpr std::uint16_t kDe = 0x0407;
constexpr std::uint16_t kEn = 0x0409;

// Text translations, some held as definition bytes; every 997th one has an
// unclosed mark, which the encoder refuses.
std::vector<PreparedEntry> Entries(std::size_t n, const std::string& data) {
  std::vector<PreparedEntry> v(n);
  for (std::size_t i = 0; i < n; ++i) {
    if (i % 3 == 0) {
      v[i].definition = std::string_view(data).substr(i % 50, 1 + i % 200);
    } else {
      v[i].trans = u"house " + WideString(i % 37, u'\u00e4') + u" \u028A";
      if (i % 997 == 0) v[i].trans += u"\x05unclosed";
    }
  }
  return v;
}

TEST(EncodeAhead, BodiesComeInOrderAsEncodedOneByOneAndFailuresComeBack) {
  std::string data;
  for (int i = 0; i < 400; ++i) data += "Haus\r\n h\xC3\xA4user " + std::to_string(i) + "\n";
  const auto entries = Entries(3 * EncodeAhead::kChunk * 4 + 17, data);
  for (std::size_t threads : {1, 3}) {
    SCOPED_TRACE(threads);
    EncodeAhead ahead(entries, kDe, kEn, threads, threads == 3 ? 7 : 0);
    WideString buffer;
    std::size_t failed = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      std::string body;
      std::size_t escapes = 99;
      const bool ok = ahead.Take(i, body, escapes);
      BodyReport report;
      std::string expected;
      bool expected_ok = true;
      try {
        expected = EncodeBody(kDe, kEn, TranslationOf(entries[i], buffer), &report);
      } catch (const Exception&) {
        expected_ok = false;
      }
      ASSERT_EQ(ok, expected_ok) << i;
      failed += !ok;
      if (!ok) continue;
      ASSERT_EQ(body, expected) << i;
      ASSERT_EQ(escapes, report.escapes) << i;
    }
    EXPECT_GT(failed, 0u);
  }
}

TEST(EncodeAhead, WithTheCompilersFinisherBodiesComeCompressedAsItWouldCompressThem) {
  std::string data;
  for (int i = 0; i < 400; ++i)
    data += "Haus\r\n h\xC3\xA4user, Geb\xC3\xA4ude " + std::to_string(i) + "\n";
  const auto entries = Entries(2 * EncodeAhead::kChunk + 5, data);
  test::ScratchDir dir;
  TVocabCompiler compiler;
  compiler.SetLanguage(kDe);
  compiler.SetTransLanguage(kEn);
  compiler.SetCompressed(true);
  compiler.SetDictionaryCapacity(0);
  compiler.BeginCompile(dir.path() + "/f.dic");
  const auto finisher = compiler.Finisher();
  ASSERT_TRUE(finisher);
  EncodeAhead ahead(entries, kDe, kEn, 2, 0, finisher);
  WideString buffer;
  TBodyCompressor compressor;
  std::size_t compressed_count = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    std::string body;
    std::size_t escapes = 0;
    bool compressed = false;
    if (!ahead.Take(i, body, escapes, &compressed)) continue;  // unclosed marks
    BodyReport report;
    std::string expected = EncodeBody(kDe, kEn, TranslationOf(entries[i], buffer), &report);
    ASSERT_EQ(compressed, finisher->Finish(expected, compressor)) << i;
    ASSERT_EQ(body, expected) << i;
    ASSERT_EQ(escapes, report.escapes) << i;
    compressed_count += compressed;
  }
  EXPECT_GT(compressed_count, 100u);
}

TEST(EncodeAhead, StoppingBeforeTheEndAndNoEntriesAtAll) {
  const std::string data(300, 'a');
  const auto entries = Entries(10 * EncodeAhead::kChunk, data);
  {
    EncodeAhead ahead(entries, kDe, kEn, 2);
    std::string body;
    std::size_t escapes = 0;
    EXPECT_TRUE(ahead.Take(0, body, escapes));
    EXPECT_TRUE(ahead.Take(1, body, escapes));
  }  // the workers wait for room and are stopped
  const std::vector<PreparedEntry> none;
  EncodeAhead empty(none, kDe, kEn, 4);
}

}  // namespace
}  // namespace vandrel::tools
