// The update.ini reader.
#include "service/ini_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace autodeliver {
namespace {

TEST(IniFileTest, ReadsValuesLikeTheProfileReader) {
  const std::string ini =
      "; comment\r\n"
      "[other]\r\nver=9.9\r\n"
      "  [ UpDate ]  \r\n"
      "  VER  =  1.0.0.2000  \r\n"
      "gx=a\\nb <br>\t\r\n"
      "quoted=\"  spaced  \"\r\n"
      "single='x'\r\n"
      "half=\"x\r\n"
      "ver=second\r\n"
      "noequals\r\n"
      "empty=\n"
      "[update]\nlater=1\n";
  struct Case {
    const char* section;
    const char* key;
    const char* value;
  } cases[] = {
      {"update", "ver", "1.0.0.2000"},     // names without regard to case or blanks; first key wins
      {"update", "gx", "a\\nb <br>"},      // raw, no escapes interpreted
      {"update", "quoted", "  spaced  "},  // one pair of enclosing quotes stripped
      {"update", "single", "x"},
      {"update", "half", "\"x"},
      {"update", "empty", ""},
      {"update", "noequals", ""},
      {"update", "later", ""},  // the first matching section wins
      {"other", "ver", "9.9"},
      {"missing", "ver", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(IniValue(ini, c.section, c.key), c.value) << c.key;
}

TEST(IniFileTest, ValuesAreBoundedAndFilesMayBeMissing) {
  const std::string ini = "[update]\ngx=" + std::string(20000, 'a') + "\n";
  EXPECT_EQ(IniValue(ini, "update", "gx").size(), kIniValueLimit);

  const testing::TempDir temp;
  const std::filesystem::path dir = temp.path();
  const std::string path = (dir / "update.ini").string();
  EXPECT_EQ(ReadIniValue(path, "update", "ver"), "");
  ASSERT_TRUE(WriteWholeFile(path, "[update]\r\nver=2\r\ngx=long text here\r\n"));
  ASSERT_TRUE(WriteWholeFile(path, "[update]\r\nver=3\r\n"));  // truncates, nothing of the old stays
  EXPECT_EQ(ReadIniValue(path, "update", "ver"), "3");
  EXPECT_EQ(ReadIniValue(path, "update", "gx"), "");
  EXPECT_FALSE(WriteWholeFile((dir / "no/such/dir/update.ini").string(), "x"));
}

}  // namespace
}  // namespace autodeliver
