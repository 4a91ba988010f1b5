// The notice and update checks against the maker's service imitation.
#include "service/service_checks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "../delivery/market_sim_fixture.h"
#include "http/http_request.h"
#include "support/temp_dir.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

struct Box {
  std::string text;
  std::string caption;
  BoxKind kind;
};

class FakePrompts : public Prompts {
 public:
  BoxAnswer ShowBox(const std::string& text, const std::string& caption, BoxKind kind) override {
    boxes.push_back({text, caption, kind});
    return answer;
  }
  void OpenPage(const std::string& url) override { pages.push_back(url); }
  void EndProgram(int exitCode) override { exitCodes.push_back(exitCode); }

  BoxAnswer answer = BoxAnswer::kNo;
  std::vector<Box> boxes;
  std::vector<std::string> pages;
  std::vector<int> exitCodes;
};

class ServiceChecksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim_.ok()) << "the imitation did not start";
    SetHttpTimeoutForTesting(std::chrono::seconds(20));
  }

  std::string UpdateIni() const {
    std::ifstream in(dir_ / "update.ini", std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  testing::MarketSim sim_;
  testing::TempDir temp_;
  std::filesystem::path dir_ = temp_.path();
  FakePrompts prompts_;
};

TEST_F(ServiceChecksTest, NoticeIsShownOnlyWhenThereIsOne) {
  sim_.Call("/_sim/service", {{"notice", ""}});
  CheckNotice(prompts_);
  EXPECT_TRUE(prompts_.boxes.empty());

  // "\n" (backslash, n) becomes a line break; "<br />" stays as it is.
  sim_.Call("/_sim/service", {{"notice", "店铺维护\\n今晚十点<br />结束"}});
  CheckNotice(prompts_);
  ASSERT_EQ(prompts_.boxes.size(), 1u);
  EXPECT_EQ(prompts_.boxes[0].text, "店铺维护\r\n今晚十点<br />结束"_gbk);
  EXPECT_EQ(prompts_.boxes[0].caption, "通知"_gbk);
  EXPECT_EQ(prompts_.boxes[0].kind, BoxKind::kInformation);
}

TEST_F(ServiceChecksTest, BrokenOrMissingNoticeAnswersShowNothing) {
  const std::vector<std::string> answers = {
      "[check]no_msg[check][msg]ignored[msg]",  // no_msg wins whatever the message holds
      "<html>busy</html>",                      // no flag at all
      "[check]show[check][msg]\xff\xfe[msg]",   // not UTF-8: the answer cannot be read
  };
  for (const std::string& raw : answers) {
    sim_.Call("/_sim/service", {{"raw_msg", raw}});
    CheckNotice(prompts_);
  }
  setenv("AUTODELIVER_SERVICE_HOST", "127.0.0.1:1", 1);  // nobody listens there
  CheckNotice(prompts_);
  EXPECT_TRUE(prompts_.boxes.empty());
}

TEST_F(ServiceChecksTest, SameVersionWritesUpdateIniAndGoesOn) {
  sim_.Call("/_sim/service", {{"version", kLocalVersion}, {"changes", "x"}});
  EXPECT_TRUE(CheckUpdate(prompts_, dir_.string()));
  EXPECT_TRUE(prompts_.boxes.empty());
  EXPECT_EQ(UpdateIni(), "[update]\r\nver=1.0.0.1007\r\ngx=x\r\n");
}

TEST_F(ServiceChecksTest, AnyOtherVersionIsOffered) {
  sim_.Call("/_sim/service", {{"version", "1.0.0.2000"}, {"changes", "修复发货\\n加快扫描"}});
  prompts_.answer = BoxAnswer::kNo;
  EXPECT_TRUE(CheckUpdate(prompts_, dir_.string()));
  ASSERT_EQ(prompts_.boxes.size(), 1u);
  EXPECT_EQ(prompts_.boxes[0].text,
            "发现新版本1.0.0.2000\r\n\r\n修复发货\r\n加快扫描\r\n\r\n是否立即在线更新\r\n"
            "注:如果不更新继续使用版本可能会导致未知错误"_gbk);
  EXPECT_EQ(prompts_.boxes[0].caption, "检测更新"_gbk);
  EXPECT_EQ(prompts_.boxes[0].kind, BoxKind::kQuestion);
  EXPECT_TRUE(prompts_.pages.empty());
  EXPECT_TRUE(prompts_.exitCodes.empty());

  // An older version is offered as well (texts compared for inequality);
  // Yes opens the forum page and ends the program.
  sim_.Call("/_sim/service", {{"version", "1.0.0.0001"}, {"changes", ""}});
  prompts_.answer = BoxAnswer::kYes;
  EXPECT_FALSE(CheckUpdate(prompts_, dir_.string()));
  ASSERT_EQ(prompts_.boxes.size(), 2u);
  EXPECT_EQ(prompts_.pages, std::vector<std::string>{sim_.Url("/thread-51-1-1.html")});
  EXPECT_EQ(prompts_.exitCodes, std::vector<int>{0});
}

TEST_F(ServiceChecksTest, BrokenUpdateAnswerLeavesAnEmptyIniAndNoPrompt) {
  std::filesystem::create_directories(dir_);
  std::ofstream(dir_ / "update.ini") << "[update]\r\nver=0.9\r\n";
  for (const std::string& raw : {std::string("[msg][update]<br />ver=2.0<br />"), std::string("nothing")}) {
    sim_.Call("/_sim/service", {{"raw_updata", raw}});
    EXPECT_TRUE(CheckUpdate(prompts_, dir_.string()));
    EXPECT_EQ(UpdateIni(), "");
  }
  EXPECT_TRUE(prompts_.boxes.empty());
}

}  // namespace
}  // namespace autodeliver
