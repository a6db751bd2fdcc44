// Compression of long translation bodies, and the trained body dictionary.
//
// The image layout and its limits are in compression.h.
#define ZDICT_STATIC_LINKING_ONLY
#define ZSTD_STATIC_LINKING_ONLY
#include "dictionary/compression.h"

#include <zdict.h>
#include <zstd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "dictionary/body_codec.h"
#include "platform/exceptions.h"

namespace vandrel {
namespace {

constexpr std::uint8_t kCodecZstd = 1;
constexpr std::uint8_t kCodecZstdDictionary = 2;
// Chosen by measurement on the bodies of a real dictionary (see
// bench/dictionary/run_codec.sh): level 15 keeps 61.5% of the long bodies'
// bytes, as much as 17 to 22 do, at three quarters of their time; 6 keeps
// 63.2% at a third of the time. Every update merge recompiles the whole
// dictionary, so the levels above 15 would cost time for nothing.
constexpr int kZstdLevel = 15;
// With a trained dictionary the level matters far less (the dictionary
// does most of the work on bodies of a few hundred bytes). Measured with
// bench/dictionary/dictionary_train_bench on the 381,000 long bodies of a
// German-English dictionary (103 MB): level 5 (greedy) with the searches
// below stores 37.6 MB at about 4.5 us a body, where level 9 stored 38.4 MB
// at 10 to 12 us and level 3 40.0 MB at 2.2 us. The dictionary is trained
// for the same level: its entropy tables fit the matches that level finds.
constexpr int kDictionaryLevel = 5;
constexpr std::size_t kMaxBodySize = std::size_t{16} << 20;

struct DCtxFree {
  void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
};

// A compression context; frames are written and read without their magic
// number.
ZSTD_CCtx* MakeCompressionContext(bool dictionary) {
  ZSTD_CCtx* c = ZSTD_createCCtx();
  if (c == nullptr) throw Exception("Cannot compress body: out of memory.");
  if (!dictionary) ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, kZstdLevel);
  ZSTD_CCtx_setParameter(c, ZSTD_c_format, ZSTD_f_zstd1_magicless);
  ZSTD_CCtx_setParameter(c, ZSTD_c_contentSizeFlag, 1);
  ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 0);
  ZSTD_CCtx_setParameter(c, ZSTD_c_dictIDFlag, 0);
  return c;
}

ZSTD_DCtx* DecompressionContext() {
  thread_local std::unique_ptr<ZSTD_DCtx, DCtxFree> ctx = [] {
    std::unique_ptr<ZSTD_DCtx, DCtxFree> d(ZSTD_createDCtx());
    if (!d) throw Exception("Cannot decompress body: out of memory.");
    // 2^24 = kMaxBodySize: no frame we accept needs a larger window.
    ZSTD_DCtx_setParameter(d.get(), ZSTD_d_windowLogMax, 24);
    ZSTD_DCtx_setParameter(d.get(), ZSTD_d_format, ZSTD_f_zstd1_magicless);
    return d;
  }();
  return ctx.get();
}

[[noreturn]] void RaiseCorrupt(const char* why) {
  throw EBodyFormat(std::string("Compressed body is corrupt: ") + why + ".");
}

// Bytes of the frame that starts at frame[0] after a header of
// header_size bytes: the blocks walked by their headers, as the decoder
// will read them. 0 when a block header or a block leaves the buffer.
std::size_t FrameSize(const std::uint8_t* frame, std::size_t size, std::size_t header_size,
                      bool checksum) {
  std::size_t at = header_size;
  for (;;) {
    if (size - at < 3) return 0;
    const std::uint32_t block = frame[at] | (frame[at + 1] << 8) | (frame[at + 2] << 16);
    at += 3;
    const std::uint32_t type = (block >> 1) & 3;
    const std::size_t length = type == 1 ? 1 : block >> 3;  // RLE blocks store one byte
    if (type == 3 || size - at < length) return 0;
    at += length;
    if (block & 1) break;
  }
  if (checksum) {
    if (size - at < 4) return 0;
    at += 4;
  }
  return at;
}

}  // namespace

// ---- the trained dictionary ----

TBodyDictionary::~TBodyDictionary() {
  ZSTD_freeDDict(ddict_);
  ZSTD_freeCDict(cdict_);
}

const int TBodyDictionary::kLevel = kDictionaryLevel;

std::shared_ptr<const TBodyDictionary> TBodyDictionary::Load(std::string bytes, Use use,
                                                             int level) {
  std::shared_ptr<TBodyDictionary> d(new TBodyDictionary());
  d->bytes_ = std::move(bytes);
  // A full dictionary only: its magic number and entropy tables are
  // checked here, so damage shows now rather than as wrong text later.
  d->ddict_ = ZSTD_createDDict_advanced(d->bytes_.data(), d->bytes_.size(), ZSTD_dlm_byRef,
                                        ZSTD_dct_fullDict, ZSTD_defaultCMem);
  if (d->ddict_ == nullptr) RaiseCorrupt("the file's body dictionary is damaged");
  if (use == Use::kEncodeAndDecode) {
    ZSTD_CCtx_params* params = ZSTD_createCCtxParams();
    if (params == nullptr) throw Exception("Cannot compress body: out of memory.");
    ZSTD_CCtxParams_init(params, level);
    ZSTD_CCtxParams_setParameter(params, ZSTD_c_format, ZSTD_f_zstd1_magicless);
    ZSTD_CCtxParams_setParameter(params, ZSTD_c_contentSizeFlag, 1);
    ZSTD_CCtxParams_setParameter(params, ZSTD_c_checksumFlag, 0);
    ZSTD_CCtxParams_setParameter(params, ZSTD_c_dictIDFlag, 0);
    if (level == kDictionaryLevel) {
      // Bodies are a few hundred bytes and nearly all their matches lie in
      // the dictionary: 16 candidates a position in chains that hold every
      // position of a dictionary of 112 KiB (the row match finder, which
      // the codec would pick for larger inputs, finds 3% less here).
      ZSTD_CCtxParams_setParameter(params, ZSTD_c_hashLog, 17);
      ZSTD_CCtxParams_setParameter(params, ZSTD_c_chainLog, 17);
      ZSTD_CCtxParams_setParameter(params, ZSTD_c_searchLog, 4);
      ZSTD_CCtxParams_setParameter(params, ZSTD_c_minMatch, 4);
      ZSTD_CCtxParams_setParameter(params, ZSTD_c_useRowMatchFinder, ZSTD_ps_disable);
    }
    d->cdict_ = ZSTD_createCDict_advanced2(d->bytes_.data(), d->bytes_.size(), ZSTD_dlm_byRef,
                                           ZSTD_dct_fullDict, params, ZSTD_defaultCMem);
    ZSTD_freeCCtxParams(params);
    if (d->cdict_ == nullptr) RaiseCorrupt("the body dictionary cannot be prepared");
  }
  return d;
}

std::string TBodyDictionary::Train(const std::vector<std::string_view>& bodies,
                                   std::size_t capacity) {
  std::string samples;
  std::vector<std::size_t> sizes;
  sizes.reserve(bodies.size());
  std::size_t total = 0;
  for (std::string_view b : bodies) total += b.size();
  samples.reserve(total);
  for (std::string_view b : bodies) {
    samples.append(b);
    sizes.push_back(b.size());
  }
  if (capacity < ZDICT_DICTSIZE_MIN || sizes.size() < 16) return {};
  std::string dictionary(capacity, '\0');
  ZDICT_fastCover_params_t params{};
  // Short segments suit bodies of a few hundred bytes: k = 128, d = 6 kept
  // 1 to 2% fewer bytes than 256 and 8, or than longer ones.
  params.d = 6;
  params.k = 128;
  params.f = 20;
  params.accel = 2;
  params.steps = 0;
  params.nbThreads = 1;
  params.splitPoint = 1.0;
  params.zParams.compressionLevel = kDictionaryLevel;
  params.zParams.notificationLevel = 0;
  const std::size_t n =
      ZDICT_trainFromBuffer_fastCover(dictionary.data(), dictionary.size(), samples.data(),
                                      sizes.data(), static_cast<unsigned>(sizes.size()), params);
  if (ZDICT_isError(n) || n < ZDICT_DICTSIZE_MIN) return {};
  dictionary.resize(n);
  return dictionary;
}

// ---- bodies ----

TBodyCompressor::~TBodyCompressor() {
  ZSTD_freeCCtx(plain_);
  ZSTD_freeCCtx(trained_);
}

std::string CompressBody(std::string_view bytes, const TBodyDictionary* dictionary) {
  // Kept for the thread's life: a fresh context costs more than a body.
  thread_local TBodyCompressor compressor;
  return compressor.Compress(bytes, dictionary);
}

std::string TBodyCompressor::Compress(std::string_view bytes, const TBodyDictionary* dictionary) {
  if (bytes.empty()) return {};
  const bool trained = dictionary != nullptr;
  if (trained && dictionary->cdict_ == nullptr)
    throw Exception("Cannot compress body: the dictionary is not prepared for compression.");
  ZSTD_CCtx*& slot = trained ? trained_ : plain_;
  if (slot == nullptr) slot = MakeCompressionContext(trained);
  ZSTD_CCtx* ctx = slot;
  std::string out(1 + ZSTD_compressBound(bytes.size()), '\0');
  out[0] = static_cast<char>(trained ? kCodecZstdDictionary : kCodecZstd);
  if (trained) ZSTD_CCtx_refCDict(ctx, dictionary->cdict_);
  const std::size_t n =
      ZSTD_compress2(ctx, out.data() + 1, out.size() - 1, bytes.data(), bytes.size());
  if (trained) ZSTD_CCtx_refCDict(ctx, nullptr);
  if (ZSTD_isError(n)) {
    ZSTD_CCtx_reset(ctx, ZSTD_reset_session_only);
    throw Exception(std::string("Cannot compress body: ") + ZSTD_getErrorName(n));
  }
  out.resize(1 + n);
  return out;
}

std::string DecompressBody(std::string_view image, const TBodyDictionary* dictionary) {
  if (image.empty()) return {};
  const auto codec = static_cast<std::uint8_t>(image[0]);
  if (codec != kCodecZstd && codec != kCodecZstdDictionary) {
    char why[48];
    std::snprintf(why, sizeof why, "unknown codec %u", codec);
    RaiseCorrupt(why);
  }
  if (codec == kCodecZstdDictionary && dictionary == nullptr)
    RaiseCorrupt("it needs the file's body dictionary, and the file has none");
  const auto* frame = reinterpret_cast<const std::uint8_t*>(image.data()) + 1;
  const std::size_t frame_size = image.size() - 1;

  ZSTD_frameHeader header;
  const std::size_t h =
      ZSTD_getFrameHeader_advanced(&header, frame, frame_size, ZSTD_f_zstd1_magicless);
  if (ZSTD_isError(h)) RaiseCorrupt("bad frame header");
  if (h != 0) RaiseCorrupt("truncated frame");
  if (header.frameType != ZSTD_frame) RaiseCorrupt("bad frame header");
  if (header.frameContentSize == ZSTD_CONTENTSIZE_UNKNOWN) RaiseCorrupt("size not stated");
  if (header.frameContentSize > kMaxBodySize) RaiseCorrupt("size out of range");
  const std::size_t walked = FrameSize(frame, frame_size, header.headerSize, header.checksumFlag);
  if (walked == 0) RaiseCorrupt("truncated frame");
  if (walked != frame_size) RaiseCorrupt("bytes after the frame");

  std::string out(static_cast<std::size_t>(header.frameContentSize), '\0');
  ZSTD_DCtx* ctx = DecompressionContext();
  const std::size_t n = codec == kCodecZstdDictionary
                            ? ZSTD_decompress_usingDDict(ctx, out.data(), out.size(), frame,
                                                         frame_size, dictionary->ddict_)
                            : ZSTD_decompressDCtx(ctx, out.data(), out.size(), frame, frame_size);
  if (ZSTD_isError(n)) {
    ZSTD_DCtx_reset(ctx, ZSTD_reset_session_only);
    RaiseCorrupt(ZSTD_getErrorName(n));
  }
  if (n != out.size()) RaiseCorrupt("size differs from its header");
  return out;
}

}  // namespace vandrel
