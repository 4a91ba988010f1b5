// The duplicate check of an import: a table of cases on the checker, and
// the check against real stock and sent-cards tables.
#include "import/import_check.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

#include "../store/table_files.h"
#include "store/sent_table.h"
#include "store/shop_paths.h"
#include "store/stock_table.h"
#include "store/table_schema.h"
#include "support/fault_io.h"
#include "support/shop_folder.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

using V = LineVerdict;
using Pairs = std::vector<std::pair<std::string, std::string>>;

struct CheckCase {
  const char* name;
  std::string text;  // import box text
  Pairs stock, sent;
  bool allowDuplicates;
  std::vector<V> verdicts;
  std::vector<std::string> imported;  // card numbers written, in order
};

void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

class ImportCheckerTest : public ::testing::TestWithParam<CheckCase> {};

TEST_P(ImportCheckerTest, VerdictsAndPlan) {
  const CheckCase& c = GetParam();
  const std::vector<CardLine> lines = ReadCardLines(c.text);
  ImportChecker checker(lines);
  for (const auto& [n, p] : c.stock) checker.SeeStockCard(n, p);
  for (const auto& [n, p] : c.sent) checker.SeeSentCard(n, p);
  const ImportPlan plan = checker.Plan(c.allowDuplicates);

  EXPECT_EQ(plan.verdicts, c.verdicts);
  std::vector<std::string> imported;
  for (const ImportedCard& card : plan.cards) imported.push_back(card.cardNumber);
  EXPECT_EQ(imported, c.imported);

  // Every line is either written or kept, once, in line order; the counts
  // add up to the verdicts.
  ASSERT_EQ(plan.importedLines.size(), plan.cards.size());
  for (std::size_t k = 0; k < plan.cards.size(); ++k)
    EXPECT_EQ(plan.cards[k], *lines[plan.importedLines[k]].card);
  std::vector<std::size_t> all = plan.importedLines;
  all.insert(all.end(), plan.keptLines.begin(), plan.keptLines.end());
  std::sort(all.begin(), all.end());
  ASSERT_EQ(all.size(), lines.size());
  for (std::size_t i = 0; i < all.size(); ++i) EXPECT_EQ(all[i], i);
  for (std::size_t v = 0; v < kLineVerdictCount; ++v)
    EXPECT_EQ(plan.Count(static_cast<V>(v)),
              static_cast<std::size_t>(std::count(c.verdicts.begin(), c.verdicts.end(), static_cast<V>(v))));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImportCheckerTest,
    ::testing::Values(
        CheckCase{"NewCards", "A1 P1\r\nA2 P2\r\n", {}, {}, false, {V::kNew, V::kNew}, {"A1", "A2"}},
        CheckCase{"InStock", "A1 P1\r\nA2 P2", {{"A2", "P2"}}, {}, false, {V::kNew, V::kInStock}, {"A1"}},
        CheckCase{
            "SentBefore", "A1 P1\r\nA2 P2", {}, {{"A1", "P1"}}, false, {V::kSentBefore, V::kNew}, {"A2"}},
        CheckCase{"TwiceInTheImportFirstOneCounts",
                  "A1 P1\r\nA2 P2\r\nA1 P1\r\nA1 P1",
                  {},
                  {},
                  false,
                  {V::kNew, V::kNew, V::kRepeated, V::kRepeated},
                  {"A1", "A2"}},
        CheckCase{"NumberAndPasswordTogetherMakeTheCard",
                  "A1 P2\r\nA1 P1 \r\na1 P1",
                  {{"A1", "P1"}},
                  {{"A1", "P1"}},
                  false,
                  {V::kNew, V::kNew, V::kNew},
                  {"A1", "A1", "a1"}},
        CheckCase{"StockBeforeHistoryBeforeRepeat",
                  "A1 P1\r\nA1 P1\r\nB1 Q1\r\nB1 Q1",
                  {{"A1", "P1"}},
                  {{"A1", "P1"}, {"B1", "Q1"}},
                  false,
                  {V::kInStock, V::kInStock, V::kSentBefore, V::kSentBefore},
                  {}},
        CheckCase{"Malformed",
                  "A1\r\nA2 P2\r\n \r\nA3",
                  {},
                  {},
                  false,
                  {V::kMalformed, V::kNew, V::kMalformed},
                  {"A2"}},
        CheckCase{"ReusableCodesAcceptedWithTheTick",
                  "R1 P\r\nR1 P\r\nS1 P\r\nT1 P\r\nbad",
                  {{"S1", "P"}},
                  {{"T1", "P"}},
                  true,
                  {V::kNew, V::kRepeated, V::kInStock, V::kSentBefore, V::kMalformed},
                  {"R1", "R1", "S1", "T1"}},
        // "0" is the password of a card without one; nothing at all after
        // the space is a line cut short, even with duplicates allowed.
        CheckCase{"EmptyPasswordOrNumberHasAReasonOfItsOwn",
                  "A1 \r\nA2 0\r\nA1 \r\n P4\r\nA3 P3",
                  {{"A1", ""}},
                  {},
                  true,
                  {V::kNoPassword, V::kNew, V::kNoPassword, V::kNoPassword, V::kNew},
                  {"A2", "A3"}},
        CheckCase{"Empty", "", {{"A1", "P1"}}, {}, false, {}, {}}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return std::string(info.param.name); });

TEST(ImportCheck, CardsWithoutPasswordGoInOnlyOnPurpose) {
  const std::vector<CardLine> lines = ReadCardLines("A1 \r\nA2 P2\r\nbad");
  const std::vector<V> verdicts = ImportChecker(lines).Plan(false).verdicts;
  ASSERT_EQ(verdicts, (std::vector<V>{V::kNoPassword, V::kNew, V::kMalformed}));
  EXPECT_EQ(PlanImport(lines, verdicts, false).cards.size(), 1u);
  const ImportPlan allowed = PlanImport(lines, verdicts, false, true);
  ASSERT_EQ(allowed.cards.size(), 2u);
  EXPECT_EQ(allowed.cards[0], (ImportedCard{"A1", ""}));
  EXPECT_EQ(allowed.keptLines, std::vector<std::size_t>{2});
}

TEST(ImportCheck, ReasonsInTheSellersWords) {
  EXPECT_EQ(VerdictText(V::kInStock), "库存中已有"_gbk);
  EXPECT_EQ(VerdictText(V::kSentBefore), "已发过"_gbk);
  EXPECT_EQ(VerdictText(V::kRepeated), "本次重复"_gbk);
  EXPECT_EQ(VerdictText(V::kNoPassword), "卡号或卡密为空"_gbk);
  EXPECT_EQ(VerdictText(V::kMalformed), "格式不对"_gbk);
  EXPECT_EQ(VerdictText(V::kNew), "");
}

using ImportCheckStore = testing::ShopTest;

// The stock counts for its own item only; the history counts whatever the
// item; cards taken out of the stock are no longer in it.
TEST_F(ImportCheckStore, ChecksTheItemsStockAndTheWholeHistory) {
  const std::string item = "点卡"_gbk;
  for (const char* n : {"S1", "S2", "S3"}) ASSERT_TRUE(AppendStockCard(shop(), {item, n, "p", 0}));
  ASSERT_TRUE(AppendStockCard(shop(), {"other", "O1", "p", 0}));
  ASSERT_TRUE(AppendSentCard(shop(), {"another item", "1001", "buyer", 1, "H1", "p", "", "t"}));
  ASSERT_TRUE(MarkStockCardAt(shop(), 2));  // S2 is removed
  ASSERT_TRUE(PurgeStock(shop()));

  const std::vector<CardLine> lines = ReadCardLines("S1 p\r\nS2 p\r\nO1 p\r\nH1 p\r\nS3 p\r\nx");
  std::optional<ImportPlan> plan = CheckImport(shop(), item, lines, false);
  ASSERT_TRUE(plan);
  EXPECT_EQ(plan->verdicts,
            (std::vector<V>{V::kInStock, V::kNew, V::kNew, V::kSentBefore, V::kInStock, V::kMalformed}));
  EXPECT_EQ(plan->cards, (std::vector<ImportedCard>{{"S2", "p"}, {"O1", "p"}}));
  EXPECT_EQ(LineTexts(lines, plan->keptLines), "S1 p\r\nH1 p\r\nS3 p\r\nx");
  // An append that stopped after the first card leaves the second with the
  // kept lines, in their places.
  EXPECT_EQ(LineTexts(lines, LinesNotWritten(*plan, 1)), "S1 p\r\nO1 p\r\nH1 p\r\nS3 p\r\nx");
  EXPECT_EQ(LinesNotWritten(*plan, 0), (std::vector<std::size_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(LinesNotWritten(*plan, 1), (std::vector<std::size_t>{0, 2, 3, 4, 5}));
  EXPECT_EQ(LinesNotWritten(*plan, 2), plan->keptLines);
}

// The preview's tick re-plans from the verdicts, as the checker would plan.
TEST(ImportCheck, ReplanningFromVerdictsMatchesTheChecker) {
  const std::vector<CardLine> lines = ReadCardLines("R1 P\r\nR1 P\r\nS1 P\r\nbad\r\nN1 P");
  ImportChecker checker(lines);
  checker.SeeStockCard("S1", "P");
  for (bool allow : {false, true}) {
    const ImportPlan direct = checker.Plan(allow);
    const ImportPlan again = PlanImport(lines, checker.Plan(!allow).verdicts, allow);
    EXPECT_EQ(again.cards, direct.cards) << allow;
    EXPECT_EQ(again.importedLines, direct.importedLines) << allow;
    EXPECT_EQ(again.keptLines, direct.keptLines) << allow;
    EXPECT_EQ(again.counts, direct.counts) << allow;
  }
  // A verdict that calls a line without a card new cannot make it a card.
  const ImportPlan forced = PlanImport(lines, std::vector<V>(lines.size(), V::kNew), true);
  EXPECT_EQ(forced.keptLines, (std::vector<std::size_t>{3}));
  EXPECT_EQ(forced.Count(V::kMalformed), 1u);
}

// Cards the table refused go back with the kept lines and the cards after
// the point where the append stopped, all in line order.
TEST(ImportCheck, LinesNotWrittenTakeRefusedCardsBack) {
  const std::vector<CardLine> lines = ReadCardLines("A P\r\nbad\r\nB P\r\nC P\r\nD P\r\nE P");
  const ImportPlan plan = PlanImport(lines, std::vector<V>(lines.size(), V::kNew), false);
  ASSERT_EQ(plan.cards.size(), 5u);
  // Cards B (index 1) and D (index 3) refused, E not tried.
  EXPECT_EQ(LinesNotWritten(plan, 4, {1, 3}), (std::vector<std::size_t>{1, 2, 4, 5}));
  EXPECT_EQ(LinesNotWritten(plan, 5, {0}), (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(LinesNotWritten(plan, 99), (std::vector<std::size_t>{1}));
}

// A table the check cannot read gives no plan and the cause, naming the
// table; a missing one is named as missing.
TEST_F(ImportCheckStore, UnreadableTablesGiveNoPlanAndTheCause) {
  const std::vector<CardLine> lines = ReadCardLines("A1 P1");
  struct Case {
    const char* what;
    std::function<void(ShopContext&, testing::FaultIo&)> breakIt;
    Status::Code code;
    const std::string& (ShopContext::*table)() const;
  };
  const std::vector<Case> cases = {
      {"no sent table",
       [](ShopContext& shop, testing::FaultIo&) { std::filesystem::remove(shop.SentTablePath()); },
       Status::Code::kNotFound, &ShopContext::SentTablePath},
      {"no stock table",
       [](ShopContext& shop, testing::FaultIo&) { std::filesystem::remove(shop.StockTablePath()); },
       Status::Code::kNotFound, &ShopContext::StockTablePath},
      {"the first read fails",
       [](ShopContext&, testing::FaultIo& io) {
         io.noMap = true;
         io.failRead = 1;
       },
       Status::Code::kIoError, &ShopContext::StockTablePath},
  };
  for (const Case& c : cases) {
    for (bool allowDuplicates : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (allowDuplicates ? ", duplicates allowed" : ""));
      testing::ShopFolder folder;
      ASSERT_TRUE(folder.ok()) << folder.error();
      ShopContext& shop = folder.context();
      testing::FaultIo io;
      c.breakIt(shop, io);
      shop.SetStoreFileIo(&io);
      Status failure;
      EXPECT_FALSE(CheckImport(shop, "x", lines, allowDuplicates, false, &failure));
      shop.SetStoreFileIo(nullptr);
      EXPECT_EQ(failure.code(), c.code) << failure.ToString();
      EXPECT_EQ(failure.path(), (shop.*c.table)()) << failure.ToString();
    }
  }
  testing::TempDir empty;
  ShopContext emptyShop(empty.path());
  EXPECT_FALSE(CheckImport(emptyShop, "x", lines, false));
}

}  // namespace
}  // namespace autodeliver
