// The order page patterns and the positional pairing, on page fixtures.
#include "market/order_scan.h"

#include <gtest/gtest.h>

#include <boost/regex.hpp>

#include "market/regex_matches.h"
#include "order_page_fixture.h"
#include "text/gbk.h"
#include "text/text_to_int.h"

namespace autodeliver {
namespace {

using testing::HostileKind;
using testing::HostileMarkup;
using testing::OrderBlock;
using testing::QuantityIndent;
using testing::RenderOrderBlock;
using testing::RenderOrderPage;
using testing::SomeOrders;

std::vector<PendingOrder> Parse(const std::string& body) { return ParseOrderPage(PrepareOrderPage(body)); }

TEST(OrderScanTest, PairsOrdersInPageOrder) {
  const std::string page = RenderOrderPage({
      {"1001", "游戏点卡 100元"_gbk, "2", "买家甲"_gbk, "9001"},
      {"1002", "Q币卡"_gbk, "１２"_gbk, "buyer_b", "9002"},
      {"1003", "Q币卡"_gbk, "件"_gbk, "buyer c", ""},
  });
  const std::vector<PendingOrder> expected = {
      {"1001", "游戏点卡 100元"_gbk, 2, "买家甲"_gbk, "9001"},
      {"1002", "Q币卡"_gbk, 12, "buyer_b", "9002"},  // full-width digits fold
      {"1003", "Q币卡"_gbk, 0, "buyer c", ""},       // no leading digits reads 0
  };
  EXPECT_EQ(Parse(page), expected);
}

TEST(OrderScanTest, PagesWithoutOrdersGiveNone) {
  EXPECT_TRUE(Parse("").empty());
  EXPECT_TRUE(Parse(RenderOrderPage({})).empty());
  EXPECT_TRUE(Parse("<html><body>" + "请登录"_gbk + "</body></html>").empty());
}

TEST(OrderScanTest, FieldsAreTakenAsWrittenOnThePage) {
  // The title runs up to the next double quote, across a line break; the
  // nick up to the first "&amp;"; entities other than &mdash; stay as they
  // are.
  const std::string page = RenderOrderPage({
      {"1001", "Line one\r\nline two &amp; more", "1", "nick%20x&lt;", "9001"},
  });
  const std::vector<PendingOrder> orders = Parse(page);
  ASSERT_EQ(orders.size(), 1u);
  EXPECT_EQ(orders[0].itemTitle, "Line one\r\nline two &amp; more");
  EXPECT_EQ(orders[0].buyerNick, "nick%20x&lt;");
}

TEST(OrderScanTest, DashEntityIsReplacedInAnyLetterCase) {
  const std::string dash = "\xA1\xAA";
  EXPECT_EQ(PrepareOrderPage("a&mdash;b&MDASH;c&MdAsH;d&mdash"),
            "a" + dash + "b" + dash + "c" + dash + "d&mdash");
  // A title written with the entity reaches the order with the dash.
  const std::vector<PendingOrder> orders = Parse(RenderOrderPage({{"1", "A&Mdash;B", "1", "n", "2"}}));
  ASSERT_EQ(orders.size(), 1u);
  EXPECT_EQ(orders[0].itemTitle, "A" + dash + "B");
  // The page ends at its first zero byte.
  EXPECT_EQ(PrepareOrderPage(std::string("ab\0&mdash;", 10)), "ab");
}

// Any page on which the five patterns do not match equally often yields no
// order at all: pairing by position would hand cards to the wrong buyer.
TEST(OrderScanTest, MismatchedMatchListsYieldNoOrders) {
  const OrderBlock a{"1001", "Card A", "1", "buyer_a", "9001"};
  const OrderBlock b{"1002", "Card B", "1", "buyer_b", "9002"};
  std::string lfOnly = RenderOrderBlock(b);
  lfOnly.replace(lfOnly.find("<li class=\"total\">\r\n"), 20, "<li class=\"total\">\n");
  std::string moreSpaces = RenderOrderBlock(b);
  moreSpaces.replace(moreSpaces.rfind(QuantityIndent() + "</li>"), QuantityIndent().size(),
                     QuantityIndent() + " ");
  std::string twoTitles = RenderOrderBlock(b);
  twoTitles.insert(twoTitles.find("</td><td class=\"buyer\">"),
                   "<a style=\"line-height:16px;\" target=\"_blank\" title=\"Second item\">x</a>\r\n");
  std::string noNick = RenderOrderBlock(b);
  noNick.replace(noNick.find("ww:params=\"nick="), 16, "ww:params=\"user=");
  std::string noOrderId = RenderOrderBlock(b);
  noOrderId.replace(noOrderId.find("&order_id="), 10, "&order=");

  const std::string head = RenderOrderBlock(a);
  // The well-formed block alone is an order; each broken variant spoils the
  // whole page.
  ASSERT_EQ(Parse(head).size(), 1u);
  for (const std::string& broken : {lfOnly, moreSpaces, twoTitles, noNick, noOrderId}) {
    EXPECT_TRUE(Parse(head + broken + head).empty()) << broken;
  }
}

// Pages near the size limit whose markup makes a plain whole-page search of
// the patterns take minutes. The bounded scan reads every such page in time
// linear in its length: a page with one unclosed opener still gives its
// orders, a page full of openers that never close is refused as too
// complex. (Their timing is in bench/market.)
TEST(OrderScanTest, HostilePagesAreReadOrRefusedWithinTheirBudget) {
  struct Case {
    HostileKind kind;
    OrderPageOutcome outcome;
  };
  const std::vector<Case> cases = {
      {HostileKind::kUnclosedQuantity, OrderPageOutcome::kRead},
      {HostileKind::kQuantityOpeners, OrderPageOutcome::kTooComplex},
      {HostileKind::kNickOpeners, OrderPageOutcome::kTooComplex},
      {HostileKind::kNumberOpeners, OrderPageOutcome::kTooComplex},
      {HostileKind::kOrderIdOpeners, OrderPageOutcome::kTooComplex},
      {HostileKind::kOrderIdMatches, OrderPageOutcome::kUnpaired},
      {HostileKind::kTitleOpeners, OrderPageOutcome::kUnpaired},
  };
  const std::vector<OrderBlock> orders = SomeOrders(20);
  const std::size_t room = kOrderPageLimit - RenderOrderPage(orders).size();
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    const std::string page = RenderOrderPage(orders, HostileMarkup(c.kind, room));
    ASSERT_LE(page.size(), kOrderPageLimit);
    ASSERT_GT(page.size(), kOrderPageLimit - 64);
    const OrderPageScan scan = ReadOrderPage(PrepareOrderPage(page));
    EXPECT_EQ(scan.outcome, c.outcome) << Describe(scan.outcome);
    if (c.outcome == OrderPageOutcome::kRead) {
      ASSERT_EQ(scan.orders.size(), orders.size());
      EXPECT_EQ(scan.orders.back().orderNumber, orders.back().orderNumber);
      EXPECT_EQ(scan.orders.back().quantity, TextToInt(orders.back().quantityText));
    } else {
      EXPECT_TRUE(scan.orders.empty());
    }
  }
  // A few unclosed openers of every kind cost little and leave the orders
  // readable.
  std::string fewOpeners;
  for (HostileKind kind : {HostileKind::kQuantityOpeners, HostileKind::kNickOpeners,
                           HostileKind::kNumberOpeners, HostileKind::kOrderIdOpeners}) {
    fewOpeners += HostileMarkup(kind, 500);
  }
  const OrderPageScan few = ReadOrderPage(PrepareOrderPage(RenderOrderPage(orders, fewOpeners)));
  EXPECT_EQ(few.outcome, OrderPageOutcome::kRead);
  EXPECT_EQ(few.orders.size(), orders.size());
}

TEST(OrderScanTest, PagesBeyondTheLimitAreRefusedUnread) {
  const std::vector<OrderBlock> orders = SomeOrders(3);
  const std::string page = RenderOrderPage(orders);
  std::string atLimit = page;
  atLimit.insert(atLimit.size() - 10, kOrderPageLimit - page.size(), ' ');
  ASSERT_EQ(atLimit.size(), kOrderPageLimit);
  EXPECT_EQ(ReadOrderPage(atLimit).outcome, OrderPageOutcome::kRead);
  EXPECT_EQ(ReadOrderPage(atLimit).orders.size(), 3u);
  const OrderPageScan over = ReadOrderPage(atLimit + " ");
  EXPECT_EQ(over.outcome, OrderPageOutcome::kTooLarge);
  EXPECT_TRUE(over.orders.empty());
  // Unpaired lists are told apart from a page without orders.
  EXPECT_EQ(ReadOrderPage(page + "order_id=1&").outcome, OrderPageOutcome::kUnpaired);
  EXPECT_EQ(ReadOrderPage(RenderOrderPage({})).outcome, OrderPageOutcome::kRead);
}

TEST(RegexMatchesTest, MatchesDoNotOverlapAndGroupsMayBeEmpty) {
  const boost::regex pattern("<(x*)(?:y)?>", boost::regex::perl);
  EXPECT_EQ(AllGroupOneMatches(pattern, "<x><><xx>"), (std::vector<std::string>{"x", "", "xx"}));
  const boost::regex optionalGroup("a(b)?", boost::regex::perl);
  EXPECT_EQ(AllGroupOneMatches(optionalGroup, "abaab"), (std::vector<std::string>{"b", "", "b"}));
}

TEST(RegexMatchesTest, SearchBeyondComplexityLimitCountsAsNoMatch) {
  // Nested repeats on a long run without the closing byte make the engine
  // give up; that must read as "no match", not as an exception.
  const boost::regex explosive("(x+x+)+y", boost::regex::perl);
  std::vector<std::string> found;
  ASSERT_NO_THROW(found = AllGroupOneMatches(explosive, std::string(64, 'x')));
  EXPECT_TRUE(found.empty());
  // The matches before the one that gives up are kept.
  ASSERT_NO_THROW(found = AllGroupOneMatches(explosive, "xxy" + std::string(64, 'x')));
  EXPECT_EQ(found, std::vector<std::string>{"xx"});
}

TEST(RegexMatchesTest, WindowedSearchStopsIncompleteWhenItsBudgetRunsOutOrTheEngineGivesUp) {
  OpenerPattern pattern{"<", boost::regex("<(.*?)>", boost::regex::perl), 8};
  std::size_t budget = 100;
  // "<abcdefgh>" does not fit its window of 8 bytes: passed over, costing 8.
  WindowedMatches found = WindowedGroupOneMatches(pattern, "<a><abcdefgh><b>", budget);
  EXPECT_TRUE(found.complete);
  EXPECT_EQ(found.groups, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(budget, 92u);
  budget = 20;
  found = WindowedGroupOneMatches(pattern, "<x>" + std::string(30, '<') + "<y>", budget);
  EXPECT_FALSE(found.complete);
  EXPECT_EQ(found.groups, std::vector<std::string>{"x"});

  const OpenerPattern explosive{"x", boost::regex("x(x+x+)+y", boost::regex::perl), 1000};
  budget = 1 << 20;
  found = WindowedGroupOneMatches(explosive, std::string(64, 'x'), budget);
  EXPECT_FALSE(found.complete);
}

}  // namespace
}  // namespace autodeliver
