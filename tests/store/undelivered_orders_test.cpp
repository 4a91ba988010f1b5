// The marks of orders not delivered to their buyers: the round trip of
// awkward texts, one mark per order, damage that must not cost the other
// marks, a foreign file that must not be overwritten, and concurrent marks.
#include "store/undelivered_orders.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/shop_folder.h"
#include "support/temp_dir.h"
#include "table_files.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

// A shop of its own for each test; the marks go to a file of the test.
class UndeliveredOrdersTest : public testing::ShopTest {
 protected:
  std::string Path() const { return dir_.path() + "/undelivered.txt"; }
  testing::TempDir dir_;
};

TEST_F(UndeliveredOrdersTest, MarksSurviveAwkwardTextsAndClearOneByOne) {
  UndeliveredOrders marks(shop(), Path());
  EXPECT_TRUE(marks.List().empty());  // no file yet
  const std::string nick = "买家\t甲\\n\r\n"_gbk, title = "点卡\\10元"_gbk;
  ASSERT_TRUE(marks.Mark("1001", nick, title));
  ASSERT_TRUE(marks.Mark("1002", "b", "t"));
  ASSERT_TRUE(marks.Mark("1001", "other", "other"));  // marked once: the first mark stays

  const std::vector<UndeliveredOrder> list = UndeliveredOrders(shop(), Path()).List();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].orderNumber, "1001");
  EXPECT_EQ(list[0].buyerNick, nick);
  EXPECT_EQ(list[0].itemTitle, title);
  EXPECT_EQ(list[0].markedAt.size(), 19u) << list[0].markedAt;  // YYYY-MM-DD HH:MM:SS
  EXPECT_EQ(list[1].orderNumber, "1002");
  EXPECT_TRUE(marks.IsMarked("1002"));

  // One line per mark after the header; the file has no stray line break.
  const std::string content = testing::ReadFileBytes(Path());
  EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 3);

  ASSERT_TRUE(marks.Clear("1001"));
  ASSERT_TRUE(marks.Clear("9999"));  // never marked
  EXPECT_FALSE(marks.IsMarked("1001"));
  ASSERT_EQ(marks.List().size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(Path() + ".tmp"));
}

TEST_F(UndeliveredOrdersTest, DamagedLinesAreSkippedAndKept) {
  testing::WriteFileBytes(Path(),
                          "autodeliver undelivered orders 1\n"
                          "1001\tb\tt\t2026-01-01 10:00:00\n"
                          "half a line\n"
                          "bad\\escape\tb\tt\tx\n"
                          "1002\tb2\tt2\t2026-01-01 11:00:00");  // cut short: no final line break
  UndeliveredOrders marks(shop(), Path());
  ASSERT_EQ(marks.List().size(), 2u);
  EXPECT_EQ(marks.List()[1].buyerNick, "b2");
  // A change keeps the lines it could not read, as they were.
  ASSERT_TRUE(marks.Mark("1003", "b3", "t3"));
  const std::string content = testing::ReadFileBytes(Path());
  EXPECT_NE(content.find("half a line\n"), std::string::npos);
  EXPECT_NE(content.find("bad\\escape\tb\tt\tx\n"), std::string::npos);
  EXPECT_EQ(marks.List().size(), 3u);
}

TEST_F(UndeliveredOrdersTest, FailuresChangeNothing) {
  // A file that is not a file of marks is never overwritten.
  testing::WriteFileBytes(Path(), "something else\n1001\tb\tt\tx\n");
  UndeliveredOrders foreign(shop(), Path());
  EXPECT_TRUE(foreign.List().empty());
  EXPECT_FALSE(foreign.Mark("1002", "b", "t"));
  EXPECT_FALSE(foreign.Clear("1001"));
  EXPECT_EQ(testing::ReadFileBytes(Path()), "something else\n1001\tb\tt\tx\n");

  // A folder that does not exist: no mark, nothing left behind.
  UndeliveredOrders nowhere(shop(), dir_.path() + "/missing/undelivered.txt");
  EXPECT_FALSE(nowhere.Mark("1", "b", "t"));
  EXPECT_FALSE(std::filesystem::exists(dir_.path() + "/missing"));

  // A temp file left by a write cut short is ignored and replaced.
  std::filesystem::remove(Path());
  testing::WriteFileBytes(Path() + ".tmp", "autodeliver undelivered orders 1\n9\tx\ty\tz\n");
  UndeliveredOrders marks(shop(), Path());
  EXPECT_TRUE(marks.List().empty());
  ASSERT_TRUE(marks.Mark("1", "b", "t"));
  ASSERT_EQ(marks.List().size(), 1u);
  EXPECT_EQ(marks.List()[0].orderNumber, "1");
  EXPECT_FALSE(marks.Mark("", "b", "t"));  // an order needs its number
}

TEST_F(UndeliveredOrdersTest, ConcurrentMarksAreAllKept) {
  constexpr int kEach = 40;
  auto marker = [this](int thread) {
    UndeliveredOrders marks(shop(), Path());
    for (int i = 0; i < kEach; ++i) marks.Mark(std::to_string(thread * 1000 + i), "b", "t");
  };
  std::thread a(marker, 1), b(marker, 2);
  a.join();
  b.join();
  EXPECT_EQ(UndeliveredOrders(shop(), Path()).List().size(), 2u * kEach);
}

}  // namespace
}  // namespace autodeliver
