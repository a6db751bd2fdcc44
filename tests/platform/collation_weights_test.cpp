// The collation weight table: its shape, the controls that weigh their own
// code, and a sample of rows across every kind of character it lists.
#include "platform/collation_weights.h"

#include <gtest/gtest.h>

#include <map>

namespace vandrel::collation {
namespace {

TEST(CollationWeights, TableShape) {
  const auto rows = WeightRows();
  ASSERT_EQ(rows.size(), 524u);
  for (std::size_t i = 1; i < rows.size(); ++i) {
    EXPECT_LT(rows[i - 1].ch, rows[i].ch) << "rows sorted and unique at " << i;
  }
  for (const WeightRow& row : rows) {
    EXPECT_EQ(row.weight & 0x80000000u, 0u) << std::hex << static_cast<int>(row.ch);
    EXPECT_EQ(Weight(row.ch), row.weight);
  }
}

TEST(CollationWeights, ControlsWeighTheirOwnCode) {
  int rule_rows = 0;
  for (const WeightRow& row : WeightRows()) {
    const bool control = row.ch <= 0x08 || (row.ch >= 0x0E && row.ch <= 0x1F) ||
                         (row.ch >= 0x7F && row.ch <= 0x84) || (row.ch >= 0x86 && row.ch <= 0x9F);
    if (control) {
      EXPECT_EQ(row.weight, static_cast<std::uint32_t>(row.ch) << 16)
          << std::hex << static_cast<int>(row.ch);
      ++rule_rows;
    } else {
      EXPECT_NE(row.weight, static_cast<std::uint32_t>(row.ch) << 16)
          << std::hex << static_cast<int>(row.ch);
    }
  }
  EXPECT_EQ(rule_rows, 59);
}

TEST(CollationWeights, SampleRows) {
  const std::map<char16_t, std::uint32_t> sample = {
      {0x0009, 0x02012002}, {0x0020, 0x02092002}, {0x0030, 0x08572002}, {0x0041, 0x08612002},
      {0x005A, 0x0A5F2002}, {0x005E, 0x02093C02}, {0x0061, 0x08612008}, {0x007E, 0x03962002},
      {0x0085, 0x02062002}, {0x00A0, 0x0209201B}, {0x00AA, 0x08612014}, {0x00B5, 0x0AEB2004},
      {0x00C6, 0x08652002}, {0x00E9, 0x08B13208}, {0x00FF, 0x0A534708}, {0x0130, 0x091F5208},
      {0x0131, 0x09232002}, {0x0178, 0x0A534702}, {0x0192, 0x08E12002}, {0x02DD, 0x02094D02},
      {0x0390, 0x0AE74802}, {0x03C2, 0x0AF22019}, {0x03CE, 0x0AF83208}, {0x0401, 0x0B3D4702},
      {0x0416, 0x0B492002}, {0x044F, 0x0C812008}, {0x0490, 0x0B21550A}, {0x0491, 0x0B215504},
      {0x2013, 0x02132002}, {0x2030, 0x02982002}, {0x20AC, 0x083E2002},
  };
  for (const auto& [ch, weight] : sample) {
    EXPECT_EQ(Weight(ch), weight) << std::hex << static_cast<int>(ch);
  }
  // Unlisted characters weigh 0: the sharp s, CJK, the replacement character.
  for (char16_t ch : {u'\u00DF', u'\u4E00', u'\uFFFD', u'\u0185'}) {
    EXPECT_EQ(Weight(ch), 0u) << std::hex << static_cast<int>(ch);
  }
}

TEST(CollationWeights, CompareLevelMasks) {
  EXPECT_EQ(CompareLevel(u"e", u"\u00E9", 0), 0);
  EXPECT_EQ(CompareLevel(u"e", u"\u00E9", kDiacriticBits), -1);
  EXPECT_EQ(CompareLevel(u"abc", u"ABC", kCaseBits), 1);
  EXPECT_EQ(CompareLevel(u"abc", u"ABC", 0), 0);
  EXPECT_EQ(CompareLevel(u"ab", u"abc", kCaseBits), -1);
  EXPECT_EQ(CompareLevel(u"", u"", 0), 0);
  EXPECT_EQ(CompareLevel(u"\u4E00", u"\x01", 0), -1);
}

}  // namespace
}  // namespace vandrel::collation
