// The sender against the IM client imitation on a private X server: the
// message reaches the imitation's transcript byte for byte, the chat window
// is closed afterwards, and every way the chat window can fail to appear
// ends in false once the search bound has passed.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "http/answer_text.h"
#include "im/im_sender.h"
#include "im_test_support.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

using namespace autodeliver::testing;
using std::chrono::milliseconds;

const std::string kSim = AUTODELIVER_IM_SIM;

class ImSenderX11Test : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = new XServer;
    error_ = server_->Start();
    if (!error_.empty()) return;
    setenv("DISPLAY", server_->display().c_str(), 1);
    // The imitation started by the sender finds the running client by this
    // name, which keeps this process apart from others on a shared display.
    setenv("AUTODELIVER_IM_INSTANCE", ("im-test-" + std::to_string(getpid())).c_str(), 1);
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    if (!error_.empty()) GTEST_SKIP() << "no X display: " << error_;
    windows_ = OpenX11WindowSystem(nullptr, std::chrono::seconds(5));
    ASSERT_NE(windows_, nullptr);
    transcript_ = dir_.path() + "/sent.jsonl";
  }

  void TearDown() override {
    if (client_ > 0) {
      if (WaitProcess(StartProcess({kSim, "--quit"}), std::chrono::seconds(10)) != 0 ||
          WaitProcess(client_, std::chrono::seconds(10)) < 0) {
        StopProcess(client_);
      }
    }
  }

  void StartClient(std::vector<std::string> options = {}) {
    options.insert(options.begin(), kSim);
    client_ = StartProcess(options, {"AUTODELIVER_IM_TRANSCRIPT=" + transcript_});
    ASSERT_GT(client_, 0);
    ASSERT_TRUE(WaitUntil([&] { return windows_->FindTopLevel("AutodeliverImSim", Instance()) != 0; }))
        << "the imitation did not come up";
  }

  static std::string Instance() { return std::getenv("AUTODELIVER_IM_INSTANCE"); }

  static ImSendOptions Options(milliseconds searchTimeout = std::chrono::seconds(10)) {
    ImSendOptions options(kSim);
    options.bounds.programWait = std::chrono::seconds(10);
    options.bounds.searchTimeout = searchTimeout;
    options.bounds.searchPause = milliseconds(20);
    options.bounds.handledWait = std::chrono::seconds(5);
    return options;
  }

  // Asks the running imitation for the chat window directly, as the seller
  // would by hand.
  void OpenChatByHand(const std::string& seller, const std::string& buyer) {
    std::string request = "aliim:sendmsg?uid=cntaobao" + seller + "&touid=cntaobao" + buyer;
    ASSERT_EQ(WaitProcess(StartProcess({kSim, request})), 0);
  }

  bool ChatOpen(const std::string& gbkSeller, const std::string& gbkBuyer) {
    return windows_->FindTopLevel("StandardFrame", ImChatTitle(gbkSeller, gbkBuyer)) != 0;
  }

  static XServer* server_;
  static std::string error_;
  TempDir dir_;
  std::unique_ptr<WindowSystem> windows_;
  std::string transcript_;
  pid_t client_ = -1;
};

XServer* ImSenderX11Test::server_ = nullptr;
std::string ImSenderX11Test::error_;

// Header, empty line and card lines, each ended by CR LF.
const std::string& CardMessage() {
  static const std::string kMessage =
      "亲，您购买的宝贝已自动发货：\r\n\r\n卡号：A0001 密码：P-01\r\n卡号：A0002 密码：\"P\\02\"\r\n"_gbk;
  return kMessage;
}

struct NickPair {
  const char* seller;  // UTF-8
  const char* buyer;
};
void PrintTo(const NickPair& p, std::ostream* os) { *os << p.seller << " / " << p.buyer; }

class ImSenderNicksTest : public ImSenderX11Test, public ::testing::WithParamInterface<NickPair> {};

TEST_P(ImSenderNicksTest, MessageReachesTheTranscriptExactlyAndTheChatIsClosed) {
  StartClient();
  const std::string seller = Utf8ToGbk(GetParam().seller).value();
  const std::string buyer = Utf8ToGbk(GetParam().buyer).value();

  ASSERT_TRUE(SendImMessage(seller, buyer, CardMessage(), Options()));

  std::vector<std::string> lines = ReadLines(transcript_);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(JsonField(lines[0], "seller"), GetParam().seller);
  EXPECT_EQ(JsonField(lines[0], "buyer"), GetParam().buyer);
  EXPECT_EQ(JsonField(lines[0], "textGbkHex"), HexOfBytes(CardMessage()));
  EXPECT_EQ(JsonField(lines[0], "text"), GbkToUtf8(CardMessage()).value());
  EXPECT_FALSE(ChatOpen(seller, buyer));
}

INSTANTIATE_TEST_SUITE_P(Nicks, ImSenderNicksTest,
                         ::testing::Values(NickPair{"店铺A", "买家B"}, NickPair{"小店·旗舰", "王五_88"},
                                           NickPair{"tb_shop", "buyer two"}));

TEST_F(ImSenderX11Test, ClosesAChatWindowThatWasOpenBefore) {
  StartClient();
  OpenChatByHand("店铺A", "买家B");
  ASSERT_TRUE(WaitUntil([&] { return ChatOpen("店铺A"_gbk, "买家B"_gbk); }));

  ASSERT_TRUE(SendImMessage("店铺A"_gbk, "买家B"_gbk, "第一条"_gbk, Options()));
  EXPECT_FALSE(ChatOpen("店铺A"_gbk, "买家B"_gbk));
  ASSERT_TRUE(SendImMessage("店铺A"_gbk, "买家B"_gbk, "第二条"_gbk, Options()));
  std::vector<std::string> lines = ReadLines(transcript_);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(JsonField(lines[0], "text"), "第一条");
  EXPECT_EQ(JsonField(lines[1], "text"), "第二条");
  EXPECT_FALSE(ChatOpen("店铺A"_gbk, "买家B"_gbk));
}

struct FailureCase {
  const char* name;
  bool clientRunning;
  std::vector<std::string> clientOptions;
  const char* clientPath;  // nullptr: the imitation
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class ImSenderFailureTest : public ImSenderX11Test, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ImSenderFailureTest, GivesUpAfterTheSearchBoundWithoutSending) {
  const FailureCase& c = GetParam();
  if (c.clientRunning) StartClient(c.clientOptions);
  ImSendOptions options = Options(milliseconds(600));
  if (c.clientPath != nullptr) options.clientPath = c.clientPath;

  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(SendImMessage("店铺A"_gbk, "买家B"_gbk, CardMessage(), options));
  EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(600)) << "gave up before the bound";
  EXPECT_TRUE(ReadLines(transcript_).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImSenderFailureTest,
    ::testing::Values(FailureCase{"MissingClient", false, {}, "/nonexistent/aliim-client"},
                      FailureCase{"ClientNotRunning", false, {}, nullptr},
                      FailureCase{"WrongTitle", true, {"--title", "{seller} - {buyer}"}, nullptr},
                      FailureCase{"OtherSellerLoggedIn", true, {"--login", "店铺C"}, nullptr},
                      FailureCase{"WindowNeverOpens", true, {"--no-window"}, nullptr}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(ImSenderX11Test, WrongTitledWindowIsLeftAlone) {
  StartClient({"--title", "{seller} - {buyer}"});
  EXPECT_FALSE(SendImMessage("店铺A"_gbk, "买家B"_gbk, "x", Options(milliseconds(300))));
  // The window the imitation opened under its own title was never touched.
  EXPECT_NE(windows_->FindTopLevel("StandardFrame", "店铺A - 买家B"_gbk), 0u);
}

TEST_F(ImSenderX11Test, ProgramThatKeepsRunningIsWaitedForOnlyUpToItsBound) {
  StartClient();
  OpenChatByHand("店铺A", "买家B");
  const std::string pidFile = dir_.path() + "/client.pid";
  const std::string script = dir_.path() + "/long-running-client";
  WriteFile(script, "#!/bin/sh\necho $$ > '" + pidFile + "'\nexec sleep 600 >/dev/null 2>&1\n", true);
  ImSendOptions options = Options();
  options.clientPath = script;
  options.bounds.programWait = milliseconds(300);

  EXPECT_TRUE(SendImMessage("店铺A"_gbk, "买家B"_gbk, "卡密"_gbk, options));
  EXPECT_EQ(ReadLines(transcript_).size(), 1u);
  // The program was left running, not killed.
  const pid_t longRunning = std::atoi(ReadFileBytes(pidFile).c_str());
  ASSERT_GT(longRunning, 0);
  EXPECT_EQ(kill(longRunning, 0), 0);
  kill(longRunning, SIGKILL);
}

TEST_F(ImSenderX11Test, UnquotedClientPathWithSpacesIsFound) {
  StartClient();
  const std::string linked = dir_.path() + "/im client/aliim sim";
  std::filesystem::create_directories(dir_.path() + "/im client");
  std::filesystem::create_symlink(kSim, linked);
  ImSendOptions options = Options();
  options.clientPath = linked;  // ASCII: GBK and UTF-8 agree
  // The chat window exists only if the command line started the imitation.
  EXPECT_TRUE(SendImMessage("店铺A"_gbk, "买家B"_gbk, "x", options));
  EXPECT_EQ(ReadLines(transcript_).size(), 1u);
}

// The look at the client sends nothing: it finds the client's program
// running (a copy of the imitation, so that no other test's client counts)
// and tells when it is gone; a path that names no program finds nothing.
TEST_F(ImSenderX11Test, ProbeFindsTheRunningClientWithoutSendingAnything) {
  const std::string copy = dir_.path() + "/AliIM client";
  std::filesystem::copy_file(kSim, copy);
  std::filesystem::permissions(copy, std::filesystem::perms::owner_all);
  EXPECT_EQ(windows_->ProbeClient(copy), ClientPresence::kAbsent);
  EXPECT_EQ(windows_->ProbeClient(dir_.path() + "/missing.exe"), ClientPresence::kAbsent);
  EXPECT_EQ(windows_->ProbeClient(""), ClientPresence::kAbsent);

  client_ = StartProcess({copy}, {"AUTODELIVER_IM_TRANSCRIPT=" + transcript_,
                                  "AUTODELIVER_IM_INSTANCE=probe-" + std::to_string(getpid())});
  ASSERT_GT(client_, 0);
  EXPECT_TRUE(WaitUntil([&] { return windows_->ProbeClient(copy) == ClientPresence::kPresent; }));
  // The unquoted path with a space is found as for a message.
  EXPECT_EQ(windows_->ProbeClient(copy), ClientPresence::kPresent);
  EXPECT_TRUE(ReadLines(transcript_).empty());

  StopProcess(client_);
  client_ = -1;
  EXPECT_TRUE(WaitUntil([&] { return windows_->ProbeClient(copy) == ClientPresence::kAbsent; }));
}

}  // namespace
}  // namespace autodeliver
