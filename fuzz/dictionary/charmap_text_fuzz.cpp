// Fuzz target: language-dependent text conversion on arbitrary bytes. The
// first byte picks a language (single- and double-byte code pages), the
// rest is text in its code page. Checks the length rules and the byte
// round trip of AnsiToWide / WideToAnsi, that the locale comparison is
// antisymmetric and agrees with CompareWords, that case mapping stays in
// its buffer, and that packed wide strings unpack to themselves.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "dictionary/charmap.h"
#include "platform/nls.h"

namespace {

constexpr std::uint16_t kLanguages[] = {0x0409, 0x0419, 0x0405, 0x0408, 0x041F, 0x040D, 0x0401,
                                        0x0425, 0x041E, 0x042A, 0x0411, 0x0412, 0x0804, 0x0404};

bool IsDoubleByte(std::uint16_t lang) {
  return lang == 0x0411 || lang == 0x0412 || lang == 0x0804 || lang == 0x0404;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vandrel;
  if (size < 1 || size > 4096) return 0;
  const std::uint16_t lang = kLanguages[data[0] % std::size(kLanguages)];
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  const WideString wide = AnsiToWide(lang, text);
  if (wide.size() != text.size()) std::abort();
  std::string back;
  const bool complete = WideToAnsi(lang, wide, back);
  if (back.size() != wide.size()) std::abort();
  if (!IsDoubleByte(lang) && (!complete || back != text)) std::abort();

  if (UnpackWide(PackWide(wide)).size() != wide.size()) std::abort();

  const std::size_t half = text.size() / 2;
  const std::string a = text.substr(0, half), b = text.substr(half);
  const int ab =
      win::CompareStringA(lang, win::NORM_IGNORENONSPACE, a.data(), static_cast<int>(a.size()),
                          b.data(), static_cast<int>(b.size()));
  const int ba =
      win::CompareStringA(lang, win::NORM_IGNORENONSPACE, b.data(), static_cast<int>(b.size()),
                          a.data(), static_cast<int>(a.size()));
  if (ab == 0 || ab + ba != 4) std::abort();
  if (!IsDoubleByte(lang) && ab - 2 != CompareWords(AnsiToWide(lang, a), AnsiToWide(lang, b))) {
    std::abort();
  }

  if (!text.empty()) {
    const int n = static_cast<int>(text.size());
    const int needed = win::LCMapStringA(lang, win::LCMAP_UPPERCASE, text.data(), n, nullptr, 0);
    if (needed <= 0) std::abort();
    std::string upper(static_cast<std::size_t>(needed), '\0');
    if (win::LCMapStringA(lang, win::LCMAP_UPPERCASE, text.data(), n, upper.data(), needed) !=
        needed) {
      std::abort();
    }
    if (!IsDoubleByte(lang) && upper.size() != text.size()) std::abort();
  }
  return 0;
}
