// The Linux side of the Wine helper's pipe, against small stand-in helpers
// (shell scripts in place of the Wine loader): the request lines it writes,
// and the bounds of every answer wait when the helper is silent, ends or
// answers nonsense.
#include <gtest/gtest.h>

#include <chrono>

#include "im/win32_helper_protocol.h"
#include "im/wine_window_system.h"
#include "im_test_support.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace t = autodeliver::testing;

class WineHelperPipeTest : public ::testing::Test {
 protected:
  // A launch whose "loader" is a script with `body`.
  WineHelperLaunch Launch(const std::string& body) {
    const std::string script = temp_.path() + "/loader.sh";
    t::WriteFile(script, "#!/bin/sh\n" + body, true);
    WineHelperLaunch launch;
    launch.prefix = temp_.path();
    launch.helper = "helper.exe";
    launch.loader = script;
    launch.startWait = 1500ms;
    launch.handledWait = 300ms;
    return launch;
  }
  t::TempDir temp_;
};

TEST_F(WineHelperPipeTest, WritesOneLinePerOperationWithTextsInHex) {
  // Answers every request with "OK 1A" and records it, with its arguments
  // and the prefix it was given.
  const std::string log = temp_.path() + "/requests";
  std::unique_ptr<WineWindowSystem> helper =
      WineWindowSystem::Start(Launch("echo \"$WINEPREFIX $*\" > " + log +
                                     "\necho 'READY 32'\n"
                                     "while read -r line; do echo \"$line\" >> " +
                                     log + "; echo 'OK 1A'; done\n"));
  ASSERT_NE(helper, nullptr);
  EXPECT_EQ(helper->bits(), 32);
  EXPECT_EQ(helper->FindTopLevel("StandardFrame", "买家B - 店铺A"_gbk), 0x1Au);
  EXPECT_EQ(helper->Related(0x1A, WindowRelation::kFirstChild), 0x1Au);
  EXPECT_EQ(helper->Related(0x1A, WindowRelation::kNextSibling), 0x1Au);
  helper->StartAndWait("C:\\a.exe aliim:x", 1000ms);
  EXPECT_FALSE(helper->SetText(0x1A, "x"));  // "OK 1A" is no plain OK
  EXPECT_TRUE(helper->Alive());
  helper.reset();
  namespace hp = helper_protocol;
  EXPECT_EQ(
      t::ReadLines(log),
      (std::vector<std::string>{temp_.path() + " helper.exe --handled-ms 300",
                                "FIND " + hp::ToHex("StandardFrame") + " " + hp::ToHex("买家B - 店铺A"_gbk),
                                "RELATED 1A CHILD", "RELATED 1A NEXT",
                                "START 3E8 " + hp::ToHex("C:\\a.exe aliim:x"), "SETTEXT 1A 78", "QUIT"}));
}

TEST_F(WineHelperPipeTest, EveryWaitIsBoundedAndABrokenHelperFailsAtOnce) {
  struct Case {
    const char* name;
    const char* body;
    bool starts;
  };
  const Case cases[] = {
      {"SilentAtStart", "exec sleep 60\n", false},
      {"EndsAtOnce", "exit 3\n", false},
      {"WrongFirstLine", "echo hello\nexec sleep 60\n", false},
      {"SilentAfterStart", "echo 'READY 64'\nexec sleep 60\n", true},
      {"EndsAfterStart", "echo 'READY 64'\nread -r line\nexit 0\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto begin = Clock::now();
    std::string error;
    std::unique_ptr<WineWindowSystem> helper = WineWindowSystem::Start(Launch(c.body), &error);
    EXPECT_LT(Clock::now() - begin, 6s);
    ASSERT_EQ(helper != nullptr, c.starts) << error;
    if (!helper) continue;
    begin = Clock::now();
    EXPECT_EQ(helper->FindTopLevel("StandardFrame", "x"), 0u);
    EXPECT_LT(Clock::now() - begin, 6s);
    EXPECT_FALSE(helper->Alive());
    begin = Clock::now();
    EXPECT_FALSE(helper->SetText(1, "x"));
    EXPECT_FALSE(helper->Ping());
    EXPECT_LT(Clock::now() - begin, 100ms);
  }
}

}  // namespace
}  // namespace autodeliver
