// Language names and checks for the tools.
#include "tools/common/languages.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "dictionary/charmap.h"
#include "platform/exceptions.h"

namespace vandrel::tools {
namespace {

struct KnownLanguage {
  const char* name;
  std::uint16_t id;
};

struct LongName {
  const char* name;
  const char* short_name;
};

// Primary languages with their default sublanguage.
constexpr KnownLanguage kKnown[] = {
    {"ar", 0x0401}, {"bg", 0x0402}, {"ca", 0x0403}, {"cs", 0x0405}, {"da", 0x0406}, {"de", 0x0407},
    {"el", 0x0408}, {"en", 0x0409}, {"es", 0x0C0A}, {"fi", 0x040B}, {"fr", 0x040C}, {"he", 0x040D},
    {"hu", 0x040E}, {"is", 0x040F}, {"it", 0x0410}, {"ja", 0x0411}, {"ko", 0x0412}, {"nl", 0x0413},
    {"no", 0x0414}, {"pl", 0x0415}, {"pt", 0x0816}, {"ro", 0x0418}, {"ru", 0x0419}, {"hr", 0x041A},
    {"sk", 0x041B}, {"sq", 0x041C}, {"sv", 0x041D}, {"th", 0x041E}, {"tr", 0x041F}, {"id", 0x0421},
    {"uk", 0x0422}, {"be", 0x0423}, {"sl", 0x0424}, {"et", 0x0425}, {"lv", 0x0426}, {"lt", 0x0427},
    {"fa", 0x0429}, {"eu", 0x042D}, {"mk", 0x042F}, {"af", 0x0436}, {"fo", 0x0438}, {"zh", 0x0804},
};

// Three-letter codes (terminology and bibliographic forms).
constexpr LongName kLong[] = {
    {"ara", "ar"}, {"bul", "bg"}, {"cat", "ca"}, {"ces", "cs"}, {"cze", "cs"}, {"dan", "da"},
    {"deu", "de"}, {"ger", "de"}, {"ell", "el"}, {"gre", "el"}, {"eng", "en"}, {"spa", "es"},
    {"fin", "fi"}, {"fra", "fr"}, {"fre", "fr"}, {"heb", "he"}, {"hun", "hu"}, {"isl", "is"},
    {"ice", "is"}, {"ita", "it"}, {"jpn", "ja"}, {"kor", "ko"}, {"nld", "nl"}, {"dut", "nl"},
    {"nor", "no"}, {"nob", "no"}, {"pol", "pl"}, {"por", "pt"}, {"ron", "ro"}, {"rum", "ro"},
    {"rus", "ru"}, {"hrv", "hr"}, {"slk", "sk"}, {"slo", "sk"}, {"sqi", "sq"}, {"alb", "sq"},
    {"swe", "sv"}, {"tha", "th"}, {"tur", "tr"}, {"ind", "id"}, {"ukr", "uk"}, {"bel", "be"},
    {"slv", "sl"}, {"est", "et"}, {"lav", "lv"}, {"lit", "lt"}, {"fas", "fa"}, {"per", "fa"},
    {"eus", "eu"}, {"baq", "eu"}, {"mkd", "mk"}, {"mac", "mk"}, {"afr", "af"}, {"fao", "fo"},
    {"zho", "zh"}, {"chi", "zh"},
};

std::optional<std::uint16_t> FindName(const std::string& t) {
  for (const auto& k : kKnown) {
    if (t == k.name) return k.id;
  }
  for (const auto& l : kLong) {
    if (t == l.name) return FindName(l.short_name);
  }
  return std::nullopt;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::uint16_t ParseLanguage(const std::string& text) {
  std::string t = Lower(text);
  if (auto id = FindName(t)) return *id;
  if (!t.empty() && std::isdigit(static_cast<unsigned char>(t[0]))) {
    char* end = nullptr;
    unsigned long v = std::strtoul(t.c_str(), &end, 0);  // "0x0419" or "1049"
    if (end && *end == 0 && v > 0 && v <= 0xFFFF) return static_cast<std::uint16_t>(v);
  }
  throw Exception("unknown language '" + text +
                  "' (use a name such as en, ru, de or an "
                  "identifier such as 0x0409)");
}

std::optional<std::pair<std::uint16_t, std::uint16_t>> LanguagesFromName(const std::string& base) {
  std::string t = Lower(base);
  std::size_t second = t.rfind('-');
  if (second == std::string::npos || second == 0) return std::nullopt;
  std::size_t first = t.rfind('-', second - 1);
  first = first == std::string::npos ? 0 : first + 1;
  auto a = FindName(t.substr(first, second - first));
  auto b = FindName(t.substr(second + 1));
  if (!a || !b) return std::nullopt;
  return std::make_pair(*a, *b);
}

std::string LanguageShortName(std::uint16_t language) {
  for (const auto& k : kKnown) {
    if (k.id == language) return k.name;
  }
  // Another sublanguage of a known primary language.
  for (const auto& k : kKnown) {
    if ((k.id & 0x3FF) == (language & 0x3FF)) return k.name;
  }
  return {};
}

std::string LanguageLabel(std::uint16_t language) {
  char id[16];
  std::snprintf(id, sizeof id, "0x%04X", language);
  std::string label = id;
  std::string s = LanguageShortName(language);
  if (!s.empty()) label += " " + s;
  std::string name;
  try {
    name = LanguageName(language);
  } catch (const std::exception&) {
  }
  if (!name.empty()) label += " (" + name + ")";
  return label;
}

void CheckDictionaryLanguage(std::uint16_t language) {
  std::uint32_t cp = LocaleToCodePage(language);  // raises for unknown languages
  LocaleToCharset(language);
  if (cp == 932 || cp == 936 || cp == 949 || cp == 950) {
    throw Exception("language " + LanguageLabel(language) + " uses the double-byte code page " +
                    std::to_string(cp) +
                    "; dictionaries in Chinese, Japanese or Korean are not "
                    "supported by this tool yet");
  }
}

}  // namespace vandrel::tools
