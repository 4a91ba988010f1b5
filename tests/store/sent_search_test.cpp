// The search over the delivered cards: a table of queries against a small
// table with the traps that matter (letter case, several words, full-width
// spaces, fields that must not run into each other, GBK trail bytes that
// look like letters, the password that is never searched, the undelivered
// filter), and the narrowing as the seller types on, which must find what a
// fresh search finds.
#include "store/sent_search.h"

#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "text/gbk.h"

namespace autodeliver {
namespace {

SentCard Card(const std::string& item, const std::string& order, const std::string& buyer,
              const std::string& number, const std::string& password) {
  return {item, order, buyer, 1, number, password, "", "2024年5月1日9时"_gbk};
}

const std::vector<SentCard>& Cards() {
  static const std::vector<SentCard> cards = {
      Card("点卡10元"_gbk, "1718000000001", "买家甲"_gbk, "DK1001", "pw-secret"),    // 0
      Card("点卡10元"_gbk, "1718000000002", "买家乙"_gbk, "DK1002", "pw-2"),         // 1
      Card("点卡10元"_gbk, "1718000000002", "买家乙"_gbk, "dk1003-online", "pw-3"),  // 2
      Card("游戏月卡 Gold"_gbk, "1718000000010", "TomCat", "GM-500,x", "0"),         // 3
      Card("中国"_gbk, "1718000000011", "\xB0\x51", "\xB0\x71", "0"),  // 4: 癚 (trail 'Q'), 皅 (trail 'q')
  };
  return cards;
}

struct SearchCase {
  const char* query;  // UTF-8 unless it holds raw GBK bytes (escaped)
  bool rawGbk;
  bool undeliveredOnly;  // only the orders of kMarked
  std::vector<int> rows;
};

// The query as the test's name shows it: UTF-8, or the raw GBK bytes in hex.
void PrintTo(const SearchCase& c, std::ostream* os) {
  *os << '"';
  if (c.rawGbk) {
    for (const char* p = c.query; *p; ++p)
      *os << "\\x" << std::hex << (static_cast<unsigned>(*p) & 0xFF) << std::dec;
  } else {
    *os << c.query;
  }
  *os << '"' << (c.undeliveredOnly ? " undelivered only" : "");
}

const std::set<std::string> kMarked = {"1718000000002", "1718000000011"};

class SentSearchCases : public ::testing::TestWithParam<SearchCase> {};

TEST_P(SentSearchCases, FindsExactlyTheMatchingRows) {
  const SearchCase& c = GetParam();
  const SentCardIndex index(Cards());
  const std::string query = c.rawGbk ? std::string(c.query) : Utf8ToGbkLossy(c.query);
  EXPECT_EQ(index.Find(query, c.undeliveredOnly ? &kMarked : nullptr), c.rows) << c.query;
}

INSTANTIATE_TEST_SUITE_P(
    Queries, SentSearchCases,
    ::testing::Values(
        // Nothing typed: every row, or every row of the undelivered orders.
        SearchCase{"", false, false, {0, 1, 2, 3, 4}}, SearchCase{"  \t ", false, false, {0, 1, 2, 3, 4}},
        SearchCase{"", false, true, {1, 2, 4}},
        // Each searchable field.
        SearchCase{"买家乙", false, false, {1, 2}}, SearchCase{"1718000000002", false, false, {1, 2}},
        SearchCase{"游戏", false, false, {3}}, SearchCase{"GM-500,x", false, false, {3}},
        // ASCII letters in any case, both ways.
        SearchCase{"dk100", false, false, {0, 1, 2}}, SearchCase{"DK1003", false, false, {2}},
        SearchCase{"tomcat", false, false, {3}}, SearchCase{"gOLD", false, false, {3}},
        // Every word must be found, each in any field; full-width spaces
        // separate words too.
        SearchCase{"点卡 乙", false, false, {1, 2}}, SearchCase{"点卡　乙", false, false, {1, 2}},
        SearchCase{"乙 dk1002", false, false, {1}}, SearchCase{"乙 甲", false, false, {}},
        // A word never runs from one field into the next.
        SearchCase{"元1718", false, false, {}}, SearchCase{"0001买家", false, false, {}},
        // The password is never searched.
        SearchCase{"secret", false, false, {}},
        // The trail bytes of 癚 ('Q') and 皅 ('q') are no letters, and the
        // middle of 中国 (D6 D0 B9 FA) is no 泄 (D0 B9).
        SearchCase{"q", false, false, {}}, SearchCase{"Q", false, false, {}},
        SearchCase{"\xB0\x71", true, false, {4}}, SearchCase{"\xB0\x51", true, false, {4}},
        SearchCase{"泄", false, false, {}}, SearchCase{"中国", false, false, {4}},
        // Only the undelivered orders.
        SearchCase{"dk", false, true, {1, 2}}, SearchCase{"1718", false, true, {1, 2, 4}}));

TEST(SentSearch, QueryWordsAndNarrowing) {
  EXPECT_EQ(SearchWords(" DK 买"_gbk + "\xA1\xA1" + "x\t "), (std::vector<std::string>{"dk", "买"_gbk, "x"}));
  struct Narrowing {
    const char* older;
    const char* newer;
    bool narrows;
  } cases[] = {{"dk", "dk1", true},     {"dk1", "dk", false},     {"买家", "买家乙", true},
               {"乙", "点卡 乙", true}, {"点卡 乙", "乙", false}, {"", "x", true},
               {"x", "", false},        {"DK", "dk1", true},      {"dk1", "dk2", false},
               {"泄", "中国", false},   {"1 2", "2 1", true}};
  for (const Narrowing& c : cases) {
    EXPECT_EQ(NarrowsQuery(Utf8ToGbkLossy(c.older), Utf8ToGbkLossy(c.newer)), c.narrows)
        << c.older << " -> " << c.newer;
  }
}

TEST(SentSearch, SearchingAmongThePreviousMatchesFindsWhatAFreshSearchFinds) {
  std::vector<SentCard> cards;
  for (int i = 0; i < 3000; ++i) {
    const std::string n = std::to_string(1718000000000 + i * 7);
    cards.push_back(Card(i % 3 ? "点卡10元"_gbk : "游戏月卡"_gbk, n, ("买家"_gbk) + std::to_string(i % 50),
                         "DK" + std::to_string(i * 13), "pw"));
  }
  const SentCardIndex index(cards);
  // The seller types an order number key by key, then a second word.
  const std::string typed = "17180000071 买家2";
  std::vector<int> rows = index.Find("");
  std::string query;
  for (std::size_t i = 0; i < typed.size();) {
    const std::size_t len = static_cast<unsigned char>(typed[i]) >= 0x80 ? 3 : 1;  // UTF-8 of the source
    const std::string before = query;
    query = Utf8ToGbkLossy(typed.substr(0, i + len));
    i += len;
    ASSERT_TRUE(NarrowsQuery(before, query)) << query;
    rows = index.FindAmong(query, rows);
    EXPECT_EQ(rows, index.Find(query)) << GbkToUtf8Lossy(query);
  }
  EXPECT_FALSE(rows.empty());
  for (int r : rows) {
    EXPECT_NE(cards[static_cast<std::size_t>(r)].orderNumber.find("17180000071"), std::string::npos);
  }
}

}  // namespace
}  // namespace autodeliver
