// The order page patterns and the positional pairing, on page fixtures.
#include "market/order_scan.h"

#include <gtest/gtest.h>

#include "market/login.h"
#include "market/scan_outcome.h"
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

std::vector<PendingOrder> Parse(const std::string& body) { return ParseOrderPage(body); }

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

// "&mdash;" in any letter case stands for the GBK dash inside every field,
// unless its "&" is the trail byte of a double-byte character; the "&" that
// begins it never ends an order id.
TEST(OrderScanTest, DashEntityIsReplacedInsideTheFields) {
  const std::string dash = "\xA1\xAA";
  struct Case {
    std::string title, expected;
  };
  const std::vector<Case> cases = {
      {"a&mdash;b&MDASH;c&MdAsH;d&mdash", "a" + dash + "b" + dash + "c" + dash + "d&mdash"},
      {"\x81&mdash;x", "\x81&mdash;x"},                      // the "&" is a trail byte
      {"\x81\x81&mdash;x", "\x81\x81" + dash + "x"},         // a whole character before it
      {"\xB5\xA5&mdash;&mdash;", "\xB5\xA5" + dash + dash},  // "单" then two entities
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    const std::vector<PendingOrder> orders =
        Parse(RenderOrderPage({{"1", c.title, "1", "n&mdash;", "2&mdash;3"}}));
    ASSERT_EQ(orders.size(), 1u);
    EXPECT_EQ(orders[0].itemTitle, c.expected);
    EXPECT_EQ(orders[0].buyerNick, "n" + dash);
    EXPECT_EQ(orders[0].orderId, "2" + dash + "3");
  }
  // The page ends at its first zero byte.
  const std::vector<OrderBlock> two = SomeOrders(2);
  const std::string cut = RenderOrderBlock(two[0]) + std::string(1, '\0') + RenderOrderBlock(two[1]);
  const std::vector<PendingOrder> orders = Parse(cut);
  ASSERT_EQ(orders.size(), 1u);
  EXPECT_EQ(orders[0].orderNumber, two[0].orderNumber);
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

// Pages of megabytes whose markup made a plain whole-page search of the
// patterns take minutes: openers that never close, or close far away. The
// scan reads each in time linear in its length and keeps every order; only
// markup that adds matches of one field spoils the pairing. (Their timing
// is in bench/market.)
TEST(OrderScanTest, HostilePagesAreReadWhole) {
  struct Case {
    HostileKind kind;
    OrderPageOutcome outcome;
  };
  const std::vector<Case> cases = {
      {HostileKind::kUnclosedQuantity, OrderPageOutcome::kRead},
      {HostileKind::kQuantityOpeners, OrderPageOutcome::kRead},
      {HostileKind::kNickOpeners, OrderPageOutcome::kRead},
      {HostileKind::kNumberOpeners, OrderPageOutcome::kRead},
      {HostileKind::kOrderIdOpeners, OrderPageOutcome::kRead},
      {HostileKind::kOrderIdMatches, OrderPageOutcome::kUnpaired},
      {HostileKind::kTitleOpeners, OrderPageOutcome::kUnpaired},
  };
  const std::vector<OrderBlock> orders = SomeOrders(20);
  const std::size_t bytes = std::size_t{8} << 20;
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    // The hostile markup before the orders and after them; a run of blanks
    // longer than any window keeps the last opener before the orders from
    // closing in them.
    const std::string markup = HostileMarkup(c.kind, bytes / 2);
    const std::string page = markup + std::string(8192, ' ') + RenderOrderPage(orders, markup);
    ASSERT_GT(page.size(), bytes - 256);
    const OrderPageScan scan = ReadOrderPage(page);
    EXPECT_EQ(scan.outcome, c.outcome) << Describe(scan.outcome);
    if (c.outcome == OrderPageOutcome::kRead) {
      ASSERT_EQ(scan.orders.size(), orders.size());
      EXPECT_EQ(scan.orders.back().orderNumber, orders.back().orderNumber);
      EXPECT_EQ(scan.orders.back().quantity, TextToInt(orders.back().quantityText));
    } else {
      EXPECT_TRUE(scan.orders.empty());
    }
  }
}

TEST(OrderScanTest, LongPagesAreReadWhole) {
  // Far beyond the 4 MiB a page could once have: every order is read.
  const std::vector<OrderBlock> orders = SomeOrders(12000);
  const std::string page = RenderOrderPage(orders);
  ASSERT_GT(page.size(), std::size_t{6} << 20);
  const OrderPageScan scan = ReadOrderPage(page);
  EXPECT_EQ(scan.outcome, OrderPageOutcome::kRead);
  ASSERT_EQ(scan.orders.size(), orders.size());
  for (std::size_t i : {std::size_t{0}, orders.size() / 2, orders.size() - 1}) {
    EXPECT_EQ(scan.orders[i],
              (PendingOrder{orders[i].orderNumber, orders[i].itemTitle, TextToInt(orders[i].quantityText),
                            orders[i].buyerNick, orders[i].orderId}));
  }
  // Unpaired lists are told apart from a page without orders.
  EXPECT_EQ(ReadOrderPage(page + "order_id=1&").outcome, OrderPageOutcome::kUnpaired);
  EXPECT_EQ(ReadOrderPage(page + "order_id=1&").counts.orderIds, 12001);
  EXPECT_EQ(ReadOrderPage(RenderOrderPage({})).outcome, OrderPageOutcome::kRead);
}

// Past the memory bound of the orders held, orders are counted, not held:
// the first ones are read and the rest told; the pairing rule still holds
// over the whole page.
TEST(OrderScanTest, OrdersBeyondTheHeldBoundAreToldNotDropped) {
  const std::vector<OrderBlock> orders = SomeOrders(200);
  const std::string page = RenderOrderPage(orders);
  const OrderPageScan whole = ReadOrderPage(page);
  ASSERT_EQ(whole.orders.size(), 200u);
  const struct {
    std::size_t heldLimit, fewestRead, mostRead;
  } cases[] = {{1, 0, 0}, {4000, 1, 199}, {20000, 1, 199}, {std::size_t{1} << 30, 200, 200}};
  for (const auto& c : cases) {
    const std::size_t heldLimit = c.heldLimit;
    SCOPED_TRACE("held limit " + std::to_string(heldLimit));
    OrderPageReader reader({.window = 4096, .heldLimit = heldLimit});
    reader.Feed(page);
    const OrderPageScan scan = reader.Finish();
    EXPECT_EQ(scan.outcome, OrderPageOutcome::kRead);
    EXPECT_EQ(scan.counts, whole.counts);
    EXPECT_EQ(static_cast<int>(scan.orders.size()) + scan.ordersNotRead, 200);
    EXPECT_GE(scan.orders.size(), c.fewestRead);
    ASSERT_LE(scan.orders.size(), c.mostRead);
    EXPECT_TRUE(std::equal(scan.orders.begin(), scan.orders.end(), whole.orders.begin()));

    OrderPageReader unpaired({.window = 4096, .heldLimit = heldLimit});
    unpaired.Feed(page + "order_id=1&");
    const OrderPageScan refused = unpaired.Finish();
    EXPECT_EQ(refused.outcome, OrderPageOutcome::kUnpaired);
    EXPECT_TRUE(refused.orders.empty());
    EXPECT_EQ(refused.counts.orderIds, 201);
  }
}

// The sign-in check of a page read in pieces finds a marker where the
// whole-page check does: in any letter case, only where a character
// starts, up to the page's first zero byte, however the page is cut.
TEST(OrderScanTest, SignInMarkersAreFoundAcrossPieces) {
  const std::string filler(3000, 'x');
  const std::vector<std::string> pages = {
      "<input type=\"password\">",
      filler + "<INPUT TYPE='PASSWORD'>",
      filler + "type=passwor",
      filler + "tpl_Password",
      filler + "\x81type=password",                 // the "t" is a trail byte
      filler + "\x81\x81type=password",             // a whole character before it
      filler + "\xB5\xA5\x81" + "tPL_password x",   // "单", then a lead byte takes the "t"
      filler + std::string("\0type=password", 14),  // past the page's end
      "type=password",
      "",
  };
  for (const std::string& page : pages) {
    const std::string_view whole = std::string_view(page).substr(0, page.find('\0'));
    const bool expected = LooksLikeSignInPage(whole);
    for (std::size_t piece : {1, 2, 3, 14, 15, 16, 1000, 5000}) {
      SCOPED_TRACE(GbkToUtf8Lossy(page.substr(page.size() > 40 ? page.size() - 40 : 0)) + ", pieces of " +
                   std::to_string(piece));
      SignInMarkerSearch search;
      for (std::size_t at = 0; at < whole.size(); at += piece) search.Feed(whole.substr(at, piece));
      EXPECT_EQ(search.Finish(), expected);
      // The order scan reads a page without order markers the same way.
      OrderScanReader reader({.window = piece, .heldLimit = 0});
      for (std::size_t at = 0; at < page.size(); at += piece)
        reader.Feed(std::string_view(page).substr(at, piece));
      const ScanOutcome outcome = reader.Finish().outcome;
      EXPECT_EQ(outcome, whole.empty() ? ScanOutcome::kNoAnswer
                         : expected    ? ScanOutcome::kSignInPage
                                       : ScanOutcome::kListed);
    }
  }
  EXPECT_TRUE(LooksLikeSignInPage(pages[0]));
  EXPECT_FALSE(LooksLikeSignInPage(pages[4]));
  EXPECT_TRUE(LooksLikeSignInPage(pages[5]));
  EXPECT_FALSE(LooksLikeSignInPage(pages[6]));
}

}  // namespace
}  // namespace autodeliver
