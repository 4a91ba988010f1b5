// The literal scan of the order fields against the scan it replaced (the
// whole page copied with the dash entity replaced, then each pattern searched
// with Boost.Regex in bounded windows; reference_order_scan.h), and that one
// against the plain whole-page search of the patterns as written: on every
// page of a corpus (the fixture's pages, the imitation's pages, the fuzz
// corpus, pages with each pattern broken in turn) and on pages made at
// random from the markup's pieces, all find the same matches. The scan of a
// page that arrives in pieces finds them too, however the page is cut.
#include "market/order_patterns.h"

#include <gtest/gtest.h>

#include <boost/regex.hpp>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "market/order_scan.h"
#include "order_page_fixture.h"
#include "reference_order_scan.h"
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
                        {"1002", "A&Mdash;B \"quoted\"", "件"_gbk, "buyer c", "9"},
                        {"1003", "\x81&mdash;x\x81\x81&MDASH;", "2&mdash;", "n&mdash;", "4&mdash;5"}})});
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

// The texts the stream finds on `body` fed in pieces: each piece's length
// drawn from `pieces` in turn, the stream taking in `window` bytes at a time.
std::array<std::vector<std::string>, 5> StreamedTexts(const std::string& body, std::size_t window,
                                                      const std::vector<std::size_t>& pieces) {
  OrderFieldStream stream(window, std::size_t{1} << 30);
  std::size_t at = 0;
  for (std::size_t k = 0; at < body.size(); ++k) {
    const std::size_t n = std::min(pieces[k % pieces.size()], body.size() - at);
    stream.Feed(std::string_view(body).substr(at, n));
    at += n;
  }
  stream.Finish();
  const std::array<std::size_t, 5> counts = stream.Counts();
  for (std::size_t i = 0; i < counts.size(); ++i) EXPECT_EQ(counts[i], stream.Texts()[i].size());
  EXPECT_FALSE(stream.HeldLimitReached());
  // What the stream keeps is a window and a match's tail, not the page.
  EXPECT_LE(stream.PeakKeptBytes(), 2 * (window + LongestRawMatch(OrderField::kItemTitle) + 64));
  return std::move(stream.Texts());
}

// The matches of the three searches on one page: the new scan's, the
// reference's and, when `wholePage`, the whole-page search's of the
// patterns as written (whose matches must then fit their windows).
std::size_t CompareSearches(const std::string& body, bool wholePage) {
  const std::array<std::vector<std::string>, 5> found = OrderFieldTexts(body);
  const reference::PageMatches before = reference::ReadPageMatches(body);
  EXPECT_TRUE(before.complete);
  if (!before.complete) return 0;
  const std::string text = reference::PrepareOrderPage(body);
  std::size_t matches = 0;
  if (wholePage) {
    // Cut in windows of every size from one byte up, fed whole or in pieces
    // that do not line up with the windows.
    for (std::size_t window : {1, 2, 3, 7, 16, 100, 4096, 20000, 1 << 20}) {
      for (const std::vector<std::size_t>& pieces :
           {std::vector<std::size_t>{body.size() + 1}, std::vector<std::size_t>{1, 5, 13, 4099}}) {
        SCOPED_TRACE("window " + std::to_string(window) + ", first piece " + std::to_string(pieces[0]));
        EXPECT_EQ(StreamedTexts(body, window, pieces), found);
      }
    }
  }
  for (OrderField field : kOrderFields) {
    SCOPED_TRACE(OrderPatternText(field));
    const std::size_t i = static_cast<std::size_t>(field);
    EXPECT_EQ(found[i], before.groups[i]);
    matches += found[i].size();
    if (!wholePage) continue;
    const boost::regex written(OrderPatternText(field), boost::regex::perl);
    std::vector<std::string> wholeGroups;
    for (const WholePageMatch& m : WholePageMatches(written, text)) {
      EXPECT_LE(m.length, OrderMarkup(field).longestMatch);
      wholeGroups.push_back(m.group);
    }
    EXPECT_EQ(found[i], wholeGroups);
  }
  return matches;
}

TEST(OrderPatternsTest, ScanFindsWhatTheReferenceAndTheWholePageSearchFind) {
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
    matchesCompared += CompareSearches(page.text, /*wholePage=*/true);
  }
  EXPECT_GT(matchesCompared, 300u);
}

// Pages strung together at random from the pieces of the markup: openers,
// the quantity's "× ", closers, the entity in several spellings and cut
// short, lead bytes that swallow an "&", runs long enough to pass a window
// (with and without entities, which shrink the match the window measures),
// and a zero byte now and then.
TEST(OrderPatternsTest, ScanFindsWhatTheReferenceFindsOnRandomPages) {
  std::vector<std::string> pieces;
  for (OrderField field : kOrderFields) {
    const OrderFieldMarkup& m = OrderMarkup(field);
    pieces.push_back(m.opener);
    pieces.push_back(m.closer);
    if (!m.lead.empty()) pieces.push_back(m.lead);
  }
  const std::size_t markupPieces = pieces.size();
  for (const char* piece :
       {"&mdash;",  "&MDASH;", "&mDaSh;", "&mdash", "&md", "&",    "&amp", "\x81", "\xA1", "\xA1\xAA",
        "\xA1\xC1", "a",       "1",       "7",      " ",   "\r\n", "\t",   "\"",   "<",    "order_id"}) {
    pieces.emplace_back(piece);
  }
  pieces.push_back("订单编号："_gbk);
  pieces.push_back(std::string(700, 'x'));
  pieces.push_back(std::string(3000, 'y'));
  std::string entities;
  while (entities.size() < 1400) entities += "&mdash;";
  pieces.push_back(entities);
  pieces.push_back(entities + entities + entities);

  std::mt19937 random(20121120);
  std::size_t matchesCompared = 0;
  for (int n = 0; n < 3000; ++n) {
    std::string page;
    const int count = 20 + static_cast<int>(random() % 300);
    for (int k = 0; k < count; ++k) {
      const std::uint32_t pick = random() % (pieces.size() * 4 + 1);
      if (pick == pieces.size() * 4) {
        page += '\0';
      } else if (pick >= pieces.size()) {
        // The openers and closers more often than the rest.
        page += pieces[pick % markupPieces];
      } else {
        page += pieces[pick];
      }
    }
    SCOPED_TRACE("page " + std::to_string(n));
    matchesCompared += CompareSearches(page, /*wholePage=*/false);
    // Each page cut at random places into windows of a random size (one
    // byte for the shorter pages).
    static const std::size_t kWindows[] = {1, 2, 6, 7, 8, 64, 1000, 5000, 16500, 70000};
    std::size_t window = kWindows[random() % std::size(kWindows)];
    if (window == 1 && page.size() > 20000) window = 9;
    std::vector<std::size_t> cuts;
    for (int k = 0; k < 7; ++k) cuts.push_back(1 + random() % (2 * window + 3));
    SCOPED_TRACE("window " + std::to_string(window));
    EXPECT_EQ(StreamedTexts(page, window, cuts), OrderFieldTexts(page));
    if (::testing::Test::HasFailure()) break;
  }
  EXPECT_GT(matchesCompared, 10000u);
}

TEST(OrderPatternsTest, PatternsAreTheMarkupWritten) {
  const std::string indent = testing::QuantityIndent();
  EXPECT_EQ(OrderPatternText(OrderField::kItemTitle),
            "<a style=\"line-height:16px;\" target=\"_blank\" title=\"(.*?)\"");
  EXPECT_EQ(OrderPatternText(OrderField::kBuyerNick),
            "<span class=\"ww ww:token\" ww:params=\"nick=(.*?)&amp;");
  EXPECT_EQ(OrderPatternText(OrderField::kOrderNumber),
            "<span class=\"order-number\">" + "订单编号："_gbk + "(.*?)</span>");
  EXPECT_EQ(OrderPatternText(OrderField::kQuantity),
            "<li class=\"total\">\r\n" + indent + "\t.*?" + "×"_gbk + " (.*?)\r\n" + indent + "</li>");
  EXPECT_EQ(OrderPatternText(OrderField::kOrderId), "order_id=(.*?)&");
  for (OrderField field : kOrderFields) {
    // No byte of a literal means anything to a regular expression but
    // itself, so the literals are the patterns.
    const OrderFieldMarkup& m = OrderMarkup(field);
    for (const std::string& literal : {m.opener, m.lead, m.closer}) {
      EXPECT_EQ(literal.find_first_of("\\^$.|?*+()[]{}"), std::string::npos) << literal;
    }
  }
}

}  // namespace
}  // namespace autodeliver
