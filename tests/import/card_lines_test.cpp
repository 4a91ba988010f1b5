// The card import split: which pasted lines become cards and which stay in
// the box.
#include "import/card_lines.h"

#include <gtest/gtest.h>

#include <ostream>

#include "text/gbk.h"

namespace autodeliver {
namespace {

struct SplitCase {
  const char* name;
  std::string text;
  std::vector<ImportedCard> cards;
  std::string leftover;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }

class SplitCardLinesTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitCardLinesTest, CardsAndLeftover) {
  const SplitCase& c = GetParam();
  const CardImportSplit split = SplitCardLines(c.text);
  EXPECT_EQ(split.cards, c.cards);
  EXPECT_EQ(split.leftover, c.leftover);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SplitCardLinesTest,
    testing::Values(
        SplitCase{"PasswordKeepsItsSpaces", "A1 P1\r\nA2 P2 x\r\n", {{"A1", "P1"}, {"A2", "P2 x"}}, ""},
        SplitCase{"LastLineWithoutBreakIsImported",
                  "A1 P1\r\nA2 P2\r\nA3 P3",
                  {{"A1", "P1"}, {"A2", "P2"}, {"A3", "P3"}},
                  ""},
        SplitCase{"SingleLine", "S1 P1", {{"S1", "P1"}}, ""},
        SplitCase{"LeadingSpaceGivesEmptyNumber", " P1\r\nA2 P2\r\n", {{"", "P1"}, {"A2", "P2"}}, ""},
        SplitCase{"LineWithoutSpaceStaysAndIsNotGlued",
                  "A1\r\nA2 P2\r\nA3 P3\r\n",
                  {{"A2", "P2"}, {"A3", "P3"}},
                  "A1"},
        SplitCase{"AllKeptLinesInOrder", "x\r\nA P\r\ny", {{"A", "P"}}, "x\r\ny"},
        SplitCase{"BlankLinesAreDropped",
                  "A1 P1\r\n\r\n \xA1\xA1 \r\nA2 P2\r\n\r\n",
                  {{"A1", "P1"}, {"A2", "P2"}},
                  ""},
        SplitCase{"FullWidthSpaceDoesNotSplit", "A1\xA1\xA1P1\r\n", {}, "A1\xA1\xA1P1"},
        SplitCase{"ZeroPasswordIsKept", "A1 0\r\n", {{"A1", "0"}}, ""},
        SplitCase{"TabIsContentNotSeparator", "A1\tP1\r\nB\tQ x\r\n", {{"B\tQ", "x"}}, "A1\tP1"},
        SplitCase{"EmptyText", "", {}, ""}),
    [](const testing::TestParamInfo<SplitCase>& info) { return std::string(info.param.name); });

TEST(SplitCardLinesGbk, DoubleByteTextSplitsOnTheAsciiSpaceOnly) {
  const std::string text = "卡号一 密码 二\r\n只有卡号\r\n"_gbk;
  const CardImportSplit split = SplitCardLines(text);
  ASSERT_EQ(split.cards.size(), 1u);
  EXPECT_EQ(split.cards[0].cardNumber, "卡号一"_gbk);
  EXPECT_EQ(split.cards[0].cardPassword, "密码 二"_gbk);
  EXPECT_EQ(split.leftover, "只有卡号"_gbk);
}

TEST(WithCrLfLineEnds, EveryLineEndBecomesCrLf) {
  EXPECT_EQ(WithCrLfLineEnds("a\nb"), "a\r\nb");
  EXPECT_EQ(WithCrLfLineEnds("a\r\nb\r\n"), "a\r\nb\r\n");
  EXPECT_EQ(WithCrLfLineEnds("a\rb\n\nc"), "a\r\nb\r\n\r\nc");
  EXPECT_EQ(WithCrLfLineEnds("no break"), "no break");
}

}  // namespace
}  // namespace autodeliver
