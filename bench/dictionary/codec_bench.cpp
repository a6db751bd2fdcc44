// Body codec workloads on the translations of a real dictionary (dictd
// index and uncompressed data, German words, English translations):
//   encode / decode    EncodeBody and DecodeBody throughput, in body bytes;
//   compression table  share of bodies over 106 bytes, stored size at each
//                      compression level tried, compile time per body;
//   decompress         time per body with the thread's reused context and
//                      with a fresh context per body.
// Times in the tables are processor time per body.
// Usage: codec_bench --index FILE --data FILE [--sample N] [benchmark flags]
// Without a dictionary it runs on generated translations.
#include <benchmark/benchmark.h>
#include <zstd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "dictionary/body_codec.h"
#include "dictionary/compression.h"

namespace {

using vandrel::WideString;

constexpr std::uint16_t kGerman = 0x0407;
constexpr std::uint16_t kEnglish = 0x0409;
constexpr std::size_t kCompressFrom = 107;  // the compiler compresses bodies longer than 106 bytes

WideString FromUtf8(const std::string& s) {
  WideString out;
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = s[i];
    unsigned cp = c;
    int extra = 0;
    if (c >= 0xF0) {
      cp = c & 0x07;
      extra = 3;
    } else if (c >= 0xE0) {
      cp = c & 0x0F;
      extra = 2;
    } else if (c >= 0xC0) {
      cp = c & 0x1F;
      extra = 1;
    }
    ++i;
    for (int k = 0; k < extra && i < s.size(); ++k, ++i)
      cp = (cp << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
    out.push_back(cp > 0xFFFF ? u'?' : static_cast<char16_t>(cp));
  }
  return out;
}

// One dictd definition as marked-up text: the headword as a word-language
// span, the transcription as a raw span, grammar tags as spans, cross
// references as word-language spans, lines joined by line breaks.
WideString MarkUp(const std::string& definition) {
  const WideString d = FromUtf8(definition);
  WideString out;
  bool first_line = true;
  std::size_t i = 0;
  while (i < d.size()) {
    std::size_t end = d.find(u'\n', i);
    if (end == WideString::npos) end = d.size();
    WideString line = d.substr(i, end - i);
    i = end + 1;
    std::size_t lead = line.find_first_not_of(u' ');
    if (lead == WideString::npos) continue;
    line = line.substr(lead);
    if (!out.empty()) out += u'\r';
    std::size_t k = 0;
    if (first_line) {
      const std::size_t stop = line.find_first_of(u"/<");
      const std::size_t head_end = stop == WideString::npos ? line.size() : stop;
      WideString head = line.substr(0, head_end);
      while (!head.empty() && head.back() == u' ') head.pop_back();
      out += u'\x09' + head + u'\x09';
      k = head_end;
      first_line = false;
    }
    for (; k < line.size(); ++k) {
      const char16_t c = line[k];
      const char16_t close = c == u'/' ? u'/' : c == u'<' ? u'>' : c == u'{' ? u'}' : 0;
      const std::size_t stop = close ? line.find(close, k + 1) : WideString::npos;
      if (stop != WideString::npos) {
        WideString inner = line.substr(k + 1, stop - k - 1);
        if (c == u'/') {
          for (auto& ch : inner)
            if (ch > 0xFF || ch < 0x20) ch = u'?';
          out += u'\x0C' + inner + u'\x0C';
        } else {
          for (auto& ch : inner)
            if (ch < 0x20) ch = u' ';
          out += (c == u'<' ? u'\x06' : u'\x09') + inner + (c == u'<' ? u'\x06' : u'\x09');
        }
        k = stop;
      } else {
        out += c < 0x20 ? u' ' : c;
      }
    }
  }
  return out;
}

std::uint64_t FromBase64(const std::string& s) {
  static const std::string digits =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::uint64_t v = 0;
  for (char c : s) v = v * 64 + digits.find(c);
  return v;
}

std::vector<WideString> LoadDictionary(const std::string& index_file,
                                       const std::string& data_file) {
  std::ifstream data_in(data_file, std::ios::binary);
  const std::string data((std::istreambuf_iterator<char>(data_in)),
                         std::istreambuf_iterator<char>());
  std::ifstream index(index_file);
  std::vector<WideString> texts;
  std::string line;
  while (std::getline(index, line)) {
    std::istringstream fields(line);
    std::string word, offset, length;
    if (!std::getline(fields, word, '\t') || !std::getline(fields, offset, '\t') ||
        !std::getline(fields, length))
      continue;
    if (word.rfind("00database", 0) == 0) continue;  // the dictionary's own notes
    const std::uint64_t at = FromBase64(offset), n = FromBase64(length);
    if (at + n > data.size()) continue;
    texts.push_back(MarkUp(data.substr(at, n)));
  }
  return texts;
}

std::vector<WideString> Generated() {
  std::vector<WideString> texts;
  for (int i = 0; i < 20000; ++i) {
    WideString t = u"\x09Haus\x09 \x0Chaus\x0C \x06n\x06\rhouse; home";
    for (int k = 0; k < i % 7; ++k)
      t += u"\r\x07"
           u"example\x07 ein gro\u00DFes Haus - a big house";
    texts.push_back(t);
  }
  return texts;
}

struct Corpus {
  std::vector<WideString> texts;    // every entry
  std::vector<std::string> bodies;  // encoded, every entry
  std::uint64_t body_bytes = 0;
};

Corpus* g_corpus = nullptr;

void BM_EncodeBody(benchmark::State& state) {
  for (auto _ : state)
    for (const auto& t : g_corpus->texts)
      benchmark::DoNotOptimize(vandrel::EncodeBody(kGerman, kEnglish, t));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * g_corpus->body_bytes));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * g_corpus->texts.size()));
}

void BM_DecodeBody(benchmark::State& state) {
  for (auto _ : state)
    for (const auto& b : g_corpus->bodies)
      benchmark::DoNotOptimize(vandrel::DecodeBody(kGerman, kEnglish, b));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * g_corpus->body_bytes));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * g_corpus->bodies.size()));
}

// Processor time of this (single-threaded) program, so that the figures
// hold on a busy machine.
using Clock = std::clock_t;
Clock Now() { return std::clock(); }
double Seconds(Clock since) { return static_cast<double>(std::clock() - since) / CLOCKS_PER_SEC; }

// Compression figures over a sample of the long bodies. Sizes count what the
// compiler stores: the 0 byte, the codec byte and the frame without its
// magic, and the plain body where that is not strictly shorter.
void CompressionReport(const Corpus& corpus, std::size_t sample_size) {
  std::vector<const std::string*> long_bodies;
  std::uint64_t all_bytes = 0;
  for (const auto& b : corpus.bodies) {
    all_bytes += b.size();
    if (b.size() >= kCompressFrom) long_bodies.push_back(&b);
  }
  std::printf("\nbodies: %zu, %llu bytes; over 106 bytes: %zu (%.1f%% of bodies)\n",
              corpus.bodies.size(), static_cast<unsigned long long>(all_bytes), long_bodies.size(),
              100.0 * long_bodies.size() / std::max<std::size_t>(1, corpus.bodies.size()));
  std::vector<const std::string*> sample;
  const std::size_t step =
      std::max<std::size_t>(1, long_bodies.size() / std::max<std::size_t>(1, sample_size));
  for (std::size_t i = 0; i < long_bodies.size(); i += step) sample.push_back(long_bodies[i]);
  std::uint64_t plain = 0;
  for (const auto* b : sample) plain += b->size();
  std::printf("sample of %zu long bodies, %llu bytes\n", sample.size(),
              static_cast<unsigned long long>(plain));
  std::printf("%6s %14s %8s %16s\n", "level", "stored bytes", "kept", "compress us/body");

  ZSTD_CCtx* cctx = ZSTD_createCCtx();
  std::vector<char> buf(ZSTD_compressBound(1 << 20));
  for (int level : {1, 3, 6, 9, 12, 15, 17, 19, 20, 22}) {
    ZSTD_CCtx_reset(cctx, ZSTD_reset_session_and_parameters);
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, level);
    ZSTD_CCtx_setParameter(cctx, ZSTD_c_dictIDFlag, 0);
    std::uint64_t stored = 0;
    const auto start = Now();
    for (const auto* b : sample) {
      const std::size_t n = ZSTD_compress2(cctx, buf.data(), buf.size(), b->data(), b->size());
      const std::size_t candidate = 1 + 1 + (n - 4);
      stored += candidate < b->size() ? candidate : b->size();
    }
    const double us = 1e6 * Seconds(start) / static_cast<double>(sample.size());
    std::printf("%6d %14llu %7.1f%% %16.1f\n", level, static_cast<unsigned long long>(stored),
                100.0 * stored / plain, us);
  }
  ZSTD_freeCCtx(cctx);

  // The codec as built: CompressBody's level, DecompressBody's reused
  // context, and a fresh context per body for comparison.
  std::vector<std::string> images;
  std::uint64_t stored = 0;
  auto start = Now();
  for (const auto* b : sample) {
    images.push_back(vandrel::CompressBody(*b));
    stored += std::min(images.back().size() + 1, b->size());
  }
  const double compress_us = 1e6 * Seconds(start) / static_cast<double>(sample.size());
  std::printf("CompressBody: %llu of %llu bytes stored (%.1f%%), %.1f us/body\n",
              static_cast<unsigned long long>(stored), static_cast<unsigned long long>(plain),
              100.0 * stored / plain, compress_us);

  const int rounds = 5;
  std::uint64_t check = 0;
  start = Now();
  for (int r = 0; r < rounds; ++r)
    for (const auto& img : images) check += vandrel::DecompressBody(img).size();
  const double reused_us = 1e6 * Seconds(start) / static_cast<double>(rounds * images.size());

  std::vector<std::string> frames;
  for (const auto& img : images)
    frames.push_back(std::string("\x28\xB5\x2F\xFD", 4) + img.substr(1));
  start = Now();
  for (int r = 0; r < rounds; ++r) {
    for (const auto& f : frames) {
      ZSTD_DCtx* d = ZSTD_createDCtx();
      check += ZSTD_decompressDCtx(d, buf.data(), buf.size(), f.data(), f.size());
      ZSTD_freeDCtx(d);
    }
  }
  const double fresh_us = 1e6 * Seconds(start) / static_cast<double>(rounds * frames.size());
  std::printf(
      "decompress per body: %.2f us with the reused context (DecompressBody), %.2f us with a fresh "
      "context\n",
      reused_us, fresh_us);
  benchmark::DoNotOptimize(check);
}

}  // namespace

int main(int argc, char** argv) {
  std::string index_file, data_file;
  std::size_t sample = 20000;
  std::vector<char*> rest{argv[0]};
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--index") && i + 1 < argc) {
      index_file = argv[++i];
    } else if (!std::strcmp(argv[i], "--data") && i + 1 < argc) {
      data_file = argv[++i];
    } else if (!std::strcmp(argv[i], "--sample") && i + 1 < argc) {
      sample = std::stoul(argv[++i]);
    } else {
      rest.push_back(argv[i]);
    }
  }
  Corpus corpus;
  corpus.texts = index_file.empty() ? Generated() : LoadDictionary(index_file, data_file);
  for (const auto& t : corpus.texts) {
    corpus.bodies.push_back(vandrel::EncodeBody(kGerman, kEnglish, t));
    corpus.body_bytes += corpus.bodies.back().size();
  }
  std::printf("corpus: %s, %zu translations\n",
              index_file.empty() ? "generated" : index_file.c_str(), corpus.texts.size());
  g_corpus = &corpus;

  int bench_argc = static_cast<int>(rest.size());
  benchmark::Initialize(&bench_argc, rest.data());
  benchmark::RegisterBenchmark("encode", BM_EncodeBody)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("decode", BM_DecodeBody)->Unit(benchmark::kMillisecond);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  CompressionReport(corpus, sample);
  return 0;
}
