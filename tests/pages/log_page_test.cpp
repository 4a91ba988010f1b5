// The log page: the ring of recent lines (newest first, bounded), the
// filter by order, buyer or item, the lines' columns, and the lines carried
// over from the delivery thread in batches.
#include "pages/log_page.h"

#include <QAbstractItemModelTester>
#include <QLabel>
#include <QSignalSpy>
#include <thread>

#include "delivery/log.h"
#include "delivery/wording.h"
#include "page_fixture.h"

namespace autodeliver::testing_pages {
namespace {

LogEntry Entry(const QString& text, const QString& order = {}, const QString& buyer = {},
               const QString& item = {}) {
  LogEntry e;
  e.text = text;
  e.orderNumber = order;
  e.buyerNick = buyer;
  e.itemTitle = item;
  return e;
}

std::vector<LogEntry> Numbered(int from, int to) {
  std::vector<LogEntry> lines;
  for (int i = from; i < to; ++i) lines.push_back(Entry(QString::number(i)));
  return lines;
}

QStringList Column(const QAbstractItemModel& model, int column) {
  QStringList texts;
  for (int r = 0; r < model.rowCount(); ++r) texts << model.index(r, column).data().toString();
  return texts;
}

// Batches of lines into a ring of five: the newest first, the oldest gone,
// whatever the sizes of the batches.
TEST(LogModelTest, RingKeepsTheNewestLinesNewestFirst) {
  const struct {
    std::vector<std::pair<int, int>> batches;
    QStringList shown;
  } cases[] = {
      {{{0, 3}}, {"2", "1", "0"}},
      {{{0, 3}, {3, 5}}, {"4", "3", "2", "1", "0"}},
      {{{0, 3}, {3, 7}}, {"6", "5", "4", "3", "2"}},     // two old lines leave
      {{{0, 4}, {4, 12}}, {"11", "10", "9", "8", "7"}},  // a batch larger than the ring
      {{{0, 5}, {5, 10}}, {"9", "8", "7", "6", "5"}},    // a batch exactly the ring
      {{{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 6}}, {"5", "4", "3", "2", "1"}},
  };
  for (const auto& c : cases) {
    LogModel model(5);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Warning);
    int received = 0;
    for (const auto& [from, to] : c.batches) {
      model.Append(Numbered(from, to));
      received += to - from;
    }
    EXPECT_EQ(Column(model, LogModel::kText), c.shown);
    EXPECT_EQ(model.linesReceived(), received);
  }
}

TEST(LogModelTest, FilterKeepsTheLinesOfAnOrderBuyerOrItem) {
  LogModel model;
  model.Append({Entry("开始一轮发货"), Entry("宝贝“点卡10元” × 1", "1718001", "买家甲", "点卡10元"),
                Entry("跳过", "1718002", "Alice", "Q币 50"),
                Entry("等待补货", "2718003", "买家乙", "点卡10元")});
  LogFilterModel filter(&model);
  QAbstractItemModelTester tester(&filter, QAbstractItemModelTester::FailureReportingMode::Warning);
  const struct {
    QString typed;
    QStringList orders;  // newest first
  } cases[] = {
      {"", {"2718003", "1718002", "1718001", ""}},  // everything, the program's lines too
      {"1718", {"1718002", "1718001"}},             // part of an order number
      {"买家甲", {"1718001"}},                      // a buyer
      {"alice", {"1718002"}},                       // letters in any case
      {"点卡", {"2718003", "1718001"}},             // an item
      {"  q币 ", {"1718002"}},                      // spaces around are no part of it
      {"等待补货", {}},                             // the text of a line is not searched
  };
  for (const auto& c : cases) {
    filter.SetFilterText(c.typed);
    EXPECT_EQ(Column(filter, LogModel::kOrder), c.orders) << c.typed.toStdString();
  }
  // New lines are filtered as they come.
  filter.SetFilterText("点卡");
  model.Append({Entry("又一笔", "3", "丙", "点卡20元"), Entry("别的", "4", "丁", "Q币")});
  EXPECT_EQ(Column(filter, LogModel::kOrder), (QStringList{"3", "2718003", "1718001"}));
}

// A log line becomes the page's columns: the order's opening goes into the
// order and buyer columns, page texts are shown safely, the reason stays.
TEST(LogModelTest, LinesOfTheLogBecomeColumns) {
  const PendingOrder order{"1001", "点卡"_gbk, 2, "买家\n甲"_gbk, "9"};
  DeliveryLogLine line;
  line.level = LineLevel::kWarning;
  line.text = WordOrderWaiting(order, WaitReason::kStockShort, 1).text;
  line.orderNumber = order.orderNumber;
  line.buyerNick = order.buyerNick;
  line.itemTitle = order.itemTitle;
  line.reason = ReasonText(WaitReason::kStockShort);
  LogEntry e = LogEntryOf(line);
  EXPECT_TRUE(e.warning);
  EXPECT_EQ(e.orderNumber, "1001");
  EXPECT_EQ(e.buyerNick, "买家\\x0A甲");
  EXPECT_EQ(e.itemTitle, "点卡");
  EXPECT_EQ(e.reason, "库存不足，等待补货");
  EXPECT_EQ(e.text, "库存不足（库存 1 张，需要 2 张），等待补货");

  DeliveryLogLine programLine;
  programLine.text = "开始一轮发货：扫描等待发货的订单";
  e = LogEntryOf(programLine);
  EXPECT_FALSE(e.warning);
  EXPECT_TRUE(e.orderNumber.isEmpty());
  EXPECT_EQ(e.text, QString::fromStdString(programLine.text));

  LogModel model;
  model.Append({LogEntryOf(line)});
  EXPECT_EQ(model.index(0, LogModel::kReason).data().toString(), "库存不足，等待补货");
  EXPECT_TRUE(model.index(0, LogModel::kText).data(Qt::ForegroundRole).isValid());  // warnings stand out
  for (int col = 0; col < LogModel::kColumnCount; ++col)
    EXPECT_FALSE(model.headerData(col, Qt::Horizontal).toString().isEmpty()) << col;
}

class LogPageTest : public PagesTest {
 protected:
  void SetUp() override {
    PagesTest::SetUp();
    DeliveryLog::Options options;
    options.path = dir_.path().toStdString() + "/logs/delivery.log";
    log = std::make_unique<DeliveryLog>(options);
    ASSERT_TRUE(log->ok());
  }
  void TearDown() override {
    page.reset();
    log.reset();
    PagesTest::TearDown();
  }

  // `lines` order lines written on a thread of their own, as a delivery
  // cycle writes them.
  void WriteFromAnotherThread(int lines, int from = 0) {
    std::thread writer([&] {
      for (int i = from; i < from + lines; ++i) {
        const PendingOrder order{std::to_string(100000 + i), "点卡"_gbk, 1, "买家"_gbk, "9"};
        log->OrderSeen(order);
      }
    });
    writer.join();
  }

  std::unique_ptr<DeliveryLog> log;
  std::unique_ptr<LogPage> page;
};

TEST_F(LogPageTest, LinesFromTheDeliveryThreadArriveInBatchesNewestFirst) {
  page = std::make_unique<LogPage>(window->pageControls().log, 1000);
  page->Attach(*log);
  auto* view = window->findChild<QTableView*>("表格运行日志");
  ASSERT_NE(view, nullptr);
  ASSERT_EQ(view->model(), &page->filter());
  QSignalSpy inserted(&page->model(), &QAbstractItemModel::rowsInserted);
  QSignalSpy reset(&page->model(), &QAbstractItemModel::modelReset);

  // 600 lines written while the window's thread does not look: they come
  // over in one update, not one per line.
  WriteFromAnotherThread(600);
  ASSERT_TRUE(QTest::qWaitFor([&] { return page->model().rowCount() == 600; }, 10000));
  EXPECT_EQ(inserted.count() + reset.count(), 1);
  EXPECT_EQ(view->model()->index(0, LogModel::kOrder).data().toString(), "100599");
  EXPECT_EQ(view->model()->index(599, LogModel::kOrder).data().toString(), "100000");

  // 2,500 more: the ring keeps the newest 1,000, in order, even when the
  // inbox overflows before the window takes it.
  WriteFromAnotherThread(2500, 600);
  ASSERT_TRUE(QTest::qWaitFor([&] { return page->model().linesReceived() >= 1000 + 600; }, 10000));
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return page->model().entry(0).orderNumber == QStringLiteral("103099"); }, 10000));
  ASSERT_EQ(page->model().rowCount(), 1000);
  for (int r = 0; r < 1000; ++r) {
    ASSERT_EQ(page->model().entry(r).orderNumber, QString::number(103099 - r)) << r;
  }
  EXPECT_TRUE(page->CountText().contains("更早的在日志文件中")) << page->CountText().toStdString();

  // Detached, the page hears nothing more.
  page->Detach();
  WriteFromAnotherThread(5, 9000);
  QCoreApplication::processEvents();
  EXPECT_EQ(page->model().entry(0).orderNumber, "103099");
}

TEST_F(LogPageTest, TheFilterBoxNarrowsTheViewAndTheCountSaysSo) {
  page = std::make_unique<LogPage>(window->pageControls().log);
  page->Attach(*log);
  for (const auto& [number, buyer, item] :
       {std::tuple{"5001", "买家甲", "点卡10元"}, {"5002", "买家乙", "Q币"}, {"5003", "买家甲", "Q币"}}) {
    log->OrderSeen({number, Utf8ToGbkLossy(item), 1, Utf8ToGbkLossy(buyer), "1"});
  }
  log->Write(LineLevel::kInfo, "程序启动");
  ASSERT_TRUE(QTest::qWaitFor([&] { return page->model().rowCount() == 4; }, 5000));
  auto* box = window->findChild<QLineEdit*>("编辑框日志筛选");
  auto* count = window->findChild<QLabel*>("标签日志条数");
  auto* view = window->findChild<QTableView*>("表格运行日志");
  ASSERT_TRUE(box && count && view);
  EXPECT_EQ(count->text(), "共 4 条");
  w->tabs->setCurrentIndex(4);
  Focus(box);
  Type(box, "买家甲");
  EXPECT_EQ(Column(*view->model(), LogModel::kOrder), (QStringList{"5003", "5001"}));
  EXPECT_EQ(count->text(), "筛选出 2 条 / 共 4 条");
  box->clear();
  EXPECT_EQ(view->model()->rowCount(), 4);
  EXPECT_EQ(count->text(), "共 4 条");

  // "只看警告" keeps the warnings alone, also together with the filter text.
  log->OrderWaiting({"5002", "Q币"_gbk, 1, "买家乙"_gbk, "1"}, WaitReason::kStockShort, 0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return page->model().rowCount() == 5; }, 5000));
  auto* warningsOnly = window->findChild<QCheckBox*>("只看警告");
  ASSERT_NE(warningsOnly, nullptr);
  QTest::mouseClick(warningsOnly, Qt::LeftButton, {}, QPoint(8, warningsOnly->height() / 2));
  ASSERT_TRUE(warningsOnly->isChecked());
  EXPECT_EQ(Column(*view->model(), LogModel::kOrder), (QStringList{"5002"}));
  EXPECT_EQ(count->text(), "筛选出 1 条 / 共 5 条");
  Type(box, "买家甲");
  EXPECT_EQ(view->model()->rowCount(), 0);
  box->clear();
  QTest::mouseClick(warningsOnly, Qt::LeftButton, {}, QPoint(8, warningsOnly->height() / 2));
  EXPECT_EQ(view->model()->rowCount(), 5);
  EXPECT_EQ(count->text(), "共 5 条");

  QSignalSpy settings(page.get(), &LogPage::notificationSettingsRequested);
  QTest::mouseClick(window->findChild<QPushButton*>("按钮通知设置"), Qt::LeftButton);
  EXPECT_EQ(settings.count(), 1);
}

// A page that goes while lines are on their way drops them; nothing runs on
// a page that is gone.
TEST_F(LogPageTest, APageThatGoesWhileLinesAreOnTheirWayIsLeftAlone) {
  for (int round = 0; round < 20; ++round) {
    page = std::make_unique<LogPage>(window->pageControls().log, 100);
    page->Attach(*log);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
      for (int i = 0; !stop; ++i) log->Write(LineLevel::kInfo, "行 " + std::to_string(i));
    });
    QCoreApplication::processEvents();
    page.reset();  // detaches while the writer writes
    stop = true;
    writer.join();
    QCoreApplication::processEvents();  // a call posted before the page went
  }
  // The log hands its lines to the one page attached now, and only to it.
  page = std::make_unique<LogPage>(window->pageControls().log, 100);
  page->Attach(*log);
  log->Write(LineLevel::kInfo, "最后一行");
  ASSERT_TRUE(QTest::qWaitFor([&] { return page->model().rowCount() == 1; }, 5000));
  EXPECT_EQ(page->model().entry(0).text, "最后一行");
  QCoreApplication::processEvents();
  EXPECT_EQ(page->model().linesReceived(), 1);
}

}  // namespace
}  // namespace autodeliver::testing_pages
