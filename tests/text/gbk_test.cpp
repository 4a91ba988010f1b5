#include "text/gbk.h"

#include <gtest/gtest.h>

namespace autodeliver {
namespace {

TEST(GbkLiteral, BytesOfTheMarkersThePatternsDependOn) {
  struct Case {
    std::string literal;
    std::string bytes;
  } cases[] = {
      {"×"_gbk, "\xA1\xC1"},
      {"："_gbk, "\xA3\xBA"},
      {"—"_gbk, "\xA1\xAA"},
      {"　"_gbk, "\xA1\xA1"},
      {"亲爱的"_gbk, "\xC7\xD7\xB0\xAE\xB5\xC4"},
      {"宝贝名称"_gbk, "\xB1\xA6\xB1\xB4\xC3\xFB\xB3\xC6"},
      {"abc"_gbk, "abc"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.literal, c.bytes);
}

TEST(GbkConversion, RoundTripsAndRejectsWhatItCannotHold) {
  const std::string utf8 = "店铺发货设置 card-01";
  auto gbk = Utf8ToGbk(utf8);
  ASSERT_TRUE(gbk);
  EXPECT_EQ(GbkToUtf8(*gbk).value_or(""), utf8);
  EXPECT_FALSE(Utf8ToGbk("\xF0\x9F\x98\x80"));  // an emoji has no GBK form
  EXPECT_FALSE(Utf8ToGbk("\xC3"));              // truncated UTF-8
  EXPECT_FALSE(GbkToUtf8("\xB1"));              // a lone lead byte
  EXPECT_EQ(GbkToUtf8Lossy("a\xFF"
                           "b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(Utf8ToGbkLossy("x\xF0\x9F\x98\x80y"), "x?y");
}

TEST(FindText, NeverMatchesOnATrailByte) {
  // "宝" is B1 A6 and "贝" is B1 B4: the byte pair A6 B1 stands across the
  // boundary and must not be found; "\xB4" alone is a trail byte.
  const std::string text = "宝贝"_gbk;
  EXPECT_EQ(FindText(text, "\xA6\xB1"), -1);
  EXPECT_EQ(FindText(text, "\xB4"), -1);
  EXPECT_EQ(FindText(text, "贝"_gbk), 3);
  // "]" (0x5D) is a valid trail byte: inside "�web" style text it must not
  // match, but standing alone it must.
  const std::string withTrail = std::string("\x81\x5D") + "]";
  EXPECT_EQ(FindText(withTrail, "]"), 3);
}

TEST(FindText, PositionsStartsAndCase) {
  struct Case {
    std::string text, pattern;
    long start;
    bool ignoreCase;
    long expected;
  } cases[] = {
      {"abcabc", "bc", 1, false, 2},
      {"abcabc", "bc", 3, false, 5},
      {"abcabc", "BC", 1, false, -1},
      {"abcabc", "BC", 1, true, 2},
      {"abc", "", 1, false, 1},
      {"", "", 1, false, -1},
      {"abc", "abcd", 1, false, -1},
      {"abc", "c", 9, false, -1},
      {"\xC4\xE3"
       "A",
       "a", 1, true, 3},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindText(c.text, c.pattern, c.start, c.ignoreCase), c.expected) << c.text << " / " << c.pattern;
  }
}

TEST(ReplaceText, ReplacesWholeCharactersOnly) {
  EXPECT_EQ(ReplaceText("a&mdash;b&mdash;", "&mdash;", "—"_gbk), "a"_gbk + "—"_gbk + "b" + "—"_gbk);
  EXPECT_EQ(ReplaceText("宝贝"_gbk, "\xA6\xB1", "X"), "宝贝"_gbk);
  EXPECT_EQ(ReplaceText("aaa", "", "b"), "aaa");
  EXPECT_EQ(ReplaceText("aaaa", "aa", "b"), "bb");
}

TEST(Spaces, AsciiAndFullWidthBlanks) {
  EXPECT_EQ(TrimSpaces("  \xA1\xA1"
                       "a b\xA1\xA1 "),
            "a b");
  EXPECT_EQ(TrimSpaces("\t a"), "\t a");  // only spaces are blanks here
  EXPECT_EQ(RemoveSpaces(" a\xA1\xA1 b "), "ab");
  // "\xB0\xA1" ends in A1 and "\xA1\xB0" starts with it; neither is a space.
  EXPECT_EQ(RemoveSpaces("\xB0\xA1\xA1\xB0"), "\xB0\xA1\xA1\xB0");
  EXPECT_EQ(AsciiLower("AbC\xC4\xC3"), "abc\xC4\xC3");
  EXPECT_EQ(AsciiUpper("\x81"
                       "a"
                       "b"),
            "\x81"
            "aB");
}

}  // namespace
}  // namespace autodeliver
