// The start-up lookup of the IM client: the decision over a fake handler,
// and the real lookup through the desktop's "aliim" handler (GIO) over a
// temporary XDG data directory and a real settings table.
#include "app/locate_im_client.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "im/im_test_support.h"
#include "store/settings.h"
#include "store/shop_context.h"
#include "store/table_schema.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

using namespace autodeliver::testing;

const std::string kSim = AUTODELIVER_IM_SIM;

class RecordingPrompts : public Prompts {
 public:
  BoxAnswer ShowBox(const std::string& text, const std::string& caption, BoxKind kind) override {
    calls.push_back("box " + std::to_string(static_cast<int>(kind)) + " " + caption + " " + text);
    return BoxAnswer::kOk;
  }
  void OpenPage(const std::string& url) override { calls.push_back("page " + url); }
  void EndProgram(int exitCode) override { calls.push_back("end " + std::to_string(exitCode)); }
  std::vector<std::string> calls;
};

std::vector<std::string> MissingClientCalls() {
  return {"box 16 " + "错误"_gbk + " " + "您如果需要使用自动发货功能，请先安装 阿里旺旺(卖家版)"_gbk,
          "page http://shop.test:8080/go/chn/aliwangwang/index.php?spm=0.0.0.51.LfwhjZ", "end 0"};
}

TEST(SplitAtSpacesTest, EverySpaceEndsAPiece) {
  EXPECT_EQ(SplitAtSpaces(""), std::vector<std::string>{});
  EXPECT_EQ(SplitAtSpaces("a"), std::vector<std::string>{"a"});
  EXPECT_EQ(SplitAtSpaces("a  b "), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(SplitAtSpaces(" a"), (std::vector<std::string>{"", "a"}));
}

struct LocateCase {
  const char* name;
  const char* stored;                  // "{file}" / "{dir}": an existing file / directory;
                                       // "{wine}": a client in a prefix whose file exists
  std::optional<std::string> handler;  // the handler's command text
  std::optional<std::string> written;  // what must be stored; nullopt: nothing
  bool goesOn;
  std::optional<std::string> wineCommand = std::nullopt;  // the handler in the prefix "/p"
};
void PrintTo(const LocateCase& c, std::ostream* os) { *os << c.name; }

class LocateImClientTest : public ::testing::TestWithParam<LocateCase> {};

TEST_P(LocateImClientTest, KeepsFileOrStoresFirstPieceOrEndsTheProgram) {
  const LocateCase& c = GetParam();
  setenv("AUTODELIVER_WEB_HOST", "shop.test:8080", 1);
  TempDir dir;
  WriteFile(dir.path() + "/AliIM", "client");
  std::filesystem::create_directories(dir.path() + "/drive_c/Ali");
  std::filesystem::create_directories(dir.path() + "/dosdevices");
  std::filesystem::create_directory_symlink("../drive_c", dir.path() + "/dosdevices/c:");
  WriteFile(dir.path() + "/drive_c/Ali/AliIM.exe", "MZ");
  std::string stored = c.stored;
  if (stored == "{file}") stored = dir.path() + "/AliIM";
  if (stored == "{dir}") stored = dir.path();
  if (stored == "{wine}") stored = "wine:" + dir.path() + "|C:\\ali\\aliim.exe";
  std::optional<std::string> written;
  RecordingPrompts prompts;
  ImClientLookup lookup{[&] { return stored; }, [&](const std::string& path) { written = path; },
                        [&] { return c.handler; },
                        [&]() -> std::optional<WineHandler> {
                          if (!c.wineCommand) return std::nullopt;
                          return WineHandler{"/p", *c.wineCommand};
                        }};

  EXPECT_EQ(LocateImClient(prompts, lookup), c.goesOn);
  EXPECT_EQ(written, c.written);
  EXPECT_EQ(prompts.calls, c.goesOn ? std::vector<std::string>{} : MissingClientCalls());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LocateImClientTest,
    ::testing::Values(LocateCase{"StoredFileWinsOverHandler", "{file}", "/opt/other/im %u", std::nullopt,
                                 true},
                      LocateCase{"StoredFileWithoutHandler", "{file}", std::nullopt, std::nullopt, true},
                      LocateCase{"MissingFileTakesHandler", "/nonexistent/AliIM",
                                 "C:\\AliWangWang\\AliIM.exe %1", "C:\\AliWangWang\\AliIM.exe", true},
                      LocateCase{"DirectoryIsNoFile", "{dir}", "/opt/im %u", "/opt/im", true},
                      LocateCase{"EmptyStoredPath", "", "/opt/im", "/opt/im", true},
                      LocateCase{"QuotedPathKeepsItsQuote", "",
                                 "\"C:\\Program Files\\AliWangWang\\AliIM.exe\" %1", "\"C:\\Program", true},
                      LocateCase{"LeadingSpaceStoresEmptyPath", "", " /opt/im %u", "", true},
                      LocateCase{"NoHandler", "", std::nullopt, std::nullopt, false},
                      LocateCase{"EmptyHandlerCommand", "/nonexistent/AliIM", "", std::nullopt, false},
                      // The Windows client under Wine, looked for when the desktop has no handler.
                      LocateCase{"StoredWineClientWins", "{wine}", "/opt/im %u", std::nullopt, true},
                      LocateCase{"WineHandlerWhenTheDesktopHasNone", "wine:/p|C:\\gone.exe", std::nullopt,
                                 "wine:/p|C:\\AliWangWang\\AliIM.exe", true, "C:\\AliWangWang\\AliIM.exe %1"},
                      LocateCase{"DesktopHandlerBeforeWine", "", "/opt/im %u", "/opt/im", true, "C:\\x.exe"},
                      // A quoted program with spaces is taken whole, without its quotes.
                      LocateCase{"WineQuotedPathTakenWhole", "", std::nullopt,
                                 "wine:/p|C:\\Program Files\\AliWangWang\\AliIM.exe", true,
                                 "\"C:\\Program Files\\AliWangWang\\AliIM.exe\" \"%1\""},
                      LocateCase{"WineUnclosedQuoteKeepsTheFirstPiece", "", std::nullopt, "wine:/p|\"C:\\ali",
                                 true, "\"C:\\ali x"},
                      LocateCase{"WineLeadingSpaceStoresEmptyPath", "", std::nullopt, "", true, " C:\\x.exe"},
                      LocateCase{"WineEmptyCommand", "", std::nullopt, std::nullopt, false, ""}),
    [](const ::testing::TestParamInfo<LocateCase>& info) { return std::string(info.param.name); });

// The real lookup runs in a child process: GIO reads the XDG variables once
// per process, so each scenario gets a fresh one. The child reports
// "<result>|<stored setting>|<prompt calls>", starting from fresh tables
// whose setting is empty.
class DesktopHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = dir_.path();
    for (const char* sub : {"data/applications", "config", "empty", "app"}) {
      std::filesystem::create_directories(base_ + "/" + sub);
    }
    env_ = {"XDG_DATA_HOME=" + base_ + "/data",
            "XDG_CONFIG_HOME=" + base_ + "/config",
            "XDG_DATA_DIRS=" + base_ + "/empty",
            "XDG_CONFIG_DIRS=" + base_ + "/empty",
            "XDG_CURRENT_DESKTOP=",
            "HOME=" + base_ + "/home",
            "WINEPREFIX=",
            "AUTODELIVER_WEB_HOST=shop.test:8080"};
  }

  void SetHandler(const std::string& exec) {
    WriteFile(base_ + "/data/applications/aliim-test.desktop",
              "[Desktop Entry]\nType=Application\nName=test client\nExec=" + exec +
                  "\nMimeType=x-scheme-handler/aliim;\n");
    WriteFile(base_ + "/config/mimeapps.list",
              "[Default Applications]\nx-scheme-handler/aliim=aliim-test.desktop\n");
  }

  std::string LocateInChild() {
    int fds[2];
    if (pipe(fds) != 0) return "no pipe";
    pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      for (const std::string& entry : env_) putenv(const_cast<char*>(entry.c_str()));
      std::filesystem::remove_all(base_ + "/app/data");
      std::string report;
      if (!CreateDataTables(base_ + "/app")) {
        report = "no tables";
      } else {
        ShopContext shop(base_ + "/app");
        RecordingPrompts prompts;
        bool goesOn = LocateImClient(shop, prompts);
        report = std::string(goesOn ? "true" : "false") + "|" + GetSetting(shop, ImClientPathSetting()) + "|";
        for (const std::string& call : prompts.calls) report += call + ";";
      }
      ssize_t ignored = write(fds[1], report.data(), report.size());
      (void)ignored;
      _exit(0);
    }
    close(fds[1]);
    std::string report;
    char buf[512];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) report.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    return report;
  }

  TempDir dir_;
  std::string base_;
  std::vector<std::string> env_;
};

TEST_F(DesktopHandlerTest, InstalledImitationIsStoredAsTheClient) {
  ASSERT_EQ(WaitProcess(StartProcess({kSim, "--install"}, env_)), 0);
  EXPECT_EQ(LocateInChild(), "true|" + kSim + "|");
}

TEST_F(DesktopHandlerTest, HandlerCommandIsCutAtItsFirstSpace) {
  const std::string spaced = base_ + "/my im/client";
  WriteFile(spaced, "#!/bin/sh\n", true);
  const std::string plain = base_ + "/client";
  WriteFile(plain, "#!/bin/sh\n", true);
  const std::string quotedFirstPiece = "\"" + base_ + "/my";

  SetHandler("\"" + spaced + "\" %u");
  EXPECT_EQ(LocateInChild(), "true|" + quotedFirstPiece + "|");
  SetHandler("\\s" + plain + " %u");  // the desktop file's escape for a leading space
  EXPECT_EQ(LocateInChild(), "true||");
}

TEST_F(DesktopHandlerTest, WineClientUnderDeepinwineIsStoredWithItsPrefix) {
  const std::string prefix = base_ + "/home/.deepinwine/Deepin-WangWang";
  std::filesystem::create_directories(prefix);
  WriteFile(prefix + "/system.reg",
            "WINE REGISTRY Version 2\n\n[Software\\\\Classes\\\\aliim\\\\Shell\\\\Open\\\\Command] 1\n"
            "@=str(2):\"%SystemDrive%\\\\AliWangWang\\\\AliIM.exe %1\"\n");
  EXPECT_EQ(LocateInChild(), "true|wine:" + prefix + "|C:\\AliWangWang\\AliIM.exe|");
}

TEST_F(DesktopHandlerTest, NoHandlerEndsTheProgramAfterTheMessage) {
  std::string expected = "false||";
  for (const std::string& call : MissingClientCalls()) expected += call + ";";
  EXPECT_EQ(LocateInChild(), expected);
}

}  // namespace
}  // namespace autodeliver
