// The IM client under Wine, without Wine: the stored form, the drive
// mapping and the PE header over small fixture folders, the registry text
// format, and the prefixes looked in (HOME pointed at a temporary folder).
#include "im/wine_client.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "im/win32_helper_protocol.h"
#include "im_test_support.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

namespace fs = std::filesystem;
using autodeliver::testing::TempDir;
using autodeliver::testing::WriteFile;

TEST(WineClientPathTest, ParsesOnlyTheWineFormAndWritesItBack) {
  const std::optional<WineClient> client = ParseWineClientPath("wine:/home/ann/.wine|C:\\Ali\\AliIM.exe");
  ASSERT_TRUE(client);
  EXPECT_EQ(client->prefix, "/home/ann/.wine");
  EXPECT_EQ(client->program, "C:\\Ali\\AliIM.exe");
  EXPECT_EQ(WineClientPathText(*client), "wine:/home/ann/.wine|C:\\Ali\\AliIM.exe");
  // A quoted first piece stays as it is.
  EXPECT_EQ(ParseWineClientPath("wine:/p|\"C:\\Program")->program, "\"C:\\Program");
  for (const char* native : {"/opt/aliim/AliIM", "C:\\AliWangWang\\AliIM.exe", "wine:/p", "wine:|C:\\a.exe",
                             "wine:/p|", "", "Wine:/p|C:\\a.exe"}) {
    EXPECT_FALSE(ParseWineClientPath(native)) << native;
  }
}

// A prefix with its drive links as Wine makes them.
class WinePrefixFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    prefix_ = temp_.path() + "/prefix";
    fs::create_directories(prefix_ + "/dosdevices");
    fs::create_directories(prefix_ + "/drive_c/Program Files/AliWangWang");
    fs::create_directories(prefix_ + "/drive_c/阿里旺旺");
    fs::create_directory_symlink("../drive_c", prefix_ + "/dosdevices/c:");
    fs::create_directory_symlink(temp_.path() + "/other", prefix_ + "/dosdevices/d:");
    fs::create_directories(temp_.path() + "/other/x");
    WriteFile(prefix_ + "/drive_c/Program Files/AliWangWang/AliIM.exe", "MZ");
    WriteFile(prefix_ + "/drive_c/阿里旺旺/AliIM.exe", "MZ");
    WriteFile(temp_.path() + "/other/x/a.exe", "MZ");
  }
  TempDir temp_;
  std::string prefix_;
};

TEST_F(WinePrefixFixture, MapsWindowsPathsThroughTheDriveLinks) {
  const std::string c = prefix_ + "/dosdevices/c:";
  struct Case {
    std::string windows;  // UTF-8 here, GBK when mapped
    std::optional<std::string> linux;
  };
  const std::vector<Case> cases = {
      {"C:\\Program Files\\AliWangWang\\AliIM.exe", c + "/Program Files/AliWangWang/AliIM.exe"},
      {"c:\\PROGRAM FILES\\aliwangwang\\aliim.EXE", c + "/Program Files/AliWangWang/AliIM.exe"},
      {"\"C:\\Program Files\\AliWangWang\\AliIM.exe\"", c + "/Program Files/AliWangWang/AliIM.exe"},
      {"C:/Program Files/AliWangWang/AliIM.exe", c + "/Program Files/AliWangWang/AliIM.exe"},
      {"C:\\阿里旺旺\\AliIM.exe", c + "/阿里旺旺/AliIM.exe"},
      {"D:\\x\\a.exe", prefix_ + "/dosdevices/d:/x/a.exe"},
      {"C:\\Program Files\\Missing\\AliIM.exe", std::nullopt},
      {"E:\\a.exe", std::nullopt},
      {"C:\\..\\..\\etc\\passwd", std::nullopt},
      {"AliIM.exe", std::nullopt},
      {"\\\\server\\share\\AliIM.exe", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& k : cases) {
    std::optional<std::string> mapped = MapWindowsPath(prefix_, Utf8ToGbkLossy(k.windows));
    EXPECT_EQ(mapped, k.linux) << k.windows;
  }
}

TEST_F(WinePrefixFixture, ReadsTheMachineOfThePeHeader) {
  auto image = [&](const std::string& name, unsigned machineLow, unsigned machineHigh) {
    std::string bytes(0x80 + 6, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    bytes[60] = static_cast<char>(0x80);
    bytes.replace(0x80, 4, std::string("PE\0\0", 4));
    bytes[0x84] = static_cast<char>(machineLow);
    bytes[0x85] = static_cast<char>(machineHigh);
    WriteFile(temp_.path() + "/" + name, bytes);
    return temp_.path() + "/" + name;
  };
  EXPECT_EQ(PeBits(image("x86.exe", 0x4C, 0x01)), 32);
  EXPECT_EQ(PeBits(image("x64.exe", 0x64, 0x86)), 64);
  EXPECT_EQ(PeBits(image("arm.exe", 0x64, 0xAA)), 0);
  WriteFile(temp_.path() + "/text.exe", "MZ but far too short");
  EXPECT_EQ(PeBits(temp_.path() + "/text.exe"), 0);
  EXPECT_EQ(PeBits(temp_.path() + "/missing.exe"), 0);
}

const char kKey[] = "Software\\Classes\\aliim\\Shell\\Open\\Command";

std::string Reg(const std::string& body) {
  return "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n"
         "[Software\\\\Classes\\\\aliim] 1700000000\n@=\"URL:aliim Protocol\"\n\n" +
         body +
         "\n[Software\\\\Classes\\\\other\\\\Shell\\\\Open\\\\Command] 1700000000\n@=\"C:\\\\other.exe\"\n";
}

TEST(WineRegistryTest, ReadsTheDefaultValueOfTheHandlerKey) {
  const std::vector<std::pair<std::string, std::string>> folders = {{"ProgramFiles", "C:\\Program Files"},
                                                                    {"SystemDrive", "C:"}};
  struct Case {
    const char* name;
    std::string section;  // the handler's section
    std::optional<std::string> value;
  };
  const std::string key = "[Software\\\\Classes\\\\aliim\\\\Shell\\\\Open\\\\Command] 1700000000\n#time=1d\n";
  const std::vector<Case> cases = {
      {"RegSz", key + "@=\"C:\\\\AliWangWang\\\\AliIM.exe %1\"\n", "C:\\AliWangWang\\AliIM.exe %1"},
      {"QuotedPathWithSpaces",
       key + "@=\"\\\"C:\\\\Program Files\\\\AliWangWang\\\\AliIM.exe\\\" \\\"%1\\\"\"\n",
       "\"C:\\Program Files\\AliWangWang\\AliIM.exe\" \"%1\""},
      {"ExpandSz", key + "@=str(2):\"%ProgramFiles%\\\\AliWangWang\\\\AliIM.exe %1 %Unknown%\"\n",
       "C:\\Program Files\\AliWangWang\\AliIM.exe %1 %Unknown%"},
      {"ExpandSzAsHex",
       key + "@=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,44,00,72,00,69,00,76,00,65,\\\n"
             "  00,25,00,5c,00,61,00,2e,00,65,00,78,00,65,00,00,00\n",
       "C:\\a.exe"},
      {"WideCharactersEscaped", key + "@=\"C:\\\\\\x963f\\x91cc\\\\AliIM.exe\"\n", "C:\\阿里\\AliIM.exe"},
      {"KeyNamesIgnoreCase",
       "[software\\\\classes\\\\ALIIM\\\\shell\\\\open\\\\command] 1\n@=\"C:\\\\a.exe\"\n", "C:\\a.exe"},
      {"CrLfLines", "[Software\\\\Classes\\\\aliim\\\\Shell\\\\Open\\\\Command] 1\r\n@=\"C:\\\\a.exe\"\r\n",
       "C:\\a.exe"},
      {"EmptyValue", key + "@=\"\"\n", ""},
      {"OnlyANamedValue", key + "\"Other\"=\"C:\\\\b.exe\"\n", std::nullopt},
      {"NotAString", key + "@=dword:00000001\n", std::nullopt},
      {"MissingKey", "", std::nullopt},
  };
  for (const Case& c : cases) {
    std::optional<std::string> expected;
    if (c.value) expected = Utf8ToGbkLossy(*c.value);
    EXPECT_EQ(ReadRegistryDefault(Reg(c.section), kKey, folders), expected) << c.name;
  }
}

// The prefixes of a seller's home: $WINEPREFIX first, ~/.wine, then those
// under ~/.deepinwine/; the handler of the first prefix that has one, the
// per-user class before the machine's.
class WinePrefixSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = temp_.path() + "/home";
    for (const char* name : {"HOME", "WINEPREFIX"}) {
      const char* old = std::getenv(name);
      saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    }
    setenv("HOME", home_.c_str(), 1);
    unsetenv("WINEPREFIX");
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }
  std::string Prefix(const std::string& dir, const std::string& systemSection,
                     const std::string& userSection = {}) {
    fs::create_directories(dir);
    WriteFile(dir + "/system.reg", Reg(systemSection));
    WriteFile(dir + "/user.reg", Reg(userSection));
    return dir;
  }
  static std::string Handler(const std::string& command) {
    return "[Software\\\\Classes\\\\aliim\\\\Shell\\\\Open\\\\Command] 1\n@=" + command + "\n";
  }
  TempDir temp_;
  std::string home_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(WinePrefixSearchTest, LooksInTheSellersPrefixesInOrder) {
  EXPECT_TRUE(WinePrefixCandidates().empty());
  const std::string deepinB = Prefix(home_ + "/.deepinwine/Deepin-WangWang", Handler("\"C:\\\\b.exe %1\""));
  const std::string deepinA = Prefix(home_ + "/.deepinwine/Deepin-QQ", "");
  fs::create_directories(home_ + "/.deepinwine/not-a-prefix");
  EXPECT_EQ(WinePrefixCandidates(), (std::vector<std::string>{deepinA, deepinB}));
  EXPECT_FALSE(WineAliimCommand(deepinA));
  EXPECT_EQ(WineAliimCommand(deepinB), "C:\\b.exe %1");

  const std::string dotWine = Prefix(home_ + "/.wine", "");
  const std::string own = Prefix(temp_.path() + "/own", "");
  setenv("WINEPREFIX", own.c_str(), 1);
  EXPECT_EQ(WinePrefixCandidates(), (std::vector<std::string>{own, dotWine, deepinA, deepinB}));
  // A $WINEPREFIX that is also ~/.wine is looked in once.
  setenv("WINEPREFIX", dotWine.c_str(), 1);
  EXPECT_EQ(WinePrefixCandidates(), (std::vector<std::string>{dotWine, deepinA, deepinB}));
}

TEST_F(WinePrefixSearchTest, PerUserClassComesFirstAndExpandsWithThePrefixFolders) {
  const std::string versionKey =
      "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion] 1\n\"ProgramFilesDir\"=\"D:\\\\Apps\"\n";
  const std::string both = Prefix(home_ + "/.wine", versionKey + Handler("\"C:\\\\machine.exe %1\""),
                                  Handler("str(2):\"%ProgramFiles%\\\\user.exe %1\""));
  EXPECT_EQ(WineAliimCommand(both), "D:\\Apps\\user.exe %1");
}

TEST(HelperProtocolTest, TextsSurviveTheLineAndEmptyFieldsStay) {
  const std::string text = "卡号：1\r\n密码：2 \"x\"\n"_gbk;
  std::string back;
  ASSERT_TRUE(helper_protocol::FromHex(helper_protocol::ToHex(text), &back));
  EXPECT_EQ(back, text);
  EXPECT_EQ(helper_protocol::ToHex(text).find_first_of(" \r\n"), std::string::npos);
  EXPECT_FALSE(helper_protocol::FromHex("ABC", &back));
  EXPECT_FALSE(helper_protocol::FromHex("G0", &back));
  EXPECT_EQ(helper_protocol::SplitFields("SETTEXT 1F "), (std::vector<std::string>{"SETTEXT", "1F", ""}));
  unsigned long long handle = 0;
  EXPECT_TRUE(helper_protocol::ParseNumberField(helper_protocol::NumberField(0x1234ABCDull), &handle));
  EXPECT_EQ(handle, 0x1234ABCDull);
  EXPECT_FALSE(helper_protocol::ParseNumberField("", &handle));
  EXPECT_FALSE(helper_protocol::ParseNumberField("12345678901234567", &handle));
}

}  // namespace
}  // namespace autodeliver
