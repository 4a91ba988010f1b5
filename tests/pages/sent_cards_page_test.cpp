// The sent-cards grid: header, one row per record in table order, and a
// table that cannot be opened.
#include <QFile>

#include "page_fixture.h"
#include "pages/list_models.h"
#include "store/store_ops.h"

namespace autodeliver::testing_pages {
namespace {

using SentCardsPageTest = PagesTest;

SentCard Sent(const std::string& order, int quantity, const std::string& number) {
  return {"item", order, "nick", quantity, number, "pw", "", "2012年11月20日9时5分"_gbk};
}

TEST_F(SentCardsPageTest, OneRowPerRecordInTableOrder) {
  QAbstractItemModel* grid = w->sentGrid->model();
  ASSERT_NE(grid, nullptr);
  // Header texts and widths.
  const char* headers[] = {"宝贝名称", "订单编号", "买家旺旺", "购买数量",
                           "已发卡号", "已发卡密", "已发备注", "发货时间"};
  const int widths[] = {140, 200, 90, 90, 200, 200, 200, 200};
  ASSERT_EQ(grid->columnCount(), 8);
  for (int c = 0; c < 8; ++c) {
    EXPECT_EQ(grid->headerData(c, Qt::Horizontal).toString(), QString::fromUtf8(headers[c]));
    EXPECT_EQ(w->sentGrid->columnWidth(c), widths[c]) << c;
  }
  // An empty table: header only.
  pages->RefreshAllPages();
  EXPECT_EQ(grid->rowCount(), 0);

  for (int i = 1; i <= 4; ++i) ASSERT_TRUE(AppendSentCard(Sent("T" + std::to_string(i), 1, "c")));
  pages->RefreshAllPages();
  ASSERT_EQ(grid->rowCount(), 4);
  EXPECT_EQ(grid->index(0, 1).data().toString(), QStringLiteral("T1"));
  EXPECT_EQ(grid->index(3, 1).data().toString(), QStringLiteral("T4"));
  EXPECT_EQ(grid->index(0, 7).data().toString(), QStringLiteral("2012年11月20日9时5分"));

  // A table that cannot be opened leaves the grid as it was.
  ASSERT_TRUE(QFile::remove(QString::fromStdString(SentTablePath())));
  pages->RefreshAllPages();
  EXPECT_EQ(grid->rowCount(), 4);
}

}  // namespace
}  // namespace autodeliver::testing_pages
