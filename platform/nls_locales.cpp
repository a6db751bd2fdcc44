// The locale table: every language Vandrel meets with its ANSI code page and
// names, and the calls that read it (GetLocaleInfoA, IsValidLocale, the
// default language, VerLanguageNameA, GetACP).
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/error.h"
#include "platform/nls_internal.h"

namespace vandrel::win {
namespace {

struct LocaleEntry {
  LANGID id;
  UINT ansi_code_page;
  const char* iso_language;  // ISO 639-1
  const char* iso_country;   // ISO 3166-1
  const char* language;      // English name of the language
  const char* country;       // English name of the country or region
  const char* name;          // full name when not "language (country)"
};

// Sorted by language identifier.
constexpr LocaleEntry kLocales[] = {
    {0x0401, 1256, "ar", "SA", "Arabic", "Saudi Arabia", nullptr},
    {0x0402, 1251, "bg", "BG", "Bulgarian", "Bulgaria", nullptr},
    {0x0403, 1252, "ca", "ES", "Catalan", "Spain", nullptr},
    {0x0404, 950, "zh", "TW", "Chinese", "Taiwan", nullptr},
    {0x0405, 1250, "cs", "CZ", "Czech", "Czech Republic", nullptr},
    {0x0406, 1252, "da", "DK", "Danish", "Denmark", nullptr},
    {0x0407, 1252, "de", "DE", "German", "Germany", nullptr},
    {0x0408, 1253, "el", "GR", "Greek", "Greece", nullptr},
    {0x0409, 1252, "en", "US", "English", "United States", nullptr},
    {0x040A, 1252, "es", "ES", "Spanish", "Spain", "Spanish (Traditional Sort)"},
    {0x040B, 1252, "fi", "FI", "Finnish", "Finland", nullptr},
    {0x040C, 1252, "fr", "FR", "French", "France", nullptr},
    {0x040D, 1255, "he", "IL", "Hebrew", "Israel", nullptr},
    {0x040E, 1250, "hu", "HU", "Hungarian", "Hungary", nullptr},
    {0x040F, 1252, "is", "IS", "Icelandic", "Iceland", nullptr},
    {0x0410, 1252, "it", "IT", "Italian", "Italy", nullptr},
    {0x0411, 932, "ja", "JP", "Japanese", "Japan", nullptr},
    {0x0412, 949, "ko", "KR", "Korean", "Korea", nullptr},
    {0x0413, 1252, "nl", "NL", "Dutch", "Netherlands", nullptr},
    {0x0414, 1252, "nb", "NO", "Norwegian", "Norway", "Norwegian (Bokmal)"},
    {0x0415, 1250, "pl", "PL", "Polish", "Poland", nullptr},
    {0x0416, 1252, "pt", "BR", "Portuguese", "Brazil", nullptr},
    {0x0418, 1250, "ro", "RO", "Romanian", "Romania", nullptr},
    {0x0419, 1251, "ru", "RU", "Russian", "Russia", nullptr},
    {0x041A, 1250, "hr", "HR", "Croatian", "Croatia", nullptr},
    {0x041B, 1250, "sk", "SK", "Slovak", "Slovakia", nullptr},
    {0x041C, 1250, "sq", "AL", "Albanian", "Albania", nullptr},
    {0x041D, 1252, "sv", "SE", "Swedish", "Sweden", nullptr},
    {0x041E, 874, "th", "TH", "Thai", "Thailand", nullptr},
    {0x041F, 1254, "tr", "TR", "Turkish", "Turkey", nullptr},
    {0x0420, 1256, "ur", "PK", "Urdu", "Pakistan", nullptr},
    {0x0421, 1252, "id", "ID", "Indonesian", "Indonesia", nullptr},
    {0x0422, 1251, "uk", "UA", "Ukrainian", "Ukraine", nullptr},
    {0x0423, 1251, "be", "BY", "Belarusian", "Belarus", nullptr},
    {0x0424, 1250, "sl", "SI", "Slovenian", "Slovenia", nullptr},
    {0x0425, 1257, "et", "EE", "Estonian", "Estonia", nullptr},
    {0x0426, 1257, "lv", "LV", "Latvian", "Latvia", nullptr},
    {0x0427, 1257, "lt", "LT", "Lithuanian", "Lithuania", nullptr},
    {0x0429, 1256, "fa", "IR", "Farsi", "Iran", nullptr},
    {0x042A, 1258, "vi", "VN", "Vietnamese", "Vietnam", nullptr},
    {0x042C, 1254, "az", "AZ", "Azeri", "Azerbaijan", "Azeri (Latin)"},
    {0x042D, 1252, "eu", "ES", "Basque", "Spain", nullptr},
    {0x042F, 1251, "mk", "MK", "Macedonian", "Macedonia", nullptr},
    {0x0436, 1252, "af", "ZA", "Afrikaans", "South Africa", nullptr},
    {0x0438, 1252, "fo", "FO", "Faeroese", "Faeroe Islands", nullptr},
    {0x043E, 1252, "ms", "MY", "Malay", "Malaysia", nullptr},
    {0x043F, 1251, "kk", "KZ", "Kazakh", "Kazakhstan", nullptr},
    {0x0440, 1251, "ky", "KG", "Kyrgyz", "Kyrgyzstan", nullptr},
    {0x0441, 1252, "sw", "KE", "Swahili", "Kenya", nullptr},
    {0x0443, 1254, "uz", "UZ", "Uzbek", "Uzbekistan", "Uzbek (Latin)"},
    {0x0444, 1251, "tt", "RU", "Tatar", "Russia", nullptr},
    {0x0450, 1251, "mn", "MN", "Mongolian", "Mongolia", nullptr},
    {0x0456, 1252, "gl", "ES", "Galician", "Spain", nullptr},
    {0x0801, 1256, "ar", "IQ", "Arabic", "Iraq", nullptr},
    {0x0804, 936, "zh", "CN", "Chinese", "People's Republic of China", nullptr},
    {0x0807, 1252, "de", "CH", "German", "Switzerland", nullptr},
    {0x0809, 1252, "en", "GB", "English", "United Kingdom", nullptr},
    {0x080A, 1252, "es", "MX", "Spanish", "Mexico", nullptr},
    {0x080C, 1252, "fr", "BE", "French", "Belgium", nullptr},
    {0x0810, 1252, "it", "CH", "Italian", "Switzerland", nullptr},
    {0x0813, 1252, "nl", "BE", "Dutch", "Belgium", nullptr},
    {0x0814, 1252, "nn", "NO", "Norwegian", "Norway", "Norwegian (Nynorsk)"},
    {0x0816, 1252, "pt", "PT", "Portuguese", "Portugal", nullptr},
    {0x081A, 1250, "sr", "RS", "Serbian", "Serbia", "Serbian (Latin)"},
    {0x081D, 1252, "sv", "FI", "Swedish", "Finland", nullptr},
    {0x082C, 1251, "az", "AZ", "Azeri", "Azerbaijan", "Azeri (Cyrillic)"},
    {0x083E, 1252, "ms", "BN", "Malay", "Brunei Darussalam", nullptr},
    {0x0843, 1251, "uz", "UZ", "Uzbek", "Uzbekistan", "Uzbek (Cyrillic)"},
    {0x0C01, 1256, "ar", "EG", "Arabic", "Egypt", nullptr},
    {0x0C04, 950, "zh", "HK", "Chinese", "Hong Kong S.A.R.", nullptr},
    {0x0C07, 1252, "de", "AT", "German", "Austria", nullptr},
    {0x0C09, 1252, "en", "AU", "English", "Australia", nullptr},
    {0x0C0A, 1252, "es", "ES", "Spanish", "Spain", "Spanish (International Sort)"},
    {0x0C0C, 1252, "fr", "CA", "French", "Canada", nullptr},
    {0x0C1A, 1251, "sr", "RS", "Serbian", "Serbia", "Serbian (Cyrillic)"},
    {0x1001, 1256, "ar", "LY", "Arabic", "Libya", nullptr},
    {0x1004, 936, "zh", "SG", "Chinese", "Singapore", nullptr},
    {0x1007, 1252, "de", "LU", "German", "Luxembourg", nullptr},
    {0x1009, 1252, "en", "CA", "English", "Canada", nullptr},
    {0x100A, 1252, "es", "GT", "Spanish", "Guatemala", nullptr},
    {0x100C, 1252, "fr", "CH", "French", "Switzerland", nullptr},
    {0x1401, 1256, "ar", "DZ", "Arabic", "Algeria", nullptr},
    {0x1404, 950, "zh", "MO", "Chinese", "Macao S.A.R.", nullptr},
    {0x1407, 1252, "de", "LI", "German", "Liechtenstein", nullptr},
    {0x1409, 1252, "en", "NZ", "English", "New Zealand", nullptr},
    {0x140A, 1252, "es", "CR", "Spanish", "Costa Rica", nullptr},
    {0x140C, 1252, "fr", "LU", "French", "Luxembourg", nullptr},
    {0x1801, 1256, "ar", "MA", "Arabic", "Morocco", nullptr},
    {0x1809, 1252, "en", "IE", "English", "Ireland", nullptr},
    {0x180A, 1252, "es", "PA", "Spanish", "Panama", nullptr},
    {0x180C, 1252, "fr", "MC", "French", "Monaco", nullptr},
    {0x1C01, 1256, "ar", "TN", "Arabic", "Tunisia", nullptr},
    {0x1C09, 1252, "en", "ZA", "English", "South Africa", nullptr},
    {0x1C0A, 1252, "es", "DO", "Spanish", "Dominican Republic", nullptr},
    {0x2001, 1256, "ar", "OM", "Arabic", "Oman", nullptr},
    {0x2009, 1252, "en", "JM", "English", "Jamaica", nullptr},
    {0x200A, 1252, "es", "VE", "Spanish", "Venezuela", nullptr},
    {0x2401, 1256, "ar", "YE", "Arabic", "Yemen", nullptr},
    {0x2409, 1252, "en", "029", "English", "Caribbean", nullptr},
    {0x240A, 1252, "es", "CO", "Spanish", "Colombia", nullptr},
    {0x2801, 1256, "ar", "SY", "Arabic", "Syria", nullptr},
    {0x2809, 1252, "en", "BZ", "English", "Belize", nullptr},
    {0x280A, 1252, "es", "PE", "Spanish", "Peru", nullptr},
    {0x2C01, 1256, "ar", "JO", "Arabic", "Jordan", nullptr},
    {0x2C09, 1252, "en", "TT", "English", "Trinidad and Tobago", nullptr},
    {0x2C0A, 1252, "es", "AR", "Spanish", "Argentina", nullptr},
    {0x3001, 1256, "ar", "LB", "Arabic", "Lebanon", nullptr},
    {0x3009, 1252, "en", "ZW", "English", "Zimbabwe", nullptr},
    {0x300A, 1252, "es", "EC", "Spanish", "Ecuador", nullptr},
    {0x3401, 1256, "ar", "KW", "Arabic", "Kuwait", nullptr},
    {0x3409, 1252, "en", "PH", "English", "Philippines", nullptr},
    {0x340A, 1252, "es", "CL", "Spanish", "Chile", nullptr},
    {0x3801, 1256, "ar", "AE", "Arabic", "U.A.E.", nullptr},
    {0x380A, 1252, "es", "UY", "Spanish", "Uruguay", nullptr},
    {0x3C01, 1256, "ar", "BH", "Arabic", "Bahrain", nullptr},
    {0x3C0A, 1252, "es", "PY", "Spanish", "Paraguay", nullptr},
    {0x4001, 1256, "ar", "QA", "Arabic", "Qatar", nullptr},
    {0x400A, 1252, "es", "BO", "Spanish", "Bolivia", nullptr},
    {0x440A, 1252, "es", "SV", "Spanish", "El Salvador", nullptr},
    {0x480A, 1252, "es", "HN", "Spanish", "Honduras", nullptr},
    {0x4C0A, 1252, "es", "NI", "Spanish", "Nicaragua", nullptr},
    {0x500A, 1252, "es", "PR", "Spanish", "Puerto Rico", nullptr},
};

constexpr LANGID kEnglishUS = 0x0409;

const LocaleEntry* FindLanguage(LANGID id) {
  const auto* end = std::end(kLocales);
  const auto* it = std::lower_bound(std::begin(kLocales), end, id,
                                    [](const LocaleEntry& e, LANGID v) { return e.id < v; });
  return it != end && it->id == id ? it : nullptr;
}

// Alternative sorts that exist besides sort 0: German phone book order and
// Hungarian technical order (sort identifier 1).
bool SortExists(LANGID lang, DWORD sort) {
  if (sort == 0) return true;
  const LANGID primary = PRIMARYLANGID(lang);
  return sort == 1 && (primary == 0x07 || primary == 0x0E);
}

// The table entry a locale identifier names; the neutral identifiers stand
// for the user's default language.
const LocaleEntry* FindLocale(LCID locale) {
  if ((locale >> 16) == 0) {
    const LANGID lang = LANGIDFROMLCID(locale);
    if (lang == LOCALE_NEUTRAL || lang == LOCALE_USER_DEFAULT || lang == LOCALE_SYSTEM_DEFAULT) {
      return FindLanguage(GetUserDefaultLangID());
    }
  }
  if ((locale >> 20) != 0) return nullptr;
  const LANGID lang = LANGIDFROMLCID(locale);
  if (!SortExists(lang, SORTIDFROMLCID(locale))) return nullptr;
  return FindLanguage(lang);
}

std::string FullName(const LocaleEntry& e) {
  if (e.name != nullptr) return e.name;
  return std::string(e.language) + " (" + e.country + ")";
}

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

std::string Upper(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return r;
}

LANGID DefaultLanguageFromEnvironment() {
  for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(var);
    if (value != nullptr && *value != 0) return LanguageFromPosixLocale(value);
  }
  return kEnglishUS;
}

}  // namespace

LANGID LanguageFromPosixLocale(std::string_view name) {
  // language[_territory][.codeset][@modifier]
  const std::size_t at = name.find('@');
  const std::string modifier = at == std::string_view::npos ? "" : Lower(name.substr(at + 1));
  std::string_view base = name.substr(0, at);
  base = base.substr(0, base.find('.'));
  const std::size_t underscore = base.find('_');
  const std::string language = Lower(base.substr(0, underscore));
  const std::string country =
      underscore == std::string_view::npos ? "" : Upper(base.substr(underscore + 1));
  if (language.empty() || language == "c" || language == "posix") return kEnglishUS;
  if (language == "sr") return modifier == "latin" ? 0x081A : 0x0C1A;
  if (language == "az") return modifier == "cyrillic" ? 0x082C : 0x042C;
  if (language == "uz") return modifier == "cyrillic" ? 0x0843 : 0x0443;
  if (language == "no") return 0x0414;
  if (language == "es" && (country.empty() || country == "ES")) return 0x0C0A;
  if (language == "zh" && country.empty()) return 0x0804;
  const LocaleEntry* fallback = nullptr;
  for (const LocaleEntry& e : kLocales) {
    if (language != e.iso_language) continue;
    if (country == e.iso_country) return e.id;
    if (fallback == nullptr || SUBLANGID(e.id) < SUBLANGID(fallback->id)) fallback = &e;
  }
  return fallback != nullptr ? fallback->id : kEnglishUS;
}

LANGID GetUserDefaultLangID() {
  static const LANGID lang = DefaultLanguageFromEnvironment();
  return lang;
}

LANGID GetSystemDefaultLangID() { return GetUserDefaultLangID(); }
LCID GetUserDefaultLCID() { return MAKELCID(GetUserDefaultLangID(), 0); }
LCID GetSystemDefaultLCID() { return GetUserDefaultLCID(); }

UINT GetACP() {
  const LocaleEntry* e = FindLanguage(GetUserDefaultLangID());
  return e != nullptr ? e->ansi_code_page : 1252;
}

BOOL IsValidLocale(LCID locale, DWORD flags) {
  if (flags != LCID_INSTALLED && flags != LCID_SUPPORTED) return FALSE;
  if ((locale >> 20) != 0) return FALSE;
  const LANGID lang = LANGIDFROMLCID(locale);
  return SortExists(lang, SORTIDFROMLCID(locale)) && FindLanguage(lang) != nullptr ? TRUE : FALSE;
}

int GetLocaleInfoA(LCID locale, LCTYPE type, char* data, int size) {
  if (size < 0 || (size > 0 && data == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const LocaleEntry* e = FindLocale(locale);
  if (e == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string text;
  switch (type & ~LOCALE_NOUSEROVERRIDE) {
    case LOCALE_ILANGUAGE: {
      char buf[8];
      std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(e->id));
      text = buf;
      break;
    }
    case LOCALE_SLANGUAGE:
      text = FullName(*e);
      break;
    case LOCALE_SCOUNTRY:
    case LOCALE_SENGCOUNTRY:
      text = e->country;
      break;
    case LOCALE_SENGLANGUAGE:
      text = e->language;
      break;
    case LOCALE_IDEFAULTANSICODEPAGE:
      text = std::to_string(e->ansi_code_page);
      break;
    case LOCALE_SISO639LANGNAME:
      text = e->iso_language;
      break;
    case LOCALE_SISO3166CTRYNAME:
      text = e->iso_country;
      break;
    default:
      SetLastError(ERROR_INVALID_FLAGS);
      return 0;
  }
  const int needed = static_cast<int>(text.size()) + 1;
  if (size == 0) return needed;
  if (size < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(data, text.c_str(), text.size() + 1);
  return needed;
}

DWORD VerLanguageNameA(DWORD lang, char* buffer, DWORD size) {
  const LocaleEntry* e = lang <= 0xFFFF ? FindLanguage(static_cast<LANGID>(lang)) : nullptr;
  const std::string name = e != nullptr ? FullName(*e) : "Language Neutral";
  if (buffer == nullptr) return static_cast<DWORD>(name.size());
  if (size == 0) return 0;
  const std::size_t n = std::min<std::size_t>(name.size(), size - 1);
  std::memcpy(buffer, name.data(), n);
  buffer[n] = 0;
  return static_cast<DWORD>(n);
}

namespace nls {

UINT LocaleCodePage(LCID locale) {
  const LocaleEntry* e = FindLocale(locale);
  return e != nullptr ? e->ansi_code_page : 0;
}

}  // namespace nls
}  // namespace vandrel::win
