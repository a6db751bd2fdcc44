// Choosing a dictionary language from its text: for every single-byte code
// page that a dictionary language can have, how many characters of the text
// beyond ASCII it holds. The language of the code page holding the most
// wins (on a tie, the earlier row of the list below).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "dictionary/charmap.h"

namespace vandrel::tools {

class CodePageCounter {
 public:
  // The code pages counted, in order of preference, and the language each
  // stands for: 1252 English, 1251 Russian, 1250 Czech, 1253 Greek,
  // 1254 Turkish, 1257 Lithuanian, 1255 Hebrew, 1256 Arabic.
  static constexpr std::size_t kPages = 8;
  static const std::array<std::uint16_t, kPages>& Languages();

  // Counts the characters of text from U+0080 up (marks and ASCII are in
  // every code page and tell nothing).
  void Add(WideView text);
  // Characters counted so far, and how many of them each page holds.
  std::size_t Counted() const { return counted_; }
  std::size_t Held(std::size_t page) const { return held_[page]; }
  // The language whose code page holds the most counted characters;
  // nullopt when no page holds any.
  std::optional<std::uint16_t> Best() const;
  // How many counted characters the code page of language holds (0 for a
  // language whose page is not counted).
  std::size_t HeldBy(std::uint16_t language) const;

 private:
  std::array<std::size_t, kPages> held_{};
  std::size_t counted_ = 0;
};

// "Russian": the platform's name of the language without its country.
std::string LanguageShortLabel(std::uint16_t language);

}  // namespace vandrel::tools
