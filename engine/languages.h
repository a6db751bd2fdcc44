// The engine's language and sort names: the 99 names a table's locale is
// chosen by (CREATE TABLE's LANGUAGE and SORT options, the dataset layer),
// each standing for a Windows language identifier, and the sort names each
// language offers. Names compare case-insensitively (ASCII letters).
// Every listed identifier is a locale the platform knows (tests keep it so),
// so a table of any listed language can be created and compared.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace vandrel::engine {

struct LanguageName {
  std::string_view name;
  std::uint16_t id;  // 0 for "ANSI Standard": no locale, bytewise order
};

// The list in its fixed order: "ANSI Standard" first, then the 98 languages.
std::span<const LanguageName> Languages();

// The identifier of a language name; nullopt when it is not listed.
std::optional<std::uint16_t> LanguageIdByName(std::string_view name);
// The first listed name of an identifier; empty when none is listed.
std::string_view LanguageNameById(std::uint16_t id);
bool IsKnownLanguageName(std::string_view name);

// "Default Order" for every language; the five German languages also offer
// "German Phone Book Order". Both give sort identifier 0.
constexpr std::string_view kDefaultOrder = "Default Order";
constexpr std::string_view kGermanPhoneBookOrder = "German Phone Book Order";
// The sort identifier of a sort name offered for the language; nullopt when
// the language does not offer it.
std::optional<std::uint16_t> SortIdByName(std::uint16_t language, std::string_view sort);
bool IsSortOffered(std::uint16_t language, std::string_view sort);

}  // namespace vandrel::engine
