// The Wine channel's session, without Wine: a stand-in for the Wine loader
// (AUTODELIVER_WINE, a shell script speaking the helper's protocol) shows
// that one helper serves the messages of a session, that a helper that stops
// answering is ended and the next message starts a new one, and that a
// helper that cannot start fails the message with a note.
#include "im/im_channel.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "im_test_support.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

namespace t = autodeliver::testing;
using namespace std::chrono_literals;

// A helper that takes every operation: the walk always ends on window 11.
const char kWorkingHelper[] =
    "echo 'READY 64'\n"
    "while read -r verb rest; do\n"
    "  case $verb in\n"
    "    START) echo 'OK 1' ;; FIND) echo 'OK 10' ;; RELATED) echo 'OK 11' ;;\n"
    "    QUIT) exit 0 ;; *) echo OK ;;\n"
    "  esac\n"
    "done\n";
// A helper that ends at its first request.
const char kDyingHelper[] = "echo 'READY 64'\nread -r line\nexit 0\n";

class ImChannelSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"AUTODELIVER_WINE", "AUTODELIVER_IMHELPER_DIR"}) {
      const char* old = std::getenv(name);
      saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    }
    helperDir_ = temp_.path() + "/helpers";
    std::filesystem::create_directories(helperDir_);
    setenv("AUTODELIVER_IMHELPER_DIR", helperDir_.c_str(), 1);
    const std::string loader = temp_.path() + "/wine";
    setenv("AUTODELIVER_WINE", loader.c_str(), 1);
    channel_.SetNote([this](const std::string& gbk) { notes_.push_back(GbkToUtf8Lossy(gbk)); });
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
  // The stand-in loader: counts its starts, then runs `helper`.
  void Helper(const std::string& helper) {
    t::WriteFile(helperDir_ + "/autodeliver-imhelper64.exe", "MZ");
    t::WriteFile(temp_.path() + "/wine", "#!/bin/sh\necho started >> " + temp_.path() + "/starts\n" + helper,
                 true);
  }
  int Starts() { return static_cast<int>(t::ReadLines(temp_.path() + "/starts").size()); }
  bool Send() {
    ImSendBounds bounds;
    bounds.handledWait = 500ms;
    bounds.searchTimeout = 1s;
    bounds.helperStartWait = 5s;
    return channel_.Send("wine:" + temp_.path() + "|C:\\AliIM.exe", "店铺A"_gbk, "买家B"_gbk, "x", bounds);
  }

  t::TempDir temp_;
  std::string helperDir_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
  std::vector<std::string> notes_;
  ImChannel channel_;
};

TEST_F(ImChannelSessionTest, OneHelperServesTheSession) {
  Helper(kWorkingHelper);
  EXPECT_TRUE(Send());
  EXPECT_TRUE(Send());
  EXPECT_TRUE(Send());
  EXPECT_EQ(Starts(), 1);
  ASSERT_EQ(notes_.size(), 1u);
  EXPECT_NE(notes_[0].find("中启动 64 位助手程序"), std::string::npos) << notes_[0];
  // A native client ends the Wine session.
  ImSendBounds quick;
  quick.searchTimeout = 0ms;
  channel_.Send("", "店铺A"_gbk, "买家B"_gbk, "x", quick);
  EXPECT_TRUE(Send());
  EXPECT_EQ(Starts(), 2);
}

TEST_F(ImChannelSessionTest, HelperThatStopsAnsweringIsReplacedAtTheNextMessage) {
  Helper(kDyingHelper);
  EXPECT_FALSE(Send());
  EXPECT_FALSE(Send());
  EXPECT_EQ(Starts(), 2);
  ASSERT_EQ(notes_.size(), 4u);
  EXPECT_NE(notes_[1].find("助手程序没有应答"), std::string::npos) << notes_[1];
  Helper(kWorkingHelper);
  EXPECT_TRUE(Send());
}

TEST_F(ImChannelSessionTest, HelperThatCannotStartFailsTheMessageWithANote) {
  // No loader at all (AUTODELIVER_WINE names no file).
  t::WriteFile(helperDir_ + "/autodeliver-imhelper64.exe", "MZ");
  EXPECT_FALSE(Send());
  ASSERT_EQ(notes_.size(), 1u);
  EXPECT_NE(notes_[0].find("助手程序没有在前缀 " + temp_.path() + " 中启动"), std::string::npos) << notes_[0];
}

}  // namespace
}  // namespace autodeliver
