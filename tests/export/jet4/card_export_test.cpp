// The card export: its connection text and statement, and cards exported into
// a card database read back by both readers.
#include "export/card_export.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "export/jet4/jet4_file.h"
#include "jet4_readers.h"
#include "store/shop_context.h"
#include "support/temp_dir.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

using testing::ReadRow;
using testing::ReadTable;

TEST(CardExportTest, BuildsConnectionTextAndStatement) {
  EXPECT_EQ(CardExportConnectionText("/opt/shop/card.mdb"),
            "ODBC;DBQ=/opt/shop/card.mdb;DefaultDir=/opt/shop;"
            "Driver={Microsoft Access Driver (*.mdb)};FIL=MS Access;");

  struct Case {
    std::string order, card, password, sql;
  };
  const std::vector<Case> cases = {
      {"123", "A001", "9x7", "insert into biao ([dingdan],[kahao],[mima]) values ('123','A001','9x7')"},
      // A card without password arrives as "0"; a failed online card has no number.
      {"123", "A001", "0", "insert into biao ([dingdan],[kahao],[mima]) values ('123','A001','0')"},
      {"123", "", "9x7", "insert into biao ([dingdan],[kahao],[mima]) values ('123','','9x7')"},
      // Quotes inside values are doubled so the statement stays whole.
      {"1'2", "O'Neil''s", "'",
       "insert into biao ([dingdan],[kahao],[mima]) values ('1''2','O''Neil''''s','''')"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CardExportStatement(c.order, c.card, c.password), c.sql);
  }
}

TEST(CardExportTest, ExportedCardsReadBackExactlyWithBothReaders) {
  testing::TempDir dir;
#ifdef AUTODELIVER_TABLE_TOOL
  // The installation's card.mdb, as the table tool makes it.
  std::string init = std::string(AUTODELIVER_TABLE_TOOL) + " init '" + dir.path() + "' >/dev/null";
  ASSERT_EQ(std::system(init.c_str()), 0) << init;
#else
  ASSERT_TRUE(CreateCardDatabase(dir.path() + "/card.mdb"));
#endif
  const ShopContext shop(dir.path());

  struct Card {
    std::string order, card, password;  // UTF-8
  };
  std::vector<Card> cards = {
      {"123", "A001", "9x7"},
      {"2012112012345", "卡号一二三", "密码：甲乙丙"},
      {"124", "O'Neil's card", "'"},
      {"125", "say \"hi\", ok", "0"},
      {"126", "", ""},
      {"127", std::string(255, 'x'), std::string(255 / 3, 'y')},
      {"128", "", std::string(85, 'z') + "全角"},
  };
  std::string longChinese;
  for (int i = 0; i < 255; ++i) longChinese += "卡";
  cards.push_back({"129", longChinese, longChinese});
  // Enough rows to fill several data pages.
  for (int i = 0; i < 400; ++i) {
    cards.push_back({"5" + std::to_string(100000 + i), "CARD-" + std::to_string(i) + "-号码",
                     std::string(static_cast<std::size_t>(i % 37), static_cast<char>('a' + i % 26))});
  }
  for (std::size_t i = 0; i < cards.size(); ++i) {
    // The first card goes through the shop's entry, the rest straight to
    // the folder.
    const Status ok =
        i == 0 ? ExportCardToAccess(shop, Utf8ToGbkLossy(cards[i].order), Utf8ToGbkLossy(cards[i].card),
                                    Utf8ToGbkLossy(cards[i].password))
               : ExportCardToAccessAt(dir.path(), Utf8ToGbkLossy(cards[i].order),
                                      Utf8ToGbkLossy(cards[i].card), Utf8ToGbkLossy(cards[i].password));
    ASSERT_TRUE(ok) << "card " << i;
  }
  EXPECT_GT(std::filesystem::file_size(dir.path() + "/card.mdb"), 8u * 4096u) << "rows should need new pages";

  std::vector<ReadRow> expected;
  for (const Card& c : cards) expected.push_back({c.order, c.card, c.password});
  std::optional<ReadTable> mdbtools = testing::ReadWithMdbtools(dir.path() + "/card.mdb", "biao");
  ASSERT_TRUE(mdbtools.has_value());
  EXPECT_EQ(mdbtools->count, static_cast<long>(cards.size()));
  EXPECT_EQ(mdbtools->rows, expected);
  std::optional<ReadTable> reader =
      testing::ReadWithMdbReader(dir.path() + "/card.mdb", "biao", {"dingdan", "kahao", "mima"});
  ASSERT_TRUE(reader.has_value());
  EXPECT_EQ(reader->count, static_cast<long>(cards.size()));
  EXPECT_EQ(reader->rows, expected);
}

TEST(CardExportTest, FailsWithoutChangingAnythingWhenTheCardCannotBeStored) {
  testing::TempDir dir;
  EXPECT_TRUE(ExportCardToAccessAt(dir.path(), "1", "2", "3").IsNotFound()) << "no card.mdb";
  std::string path = dir.path() + "/card.mdb";
  ASSERT_TRUE(CreateCardDatabase(path));
  std::string before = testing::ReadFileBytes(path);
  EXPECT_EQ(ExportCardToAccessAt(dir.path(), "1", std::string(256, 'x'), "3").code(), Status::Code::kTooLong);
  std::string tooLongChinese;
  for (int i = 0; i < 256; ++i) tooLongChinese += "卡";
  EXPECT_FALSE(ExportCardToAccessAt(dir.path(), "1", Utf8ToGbkLossy(tooLongChinese), "3"));
  EXPECT_FALSE(ExportCardToAccessAt(dir.path(), "1", "\x81", "3")) << "not GBK";
  EXPECT_TRUE(testing::ReadFileBytes(path) == before) << "file changed";
  EXPECT_FALSE(std::filesystem::exists(path + ".new"));
}

}  // namespace
}  // namespace autodeliver
