// Stock figures per item, warning levels in the settings table, and the
// warning once per crossing.
#include <gtest/gtest.h>

#include "store/item_table.h"
#include "store/settings.h"
#include "store/shop_paths.h"
#include "store/stock_counts.h"
#include "store/stock_table.h"
#include "store/stock_warnings.h"
#include "store/table_schema.h"
#include "store/warning_levels.h"
#include "support/shop_folder.h"
#include "table_files.h"
#include "tables/record_table.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

class StockLevels : public testing::ShopTest {
 protected:
  void AddCards(const std::string& item, int n) {
    for (int i = 0; i < n; ++i)
      ASSERT_TRUE(AppendStockCard(shop(), {item, item + std::to_string(i), "p", 0}));
  }

  // Every row of the settings table as (name, value), marked ones included.
  std::vector<std::pair<std::string, std::string>> SettingRows() {
    std::vector<std::pair<std::string, std::string>> rows;
    RecordTable t;
    EXPECT_TRUE(t.Open(shop().SettingsTablePath()));
    const std::int32_t n = t.RecordCount();
    for (std::int32_t i = 0; i < n; ++i, t.Skip(1))
      rows.emplace_back(t.Read("配置名"_gbk), (t.IsMarked() ? "marked:" : "") + t.Read("配置数据"_gbk));
    return rows;
  }
};

TEST_F(StockLevels, CountsEveryItemInOnePassAndSkipsRemovedCards) {
  const std::string a = "点卡A"_gbk;
  AddCards(a, 3);
  AddCards("B", 2);
  AddCards("b", 1);
  ASSERT_TRUE(MarkStockCardAt(shop(), 1));  // one of A, marked but not purged
  std::optional<StockCounts> counts = CountStockByItem(shop());
  ASSERT_TRUE(counts);
  EXPECT_EQ(*counts, (StockCounts{{a, 2}, {"B", 2}, {"b", 1}}));

  std::filesystem::remove(shop().StockTablePath());
  EXPECT_FALSE(CountStockByItem(shop()));
}

TEST_F(StockLevels, ItemFiguresFollowTheItemsTable) {
  for (const char* name : {"A", "B", "C"}) ASSERT_TRUE(AppendItem(shop(), {name, "", 0, true}));
  AddCards("A", 7);
  AddCards("C", 2);
  AddCards("gone", 4);  // cards of an item no longer monitored
  ASSERT_TRUE(SetWarningLevel(shop(), "A", 10));
  ASSERT_TRUE(SetWarningLevel(shop(), "C", 0));

  std::vector<ItemStock> figures;
  ASSERT_TRUE(LoadItemStock(shop(), StockCounts{{"B", 3}, {"nobody", 9}}, &figures));
  EXPECT_EQ(figures, (std::vector<ItemStock>{{"A", 7, 0, 10}, {"B", 0, 3, 5}, {"C", 2, 0, 0}}));
  EXPECT_TRUE(figures[0].Low());   // 7 <= 10
  EXPECT_TRUE(figures[1].Low());   // 0 <= default 5
  EXPECT_FALSE(figures[2].Low());  // switched off

  std::filesystem::remove(shop().ItemsTablePath());
  EXPECT_FALSE(LoadItemStock(shop(), {}, &figures));
  EXPECT_EQ(figures.size(), 3u);  // untouched
}

// The levels are new rows of the settings table; the installed row and the
// table's fields stay as they are.
TEST_F(StockLevels, LevelsAreSettingsRowsBesideTheInstalledOne) {
  const std::string imPath = "阿里旺旺核心文件路径"_gbk;
  ASSERT_TRUE(SetSetting(shop(), imPath, "/opt/im/im.exe"));
  const std::string longTitle(150, 'T');  // longer than the name field
  const std::string a = "点卡 A"_gbk;

  EXPECT_EQ(LoadWarningLevels(shop()).Of(a), kDefaultWarningLevel);
  ASSERT_TRUE(SetWarningLevel(shop(), a, 2));
  ASSERT_TRUE(SetWarningLevel(shop(), longTitle, 0));
  ASSERT_TRUE(SetWarningLevel(shop(), a, 3));  // the row is rewritten, not doubled
  WarningLevels levels = LoadWarningLevels(shop());
  EXPECT_EQ(levels.Of(a), 3);
  EXPECT_EQ(levels.Of(longTitle), 0);
  EXPECT_EQ(levels.Of("other"), kDefaultWarningLevel);

  const std::string rowName = "库存预警线"_gbk;
  EXPECT_EQ(SettingRows(),
            (std::vector<std::pair<std::string, std::string>>{
                {imPath, "/opt/im/im.exe"}, {rowName, "3 " + a}, {rowName, "0 " + longTitle}}));
  RecordTable t;
  ASSERT_TRUE(t.Open(shop().SettingsTablePath()));
  EXPECT_EQ(t.Fields().size(), SettingsTableFields().size());
  t.Close();

  // Renaming carries the level over and drops the new name's own; removal
  // drops the row; the installed row is never touched.
  ASSERT_TRUE(SetWarningLevel(shop(), "B", 8));
  ASSERT_TRUE(RenameWarningLevel(shop(), a, "B"));
  levels = LoadWarningLevels(shop());
  EXPECT_EQ(levels.Of("B"), 3);
  EXPECT_EQ(levels.Of(a), kDefaultWarningLevel);
  ASSERT_TRUE(ForgetWarningLevel(shop(), longTitle));
  ASSERT_TRUE(ForgetWarningLevel(shop(), "B"));
  EXPECT_EQ(SettingRows(), (std::vector<std::pair<std::string, std::string>>{{imPath, "/opt/im/im.exe"}}));
  EXPECT_EQ(GetSetting(shop(), imPath), "/opt/im/im.exe");
}

TEST_F(StockLevels, SettingValuesReplaceInPlace) {
  ASSERT_TRUE(ReplaceSettingValues(shop(), "k", {"1", "2", "3"}));
  ASSERT_TRUE(SetSetting(shop(), "阿里旺旺核心文件路径"_gbk, "x"));
  ASSERT_TRUE(ReplaceSettingValues(shop(), "k", {"a", "b"}));
  EXPECT_EQ(GetSettingValues(shop(), "k"), (std::vector<std::string>{"a", "b"}));
  ASSERT_TRUE(ReplaceSettingValues(shop(), "k", {"a", "b", "c", "d"}));
  EXPECT_EQ(GetSettingValues(shop(), "k"), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(GetSetting(shop(), "阿里旺旺核心文件路径"_gbk), "x");
  EXPECT_EQ(SettingRows().front().first, "阿里旺旺核心文件路径"_gbk);

  testing::TempDir empty;
  ShopContext emptyShop(empty.path());
  EXPECT_FALSE(ReplaceSettingValues(emptyShop, "k", {"a"}));
  EXPECT_TRUE(GetSettingValues(emptyShop, "k").empty());
  EXPECT_EQ(LoadWarningLevels(emptyShop).Of("x"), kDefaultWarningLevel);
  EXPECT_FALSE(SetWarningLevel(emptyShop, "x", 1));
}

TEST(WarningLevelValue, RoundTripAndDamagedValues) {
  EXPECT_EQ(WarningLevelValue(" spaced name ", 12), "12  spaced name ");
  EXPECT_EQ(ParseWarningLevelValue("12  spaced name "), std::make_pair(std::string(" spaced name "), 12));
  EXPECT_EQ(WarningLevelValue("x", -3), "0 x");
  EXPECT_FALSE(ParseWarningLevelValue("x 1"));
  EXPECT_FALSE(ParseWarningLevelValue(" 1 x"));
  EXPECT_FALSE(ParseWarningLevelValue("12"));
}

// The stock of one item over a run of cycles, and when the warning fires.
TEST(StockWarningsTest, OncePerCrossing) {
  struct Step {
    int stock;
    int level;
    bool fires;
  };
  const Step steps[] = {
      {9, 5, false},  // above
      {6, 5, false},  //
      {5, 5, true},   // falls to the level
      {3, 5, false},  // stays low: no repeat
      {0, 5, false},  //
      {8, 5, false},  // restocked: re-armed
      {4, 5, true},   // falls again
      {4, 0, false},  // switched off: re-armed
      {4, 5, true},   // switched on while low
      {4, 3, false},  // level lowered below the stock: re-armed
      {2, 3, true},
  };
  StockWarnings warnings;
  int cycle = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE(cycle++);
    std::vector<ItemStock> crossed = warnings.Update({{"A", s.stock, 0, s.level}, {"B", 100, 0, 5}});
    EXPECT_EQ(crossed.size(), s.fires ? 1u : 0u);
    if (s.fires && !crossed.empty()) {
      EXPECT_EQ(crossed[0].name, "A");
    }
    EXPECT_EQ(warnings.IsWarned("A"), s.level > 0 && s.stock <= s.level);
    EXPECT_FALSE(warnings.IsWarned("B"));
  }
}

TEST(StockWarningsTest, ItemsLeavingTheListAreReArmedAndEachFiresOnItsOwn) {
  StockWarnings warnings;
  EXPECT_EQ(warnings.Update({{"A", 1, 0, 5}, {"B", 2, 0, 5}, {"C", 9, 0, 5}}).size(), 2u);
  EXPECT_TRUE(warnings.Update({{"A", 1, 0, 5}, {"B", 2, 0, 5}}).empty());
  EXPECT_TRUE(warnings.Update({{"B", 2, 0, 5}}).empty());  // A left the list
  std::vector<ItemStock> crossed = warnings.Update({{"A", 1, 0, 5}, {"B", 2, 0, 5}, {"C", 5, 0, 5}});
  ASSERT_EQ(crossed.size(), 2u);
  EXPECT_EQ(crossed[0].name, "A");
  EXPECT_EQ(crossed[1].name, "C");
}

// A warning already given is not given again by a new start while the
// stock stays low; a stock that rose in between re-arms it.
TEST(StockWarningsTest, ANewStartRemembersTheItemsStandingWarned) {
  testing::TempDir dir;
  const std::string path = dir / "stock_warnings.txt";
  const std::string name = "点卡10元 \n"_gbk;  // a space and a line break in a name
  const std::vector<ItemStock> low = {{name, 2, 0, 5}, {"B", 9, 0, 5}};
  EXPECT_EQ(StockWarnings(path).Update(low).size(), 1u);
  {
    StockWarnings restarted(path);
    EXPECT_TRUE(restarted.IsWarned(name));
    EXPECT_TRUE(restarted.Update(low).empty());
    EXPECT_TRUE(restarted.Update({{name, 8, 0, 5}}).empty());  // restocked: re-armed
  }
  EXPECT_EQ(StockWarnings(path).Update(low).size(), 1u);
  // An unreadable list warns as at a first start.
  EXPECT_EQ(StockWarnings(dir.path() + "/missing/stock_warnings.txt").Update(low).size(), 1u);
}

TEST(StockWarningsTest, TextNamesItemStockLevelAndWaiting) {
  EXPECT_EQ(StockWarningText({"点卡"_gbk, 2, 0, 5}), "库存预警：宝贝“点卡”只剩 2 张卡密（预警线 5 张）"_gbk);
  EXPECT_EQ(StockWarningText({"点卡"_gbk, 0, 3, 5}),
            "库存预警：宝贝“点卡”只剩 0 张卡密（预警线 5 张），待发 3 张"_gbk);
}

}  // namespace
}  // namespace autodeliver
