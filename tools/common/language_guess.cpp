// Counting the characters each code page holds.
#include "tools/common/language_guess.h"

#include <memory>
#include <string>

namespace vandrel::tools {
namespace {

constexpr std::array<std::uint16_t, CodePageCounter::kPages> kLanguages = {
    0x0409, 0x0419, 0x0405, 0x0408, 0x041F, 0x0427, 0x040D, 0x0401};

// Bit p set: the code page of kLanguages[p] has a byte that reads back as
// the character. Built once from the conversions themselves.
const std::array<std::uint8_t, 65536>& Membership() {
  static const std::unique_ptr<std::array<std::uint8_t, 65536>> table = [] {
    auto t = std::make_unique<std::array<std::uint8_t, 65536>>();
    t->fill(0);
    for (std::size_t p = 0; p < kLanguages.size(); ++p) {
      for (int b = 0x80; b < 256; ++b) {
        const WideString w = AnsiToWide(kLanguages[p], std::string(1, static_cast<char>(b)));
        if (w.size() != 1 || w[0] < 0x80) continue;
        std::string back;
        if (WideToAnsi(kLanguages[p], w, back) && back == std::string(1, static_cast<char>(b)))
          (*t)[w[0]] |= static_cast<std::uint8_t>(1u << p);
      }
    }
    return t;
  }();
  return *table;
}

}  // namespace

const std::array<std::uint16_t, CodePageCounter::kPages>& CodePageCounter::Languages() {
  return kLanguages;
}

void CodePageCounter::Add(WideView text) {
  const auto& member = Membership();
  for (char16_t u : text) {
    if (u < 0x80) continue;
    ++counted_;
    const std::uint8_t bits = member[u];
    if (bits == 0) continue;
    for (std::size_t p = 0; p < kPages; ++p) held_[p] += (bits >> p) & 1;
  }
}

std::optional<std::uint16_t> CodePageCounter::Best() const {
  std::size_t best = 0;
  for (std::size_t p = 1; p < kPages; ++p)
    if (held_[p] > held_[best]) best = p;
  if (held_[best] == 0) return std::nullopt;
  return kLanguages[best];
}

std::size_t CodePageCounter::HeldBy(std::uint16_t language) const {
  const std::uint32_t page = LocaleToCodePage(language);
  for (std::size_t p = 0; p < kPages; ++p)
    if (LocaleToCodePage(kLanguages[p]) == page) return held_[p];
  return 0;
}

std::string LanguageShortLabel(std::uint16_t language) {
  std::string name;
  try {
    name = LanguageName(language);
  } catch (const std::exception&) {
  }
  if (const auto paren = name.find(" ("); paren != std::string::npos) name.resize(paren);
  return name.empty() ? "language" : name;
}

}  // namespace vandrel::tools
