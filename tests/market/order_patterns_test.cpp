// The bounded search of the order patterns against the plain whole-page
// search of the patterns as written: on every page of a corpus (the
// fixture's pages, the imitation's pages, the fuzz corpus, and pages with
// each pattern broken in turn) both find the same matches.
#include "market/order_patterns.h"

#include <gtest/gtest.h>

#include <boost/regex.hpp>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "market/order_scan.h"
#include "order_page_fixture.h"
#include "text/gbk.h"
#ifdef AUTODELIVER_WITH_MARKET_SIM
#include "sim_pages.h"
#endif

namespace autodeliver {
namespace {

using testing::HostileKind;
using testing::HostileMarkup;
using testing::OrderBlock;
using testing::RenderOrderBlock;
using testing::RenderOrderPage;
using testing::SomeOrders;

struct WholePageMatch {
  std::size_t length = 0;
  std::string group;
};

// Every match of `pattern` in `text` by the engine's own search, each one
// starting where the previous ended.
std::vector<WholePageMatch> WholePageMatches(const boost::regex& pattern, const std::string& text) {
  std::vector<WholePageMatch> matches;
  auto start = text.cbegin();
  auto flags = boost::match_default;
  boost::smatch m;
  while (boost::regex_search(start, text.cend(), m, pattern, flags)) {
    matches.push_back({static_cast<std::size_t>(m[0].length()), m[1].matched ? m[1].str() : std::string()});
    start = m[0].second;
    flags |= boost::match_prev_avail;
  }
  return matches;
}

struct CorpusPage {
  std::string name;
  std::string text;  // as the patterns see it (prepared)
};

std::vector<CorpusPage> FixturePages() {
  std::vector<CorpusPage> pages;
  pages.push_back({"empty list", RenderOrderPage({})});
  pages.push_back({"one order", RenderOrderPage(SomeOrders(1))});
  pages.push_back({"twelve orders", RenderOrderPage(SomeOrders(12))});
  pages.push_back(
      {"odd fields",
       RenderOrderPage({{"1001", "Line one\r\nline two &amp; more", "１２"_gbk, "nick%20x&lt;", ""},
                        {"1002", "A&Mdash;B \"quoted\"", "件"_gbk, "buyer c", "9"}})});
  return pages;
}

#ifdef AUTODELIVER_WITH_MARKET_SIM
std::vector<CorpusPage> ImitationPages() {
  std::vector<sim::SimOrder> orders;
  for (int i = 0; i < 25; ++i) {
    sim::SimOrder o;
    o.orderNumber = std::to_string(5000 + i);
    o.orderId = std::to_string(9000 + i);
    o.title = sim::Gbk(i % 2 ? "游戏点卡 — 100元" : "Q币卡");
    o.quantity = 1 + i % 4;
    o.buyer = sim::Gbk(i % 3 ? "买家" : "buyer ") + std::to_string(i);
    o.placedAt = "2012-11-20 09:05:00";
    orders.push_back(o);
  }
  return {{"imitation, first page", sim::OrderListPage(sim::Gbk("测试卖家"), orders, 1, 20)},
          {"imitation, second page", sim::OrderListPage(sim::Gbk("测试卖家"), orders, 2, 20)},
          {"imitation, no orders", sim::OrderListPage(sim::Gbk("测试卖家"), {}, 1, 20)}};
}
#endif

std::vector<CorpusPage> FuzzCorpusPages() {
  std::vector<CorpusPage> pages;
  const std::filesystem::path dir = std::filesystem::path(AUTODELIVER_SOURCE_DIR) / "fuzz/corpus/order_page";
  if (!std::filesystem::is_directory(dir)) return pages;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    pages.push_back({"fuzz corpus " + entry.path().filename().string(), bytes.str()});
  }
  return pages;
}

// The page with the second order's markup broken for one pattern: its
// opener gone, its closer gone, or its opener written twice.
std::vector<CorpusPage> BrokenPages() {
  const std::vector<OrderBlock> orders = SomeOrders(3);
  struct Edit {
    const char* name;
    std::string from, to;
  };
  const std::string indent = testing::QuantityIndent();
  const std::vector<Edit> edits = {
      {"title opener", "target=\"_blank\" title=\"", "target=\"_blank\" name=\""},
      {"title closer", "\" href=\"item.htm\">", " href=item.htm>"},
      {"nick opener", "ww:params=\"nick=", "ww:params=\"user="},
      {"nick closer", "&amp;site=", "&site="},
      {"number opener", "<span class=\"order-number\">", "<span class=\"order-no\">"},
      {"number closer", "</span>\r\n<span class=\"time\">", "</i>\r\n<span class=\"time\">"},
      {"quantity opener", "<li class=\"total\">\r\n", "<li class=\"total\">\n"},
      {"quantity times", "×"_gbk + " ", "x "},
      {"quantity closer", "\r\n" + indent + "</li>", "\r\n" + indent + " </li>"},
      {"order id opener", "&order_id=", "&order="},
      {"order id closer", "&from=list", "#from=list"},
      {"title twice", "<a style=", "<a style=\"line-height:16px;\" target=\"_blank\" title=\"x\"><a style="},
      {"quantity twice", "<li class=\"total\">",
       "<li class=\"total\">\r\n" + indent + "\t<li class=\"total\">"},
  };
  std::vector<CorpusPage> pages;
  for (const Edit& e : edits) {
    std::string middle = RenderOrderBlock(orders[1]);
    const std::size_t at = middle.find(e.from);
    if (at == std::string::npos) {
      ADD_FAILURE() << "the fixture has no " << e.name;
      continue;
    }
    middle.replace(at, e.from.size(), e.to);
    pages.push_back({std::string("broken ") + e.name,
                     RenderOrderBlock(orders[0]) + middle + RenderOrderBlock(orders[2])});
  }
  for (HostileKind kind :
       {HostileKind::kUnclosedQuantity, HostileKind::kQuantityOpeners, HostileKind::kNickOpeners,
        HostileKind::kNumberOpeners, HostileKind::kOrderIdOpeners, HostileKind::kOrderIdMatches,
        HostileKind::kTitleOpeners}) {
    pages.push_back({"hostile " + std::to_string(static_cast<int>(kind)),
                     RenderOrderPage(orders, HostileMarkup(kind, 3000))});
  }
  return pages;
}

TEST(OrderPatternsTest, BoundedSearchFindsWhatTheWholePageSearchFinds) {
  std::vector<CorpusPage> corpus = FixturePages();
#ifdef AUTODELIVER_WITH_MARKET_SIM
  for (CorpusPage& p : ImitationPages()) corpus.push_back(std::move(p));
#endif
  for (CorpusPage& p : FuzzCorpusPages()) corpus.push_back(std::move(p));
  for (CorpusPage& p : BrokenPages()) corpus.push_back(std::move(p));
  ASSERT_GE(corpus.size(), 20u);

  std::size_t matchesCompared = 0;
  for (const CorpusPage& page : corpus) {
    SCOPED_TRACE(page.name);
    const std::string text = PrepareOrderPage(page.text);
    std::size_t budget = kOrderPageFailedWindowBudget;
    for (OrderField field : kOrderFields) {
      SCOPED_TRACE(OrderPatternText(field));
      const boost::regex written(OrderPatternText(field), boost::regex::perl);
      const std::vector<WholePageMatch> whole = WholePageMatches(written, text);
      std::vector<std::string> wholeGroups;
      for (const WholePageMatch& m : whole) {
        // The equality holds for matches that fit their window: every page
        // of the corpus has only such matches.
        ASSERT_LE(m.length, BoundedOrderPattern(field).longestMatch);
        wholeGroups.push_back(m.group);
      }
      const WindowedMatches bounded = WindowedGroupOneMatches(BoundedOrderPattern(field), text, budget);
      EXPECT_TRUE(bounded.complete);
      EXPECT_EQ(bounded.groups, wholeGroups);
      matchesCompared += wholeGroups.size();
    }
  }
  EXPECT_GT(matchesCompared, 300u);
}

TEST(OrderPatternsTest, EveryPatternStartsWithItsOpener) {
  for (OrderField field : kOrderFields) {
    const OpenerPattern& p = BoundedOrderPattern(field);
    ASSERT_FALSE(p.opener.empty());
    EXPECT_TRUE(OrderPatternText(field).starts_with(p.opener)) << OrderPatternText(field);
    // No byte of an opener means anything to the engine but itself.
    EXPECT_EQ(p.opener.find_first_of("\\^$.|?*+()[]{}"), std::string::npos) << p.opener;
  }
}

}  // namespace
}  // namespace autodeliver
