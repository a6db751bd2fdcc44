// Body compression: round trips, the image's codec byte, and refusal of
// damaged, hostile and unknown images; codec 2 with a trained dictionary.
#include "dictionary/compression.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "dictionary/body_codec.h"

namespace vandrel {
namespace {

std::string RandomBytes(std::mt19937& rng, std::size_t n, int alphabet) {
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng() % alphabet);
  return s;
}

// A zstd frame body (after the magic) of RLE blocks: `total` copies of one
// byte, with the content size stated in the header or left out.
std::string RleImage(std::size_t total, bool state_size) {
  std::string image(1, '\x01');
  if (state_size) {
    image.push_back(static_cast<char>(0xA0));  // 4-byte content size, single segment
    for (int k = 0; k < 4; ++k) image.push_back(static_cast<char>(total >> (8 * k)));
  } else {
    image.push_back(0x00);                     // no content size, windowed
    image.push_back(static_cast<char>(0x50));  // window of 2^20 bytes
  }
  std::size_t left = total;
  do {
    const std::size_t block = std::min<std::size_t>(left, 128 * 1024);
    left -= block;
    const std::uint32_t header =
        (left == 0 ? 1u : 0u) | (1u << 1) | static_cast<std::uint32_t>(block << 3);
    for (int k = 0; k < 3; ++k) image.push_back(static_cast<char>(header >> (8 * k)));
    image.push_back('z');
  } while (left > 0);
  return image;
}

TEST(CompressionTest, EmptyStaysEmpty) {
  EXPECT_EQ(CompressBody(""), "");
  EXPECT_EQ(DecompressBody(""), "");
}

TEST(CompressionTest, RoundTripsAnyBytes) {
  std::mt19937 rng(11);
  for (std::size_t n : {1u, 2u, 106u, 107u, 300u, 4096u, 70000u}) {
    for (int alphabet : {2, 40, 256}) {
      const std::string in = RandomBytes(rng, n, alphabet);
      const std::string image = CompressBody(in);
      ASSERT_FALSE(image.empty());
      EXPECT_EQ(image[0], '\x01') << "the first byte names the codec";
      EXPECT_EQ(DecompressBody(image), in) << n << " " << alphabet;
    }
  }
}

TEST(CompressionTest, TranslationTextShrinks) {
  std::string text;
  for (int i = 0; i < 20; ++i) text += "\x05the house\x05 (\x09haus\x09), \x07n\x07 building; ";
  const std::string image = CompressBody(text);
  EXPECT_LT(image.size(), text.size() / 4);
  EXPECT_EQ(DecompressBody(image), text);
}

TEST(CompressionTest, RefusesUnknownCodecsAndDamagedFrames) {
  const std::string text(500, 'q');
  const std::string image = CompressBody(text + "tail");
  for (char codec : {'\x00', '\x03', '\xFF'}) {
    std::string other = image;
    other[0] = codec;
    EXPECT_THROW(DecompressBody(other), EBodyFormat);
  }
  // Every cut-short image, and one with a byte too many.
  for (std::size_t n = 1; n < image.size(); ++n)
    EXPECT_THROW(DecompressBody(image.substr(0, n)), EBodyFormat) << n;
  EXPECT_THROW(DecompressBody(image + '\0'), EBodyFormat);
  // A flipped byte either decodes to a body of the stated size or is
  // refused; never anything else.
  for (std::size_t i = 1; i < image.size(); ++i) {
    for (int bit = 0; bit < 8; ++bit) {
      std::string bad = image;
      bad[i] = static_cast<char>(bad[i] ^ (1 << bit));
      try {
        DecompressBody(bad);
      } catch (const EBodyFormat&) {
      }
    }
  }
}

TEST(CompressionTest, BoundsTheDecompressedSize) {
  EXPECT_EQ(DecompressBody(RleImage(1000, true)), std::string(1000, 'z'));
  EXPECT_EQ(DecompressBody(RleImage(16u << 20, true)).size(), 16u << 20);
  try {
    DecompressBody(RleImage((16u << 20) + 1, true));
    FAIL() << "an image over 16 MiB was decoded";
  } catch (const EBodyFormat& e) {
    EXPECT_STREQ(e.what(), "Compressed body is corrupt: size out of range.");
  }
  // A frame that does not state its size is refused before any decoding.
  EXPECT_THROW(DecompressBody(RleImage(1000, false)), EBodyFormat);
}

TEST(CompressionTest, ContextsSurviveFailures) {
  // A refused image must not leave the thread's reused context unusable.
  const std::string good = CompressBody(std::string(300, 'x') + "y");
  std::string bad = good;
  bad[bad.size() - 2] ^= 0x55;
  for (int k = 0; k < 3; ++k) {
    try {
      DecompressBody(bad);
    } catch (const EBodyFormat&) {
    }
    EXPECT_EQ(DecompressBody(good), std::string(300, 'x') + "y");
  }
}

// Bodies with a shared vocabulary, as a dictionary's translations have.
std::vector<std::string> Bodies(std::size_t count) {
  static const char* const kWords[] = {"house ",   "building ", "\x05home\x05 ", "<n> ",
                                       "to live ", "[arch.] ",  "roof; ",        "garden, "};
  std::vector<std::string> bodies;
  for (std::size_t i = 0; i < count; ++i) {
    std::string b = "w" + std::to_string(i) + " ";
    for (std::size_t k = 0; k < 10 + i % 13; ++k) b += kWords[(i * 5 + k * k) % 8];
    bodies.push_back(b);
  }
  return bodies;
}

std::shared_ptr<const TBodyDictionary> Trained(const std::vector<std::string>& bodies,
                                               std::size_t capacity) {
  const std::vector<std::string_view> sample(bodies.begin(), bodies.end());
  std::string bytes = TBodyDictionary::Train(sample, capacity);
  EXPECT_FALSE(bytes.empty());
  EXPECT_LE(bytes.size(), capacity);
  return TBodyDictionary::Load(std::move(bytes), TBodyDictionary::Use::kEncodeAndDecode);
}

TEST(CompressionTest, TrainedDictionaryRoundTripsAsCodecTwoAndShrinksBodiesFurther) {
  const auto bodies = Bodies(2000);
  const auto dictionary = Trained(bodies, 4096);
  std::size_t plain = 0, alone = 0, trained = 0;
  for (const std::string& b : bodies) {
    const std::string image = CompressBody(b, dictionary.get());
    ASSERT_EQ(image[0], '\x02');
    ASSERT_EQ(DecompressBody(image, dictionary.get()), b);
    // A reader's dictionary (decoding only) reads the same image.
    plain += b.size();
    alone += CompressBody(b).size();
    trained += image.size();
  }
  EXPECT_LT(trained, alone * 2 / 3) << plain;
  const auto reader = TBodyDictionary::Load(dictionary->Bytes());
  EXPECT_EQ(DecompressBody(CompressBody(bodies[7], dictionary.get()), reader.get()), bodies[7]);
  // A reader's dictionary cannot compress; codec 1 images need none.
  EXPECT_THROW(CompressBody(bodies[7], reader.get()), Exception);
  EXPECT_EQ(DecompressBody(CompressBody(bodies[7]), reader.get()), bodies[7]);
}

TEST(CompressionTest, CodecTwoWithoutItsDictionaryOrDamagedIsRefused) {
  const auto bodies = Bodies(2000);
  const auto dictionary = Trained(bodies, 4096);
  const std::string image = CompressBody(bodies[3] + bodies[4], dictionary.get());
  try {
    DecompressBody(image);
    FAIL() << "codec 2 decoded without a dictionary";
  } catch (const EBodyFormat& e) {
    EXPECT_STREQ(e.what(),
                 "Compressed body is corrupt: it needs the file's body dictionary, and the file "
                 "has none.");
  }
  for (std::size_t n = 1; n < image.size(); ++n)
    EXPECT_THROW(DecompressBody(image.substr(0, n), dictionary.get()), EBodyFormat) << n;
  EXPECT_THROW(DecompressBody(image + 'x', dictionary.get()), EBodyFormat);
  for (std::size_t i = 1; i < image.size(); ++i) {
    std::string bad = image;
    bad[i] = static_cast<char>(bad[i] ^ 0x21);
    try {
      DecompressBody(bad, dictionary.get());
    } catch (const EBodyFormat&) {
    }
  }
  EXPECT_EQ(DecompressBody(image, dictionary.get()), bodies[3] + bodies[4]);
  // Bytes that are not a dictionary, or a cut one, are refused when loaded.
  EXPECT_THROW(TBodyDictionary::Load(std::string(5000, 'd')), EBodyFormat);
  EXPECT_THROW(TBodyDictionary::Load(dictionary->Bytes().substr(0, 40)), EBodyFormat);
  EXPECT_THROW(TBodyDictionary::Load(""), EBodyFormat);
}

TEST(CompressionTest, TrainingNeedsASample) {
  const auto bodies = Bodies(10);
  const std::vector<std::string_view> sample(bodies.begin(), bodies.end());
  EXPECT_EQ(TBodyDictionary::Train(sample, 4096), "");
  EXPECT_EQ(TBodyDictionary::Train({}, 4096), "");
  const auto many = Bodies(2000);
  const std::vector<std::string_view> enough(many.begin(), many.end());
  EXPECT_EQ(TBodyDictionary::Train(enough, 100), "") << "below the smallest dictionary";
  // Training is deterministic: the same sample gives the same file.
  EXPECT_EQ(TBodyDictionary::Train(enough, 4096), TBodyDictionary::Train(enough, 4096));
}

}  // namespace
}  // namespace vandrel
