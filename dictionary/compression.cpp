// Compression of long translation bodies.
//
// The image layout and its limits are in compression.h.
#include "dictionary/compression.h"

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
// Chosen by measurement on the bodies of a real dictionary (see
// bench/dictionary/run_codec.sh): level 15 keeps 61.5% of the long bodies'
// bytes, as much as 17 to 22 do, at three quarters of their time; 6 keeps
// 63.2% at a third of the time. Every update merge recompiles the whole
// dictionary, so the levels above 15 would cost time for nothing.
constexpr int kZstdLevel = 15;
constexpr std::size_t kMaxBodySize = std::size_t{16} << 20;
constexpr unsigned char kZstdMagic[4] = {0x28, 0xB5, 0x2F, 0xFD};

struct CCtxFree {
  void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); }
};
struct DCtxFree {
  void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
};

// One context of each kind per thread, kept for the thread's life: a fresh
// context costs more than decoding a whole body.
ZSTD_CCtx* CompressionContext() {
  thread_local std::unique_ptr<ZSTD_CCtx, CCtxFree> ctx = [] {
    std::unique_ptr<ZSTD_CCtx, CCtxFree> c(ZSTD_createCCtx());
    if (!c) throw Exception("Cannot compress body: out of memory.");
    ZSTD_CCtx_setParameter(c.get(), ZSTD_c_compressionLevel, kZstdLevel);
    ZSTD_CCtx_setParameter(c.get(), ZSTD_c_contentSizeFlag, 1);
    ZSTD_CCtx_setParameter(c.get(), ZSTD_c_checksumFlag, 0);
    ZSTD_CCtx_setParameter(c.get(), ZSTD_c_dictIDFlag, 0);
    return c;
  }();
  return ctx.get();
}

ZSTD_DCtx* DecompressionContext() {
  thread_local std::unique_ptr<ZSTD_DCtx, DCtxFree> ctx = [] {
    std::unique_ptr<ZSTD_DCtx, DCtxFree> d(ZSTD_createDCtx());
    if (!d) throw Exception("Cannot decompress body: out of memory.");
    // 2^24 = kMaxBodySize: no frame we accept needs a larger window.
    ZSTD_DCtx_setParameter(d.get(), ZSTD_d_windowLogMax, 24);
    return d;
  }();
  return ctx.get();
}

[[noreturn]] void RaiseCorrupt(const char* why) {
  throw EBodyFormat(std::string("Compressed body is corrupt: ") + why + ".");
}

}  // namespace

std::string CompressBody(std::string_view bytes) {
  if (bytes.empty()) return {};
  ZSTD_CCtx* ctx = CompressionContext();
  // The frame is written at offset 0 and its magic then overwritten: the
  // codec byte takes the magic's last byte, the first three are dropped.
  std::string out(ZSTD_compressBound(bytes.size()), '\0');
  const std::size_t n = ZSTD_compress2(ctx, out.data(), out.size(), bytes.data(), bytes.size());
  if (ZSTD_isError(n)) {
    ZSTD_CCtx_reset(ctx, ZSTD_reset_session_only);
    throw Exception(std::string("Cannot compress body: ") + ZSTD_getErrorName(n));
  }
  if (n < sizeof kZstdMagic || std::memcmp(out.data(), kZstdMagic, sizeof kZstdMagic) != 0)
    throw Exception("Cannot compress body: unexpected frame.");
  out.resize(n);
  out[3] = static_cast<char>(kCodecZstd);
  out.erase(0, 3);
  return out;
}

std::string DecompressBody(std::string_view image) {
  if (image.empty()) return {};
  const auto codec = static_cast<std::uint8_t>(image[0]);
  if (codec != kCodecZstd) {
    char why[48];
    std::snprintf(why, sizeof why, "unknown codec %u", codec);
    RaiseCorrupt(why);
  }
  // Put the magic back; the buffer is reused by the thread.
  thread_local std::string frame;
  frame.assign(reinterpret_cast<const char*>(kZstdMagic), sizeof kZstdMagic);
  frame.append(image.substr(1));

  const unsigned long long size = ZSTD_getFrameContentSize(frame.data(), frame.size());
  if (size == ZSTD_CONTENTSIZE_ERROR) RaiseCorrupt("bad frame header");
  if (size == ZSTD_CONTENTSIZE_UNKNOWN) RaiseCorrupt("size not stated");
  if (size > kMaxBodySize) RaiseCorrupt("size out of range");
  const std::size_t frame_size = ZSTD_findFrameCompressedSize(frame.data(), frame.size());
  if (ZSTD_isError(frame_size)) RaiseCorrupt("truncated frame");
  if (frame_size != frame.size()) RaiseCorrupt("bytes after the frame");

  std::string out(static_cast<std::size_t>(size), '\0');
  ZSTD_DCtx* ctx = DecompressionContext();
  const std::size_t n = ZSTD_decompressDCtx(ctx, out.data(), out.size(), frame.data(), frame.size());
  if (ZSTD_isError(n)) {
    ZSTD_DCtx_reset(ctx, ZSTD_reset_session_only);
    RaiseCorrupt(ZSTD_getErrorName(n));
  }
  if (n != out.size()) RaiseCorrupt("size differs from its header");
  return out;
}

}  // namespace vandrel
