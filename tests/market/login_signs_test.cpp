// What a scan tells besides its orders: the order page's outcome (listed,
// unpaired with its five counts, a sign-in page, no answer) and the profile
// page's nick, read on the marketplace imitation's own pages and on page
// fixtures.
#include <gtest/gtest.h>

#include "market/login.h"
#include "market/scan_outcome.h"
#include "order_page_fixture.h"
#include "sim_pages.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

using testing::OrderBlock;
using testing::RenderOrderBlock;
using testing::RenderOrderPage;

sim::SimOrder SimOrder(const std::string& number, const std::string& title, int quantity,
                       const std::string& buyer) {
  sim::SimOrder o;
  o.orderNumber = number;
  o.orderId = number + "1";
  o.title = title;
  o.quantity = quantity;
  o.buyer = buyer;
  o.seller = "测试卖家"_gbk;
  o.placedAt = "2026-01-01 12:00:00";
  return o;
}

TEST(ScanOutcomeTest, ImitationPagesReadAsTheSellerWouldSeeThem) {
  const std::string seller = "测试卖家"_gbk;
  const std::vector<sim::SimOrder> two = {SimOrder("5002", "点卡"_gbk, 2, "买家乙"_gbk),
                                          SimOrder("5001", "月卡—30天"_gbk, 1, "买家甲"_gbk)};

  const OrderScan listed = ReadOrderScan(sim::OrderListPage(seller, two, 1, 15));
  EXPECT_EQ(listed.outcome, ScanOutcome::kListed);
  ASSERT_EQ(listed.orders.size(), 2u);
  EXPECT_EQ(listed.orders[1].itemTitle, "月卡—30天"_gbk);
  EXPECT_EQ(listed.counts, (OrderPatternCounts{2, 2, 2, 2, 2}));

  // A signed-in seller without orders: an empty list, not a sign-in page.
  const OrderScan empty = ReadOrderScan(sim::OrderListPage(seller, {}, 1, 15));
  EXPECT_EQ(empty.outcome, ScanOutcome::kListed);
  EXPECT_TRUE(empty.orders.empty());
  EXPECT_TRUE(empty.counts.AllZero());

  // An expired session answers every page with the sign-in form.
  const OrderScan signIn = ReadOrderScan(sim::LoginPage("", "/user/order_list_new.htm"));
  EXPECT_EQ(signIn.outcome, ScanOutcome::kSignInPage);
  EXPECT_TRUE(signIn.orders.empty());

  // Other pages without orders are no sign of a sign-in.
  EXPECT_EQ(ReadOrderScan(sim::MessagePage("发货失败"_gbk, "x")).outcome, ScanOutcome::kListed);
  EXPECT_EQ(ReadOrderScan(sim::MyTaobaoPage(seller)).outcome, ScanOutcome::kListed);
  EXPECT_EQ(ReadOrderScan("").outcome, ScanOutcome::kNoAnswer);
  EXPECT_EQ(ReadOrderScan(std::string("\0<html>", 7)).outcome, ScanOutcome::kNoAnswer);
}

TEST(ScanOutcomeTest, UnpairedPageGivesNoOrderButItsFiveCounts) {
  // The second order lost its order_id link, the third its buyer tag and
  // gained a second title.
  std::string second = RenderOrderBlock({"1002", "B"_gbk, "1", "b", "9002"});
  second.replace(second.find("order_id="), 9, "order=");
  std::string third = RenderOrderBlock({"1003", "C"_gbk, "1", "c", "9003"});
  third.replace(third.find("<span class=\"ww"), 5, "<div ");
  third += "<a style=\"line-height:16px;\" target=\"_blank\" title=\"extra\">";
  const std::string page = RenderOrderPage({{"1001", "A", "1", "a", "9001"}}) + second + third;
  const OrderScan scan = ReadOrderScan(page);
  EXPECT_EQ(scan.outcome, ScanOutcome::kUnpaired);
  EXPECT_TRUE(scan.orders.empty());
  EXPECT_EQ(scan.counts, (OrderPatternCounts{4, 2, 3, 3, 2}));
  EXPECT_FALSE(scan.counts.AllEqual());
  // A sign-in form on a page that still carries order markers is read as
  // an order page, never as a sign-in.
  EXPECT_EQ(ReadOrderScan(page + sim::LoginPage("", "")).outcome, ScanOutcome::kUnpaired);
}

TEST(ScanOutcomeTest, SellerNickReadFromTheProfilePage) {
  const struct {
    std::string page;
    NickOutcome outcome;
    std::string nick;
  } cases[] = {
      {sim::ProfilePage("店铺A"_gbk), NickOutcome::kRead, "店铺A"_gbk},
      {sim::LoginPage("", "/user/baseInfoSet.htm"), NickOutcome::kSignInPage, ""},
      {sim::MessagePage("页面不存在"_gbk, "x"), NickOutcome::kNotOnPage, ""},
      {"<form><INPUT TYPE=\"Password\" name=p></form>", NickOutcome::kSignInPage, ""},
      {"<a href=\"/member/login.jhtml\">login</a>", NickOutcome::kNotOnPage, ""},
      {"亲爱的<b></b>"_gbk, NickOutcome::kNotOnPage, ""},
      {"", NickOutcome::kNoAnswer, ""},
  };
  for (const auto& c : cases) {
    const SellerNickRead read = ReadSellerNickPage(c.page);
    EXPECT_EQ(read.outcome, c.outcome) << GbkToUtf8Lossy(c.page);
    EXPECT_EQ(read.nick, c.nick);
  }
}

}  // namespace
}  // namespace autodeliver
