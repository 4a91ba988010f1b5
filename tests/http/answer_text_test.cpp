#include "http/answer_text.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "text/gbk.h"

namespace autodeliver {
namespace {

TEST(TextBetween, Markers) {
  struct Case {
    std::string text, left, right, expected;
  } cases[] = {
      {"a[check]ok[check]b", "[check]", "[check]", "ok"},
      {"a[check]ok", "[check]", "[check]", ""},
      {"abc", "", "", "abc"},
      {"abc", "b", "", "c"},
      {"abc", "c", "", ""},
      {"abc", "", "c", "ab"},
      {"abc", "x", "", ""},
      {"abc", "", "x", ""},
      {"LR", "L", "R", ""},
      {"亲爱的<b>卖家</b>"_gbk, "亲爱的<b>"_gbk, "</b>", "卖家"_gbk},
      // "</b>" after a lead byte would start on a trail byte only if the
      // scan were byte-wise; here the marker follows a whole character.
      {"x\x81<b>y", "<b>", "", ""},
      {"x<b>y", "<b>", "", "y"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TextBetween(c.text, c.left, c.right), c.expected) << c.text;
  }
}

TEST(DecodeServiceAnswer, FailsWholeOnOneBadCharacter) {
  struct Case {
    std::string body, expected;
  } cases[] = {
      {"", ""},
      {"plain ascii", "plain ascii"},
      {"\xEF\xBB\xBFhello", ""},                 // byte-order mark: no GB2312 form
      {"\xE5\x85\xAC\xE5\x91\x8A", "公告"_gbk},  // UTF-8 Chinese
      {"ok\xE5\x85", ""},                        // incomplete sequence
      {"ok\xFF", ""},                            // invalid byte
      {"ok\xF0\x9F\x98\x80", ""},                // outside GB2312
      {std::string("ab\0\xFF", 4), "ab"},        // stops at the first NUL
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeServiceAnswer(c.body), c.expected);
}

TEST(HexOfBytes, TwoUpperCaseDigitsPerByte) {
  EXPECT_EQ(HexOfBytes("\n"), "0A");
  EXPECT_EQ(HexOfBytes(""), "");
  EXPECT_EQ(HexOfBytes(std::string("\x00\xFF", 2)), "00FF");
  EXPECT_EQ(HexOfBytes("123"), "313233");
}

TEST(TimeToken, FourGroupsFromLocalSeconds) {
  // Run in UTC so the local seconds equal the epoch seconds.
  setenv("TZ", "UTC", 1);
  tzset();
  const std::string token = TimeToken(static_cast<std::time_t>(1354000000));
  // "1354000000" -> 31 33 35 34 30 30 30 30 30 30
  EXPECT_EQ(token, "\\u31333\\u53430\\u30303\\u03030");
  // A nine-digit count: the last group is the last five characters.
  EXPECT_EQ(TimeToken(static_cast<std::time_t>(999999999)), "\\u39393\\u93939\\u39393\\u93939");
  // An eight-hour zone adds its offset: local 1970 midnight is the origin.
  setenv("TZ", "CST-8", 1);
  tzset();
  EXPECT_EQ(TimeToken(static_cast<std::time_t>(1354000000 - 8 * 3600)), "\\u31333\\u53430\\u30303\\u03030");
  unsetenv("TZ");
  tzset();
  const std::string now = TimeToken();
  ASSERT_EQ(now.size(), 28u);
  for (size_t i = 0; i < now.size(); i += 7) {
    EXPECT_EQ(now.substr(i, 2), "\\u");
  }
}

TEST(ShortDigest, CharactersSeventeenToTwentyTwoOfMd5) {
  // md5("") = d41d8cd98f00b204e9800998ecf8427e
  EXPECT_EQ(ShortDigest(""), "e98009");
  // md5("abc") = 900150983cd24fb0d6963f7d28e17f72
  EXPECT_EQ(ShortDigest("abc"), "d6963f");
  // The maker's stored access key gives the key= value of the update query.
  EXPECT_EQ(ShortDigest("9f3a61c0e84b27d5a0c6e19f4b83d72e"), "7b6ead");
}

}  // namespace
}  // namespace autodeliver
