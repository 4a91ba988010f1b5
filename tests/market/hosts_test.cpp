// Host configuration: real hosts by default, the environment wins.
#include "market/hosts.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace autodeliver {
namespace {

constexpr const char* kVariables[] = {"AUTODELIVER_LOGIN_HOST",     "AUTODELIVER_MEMBER_HOST",
                                      "AUTODELIVER_LOGISTICS_HOST", "AUTODELIVER_WEB_HOST",
                                      "AUTODELIVER_LOGIN_SCHEME",   "AUTODELIVER_SERVICE_HOST"};

class HostsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* v : kVariables) unsetenv(v);
  }
  void TearDown() override { SetUp(); }
};

TEST_F(HostsTest, DefaultsAreTheMarketplace) {
  EXPECT_EQ(LoginPageUrl(), "https://login.taobao.com/");
  EXPECT_EQ(LoginCookieUrl(), "https://login.taobao.com/member/login.jhtml");
  EXPECT_EQ(OrderListUrl(), "http://wuliu.taobao.com/user/order_list_new.htm");
  setenv("AUTODELIVER_LOGIN_HOST", "", 1);  // empty counts as unset
  EXPECT_EQ(LoginHost(), "login.taobao.com");
}

TEST_F(HostsTest, EnvironmentPointsAtAnImitation) {
  setenv("AUTODELIVER_LOGIN_HOST", "127.0.0.1:8001", 1);
  setenv("AUTODELIVER_MEMBER_HOST", "127.0.0.1:8002", 1);
  setenv("AUTODELIVER_LOGISTICS_HOST", "127.0.0.1:8003", 1);
  setenv("AUTODELIVER_WEB_HOST", "127.0.0.1:8004", 1);
  setenv("AUTODELIVER_LOGIN_SCHEME", "http", 1);
  setenv("AUTODELIVER_SERVICE_HOST", "127.0.0.1:8005", 1);
  EXPECT_EQ(LoginPageUrl(), "http://127.0.0.1:8001/");
  EXPECT_EQ(LoginCookieUrl(), "http://127.0.0.1:8001/member/login.jhtml");
  EXPECT_EQ(SellerProfileUrl(), "http://127.0.0.1:8002/user/baseInfoSet.htm");
  EXPECT_EQ(OrderListUrl(), "http://127.0.0.1:8003/user/order_list_new.htm");
  EXPECT_EQ(ConsignUrl("123", "456"),
            "http://127.0.0.1:8003/user/consign_dummy.htm?trade_id=123&order_id=456");
  EXPECT_EQ(ConsignUrl("123", ""), "http://127.0.0.1:8003/user/consign_dummy.htm?trade_id=123&order_id=");
  EXPECT_EQ(ImDownloadUrl(), "http://127.0.0.1:8004/go/chn/aliwangwang/index.php?spm=0.0.0.51.LfwhjZ");
  EXPECT_EQ(ServiceHost(), "127.0.0.1:8005");
  setenv("AUTODELIVER_LOGIN_SCHEME", "ftp", 1);  // anything else keeps TLS
  EXPECT_EQ(LoginScheme(), "https");
}

}  // namespace
}  // namespace autodeliver
