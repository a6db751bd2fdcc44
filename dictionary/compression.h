// Compression of long translation bodies. The first byte of a compressed
// image names the codec, so that later codecs can be added while existing
// files still read. Contexts are reused per thread.
//
// Compressed image (what follows the 0 byte of a stored body):
//
// | offset | width | field                                                     |
// |--------|-------|-----------------------------------------------------------|
// | 0      | 1     | codec: 1 = zstd frame without its 4-byte magic number;     |
// |        |       | 2 = the same, compressed with the file's trained body      |
// |        |       | dictionary (dic_format.h says where the file keeps it)     |
// | 1      | rest  | the frame from its header on: frame header with the        |
// |        |       | content size, then blocks; no checksum, no dictionary id   |
//
// The codec byte is embedded in stored files: never renumber a codec. A new
// codec takes the next number and the reader keeps every older one. The
// magic number is implied by both codecs and never stored: it would cost 4
// bytes a body. A codec-2 frame names no dictionary: it is always the one
// dictionary of the file that holds the body, so a body can only be copied
// into a file that keeps the same dictionary.
//
// Limits on decoding: the frame must state its content size, at most 16 MiB,
// and must fill the image exactly; anything else is a corrupt image. So a
// hostile image makes the reader allocate at most 16 MiB and never makes it
// read or write outside its buffers.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The codec's digested dictionaries (zstd.h).
struct ZSTD_DDict_s;
struct ZSTD_CDict_s;
struct ZSTD_CCtx_s;

namespace vandrel {

// A trained body dictionary, digested once for decoding (and for encoding
// when asked) and then shared read-only by every thread that reads or
// writes the file's bodies.
class TBodyDictionary {
 public:
  enum class Use { kDecode, kEncodeAndDecode };
  // The compiler's compression level with a dictionary (compression.cpp
  // says how it was chosen).
  static const int kLevel;
  // Digests bytes; raises EBodyFormat ("Compressed body is corrupt: ...")
  // when they are not a dictionary. kEncodeAndDecode also prepares it for
  // compression at level (benchmarks try others).
  static std::shared_ptr<const TBodyDictionary> Load(std::string bytes, Use use = Use::kDecode,
                                                     int level = kLevel);
  // Trains a dictionary of at most capacity bytes on the given bodies
  // (lexeme-encoded, as they would be compressed). Empty when the sample is
  // too small or too uniform to give one.
  static std::string Train(const std::vector<std::string_view>& bodies, std::size_t capacity);

  ~TBodyDictionary();
  TBodyDictionary(const TBodyDictionary&) = delete;
  TBodyDictionary& operator=(const TBodyDictionary&) = delete;

  const std::string& Bytes() const { return bytes_; }

 private:
  friend class TBodyCompressor;
  friend std::string DecompressBody(std::string_view, const TBodyDictionary*);
  TBodyDictionary() = default;

  std::string bytes_;
  ::ZSTD_DDict_s* ddict_ = nullptr;  // owned
  ::ZSTD_CDict_s* cdict_ = nullptr;  // owned; only with kEncodeAndDecode
};

// Compression contexts of its own: a context is costly to create and
// grows tables on first use, so a thread that compresses many bodies keeps
// one (CompressBody keeps one per thread; the compiler one per slice of
// its batches, whose threads come and go). One thread at a time.
class TBodyCompressor {
 public:
  TBodyCompressor() = default;
  ~TBodyCompressor();
  TBodyCompressor(const TBodyCompressor&) = delete;
  TBodyCompressor& operator=(const TBodyCompressor&) = delete;
  // Empty input gives an empty result without touching the codec. With a
  // dictionary (prepared for encoding) the image is codec 2, else codec 1.
  std::string Compress(std::string_view bytes, const TBodyDictionary* dictionary = nullptr);

 private:
  ::ZSTD_CCtx_s* plain_ = nullptr;    // owned, made on first use
  ::ZSTD_CCtx_s* trained_ = nullptr;  // owned, made on first use
};

// TBodyCompressor::Compress with the calling thread's contexts.
std::string CompressBody(std::string_view bytes, const TBodyDictionary* dictionary = nullptr);
// Raises EBodyFormat for a corrupt or unknown image, and for a codec-2
// image without a dictionary; never reads or writes outside its buffers and
// never allocates more than a bounded amount.
std::string DecompressBody(std::string_view image, const TBodyDictionary* dictionary = nullptr);

}  // namespace vandrel
