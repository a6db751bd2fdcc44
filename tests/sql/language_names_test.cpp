// The engine's language and sort names: the fixed list, its identifiers,
// and that the platform knows every listed locale (a table of any listed
// language can be created and compared).
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "dictionary/charmap.h"
#include "engine/languages.h"
#include "platform/nls.h"

namespace vandrel::engine {
namespace {

TEST(LanguageNames, ListOrderAndIdentifiers) {
  const auto list = Languages();
  ASSERT_EQ(list.size(), 99u);
  EXPECT_EQ(list.front().name, "ANSI Standard");
  EXPECT_EQ(list.front().id, 0);
  EXPECT_EQ(list.back().name, "Vietnamese");
  EXPECT_EQ(LanguageIdByName("English (USA)"), 0x0409);
  EXPECT_EQ(LanguageIdByName("german (standard)"), 0x0407);
  EXPECT_EQ(LanguageIdByName("Portuguese (Standard)"), 0x0816);
  EXPECT_EQ(LanguageIdByName("Portuguese (Brazilian)"), 0x0416);
  EXPECT_EQ(LanguageIdByName("Spanish (Castilian)"), 0x040A);
  EXPECT_EQ(LanguageIdByName("Spanish (Modern)"), 0x0C0A);
  EXPECT_EQ(LanguageIdByName("Arabic (Qatar)"), 0x4001);
  EXPECT_EQ(LanguageIdByName("Ukranian"), 0x0422);
  EXPECT_FALSE(LanguageIdByName("Ukrainian"));
  EXPECT_FALSE(LanguageIdByName("English"));
  EXPECT_FALSE(IsKnownLanguageName(""));

  std::set<std::string> names;
  std::set<std::uint16_t> ids;
  for (const LanguageName& l : list) {
    std::string lower(l.name);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(names.insert(lower).second) << l.name;
    EXPECT_TRUE(ids.insert(l.id).second) << l.name;
    EXPECT_EQ(LanguageNameById(l.id), l.name);
  }
  EXPECT_EQ(LanguageNameById(0x0411), "");  // Japanese is not listed
}

TEST(LanguageNames, PlatformKnowsEveryListedLocale) {
  for (const LanguageName& l : Languages()) {
    if (l.id == 0) continue;
    SCOPED_TRACE(std::string(l.name));
    EXPECT_TRUE(win::IsValidLocale(win::MAKELCID(l.id, 0), win::LCID_INSTALLED));
    EXPECT_NO_THROW(LocaleToCodePage(l.id));
    const char a[] = "abc", b[] = "abd";
    EXPECT_EQ(win::CompareStringA(win::MAKELCID(l.id, 0), win::NORM_IGNORENONSPACE, a, 3, b, 3),
              win::CSTR_LESS_THAN);
  }
}

TEST(LanguageNames, SortNames) {
  for (const LanguageName& l : Languages()) {
    EXPECT_EQ(SortIdByName(l.id, "Default Order"), 0) << l.name;
    EXPECT_EQ(SortIdByName(l.id, "DEFAULT ORDER"), 0) << l.name;
    const bool german = std::string(l.name).starts_with("German (");
    EXPECT_EQ(IsSortOffered(l.id, "German Phone Book Order"), german) << l.name;
    if (german) {
      EXPECT_EQ(SortIdByName(l.id, "german phone book order"), 0);
      EXPECT_TRUE(win::IsValidLocale(win::MAKELCID(l.id, 0), win::LCID_INSTALLED));
    }
  }
  EXPECT_FALSE(IsSortOffered(0x0409, "Dictionary Order"));
}

}  // namespace
}  // namespace vandrel::engine
