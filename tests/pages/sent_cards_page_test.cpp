// The sent-cards grid: header, one row per record in table order, a table
// that cannot be opened, and the column widths the seller gives it.
#include <QFile>
#include <QHeaderView>
#include <QScrollBar>

#include "app/list_columns.h"
#include "page_fixture.h"
#include "pages/column_widths.h"
#include "pages/list_models.h"
#include "store/sent_table.h"
#include "store/settings.h"

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

  for (int i = 1; i <= 4; ++i) ASSERT_TRUE(AppendSentCard(shop(), Sent("T" + std::to_string(i), 1, "c")));
  pages->RefreshAllPages();
  ASSERT_EQ(grid->rowCount(), 4);
  EXPECT_EQ(grid->index(0, 1).data().toString(), QStringLiteral("T1"));
  EXPECT_EQ(grid->index(3, 1).data().toString(), QStringLiteral("T4"));
  EXPECT_EQ(grid->index(0, 7).data().toString(), QStringLiteral("2012年11月20日9时5分"));

  // A table that cannot be opened leaves the grid as it was.
  ASSERT_TRUE(QFile::remove(QString::fromStdString(shop().SentTablePath())));
  pages->RefreshAllPages();
  EXPECT_EQ(grid->rowCount(), 4);
}

// The seller drags the right edge of `column` in the grid's header until
// the column is `width` pixels wide.
void DragColumnEdge(QHeaderView& header, int column, int width) {
  const int edge = header.sectionViewportPosition(column) + header.sectionSize(column) - 1;
  const int to = edge + width - header.sectionSize(column);
  const int y = header.height() / 2;
  QTest::mousePress(header.viewport(), Qt::LeftButton, {}, QPoint(edge, y));
  QTest::mouseMove(header.viewport(), QPoint((edge + to) / 2, y));
  QTest::mouseMove(header.viewport(), QPoint(to, y));
  QTest::mouseRelease(header.viewport(), Qt::LeftButton, {}, QPoint(to, y));
}

std::vector<std::string> RememberedRows(ShopContext& shop) {
  return GetSettingValues(shop, "已发卡密列宽"_gbk);
}

// The layout's widths make the grid scroll sideways. The seller narrows
// the first seven columns by dragging their edges; the last column then
// fills the rest of the grid and nothing scrolls. Widened again, the others
// leave the last column less room than its own width: it keeps that width
// and the grid scrolls, until the seller narrows the last column too. The
// widths are remembered (the last column's own, not the room it filled): a
// new start shows them, also after the start-up has written the header.
TEST_F(SentCardsPageTest, SellerResizesColumnsTheLastFillsTheRestAndTheWidthsAreRemembered) {
  QTableView* grid = w->sentGrid;
  QHeaderView* header = grid->horizontalHeader();
  QScrollBar* scroll = grid->horizontalScrollBar();
  ShowPageOf(grid);
  ASSERT_TRUE(QTest::qWaitFor([&] { return grid->isVisible(); }, 5000));
  EXPECT_EQ(grid->columnWidth(7), 200);
  EXPECT_GT(scroll->maximum(), 0);
  auto lastEndsAtTheRightEdge = [&] {
    return header->sectionViewportPosition(7) + header->sectionSize(7) == grid->viewport()->width();
  };
  // The scroll range follows once the view has laid itself out.
  auto scrolls = [&](bool expected) {
    return QTest::qWaitFor([&] { return (scroll->maximum() > 0) == expected; }, 5000);
  };

  const int narrowed[] = {70, 120, 50, 50, 90, 90, 60};
  for (int c = 0; c < 7; ++c) DragColumnEdge(*header, c, narrowed[c]);
  for (int c = 0; c < 7; ++c) EXPECT_EQ(grid->columnWidth(c), narrowed[c]) << c;
  EXPECT_GT(grid->columnWidth(7), 200);
  EXPECT_TRUE(lastEndsAtTheRightEdge());
  EXPECT_TRUE(scrolls(false));

  DragColumnEdge(*header, 0, 140);
  EXPECT_EQ(grid->columnWidth(7), 200);
  EXPECT_TRUE(scrolls(true));
  scroll->setValue(scroll->maximum());
  DragColumnEdge(*header, 7, 150);
  EXPECT_TRUE(scrolls(false));
  EXPECT_GT(grid->columnWidth(7), 150);
  EXPECT_TRUE(lastEndsAtTheRightEdge());

  const std::vector<std::string> expected = {"140,120,50,50,90,90,60,150"};
  ASSERT_TRUE(QTest::qWaitFor([&] { return RememberedRows(shop()) == expected; }, 5000))
      << RememberedRows(shop()).size();

  // The next start.
  pages.reset();
  w.reset();
  window = std::make_unique<MainWindow>(shop());
  w = std::make_unique<PageWidgets>(*window);
  pages = std::make_unique<WindowPages>(*window, prompts);
  WriteColumnHeader(*w->sentGrid, SentCardsGridColumns(shop()));
  const int remembered[] = {140, 120, 50, 50, 90, 90, 60};
  for (int c = 0; c < 7; ++c) EXPECT_EQ(w->sentGrid->columnWidth(c), remembered[c]) << c;
  EXPECT_GE(w->sentGrid->columnWidth(7), 150);

  // The page's end stores a change the timer had no time for.
  w->sentGrid->setColumnWidth(0, 111);
  pages.reset();
  EXPECT_EQ(RememberedRows(shop()), std::vector<std::string>{"111,120,50,50,90,90,60,150"});
}

// A row is taken only when it holds one sensible width per column; else
// the grid shows the layout's widths.
TEST_F(SentCardsPageTest, RememberedWidthsAreTakenOnlyWhenEveryWidthFits) {
  const std::vector<int> layout = {140, 200, 90, 90, 200, 200, 200, 200};
  const struct {
    const char* value;
    bool taken;
  } cases[] = {
      {"10,20,30,40,50,60,70,80", true},
      {"1,1,1,1,1,1,1,4000", true},
      {"10,20,30,40,50,60,70", false},
      {"10,20,30,40,50,60,70,80,90", false},
      {"10,20,30,40,50,60,70,", false},
      {"10,20,30,40,50,60,70,0", false},
      {"10,20,30,40,50,60,70,-5", false},
      {"10,20,30,40,50,60,70,4001", false},
      {"10,20,30,40,50,60,70,8x", false},
      {"10, 20,30,40,50,60,70,80", false},
      {"", false},
      {"10,20,30,40,50,60,70,99999999999", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    ASSERT_TRUE(ReplaceSettingValues(shop(), "已发卡密列宽"_gbk, {c.value}));
    const std::vector<int> widths = SentCardsPage::ColumnWidths(shop());
    if (c.taken) {
      EXPECT_EQ(ColumnWidthsValue(widths), c.value);
    } else {
      EXPECT_EQ(widths, layout);
    }
  }
  // No row at all, and a table that cannot be read: the layout's widths.
  ASSERT_TRUE(ReplaceSettingValues(shop(), "已发卡密列宽"_gbk, {}));
  EXPECT_EQ(SentCardsPage::ColumnWidths(shop()), layout);
  // Widths out of range are stored at the range's nearer end.
  ASSERT_TRUE(SaveColumnWidths(shop(), kSentCardsColumnWidthsSetting, {0, 5000, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(RememberedRows(shop()), std::vector<std::string>{"1,4000,3,4,5,6,7,8"});
  ASSERT_TRUE(QFile::remove(QString::fromStdString(shop().SettingsTablePath())));
  EXPECT_EQ(SentCardsPage::ColumnWidths(shop()), layout);
  EXPECT_FALSE(SaveColumnWidths(shop(), kSentCardsColumnWidthsSetting, layout));
}

}  // namespace
}  // namespace autodeliver::testing_pages
