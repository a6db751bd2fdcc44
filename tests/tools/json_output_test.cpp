// The JSON tree of marked-up translations: damaged texts keep every unit
// (a missing closing mark ends its construct, a stray mark is a node of
// its own), characters beyond U+FFFF survive, lone surrogates are replaced.
#include "tools/vandrel/json_output.h"

#include <gtest/gtest.h>

namespace vandrel::cli {
namespace {

constexpr std::uint16_t kEn = 0x0409, kRu = 0x0419;

TEST(JsonOutput, DamagedMarkupKeepsEveryUnit) {
  // Unclosed span, a mark 10 at the top level and in a block, a raw span
  // without its end.
  const Json nodes = MarkupJson(u"\u0005ab\u000A\u000Bx\u0002\u000B\u000Cr", kEn, kRu);
  const Json expected = Json::parse(R"([
    {"type": "span", "kind": "translation", "mark": 5, "language": "ru", "language_id": 1049,
     "children": [{"type": "text", "text": "ab"}]},
    {"type": "mark", "mark": 10},
    {"type": "block", "children": [{"type": "text", "text": "x"}, {"type": "mark", "mark": 2}]},
    {"type": "raw", "text": "r"}])");
  EXPECT_EQ(nodes, expected) << nodes.dump(1);
  // An argument lexeme cut off at the end of the text.
  EXPECT_EQ(MarkupJson(u"\u0001", kEn, kRu),
            Json::parse(R"([{"type": "argument", "mark": 1, "char": ""}])"));
}

TEST(JsonOutput, TextsAreUtf8WithBreaksAsNodes) {
  const Json t = TranslationJson(u"a\r\U0001F600\xD800z", kEn, kRu);
  EXPECT_EQ(t["markup"], Json::parse(R"([{"type": "text", "text": "a"}, {"type": "break"},
                                          {"type": "text", "text": "😀\uFFFDz"}])"));
  EXPECT_EQ(t["text"], "a\n😀\uFFFDz");
  EXPECT_EQ(LanguageJson(kRu)["code"], "ru");
  EXPECT_EQ(LanguageJson(kRu)["id"], 1049);
}

}  // namespace
}  // namespace vandrel::cli
