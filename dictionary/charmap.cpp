// Character maps and collation: language to code page and charset, the
// conversions between wide text and a language's code page, wide strings
// packed into byte strings, the per-block charset/byte maps of CharToAnsi
// and the per-block weight maps of the word order.
#include "dictionary/charmap.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <climits>
#include <memory>

#include "platform/collation_weights.h"
#include "platform/error.h"
#include "platform/exceptions.h"
#include "platform/nls.h"

namespace vandrel {
namespace {

// The code pages CharToAnsi probes, in order, with their charsets.
struct CodePageRow {
  win::UINT code_page;
  std::uint8_t charset;
};
constexpr CodePageRow kCodePageRows[] = {
    {1252, 0},   {1251, 204}, {1250, 238}, {1253, 161}, {1254, 162}, {1257, 186},
    {1255, 177}, {1256, 178}, {932, 128},  {949, 129},  {936, 134},  {950, 136},
};

// The font charset of each primary language whose charset does not depend
// on the sublanguage.
struct LanguageCharset {
  std::uint16_t primary;
  std::uint8_t charset;
};
constexpr LanguageCharset kLanguageCharsets[] = {
    {1, 178},  {2, 204},  {3, 0},    {5, 238},  {6, 0},    {7, 0},    {8, 161},  {9, 0},
    {10, 0},   {11, 0},   {12, 0},   {13, 177}, {14, 238}, {15, 0},   {16, 0},   {17, 128},
    {19, 0},   {20, 0},   {21, 238}, {22, 0},   {24, 238}, {25, 204}, {27, 238}, {28, 238},
    {29, 0},   {30, 222}, {31, 162}, {33, 0},   {34, 204}, {35, 204}, {36, 238}, {37, 186},
    {38, 186}, {39, 186}, {41, 0},   {45, 0},   {47, 204}, {54, 0},   {56, 0},
};

// Per block of 256 characters (the high byte), built on first use and kept
// for the life of the process. A block is published with one atomic store;
// should two threads build the same block, the loser frees its copy, so
// readers never see a partly built map.
using TCharsetMap = std::array<std::uint8_t, 256>;
using TCharMap = std::array<std::uint8_t, 256>;
using TIndexMap = std::array<std::int32_t, 256>;

struct CharBlock {
  TCharsetMap charsets;
  TCharMap bytes;
};

std::atomic<CharBlock*> g_char_blocks[256];
std::atomic<TIndexMap*> g_index_maps[256];

template <typename T>
T* Publish(std::atomic<T*>& slot, std::unique_ptr<T> built) {
  T* expected = nullptr;
  if (slot.compare_exchange_strong(expected, built.get(), std::memory_order_acq_rel)) {
    return built.release();
  }
  return expected;
}

// True when code_page turns ch into exactly one byte that turns back into
// exactly ch.
bool ConvertsOneToOne(win::UINT code_page, char16_t ch, std::uint8_t& byte) {
  char out[2] = {0, 0};
  if (win::WideCharToMultiByte(code_page, 0, &ch, 1, out, 1, nullptr, nullptr) != 1) return false;
  char16_t back = 0;
  if (win::MultiByteToWideChar(code_page, 0, out, 1, &back, 1) != 1) return false;
  if (back != ch) return false;
  byte = static_cast<std::uint8_t>(out[0]);
  return true;
}

const CharBlock& CharBlockFor(char16_t ch) {
  const unsigned b = ch >> 8;
  if (CharBlock* block = g_char_blocks[b].load(std::memory_order_acquire)) return *block;
  auto built = std::make_unique<CharBlock>();
  built->charsets.fill(kAnyCharset);
  built->bytes.fill('?');
  for (unsigned low = 0; low < 256; ++low) {
    const auto c = static_cast<char16_t>(b << 8 | low);
    for (const CodePageRow& row : kCodePageRows) {
      std::uint8_t x;
      if (!ConvertsOneToOne(row.code_page, c, x)) continue;
      built->bytes[low] = x;
      if (x >= 0x80) built->charsets[low] = row.charset;
      break;
    }
  }
  return *Publish(g_char_blocks[b], std::move(built));
}

[[gnu::noinline]] const TIndexMap& BuildIndexMap(unsigned block) {
  auto built = std::make_unique<TIndexMap>();
  built->fill(0);
  const auto rows = collation::WeightRows();
  const auto first =
      std::lower_bound(rows.begin(), rows.end(), static_cast<char16_t>(block << 8),
                       [](const collation::WeightRow& r, char16_t c) { return r.ch < c; });
  for (auto it = first; it != rows.end() && (it->ch >> 8) == block; ++it) {
    (*built)[it->ch & 0xFF] = static_cast<std::int32_t>(it->weight);
  }
  return *Publish(g_index_maps[block], std::move(built));
}

inline std::int32_t RawWeight(char16_t ch) {
  const TIndexMap* map = g_index_maps[ch >> 8].load(std::memory_order_acquire);
  if (map == nullptr) [[unlikely]]
    map = &BuildIndexMap(ch >> 8);
  return (*map)[ch & 0xFF];
}

int Sign(std::int64_t v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

// The last locale converted and its code page: dictionary reads convert
// word after word in one language.
struct CodePageCache {
  std::uint32_t locale = 0;
  std::uint32_t code_page = 0;
};
thread_local CodePageCache t_code_page_cache;

}  // namespace

std::string LanguageName(std::uint16_t language) {
  char buffer[100];
  const win::DWORD n = win::VerLanguageNameA(language, buffer, sizeof buffer);
  return std::string(buffer, std::min<std::size_t>(n, sizeof buffer - 1));
}

std::uint32_t LocaleToCodePage(std::uint32_t locale) {
  if (t_code_page_cache.code_page != 0 && t_code_page_cache.locale == locale) {
    return t_code_page_cache.code_page;
  }
  char buffer[10];
  const int n =
      win::GetLocaleInfoA(locale, win::LOCALE_IDEFAULTANSICODEPAGE, buffer, sizeof buffer);
  std::string inner;
  if (n == 0) {
    const win::DWORD error = win::GetLastError();
    inner = error == win::ERROR_INVALID_PARAMETER ? LanguageName(locale & 0xFFFF)
                                                  : OSError(error).Message();
  } else {
    const std::string_view text(buffer, static_cast<std::size_t>(n - 1));
    std::uint32_t code_page = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), code_page);
    if (ec == std::errc() && end == text.data() + text.size() && !text.empty()) {
      t_code_page_cache = {locale, code_page};
      return code_page;
    }
    inner = "'" + std::string(text) + "' is not a valid integer value";
  }
  throw Exception("Cannot convert Locale to Codepage: " + inner);
}

std::uint8_t LocaleToCharset(std::uint16_t language) {
  const std::uint16_t primary = language & 0x3FF;
  const std::uint16_t sub = language >> 10;
  if (primary == 4) return sub == 2 ? 134 : 136;           // Chinese: PRC, else Taiwan and others
  if (primary == 18) return sub == 2 ? 130 : 129;          // Korean: Johab, else Wansung
  if (primary == 26) return language == 0x0C1A ? 204 : 0;  // Serbian (Cyrillic), else Latin
  const auto* end = std::end(kLanguageCharsets);
  const auto* it = std::find_if(std::begin(kLanguageCharsets), end,
                                [&](const LanguageCharset& l) { return l.primary == primary; });
  if (it == end) throw Exception("Cannot convert Locale to Charset: " + std::to_string(language));
  return it->charset;
}

WideString AnsiToWide(std::uint32_t locale, std::string_view s) {
  if (s.empty()) return {};
  const win::UINT code_page = LocaleToCodePage(locale);
  if (s.size() > static_cast<std::size_t>(INT_MAX)) throw OSError(win::ERROR_INVALID_PARAMETER);
  // Zero-filled: a double-byte page yields fewer characters than bytes, and
  // the positions past them stay U+0000.
  WideString w(s.size(), u'\0');
  const int len = static_cast<int>(s.size());
  if (win::MultiByteToWideChar(code_page, 0, s.data(), len, w.data(), len) == 0) {
    RaiseLastOSError();
  }
  return w;
}

bool WideToAnsi(std::uint32_t locale, WideView w, std::string& s) {
  if (w.empty()) {
    s.clear();
    return true;
  }
  const win::UINT code_page = LocaleToCodePage(locale);
  if (w.size() > static_cast<std::size_t>(INT_MAX)) throw OSError(win::ERROR_INVALID_PARAMETER);
  const int len = static_cast<int>(w.size());
  s.assign(w.size(), '\0');
  win::BOOL used_default = win::FALSE;
  // A single-byte page gives exactly one byte per character.
  const int needed =
      win::IsDoubleByteCodePage(code_page)
          ? win::WideCharToMultiByte(code_page, 0, w.data(), len, nullptr, 0, nullptr, nullptr)
          : len;
  if (needed == 0) RaiseLastOSError();
  if (needed <= len) {
    if (win::WideCharToMultiByte(code_page, 0, w.data(), len, s.data(), len, nullptr,
                                 &used_default) == 0) {
      RaiseLastOSError();
    }
    return used_default == win::FALSE;
  }
  // A double-byte page needs more bytes than there are characters: keep the
  // whole characters that fit, zero-fill the rest. Characters left out count
  // as lost unless they are U+0000 (the padding AnsiToWide adds).
  std::size_t filled = 0;
  bool complete = true;
  for (std::size_t i = 0; i < w.size(); ++i) {
    char bytes[2];
    win::BOOL unit_default = win::FALSE;
    const int n =
        win::WideCharToMultiByte(code_page, 0, &w[i], 1, bytes, 2, nullptr, &unit_default);
    if (n == 0) RaiseLastOSError();
    if (filled + static_cast<std::size_t>(n) > s.size()) {
      complete = complete && std::all_of(w.begin() + static_cast<std::ptrdiff_t>(i), w.end(),
                                         [](char16_t c) { return c == 0; });
      break;
    }
    if (unit_default) complete = false;
    std::copy(bytes, bytes + n, s.begin() + static_cast<std::ptrdiff_t>(filled));
    filled += static_cast<std::size_t>(n);
  }
  return complete;
}

std::string PackWide(WideView w) {
  std::string s(w.size() * 2, '\0');
  for (std::size_t i = 0; i < w.size(); ++i) {
    const char16_t c = w[i];
    s[2 * i] = static_cast<char>(c & 0xFF);
    const auto high = static_cast<std::uint8_t>(c >> 8);
    s[2 * i + 1] = static_cast<char>(high == 0 ? 0xF1 : high);
  }
  return s;
}

WideString UnpackWide(std::string_view s) {
  WideString w(s.size() / 2, u'\0');
  for (std::size_t i = 0; i < w.size(); ++i) {
    const auto low = static_cast<std::uint8_t>(s[2 * i]);
    auto high = static_cast<std::uint8_t>(s[2 * i + 1]);
    if (high == 0xF1) high = 0;
    w[i] = static_cast<char16_t>(high << 8 | low);
  }
  return w;
}

bool CharToAnsi(char16_t ch, std::uint8_t& charset, std::uint8_t& byte) {
  const CharBlock& block = CharBlockFor(ch);
  charset = block.charsets[ch & 0xFF];
  byte = block.bytes[ch & 0xFF];
  return byte != '?' || ch == u'?';
}

std::int32_t CharWeight(char16_t ch, std::uint32_t mask) {
  return RawWeight(ch) & static_cast<std::int32_t>(mask | collation::kPrimaryBits);
}

int CompareWeighted(WideView a, WideView b, std::uint32_t mask) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    // Weights belong to single characters: equal ones weigh the same.
    if (a[i] == b[i]) continue;
    const std::int32_t wa = CharWeight(a[i], mask);
    const std::int32_t wb = CharWeight(b[i], mask);
    if (wa != wb) return wa < wb ? -1 : 1;
  }
  return Sign(static_cast<std::int64_t>(a.size()) - static_cast<std::int64_t>(b.size()));
}

int CompareWords(WideView a, WideView b) {
  // One pass for both strengths: the first primary difference decides;
  // without one, the length; at equal lengths, the first case difference.
  constexpr auto kPrimary = static_cast<std::int32_t>(collation::kPrimaryBits);
  constexpr auto kCase = static_cast<std::int32_t>(collation::kPrimaryBits | kWeightCase);
  const std::size_t n = std::min(a.size(), b.size());
  int by_case = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;
    const std::int32_t wa = RawWeight(a[i]);
    const std::int32_t wb = RawWeight(b[i]);
    if ((wa & kPrimary) != (wb & kPrimary)) return (wa & kPrimary) < (wb & kPrimary) ? -1 : 1;
    if (by_case == 0 && (wa & kCase) != (wb & kCase))
      by_case = (wa & kCase) < (wb & kCase) ? -1 : 1;
  }
  const int by_length =
      Sign(static_cast<std::int64_t>(a.size()) - static_cast<std::int64_t>(b.size()));
  return by_length != 0 ? by_length : by_case;
}

}  // namespace vandrel
