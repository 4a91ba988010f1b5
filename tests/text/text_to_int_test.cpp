#include "text/text_to_int.h"

#include <gtest/gtest.h>

#include "text/gbk.h"

namespace autodeliver {
namespace {

TEST(TextToInt, LeadingDigitsWithFullWidthFolded) {
  struct Case {
    std::string text;
    int expected;
  } cases[] = {
      {"30", 30},
      {"", 0},
      {"abc", 0},
      {"12abc", 12},
      {"-7", -7},
      {"+5", 5},
      {"  42", 42},
      {"３０"_gbk, 30},
      {"－１２"_gbk, -12},
      {"１2件"_gbk, 12},
      {"件12"_gbk, 0},
      {"99999999999", 2147483647},
      {"-99999999999", -2147483647 - 1},
  };
  for (const auto& c : cases) EXPECT_EQ(TextToInt(c.text), c.expected) << c.text;
}

TEST(FoldFullWidth, OnlyTheFullWidthAsciiRowAndSpace) {
  EXPECT_EQ(FoldFullWidth("ＡＢ１　"_gbk), "AB1 ");
  EXPECT_EQ(FoldFullWidth("宝贝"_gbk), "宝贝"_gbk);
}

}  // namespace
}  // namespace autodeliver
