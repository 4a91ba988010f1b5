// The IM channel through Wine against the Win32 IM client imitation in the
// shared test prefix (a non-Chinese locale): the text arrives as the same
// GBK bytes, the chat window is closed after every message, the helper is
// kept from one message to the next, and a chat window that never opens
// fails within the search bound.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "http/answer_text.h"
#include "im/im_channel.h"
#include "im/im_test_support.h"
#include "text/gbk.h"
#include "wine_test_support.h"

namespace autodeliver {
namespace {

using namespace std::chrono_literals;
namespace t = autodeliver::testing;

class WineChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    instance_ = "wine-channel-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
    // The client's second start (by the helper) finds the running one by
    // this name; and the helper runs with a non-Chinese locale.
    setenv("AUTODELIVER_IM_INSTANCE", instance_.c_str(), 1);
    setenv("LANG", "C", 1);
    setenv("LC_ALL", "C", 1);
    transcript_ = temp_.path() + "/transcript.jsonl";
  }

  static ImSendBounds Bounds(std::chrono::milliseconds searchTimeout = 30s) {
    ImSendBounds bounds;
    bounds.searchTimeout = searchTimeout;
    bounds.handledWait = 10s;
    return bounds;
  }

  // The transcript as "seller|buyer|GBK hex".
  std::vector<std::string> Transcript() {
    std::vector<std::string> lines;
    for (const std::string& line : t::ReadLines(transcript_)) {
      if (!line.empty()) {
        lines.push_back(t::JsonField(line, "seller") + "|" + t::JsonField(line, "buyer") + "|" +
                        t::JsonField(line, "textGbkHex"));
      }
    }
    return lines;
  }

  t::TempDir temp_;
  std::string instance_, transcript_;
};

const std::string kCardMessage =
    "您购买的 点卡10元 卡号信息如下\r\n\r\n卡号：DK1001 卡密：pw-aa01\r\n卡号：DK1002 卡密：pw-aa02\r\n"_gbk;

TEST_F(WineChannelTest, EachMessageArrivesExactlyAndItsChatWindowIsClosed) {
  t::WineImClient client(instance_, transcript_);
  ASSERT_EQ(client.Start(), "");
  std::vector<std::string> notes;
  ImChannel channel;
  channel.SetNote([&](const std::string& gbk) { notes.push_back(GbkToUtf8Lossy(gbk)); });
  const std::string seller = "店铺A"_gbk, buyer = "买家B"_gbk;

  ASSERT_TRUE(channel.Send(t::TestClientPath(), seller, buyer, kCardMessage, Bounds()));
  ASSERT_TRUE(channel.Send(t::TestClientPath(), seller, "买家C"_gbk, "第二条"_gbk, Bounds()));
  EXPECT_EQ(Transcript(), (std::vector<std::string>{"店铺A|买家B|" + HexOfBytes(kCardMessage),
                                                    "店铺A|买家C|" + HexOfBytes("第二条"_gbk)}));
  // One helper served both messages.
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("已在前缀 " + t::TestPrefix() + " 中启动 64 位助手程序"), std::string::npos)
      << notes[0];

  std::unique_ptr<WineWindowSystem> look = t::TestHelper();
  ASSERT_NE(look, nullptr);
  EXPECT_EQ(look->FindTopLevel("StandardFrame", ImChatTitle(seller, buyer)), 0u);
  EXPECT_EQ(look->FindTopLevel("StandardFrame", ImChatTitle(seller, "买家C"_gbk)), 0u);
}

TEST_F(WineChannelTest, ChatWindowOpenBeforeTheMessageIsClosedAfterIt) {
  t::WineImClient client(instance_, transcript_);
  ASSERT_EQ(client.Start(), "");
  const std::string seller = "店铺A"_gbk, buyer = "买家B"_gbk;
  std::unique_ptr<WineWindowSystem> look = t::TestHelper();
  ASSERT_NE(look, nullptr);
  look->StartAndWait(ImCommandLine("C:\\AliWangWang\\AliIM.exe", seller, buyer), 20s);
  ASSERT_TRUE(t::WaitUntil(
      [&] { return look->FindTopLevel("StandardFrame", ImChatTitle(seller, buyer)) != 0; }, 20s));

  ImChannel channel;
  ASSERT_TRUE(channel.Send(t::TestClientPath(), seller, buyer, "卡密"_gbk, Bounds()));
  EXPECT_EQ(Transcript(), std::vector<std::string>{"店铺A|买家B|" + HexOfBytes("卡密"_gbk)});
  EXPECT_EQ(look->FindTopLevel("StandardFrame", ImChatTitle(seller, buyer)), 0u);
}

TEST_F(WineChannelTest, ProgramTheHelperStartsCannotWriteIntoItsPipe) {
  std::unique_ptr<WineWindowSystem> helper = t::TestHelper();
  ASSERT_NE(helper, nullptr);
  // A console program that prints a line, started as the command line is.
  helper->StartAndWait("C:\\windows\\system32\\hostname.exe", 20s);
  EXPECT_TRUE(helper->Ping());
  EXPECT_TRUE(helper->Alive());
}

TEST_F(WineChannelTest, ChatWindowThatNeverOpensFailsWithinTheBound) {
  t::WineImClient client(instance_, transcript_, {"--no-window"});
  ASSERT_EQ(client.Start(), "");
  ImChannel channel;
  // The helper's start is paid first, so the bound is measured after it.
  ASSERT_FALSE(channel.Send(t::TestClientPath(), "店铺A"_gbk, "买家B"_gbk, "x", Bounds(1500ms)));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(channel.Send(t::TestClientPath(), "店铺A"_gbk, "买家B"_gbk, "x", Bounds(1500ms)));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 1500ms);
  EXPECT_LT(took, 15s);
  EXPECT_TRUE(Transcript().empty());
}

}  // namespace
}  // namespace autodeliver
