#include "common/json_text.h"

#include <gtest/gtest.h>

namespace autodeliver {
namespace {

TEST(JsonString, EscapesAndRepairsBytes) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"", "\"\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"\r\n\t\x01", "\"\\r\\n\\t\\u0001\""},
      {"卖家", "\"卖家\""},
      {"x\xB1\xA6y", "\"x\xEF\xBF\xBD\xEF\xBF\xBDy\""},  // GBK bytes are not UTF-8
      {"\xE5\x85", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},      // a cut sequence
  };
  for (const auto& c : cases) EXPECT_EQ(JsonString(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace autodeliver
