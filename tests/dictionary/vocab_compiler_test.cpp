// The compiler's output at the byte level: the empty and the one-word file,
// the moment layer 1 appears, the compression threshold, word length and
// order refusals, the parameters page writer, and the scrambling and
// buffer primitives the file format rests on.
#include "dictionary/vocab_compiler.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "dictionary/alloc_man.h"
#include "dictionary/body_codec.h"
#include "dictionary/compression.h"
#include "dictionary/dic_table.h"
#include "dictionary/page_man.h"
#include "dictionary/scramble.h"
#include "platform/exceptions.h"
#include "platform/utf8.h"
#include "tests/dictionary/dic_fixture.h"
#include "tests/support/test_support.h"

namespace vandrel::test {
namespace {

constexpr std::uint32_t P = 8192;

class VocabCompilerTest : public ::testing::Test {
 protected:
  std::string Path(const char* name) const { return dir_.path() + "/" + name; }

  ScopedRuntimeDir runtime_;
  ScratchDir dir_;
};

// The stored body bytes of the single record of a one-word file.
std::string StoredBody(const std::vector<std::uint8_t>& b) {
  const std::uint32_t at = Get32(b, dic::kBodyStartAt);
  return std::string(reinterpret_cast<const char*>(b.data()) + at, Get32(b, dic::kBodyLengthAt));
}

// The file at path, after checking that it reads back translations in
// order, with its creation time and page key zeroed so that two compiles
// of the same words compare equal.
std::vector<std::uint8_t> ComparableBytes(const std::string& path,
                                          const std::vector<WideString>& translations) {
  TDicTable table;
  table.FileName = path;
  table.Open();
  std::size_t i = 0;
  for (table.First(); !table.Eof() && i < translations.size(); table.Next(), ++i) {
    EXPECT_EQ(table.GetTrans(), translations[i]) << i;
    if (::testing::Test::HasFailure()) break;
  }
  EXPECT_EQ(i, translations.size());
  EXPECT_TRUE(table.Eof());
  table.Close();
  auto b = ReadBytes(path);
  std::fill(b.begin() + dic::kCreateTimeAt, b.begin() + dic::kCreateTimeAt + 8, 0);
  std::fill(b.begin() + dic::kPageKeyAt, b.begin() + dic::kPageKeyAt + 128, 0);
  return b;
}

TEST_F(VocabCompilerTest, EmptyCompileIsHeaderAndParametersPage) {
  Compile(Path("empty.dic"), {});
  const auto b = ReadBytes(Path("empty.dic"));
  ASSERT_EQ(b.size(), 2 * P);
  EXPECT_EQ(std::memcmp(b.data(), "VDIC", 4), 0);
  EXPECT_EQ(Get32(b, dic::kVersionAt), 3u);
  EXPECT_EQ(Get32(b, dic::kPageSizeAt), P);
  EXPECT_EQ(Get32(b, dic::kRecordCountAt), 0u);
  EXPECT_EQ(Get32(b, dic::kLayerCountAt), 0u);
  EXPECT_EQ(Get32(b, dic::kLeafOffsetAt), P);
  EXPECT_EQ(Get32(b, dic::kBodyStartAt), P);
  EXPECT_EQ(Get32(b, dic::kParamsOffsetAt), P);
  // Three empty items, all at the page end.
  EXPECT_EQ(b[P], 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(b[P + 2 + 2 * i] | b[P + 3 + 2 * i] << 8, int{P}) << i;
  // Everything else in the header page beyond the used part is zero.
  EXPECT_TRUE(
      std::all_of(b.begin() + dic::kHeaderSize, b.begin() + P, [](auto x) { return x == 0; }));
  // The page key has 32 nonzero words.
  for (std::uint32_t k = 0; k < 32; ++k) EXPECT_NE(Get32(b, dic::kPageKeyAt + 4 * k), 0u);

  TDicTable table;
  table.FileName = Path("empty.dic");
  table.Open();
  EXPECT_TRUE(table.Bof());
  EXPECT_TRUE(table.Eof());
  EXPECT_EQ(table.GetName(), u"");
  EXPECT_EQ(table.GetDescription(), u"");
}

TEST_F(VocabCompilerTest, OneWordWithEmptyTranslation) {
  Compile(Path("one.dic"), {{u"house", u""}});
  const auto b = ReadBytes(Path("one.dic"));
  ASSERT_EQ(b.size(), 4 * P);  // header, layer 0, leaf, parameters
  EXPECT_EQ(Get32(b, dic::kRecordCountAt), 1u);
  EXPECT_EQ(Get32(b, dic::kLayerCountAt), 1u);
  EXPECT_EQ(Get32(b, dic::kLayerOffsetsAt), P);
  EXPECT_EQ(Get32(b, dic::kLayerOffsetsAt + 4), 0u);
  EXPECT_EQ(Get32(b, dic::kLeafOffsetAt), 2 * P);
  EXPECT_EQ(Get32(b, dic::kBodyLengthAt), 0u);
  EXPECT_EQ(Get32(b, dic::kBodyStartAt), 3 * P);
  EXPECT_EQ(Get32(b, dic::kParamsOffsetAt), 3 * P);
  const auto index = RawItems(b, P, P, true);
  ASSERT_EQ(index.size(), 1u);
  EXPECT_EQ(index[0].first, 0u);
  EXPECT_EQ(index[0].child, 0u);
  EXPECT_EQ(index[0].key, "house");
  const auto leaf = RawItems(b, 2 * P, P, false);
  ASSERT_EQ(leaf.size(), 1u);
  EXPECT_EQ(leaf[0].first, 0u);
  EXPECT_EQ(leaf[0].key, "house");
  // Counts: first bytes and all bytes.
  EXPECT_EQ(Get32(b, dic::kFirstCharCountsAt + 4 * 'h'), 1u);
  EXPECT_EQ(Get32(b, dic::kFirstCharCountsAt + 4 * 'o'), 0u);
  EXPECT_EQ(Get32(b, dic::kCharCountsAt + 4 * 'o'), 1u);
  EXPECT_EQ(Get32(b, dic::kCharCountsAt + 4 * 'e'), 1u);
}

// Words of 1000 bytes: 8 items a page, so leaf page 8 (record 64) gives
// layer 0 its second page, and layer 1 appears with two items; the first
// carries record 0 and the key of the first item of layer 0's page 0.
TEST_F(VocabCompilerTest, LayerOneAppearsWithTwoItemsWhenLayerZeroGetsItsSecondPage) {
  std::vector<TEntry> entries;
  for (int i = 0; i < 200; ++i) {
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "w%04d", i);
    entries.push_back({WideString(prefix, prefix + 5) + WideString(995, u'x'), u""});
  }
  auto first64 = std::vector<TEntry>(entries.begin(), entries.begin() + 64);
  Compile(Path("l0.dic"), first64);
  EXPECT_EQ(Get32(ReadBytes(Path("l0.dic")), dic::kLayerCountAt), 1u);

  auto first65 = std::vector<TEntry>(entries.begin(), entries.begin() + 65);
  Compile(Path("l1.dic"), first65);
  const auto b = ReadBytes(Path("l1.dic"));
  ASSERT_EQ(Get32(b, dic::kLayerCountAt), 2u);
  EXPECT_EQ(Get32(b, dic::kLayerOffsetsAt + 4), P) << "the root layer comes first";
  const auto root = RawItems(b, P, P, true);
  const auto words = StoredWords(first65);
  ASSERT_EQ(root.size(), 2u);
  EXPECT_EQ(root[0].first, 0u);
  EXPECT_EQ(root[0].child, 0u);
  EXPECT_EQ(root[0].key, words[0]);
  EXPECT_EQ(root[1].first, 64u);
  EXPECT_EQ(root[1].child, 1u);
  EXPECT_EQ(root[1].key, words[64]);
  VerifyLayout(b, words);

  // And with more words the structure keeps every invariant.
  Compile(Path("l2.dic"), entries);
  VerifyLayout(ReadBytes(Path("l2.dic")), StoredWords(entries));
}

TEST_F(VocabCompilerTest, BodiesOver106BytesAreCompressedOnlyWhenThatIsShorter) {
  const TSettings compressed{kEnglish, kRussian, false, true};
  // Encoded bodies of Latin text in a Russian translation are one byte a
  // character.
  Compile(Path("106.dic"), {{u"w", WideString(106, u'a')}}, compressed);
  EXPECT_EQ(StoredBody(ReadBytes(Path("106.dic"))), std::string(106, 'a'));

  Compile(Path("107.dic"), {{u"w", WideString(107, u'a')}}, compressed);
  const std::string stored = StoredBody(ReadBytes(Path("107.dic")));
  ASSERT_FALSE(stored.empty());
  EXPECT_EQ(stored[0], '\0');
  EXPECT_LT(stored.size(), 107u);

  Compile(Path("plain.dic"), {{u"w", WideString(107, u'a')}});
  EXPECT_EQ(StoredBody(ReadBytes(Path("plain.dic"))), std::string(107, 'a'));

  // A 107-byte body that does not shrink is stored as it is.
  std::mt19937 random(5);
  WideString noise;
  std::string encoded;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    noise.clear();
    encoded.clear();
    for (int k = 0; k < 107; ++k) {
      const auto c = static_cast<char16_t>(0x21 + random() % 0x5E);
      noise += c;
      encoded += static_cast<char>(c);
    }
    if (CompressBody(encoded).size() + 1 >= 107) break;
  }
  ASSERT_GE(CompressBody(encoded).size() + 1, 107u);
  Compile(Path("noise.dic"), {{u"w", noise}}, compressed);
  EXPECT_EQ(StoredBody(ReadBytes(Path("noise.dic"))), encoded);

  for (const char* name : {"107.dic", "noise.dic"}) {
    TDicTable table;
    table.FileName = Path(name);
    table.Open();
    EXPECT_EQ(table.GetTrans(), std::string(name) == "107.dic" ? WideString(107, u'a') : noise);
  }
}

TEST_F(VocabCompilerTest, RefusesEmptyTooLongAndOutOfOrderWordsAndKeepsGoing) {
  const WideString longest(1024, u'k');
  TVocabCompiler compiler;
  compiler.BeginCompile(Path("refusals.dic"));
  EXPECT_THROW(compiler.AddWord(u"", u"x"), Exception);
  compiler.AddWord(u"abc", u"1");
  EXPECT_THROW(compiler.AddWord(u"abc", u"dup"), Exception);
  EXPECT_THROW(compiler.AddWord(u"ABC", u"capital sorts first"), Exception);
  EXPECT_THROW(compiler.AddWord(u"\u00e1bc", u"diacritics do not count"), Exception);
  EXPECT_THROW(compiler.AddWord(u"abb", u"smaller"), Exception);
  compiler.AddWord(u"abd", u"2");
  compiler.AddWord(longest, u"3");
  EXPECT_THROW(compiler.AddWord(longest + u"k", u"too long"), Exception);
  EXPECT_THROW(compiler.AddWord(u"zz", u"\x05unfinished"), EBodyFormat);
  compiler.AddWord(u"zz", u"4");
  EXPECT_EQ(compiler.RecordCount(), 4);
  compiler.EndCompile();

  TDicTable table;
  table.FileName = Path("refusals.dic");
  table.Open();
  std::vector<WideString> words;
  for (table.First(); !table.Eof(); table.Next())
    words.push_back(table.GetWord() + u"=" + table.GetTrans());
  EXPECT_EQ(words, (std::vector<WideString>{u"abc=1", u"abd=2", longest + u"=3", u"zz=4"}));
  EXPECT_EQ(table.FirstChars(), u"akz");
}

// Long bodies are compressed in batches on several threads: the file is the
// same whatever the number of threads (header date and page key aside), and
// an escape anywhere makes it version 4.
TEST_F(VocabCompilerTest, ThreadsDoNotChangeTheFileAndEscapesMakeVersionFour) {
  // Without a body dictionary escapes make version 4; with one, version 5
  // (which knows escapes too). Trained or not, threads change nothing.
  std::size_t one_size = 0;
  for (std::size_t capacity : {std::size_t{0}, TVocabCompiler::kDefaultDictionaryCapacity}) {
    SCOPED_TRACE(capacity);
    const std::uint32_t version = capacity == 0 ? 4u : 5u;
    std::vector<std::vector<std::uint8_t>> files;
    for (std::size_t threads : {1, 3}) {
      TVocabCompiler compiler;
      compiler.SetDictionaryCapacity(capacity);
      compiler.SetLanguage(0x0407);
      compiler.SetTransLanguage(0x0409);
      compiler.SetCompressed(true);
      compiler.SetCompressionThreads(threads);
      const std::string path = Path(threads == 1 ? (capacity ? "one2.dic" : "one.dic")
                                                 : (capacity ? "three2.dic" : "three.dic"));
      compiler.BeginCompile(path, TVocabCompiler::Creation::kNew);
      for (int i = 0; i < 5000; ++i) {
        char word[16];
        std::snprintf(word, sizeof word, "w%05d", i);
        WideString trans;
        for (int k = 0; k < i % 40; ++k)
          trans += u"house and home " + WideString(1, char16_t(u'a' + k % 26));
        if (i == 4321) trans += u" [ha\u028As]";
        compiler.AddWord(WideString(word, word + std::strlen(word)), trans);
      }
      EXPECT_EQ(compiler.RecordCount(), 5000);
      const TCompileReport report = compiler.Report();
      compiler.EndCompile();
      EXPECT_EQ(compiler.Report().escapes, 1u);
      EXPECT_EQ(compiler.Report().bodies_with_escapes, 1u);
      EXPECT_GT(compiler.Report().compressed_bodies, 3000u);
      EXPECT_LE(report.compressed_bodies, compiler.Report().compressed_bodies);
      auto b = ReadBytes(path);
      EXPECT_EQ(Get32(b, dic::kVersionAt), version);
      EXPECT_EQ(Get32(b, dic::kRecordCountAt), 5000u);
      std::fill(b.begin() + dic::kCreateTimeAt, b.begin() + dic::kCreateTimeAt + 8, 0);
      std::fill(b.begin() + dic::kPageKeyAt, b.begin() + dic::kPageKeyAt + 128, 0);
      files.push_back(std::move(b));
      TDicTable table;
      table.FileName = path;
      table.Open();
      EXPECT_EQ(table.Version(), version);
      EXPECT_EQ(table.File()->BodyDictionary() != nullptr, capacity > 0);
    }
    EXPECT_TRUE(files[0] == files[1]);
    if (capacity == 0) one_size = files[0].size();
  }
  // A new compile refuses a name that exists, a link included.
  TVocabCompiler again;
  EXPECT_THROW(again.BeginCompile(Path("one.dic"), TVocabCompiler::Creation::kNew), EOSError);
  ASSERT_EQ(symlink(Path("one.dic").c_str(), Path("link.tmp").c_str()), 0);
  EXPECT_THROW(again.BeginCompile(Path("link.tmp"), TVocabCompiler::Creation::kNew), EOSError);
  EXPECT_EQ(ReadBytes(Path("one.dic")).size(), one_size);
}

// A caller that trains the body dictionary itself (TrainOn, on another
// thread while it prepares the words) gets the file that handing the same
// sample to the compiler gives; a sample too small for a dictionary gives
// none either way (codec 1).
TEST_F(VocabCompilerTest, DictionaryTrainedAheadGivesTheFileTheSampleGives) {
  std::vector<WideString> translations;
  for (int i = 0; i < 3000; ++i) {
    WideString t;
    for (int k = 0; k < 6 + i % 30; ++k)
      t += u"building and dwelling " + WideString(1, char16_t(u'a' + (i * 7 + k) % 26)) + u"; ";
    translations.push_back(std::move(t));
  }
  for (const std::size_t sample_size : {std::size_t{3000}, std::size_t{3}}) {
    SCOPED_TRACE(sample_size);
    const std::vector<WideString> sample(translations.begin(), translations.begin() + sample_size);
    std::vector<std::vector<std::uint8_t>> files;
    for (const bool ahead : {false, true}) {
      TVocabCompiler compiler;
      compiler.SetLanguage(0x0407);
      compiler.SetTransLanguage(0x0409);
      compiler.SetCompressed(true);
      std::string trained;
      if (ahead) {
        std::thread trainer([&] {
          trained = TVocabCompiler::TrainOn(sample, 0x0407, 0x0409,
                                            TVocabCompiler::kDefaultDictionaryCapacity);
        });
        trainer.join();
        EXPECT_EQ(trained.empty(), sample_size < 100);
        compiler.SetBodyDictionary(trained);
      } else {
        compiler.SetTrainingSample(sample);
      }
      const std::string path = Path(
          (std::string(ahead ? "ahead" : "sample") + std::to_string(sample_size) + ".dic").c_str());
      compiler.BeginCompile(path, TVocabCompiler::Creation::kNew);
      for (std::size_t i = 0; i < translations.size(); ++i) {
        char word[32];
        std::snprintf(word, sizeof word, "w%05zu", i);
        compiler.AddWord(WideString(word, word + std::strlen(word)), translations[i]);
      }
      compiler.EndCompile();
      if (ahead) {
        EXPECT_EQ(compiler.Report().dictionary_bytes, trained.size());
      }
      files.push_back(ComparableBytes(path, translations));
      EXPECT_EQ(Get32(files.back(), dic::kVersionAt), sample_size < 100 ? 3u : 5u);
    }
    EXPECT_TRUE(files[0] == files[1]);
  }
}

TEST_F(VocabCompilerTest, BodiesFinishedByTheCallerGiveTheFileTheCompilerGives) {
  // Codec 2 with a given dictionary, codec 1 without one, and no
  // compression: bodies encoded and compressed on other threads
  // (AddFinishedWord) give the file AddWord gives.
  std::vector<WideString> translations;
  for (int i = 0; i < 3000; ++i) {
    WideString t = u"house";
    for (int k = 0; k < i % 40; ++k)
      t += u", dwelling " + WideString(1, char16_t(u'a' + (i * 7 + k) % 26));
    if (i % 500 == 0) t += u" \u0434\u043e\u043c";  // escaped
    translations.push_back(std::move(t));
  }
  const std::string trained = TVocabCompiler::TrainOn(translations, 0x0407, 0x0409,
                                                      TVocabCompiler::kDefaultDictionaryCapacity);
  ASSERT_FALSE(trained.empty());
  const auto word = [](std::size_t i) {
    char w[32];
    std::snprintf(w, sizeof w, "w%05zu", i);
    return std::string(w);
  };
  enum Mode { kCodec2, kCodec1, kPlain };
  for (const Mode mode : {kCodec2, kCodec1, kPlain}) {
    SCOPED_TRACE(mode);
    std::vector<std::vector<std::uint8_t>> files;
    for (const bool finished : {false, true}) {
      TVocabCompiler compiler;
      compiler.SetLanguage(0x0407);
      compiler.SetTransLanguage(0x0409);
      compiler.SetCompressed(mode != kPlain);
      if (mode == kCodec2) compiler.SetBodyDictionary(trained);
      if (mode == kCodec1) compiler.SetDictionaryCapacity(0);
      EXPECT_FALSE(compiler.Finisher()) << "before BeginCompile";
      const std::string path =
          Path((std::to_string(mode) + (finished ? "f" : "a") + ".dic").c_str());
      compiler.BeginCompile(path, TVocabCompiler::Creation::kNew);
      if (!finished) {
        for (std::size_t i = 0; i < translations.size(); ++i)
          compiler.AddWord(Utf8ToWideOrThrow(word(i)), translations[i]);
      } else {
        const std::optional<TVocabCompiler::BodyFinisher> finisher = compiler.Finisher();
        ASSERT_TRUE(finisher);
        // Two threads, each with its own copy and compressor.
        std::vector<std::string> bodies(translations.size());
        std::vector<BodyReport> reports(translations.size());
        std::vector<std::uint8_t> compressed(translations.size());
        const auto finish = [&](std::size_t begin, std::size_t end,
                                TVocabCompiler::BodyFinisher copy) {
          TBodyCompressor compressor;
          for (std::size_t i = begin; i < end; ++i) {
            bodies[i] = EncodeBody(0x0407, 0x0409, translations[i], &reports[i]);
            compressed[i] = copy.Finish(bodies[i], compressor);
          }
        };
        std::thread other(finish, translations.size() / 2, translations.size(), *finisher);
        finish(0, translations.size() / 2, *finisher);
        other.join();
        std::size_t count = 0;
        for (std::size_t i = 0; i < translations.size(); ++i) {
          count += compressed[i];
          compiler.AddFinishedWord(word(i), Utf8ToWideOrThrow(word(i)), std::move(bodies[i]),
                                   reports[i].escapes, compressed[i]);
        }
        EXPECT_EQ(count > 1000, mode != kPlain) << count;
      }
      compiler.EndCompile();
      files.push_back(ComparableBytes(path, translations));
    }
    EXPECT_TRUE(files[0] == files[1]);
  }
  // A dictionary still to be trained on the first bodies: no finisher.
  TVocabCompiler compiler;
  compiler.SetCompressed(true);
  compiler.BeginCompile(Path("later.dic"), TVocabCompiler::Creation::kNew);
  EXPECT_FALSE(compiler.Finisher());
}

TEST_F(VocabCompilerTest, BodyPagesSpilledAndCopiedBackAndWordsEncodedByTheCaller) {
  // Over 64 body pages (they go through the temporary file), scrambled and
  // not: AddEncodedWord gives the file that AddStoredWord gives, the file
  // reads back, and no temporary file stays beside it.
  const auto translation = [](int i) {
    WideString t = u"translation number ";
    for (int k = 0; k < 1 + i % 300; ++k) t += char16_t(u'a' + (i + k) % 26);
    return t;
  };
  for (bool scrambled : {false, true}) {
    SCOPED_TRACE(scrambled);
    std::vector<std::vector<std::uint8_t>> files;
    for (bool encoded : {false, true}) {
      ScratchDir dir;
      const std::string path = dir.path() + "/big.dic";
      TVocabCompiler compiler;
      compiler.SetScrambled(scrambled);
      compiler.BeginCompile(path, TVocabCompiler::Creation::kNew);
      for (int i = 0; i < 6000; ++i) {
        char word[16];
        std::snprintf(word, sizeof word, "w%05d", i);
        const WideString wide(word, word + std::strlen(word));
        const WideString t = translation(i);
        if (encoded) {
          BodyReport report;
          std::string body = EncodeBody(compiler.Language(), compiler.TransLanguage(), t, &report);
          compiler.AddEncodedWord(word, wide, std::move(body), report.escapes);
        } else {
          compiler.AddStoredWord(word, wide, t);
        }
      }
      compiler.EndCompile();
      auto b = ReadBytes(path);
      EXPECT_GT(Get32(b, dic::kBodyLengthAt), 64u * P);
      {
        TDicTable table;
        table.FileName = path;
        table.Open();
        int i = 0;
        for (table.First(); !table.Eof(); table.Next(), ++i) {
          ASSERT_EQ(table.GetTrans(), translation(i)) << i;
        }
        EXPECT_EQ(i, 6000);
      }
      std::size_t names = 0;
      for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        EXPECT_EQ(entry.path().filename(), "big.dic");
        ++names;
      }
      EXPECT_EQ(names, 1u);
      std::fill(b.begin() + dic::kCreateTimeAt, b.begin() + dic::kCreateTimeAt + 8, 0);
      std::fill(b.begin() + dic::kPageKeyAt, b.begin() + dic::kPageKeyAt + 128, 0);
      files.push_back(std::move(b));
    }
    // The same page key only by chance: compare unscrambled files whole.
    if (!scrambled) {
      EXPECT_TRUE(files[0] == files[1]);
    }
  }
}

TEST_F(VocabCompilerTest, DestructionFinishesAnOpenCompile) {
  {
    TVocabCompiler compiler;
    compiler.BeginCompile(Path("dtor.dic"));
    compiler.AddWord(u"alpha", u"a");
    compiler.AddWord(u"beta", u"b");
  }
  TDicTable table;
  table.FileName = Path("dtor.dic");
  table.Open();
  EXPECT_EQ(table.RecordCount(), 2);
  table.Last();
  EXPECT_EQ(table.GetTrans(), u"b");
}

TEST_F(VocabCompilerTest, SettingsReachTheHeader) {
  Compile(Path("ru.dic"), {{u"\u0434\u043e\u043c", u"house"}}, {kRussian, kEnglish, true, true});
  const auto b = ReadBytes(Path("ru.dic"));
  EXPECT_EQ(Get32(b, dic::kLanguageAt), kRussian);
  EXPECT_EQ(Get32(b, dic::kTransLanguageAt), kEnglish);
  EXPECT_EQ(b[dic::kScrambledAt], 1);
  EXPECT_EQ(b[dic::kCompressedAt], 1);
  TDicTable table;
  table.FileName = Path("ru.dic");
  table.Open();
  EXPECT_EQ(table.GetWord(), u"\u0434\u043e\u043c");
  EXPECT_EQ(table.GetTrans(), u"house");
  // Compiled moments ago, in local time: within two days of any clock.
  const double days_1970 = 25569.0;
  const double now = days_1970 + static_cast<double>(std::time(nullptr)) / 86400.0;
  EXPECT_NEAR(table.CreateTime(), now, 2.0);
}

TEST_F(VocabCompilerTest, CreateFailureRaisesThePlatformError) {
  TVocabCompiler compiler;
  try {
    compiler.BeginCompile(dir_.path() + "/missing/out.dic");
    FAIL() << "created a file in a missing folder";
  } catch (const EOSError& e) {
    EXPECT_EQ(e.ErrorCode(), 3u);
    EXPECT_EQ(std::string(e.what()).rfind("Win32 Error.  Code: 3.\n", 0), 0u) << e.what();
  }
  EXPECT_FALSE(compiler.IsCompiling());
}

TEST_F(VocabCompilerTest, ParametersAreWrittenScrambledOrNotAndTheDescriptionIsCut) {
  for (bool scrambled : {false, true}) {
    const std::string path = Path(scrambled ? "s.dic" : "p.dic");
    Compile(path, Words({u"one", u"two"}), {kEnglish, kRussian, scrambled, false});
    const WideString name(100, u'N');
    const WideString description = WideString(5000, u'd');
    WriteBaseParams(path, name, u"short\u0416", description);
    TDicTable table;
    table.FileName = path;
    table.Open();
    EXPECT_EQ(table.GetName(), name);
    EXPECT_EQ(table.GetShortName(), u"short\u0416");
    // Room left after two items of 200 and 12 bytes: 8192 - 212 - 2*2 - 4.
    EXPECT_EQ(table.GetDescription(), description.substr(0, (P - 212 - 4 - 4) / 2));
    EXPECT_EQ(table.GetWord(), u"one") << "the words are untouched";
    table.Last();
    EXPECT_EQ(table.GetTrans(), u"t:two");
  }
}

TEST_F(VocabCompilerTest, TheRoomTheToolsAnnounceIsTheRoomTheWriterKeeps) {
  Compile(Path("r.dic"), Words({u"one"}));
  const WideString name(300, u'N');
  const WideString short_name(7, u'S');
  const std::ptrdiff_t room = ParamsDescriptionRoom(P, name, short_name);
  ASSERT_GT(room, 0);
  for (std::ptrdiff_t length : {room, room + 1}) {
    WriteBaseParams(Path("r.dic"), name, short_name,
                    WideString(static_cast<std::size_t>(length), u'd'));
    TDicTable table;
    table.FileName = Path("r.dic");
    table.Open();
    EXPECT_EQ(table.GetDescription().size(), static_cast<std::size_t>(room)) << length;
  }
  // A cut never splits a surrogate pair: the high half is dropped with it.
  WideString pairs;
  while (pairs.size() < static_cast<std::size_t>(room) + 2) pairs += u"\U0001F4D6";
  if (room % 2 == 0) pairs.insert(pairs.begin(), u'x');
  const std::vector<std::uint8_t> page = BuildParamsPage(P, "r.dic", name, short_name, pairs);
  TPageMan pm;
  pm.Page = const_cast<std::uint8_t*>(page.data());
  pm.PageSize = P;
  ASSERT_EQ(pm.ItemCount(), 3);
  EXPECT_EQ(pm.ItemSize(2), 2 * (room - 1));
  // Name and short name that do not fit: no room, and the page refuses them.
  EXPECT_LT(ParamsDescriptionRoom(P, WideString(3000, u'n'), WideString(3000, u's')), 0);
  EXPECT_THROW(BuildParamsPage(P, "r.dic", WideString(5000, u'n'), u"", u""), Exception);
  // The empty page the compiler writes holds three empty items.
  const std::vector<std::uint8_t> empty = BuildParamsPage(P, "r.dic", u"", u"", u"");
  pm.Page = const_cast<std::uint8_t*>(empty.data());
  ASSERT_EQ(pm.ItemCount(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(pm.ItemSize(i), 0);
}

TEST_F(VocabCompilerTest, ParametersThatCannotFitLeaveTheFileUntouched) {
  Compile(Path("d.dic"), Words({u"one"}));
  const auto before = ReadBytes(Path("d.dic"));
  EXPECT_THROW(WriteBaseParams(Path("d.dic"), WideString(5000, u'n'), u"", u""), Exception);
  EXPECT_THROW(WriteBaseParams(Path("d.dic"), WideString(3000, u'n'), WideString(3000, u's'), u""),
               Exception);
  EXPECT_TRUE(ReadBytes(Path("d.dic")) == before);

  WriteBytes(Path("junk.dic"), std::vector<std::uint8_t>(3 * P, 7));
  try {
    WriteBaseParams(Path("junk.dic"), u"n", u"s", u"d");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()), "File " + Path("junk.dic") + " is not base");
  }
  EXPECT_THROW(WriteBaseParams(Path("absent.dic"), u"n", u"s", u"d"), EOSError);
}

// The scrambling table is part of the format: this pins one page's stream.
TEST(ScramblePage, KeyStreamIsPinnedAndScramblingTwiceRestoresThePage) {
  TPageKey key{};
  for (std::uint32_t i = 0; i < 32; ++i) key[i] = 0x01010101u * (i + 1);
  std::vector<std::uint8_t> page(P, 0);
  ScramblePage(page.data(), key, P, 5);
  // Page 5: mask A0A0A0A0; word 0 = Key[11] ^ T[0] ^ mask; word 71 also takes
  // in word 0.
  EXPECT_EQ(dic::LoadU32(page.data()), 0x0C0C0C0Cu ^ 0xDE397A1Fu ^ 0xA0A0A0A0u);
  EXPECT_EQ(
      dic::LoadU32(page.data() + 4 * 71),
      (0x0C0C0C0Cu ^ 0xDE397A1Fu ^ 0xA0A0A0A0u) ^ (key[11 + 71 % 11] ^ 0x635FE45Fu ^ 0xA0A0A0A0u));
  EXPECT_EQ(dic::LoadU32(page.data() + P - 4), 0xE58C0378u);

  std::vector<std::uint8_t> text(P);
  for (std::uint32_t i = 0; i < P; ++i) text[i] = static_cast<std::uint8_t>(i * 31);
  auto copy = text;
  ScramblePage(copy.data(), key, P, 300);
  EXPECT_FALSE(copy == text);
  // Page numbers that share their low byte share the stream.
  auto other = text;
  ScramblePage(other.data(), key, P, 300 + 256);
  EXPECT_TRUE(other == copy);
  ScramblePage(copy.data(), key, P, 300);
  EXPECT_TRUE(copy == text);
}

TEST(AllocMan, HandsOutDistinctZeroedAlignedBuffersFromBlocks) {
  TAllocMan alloc;
  alloc.SetBlockSize(P);
  std::vector<std::uint8_t*> buffers;
  for (int i = 0; i < 33; ++i) {
    std::uint8_t* b = alloc.Alloc();
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b) % 4096, 0u);
    EXPECT_TRUE(std::all_of(b, b + P, [](auto x) { return x == 0; }));
    std::memset(b, i + 1, P);
    buffers.push_back(b);
  }
  // 32 buffers a block, back to back; the 33rd starts a new block.
  EXPECT_EQ(buffers[31] - buffers[0], 31 * static_cast<std::ptrdiff_t>(P));
  for (int i = 0; i < 33; ++i) EXPECT_EQ(buffers[i][P - 1], i + 1) << "buffers overlap";
  EXPECT_EQ(alloc.Count(), 33u);
}

}  // namespace
}  // namespace vandrel::test
