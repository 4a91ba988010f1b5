// What the seller does with the delivered cards in the real window: the
// search typed key by key with its count, the undelivered orders' colours
// and filter, the resend of the selected order through the delivery
// controller (a resend the test controls), the CSV exports of the sent cards
// and of an item's stock, and the deliveries plot.
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QFile>
#include <QItemSelectionModel>
#include <QSignalSpy>
#include <chrono>
#include <future>
#include <map>
#include <set>

#include "delivery/controller.h"
#include "export/csv_export.h"
#include "page_fixture.h"
#include "pages/sent_cards_filter.h"
#include "store/delivery_counts.h"
#include "store/item_table.h"
#include "store/sent_table.h"
#include "store/sent_time.h"
#include "store/stock_table.h"
#include "store/undelivered_orders.h"

namespace autodeliver::testing_pages {
namespace {

using namespace std::chrono;

class SentCardsToolsTest : public PagesTest {
 protected:
  void SetUp() override {
    PagesTest::SetUp();
    if (HasFatalFailure()) return;
    auto find = [&](auto* type, const char* name) {
      auto* found = window->findChild<std::remove_pointer_t<decltype(type)>*>(QString::fromUtf8(name));
      EXPECT_NE(found, nullptr) << name;
      return found;
    };
    searchBox = find((QLineEdit*)nullptr, "已发搜索框");
    undeliveredBox = find((QCheckBox*)nullptr, "只看未送达");
    countLabel = find((QLabel*)nullptr, "已发条数");
    resendButton = find((QPushButton*)nullptr, "重新发送");
    resendAllButton = find((QPushButton*)nullptr, "补发全部未送达");
    noteLabel = find((QLabel*)nullptr, "已发提示");
    grid = w->sentGrid;
  }

  // Appends the cards of one order (UTF-8 texts).
  void Deliver(const std::string& item, const std::string& order, const std::string& buyer,
               const std::vector<std::string>& numbers, const std::string& sentAt = "2024年5月1日9时") {
    for (const std::string& number : numbers) {
      ASSERT_TRUE(AppendSentCard(shop(), {G(QString::fromStdString(item)), order,
                                          G(QString::fromStdString(buyer)), static_cast<int>(numbers.size()),
                                          number, "pw-" + number, "", G(QString::fromStdString(sentAt))}));
    }
  }

  // The order numbers of the grid's rows, in order.
  std::vector<std::string> ShownOrders() const {
    std::vector<std::string> orders;
    QAbstractItemModel* m = grid->model();
    for (int r = 0; r < m->rowCount(); ++r) orders.push_back(m->index(r, 1).data().toString().toStdString());
    return orders;
  }
  std::vector<std::string> ShownCards() const {
    std::vector<std::string> cards;
    QAbstractItemModel* m = grid->model();
    for (int r = 0; r < m->rowCount(); ++r) cards.push_back(m->index(r, 4).data().toString().toStdString());
    return cards;
  }

  void Search(const QString& text) {
    Focus(searchBox);
    searchBox->clear();
    Type(searchBox, text);
  }

  // Selects the grid rows `rows` as a seller's clicks would.
  void SelectRows(const std::vector<int>& rows) {
    ShowPageOf(grid);
    grid->clearSelection();
    for (int r : rows) {
      grid->selectionModel()->select(grid->model()->index(r, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
  }

  QLineEdit* searchBox;
  QCheckBox* undeliveredBox;
  QLabel* countLabel;
  QPushButton* resendButton;
  QPushButton* resendAllButton;
  QLabel* noteLabel;
  QTableView* grid;
};

TEST_F(SentCardsToolsTest, SearchTypedKeyByKeyShowsTheMatchingRowsAndCountsThem) {
  Deliver("点卡10元", "1001", "买家甲", {"DK1001"});
  Deliver("点卡10元", "1002", "买家乙", {"DK1002", "DK1003"});
  Deliver("游戏月卡", "2001", "TomCat", {"GM-1"});
  pages->RefreshAllPages();
  EXPECT_EQ(countLabel->text(), QStringLiteral("共 4 条"));

  Search(QStringLiteral("dk100"));
  EXPECT_EQ(ShownCards(), (std::vector<std::string>{"DK1001", "DK1002", "DK1003"}));
  EXPECT_EQ(countLabel->text(), QStringLiteral("共 3 条（全部 4 条）"));
  Type(searchBox, QStringLiteral("3"));
  EXPECT_EQ(ShownCards(), std::vector<std::string>{"DK1003"});
  // Back to a wider query: the rows come back.
  QTest::keyClick(searchBox, Qt::Key_Backspace);
  EXPECT_EQ(ShownCards().size(), 3u);
  Search(QStringLiteral("买家乙 点卡"));
  EXPECT_EQ(ShownOrders(), (std::vector<std::string>{"1002", "1002"}));
  Search(QStringLiteral("tomcat"));
  EXPECT_EQ(ShownOrders(), std::vector<std::string>{"2001"});
  // A character the tables cannot hold matches nothing.
  Search(QStringLiteral("한"));
  EXPECT_TRUE(ShownOrders().empty());
  EXPECT_EQ(countLabel->text(), QStringLiteral("共 0 条（全部 4 条）"));
  Search(QString());
  EXPECT_EQ(ShownOrders().size(), 4u);

  // Double-clicking a row shows the rows of its order.
  const QRect cell = grid->visualRect(grid->model()->index(2, 1));
  QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
  QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
  EXPECT_EQ(searchBox->text(), QStringLiteral("1002"));
  EXPECT_EQ(ShownCards(), (std::vector<std::string>{"DK1002", "DK1003"}));

  // A refresh after a delivery keeps the search.
  Deliver("点卡10元", "1003", "买家丙", {"DK1004"});
  pages->RefreshAllPages();
  EXPECT_EQ(ShownOrders(), (std::vector<std::string>{"1002", "1002"}));
  EXPECT_EQ(countLabel->text(), QStringLiteral("共 2 条（全部 5 条）"));
}

TEST_F(SentCardsToolsTest, UndeliveredOrdersAreColouredAndCanBeShownAlone) {
  Deliver("点卡", "1001", "甲", {"A1"});
  Deliver("点卡", "1002", "乙", {"B1", "B2"});
  Deliver("点卡", "1003", "丙", {"C1"});
  ASSERT_TRUE(UndeliveredOrders(shop()).Mark("1002", "乙"_gbk, "点卡"_gbk));
  pages->RefreshAllPages();
  QAbstractItemModel* m = grid->model();
  for (int r = 0; r < m->rowCount(); ++r) {
    const bool marked = m->index(r, 1).data().toString() == QStringLiteral("1002");
    EXPECT_EQ(m->index(r, 3).data(Qt::BackgroundRole).value<QColor>(),
              marked ? SentCardsFilter::MarkedBackground() : QColor())
        << r;
    EXPECT_EQ(m->index(r, 0).data(Qt::ToolTipRole).toString().startsWith(QStringLiteral("未送达")), marked)
        << r;
  }
  EXPECT_EQ(countLabel->text(), QStringLiteral("共 4 条　未送达 1 单"));

  undeliveredBox->click();
  EXPECT_EQ(ShownCards(), (std::vector<std::string>{"B1", "B2"}));
  Search(QStringLiteral("B2"));
  EXPECT_EQ(ShownCards(), std::vector<std::string>{"B2"});
  Search(QStringLiteral("A1"));
  EXPECT_TRUE(ShownCards().empty());
  undeliveredBox->click();
  EXPECT_EQ(ShownCards(), std::vector<std::string>{"A1"});
}

// A resend the test holds open and answers as the real one would for
// orders whose recorded cards are those of `cards`.
struct HeldResend {
  explicit HeldResend(ShopContext& shopOfTest) : shop(shopOfTest) {}
  DeliveryController::ResendRunner Runner() {
    return [this](const ResendRequest& request, const std::atomic<bool>&) {
      requests.push_back(request);
      started.set_value();
      release.get_future().wait();
      ResendBatch batch;
      batch.allUndelivered = request.allUndelivered;
      std::vector<std::string> orders = request.orderNumbers;
      if (request.allUndelivered) {
        const std::vector<UndeliveredOrder> marked = UndeliveredOrders(shop).List();
        batch.marked = static_cast<int>(marked.size());
        batch.listing = ScanOutcome::kListed;
        orders.clear();
        for (const UndeliveredOrder& m : marked) {
          if (unlisted.count(m.orderNumber)) {
            batch.notListed.push_back(m);
          } else {
            orders.push_back(m.orderNumber);
          }
        }
      }
      for (const std::string& order : orders) {
        ResendResult& r = batch.results.emplace_back();
        r.order = {order, "点卡"_gbk, 1, buyers[order], "9"};
        r.cards = cards[order];
        if (order == failing) {
          r.outcome = ResendOutcome::kNotHanded;
          continue;
        }
        r.outcome = ResendOutcome::kResent;
        r.wasMarked = UndeliveredOrders(shop).IsMarked(order);
        // What the real resend does to the mark once the message went out.
        r.markCleared = r.wasMarked && UndeliveredOrders(shop).Clear(order);
        r.stillListed = r.consignAnswered = true;
        r.listing = ScanOutcome::kListed;
      }
      return batch;
    };
  }
  void Restart() {
    started = {};
    release = {};
  }
  ShopContext& shop;
  std::vector<ResendRequest> requests;
  std::map<std::string, std::string> buyers;
  std::map<std::string, std::vector<DeliveredCard>> cards;
  std::set<std::string> unlisted;
  std::string failing;
  std::promise<void> started, release;
};

class FakeDeliveryWindow : public DeliveryWindow {
 public:
  void RefreshAfterDelivery() override {}
  void SetTimerInterval(int) override {}
};

TEST_F(SentCardsToolsTest, ResendTakesTheSelectedOrdersInTheGridsOrderAndNeverRunsBesideACycle) {
  Deliver("点卡", "1001", "甲", {"A1"});
  Deliver("点卡", "1002", "乙", {"B1", "B2"});
  Deliver("点卡", "1003", "丙", {"C1"});
  ASSERT_TRUE(UndeliveredOrders(shop()).Mark("1002", "乙"_gbk, "点卡"_gbk));
  ASSERT_TRUE(UndeliveredOrders(shop()).Mark("1003", "丙"_gbk, "点卡"_gbk));
  pages->RefreshAllPages();

  FakeDeliveryWindow deliveryWindow;
  std::promise<void> cycleStarted, cycleRelease;
  HeldResend resend(shop());
  resend.buyers = {{"1001", "甲"_gbk}, {"1002", "乙"_gbk}, {"1003", "丙"_gbk}};
  resend.cards = {
      {"1001", {{"A1", "pw-A1"}}}, {"1002", {{"B1", "pw-B1"}, {"B2", "pw-B2"}}}, {"1003", {{"C1", "pw-C1"}}}};
  DeliveryController controller(
      shop(), deliveryWindow,
      [&](const std::atomic<bool>&) {
        cycleStarted.set_value();
        cycleRelease.get_future().wait();
        return CycleResult{};
      },
      resend.Runner());
  pages->sentCards.SetDeliveryController(&controller);

  // Nothing selected: nothing starts, the note says why.
  ShowPageOf(resendButton);
  SelectRows({});
  resendButton->click();
  EXPECT_EQ(noteLabel->text(), QStringLiteral("请先在表格中选中要重新发送的订单"));

  // While a cycle runs the resend is refused.
  controller.ApplySetting(true, "30");
  controller.OnTick();
  ASSERT_EQ(cycleStarted.get_future().wait_for(seconds(10)), std::future_status::ready);
  SelectRows({1, 2});
  resendButton->click();
  EXPECT_EQ(noteLabel->text(), QStringLiteral("正在进行一轮自动发货，请在本轮结束后再重新发送"));
  cycleRelease.set_value();
  controller.WaitForCycle();

  // Both rows of one order: the resend runs on the delivery thread, the
  // buttons wait for it, and its outcome shows in the note.
  QSignalSpy finished(&pages->sentCards, &SentCardsPage::resendFinished);
  resendButton->click();
  ASSERT_EQ(resend.started.get_future().wait_for(seconds(10)), std::future_status::ready);
  EXPECT_FALSE(resendButton->isEnabled());
  EXPECT_FALSE(resendAllButton->isEnabled());
  EXPECT_TRUE(noteLabel->text().startsWith(QStringLiteral("正在把订单 1002 的卡密重新发给买家")));
  resend.release.set_value();
  ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }, 10000));
  ASSERT_EQ(resend.requests.size(), 1u);
  EXPECT_EQ(resend.requests[0].orderNumbers, std::vector<std::string>{"1002"});
  EXPECT_TRUE(resendButton->isEnabled());
  EXPECT_EQ(noteLabel->text(),
            QStringLiteral("订单 1002 的 2 张卡密已重新发给买家 乙，并已提交发货；未送达标记已清除"));
  EXPECT_TRUE(noteLabel->toolTip().contains(QStringLiteral("已把记录中的 2 张卡密重新交给旺旺发给买家")));
  // The mark is gone from the grid.
  EXPECT_FALSE(grid->model()->index(1, 0).data(Qt::BackgroundRole).isValid());
  EXPECT_EQ(countLabel->text(), QStringLiteral("共 4 条　未送达 1 单"));

  // Three orders selected bottom-up: each once, in the grid's order; the
  // message of the second is not taken, and the note names it.
  controller.WaitForCycle();
  resend.Restart();
  resend.failing = "1002";
  grid->clearSelection();
  for (const int row : {3, 0, 2}) {
    grid->selectionModel()->select(grid->model()->index(row, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }
  resendButton->click();
  ASSERT_EQ(resend.started.get_future().wait_for(seconds(10)), std::future_status::ready);
  EXPECT_EQ(noteLabel->text(), QStringLiteral("正在把选中的 3 笔订单的卡密依次重新发给各自的买家…"));
  resend.release.set_value();
  ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 2; }, 10000));
  ASSERT_EQ(resend.requests.size(), 2u);
  EXPECT_EQ(resend.requests[1].orderNumbers, (std::vector<std::string>{"1001", "1002", "1003"}));
  EXPECT_EQ(noteLabel->text(),
            QStringLiteral("已把 2 笔订单的 2 张卡密重新发给各自的买家，其中 2 笔已提交发货；"
                           "订单 1002 没能交给旺旺，仍记为未送达"));
  EXPECT_TRUE(noteLabel->toolTip().contains(QStringLiteral("重新发送的卡密消息没能交给旺旺")));
  EXPECT_EQ(countLabel->text(), QStringLiteral("共 4 条"));
  controller.WaitForCycle();
  pages->sentCards.SetDeliveryController(nullptr);
}

TEST_F(SentCardsToolsTest, ResendAllAsksWithTheCountAndNamesTheOrdersNoLongerListed) {
  Deliver("点卡", "1001", "甲", {"A1"});
  Deliver("点卡", "1002", "乙", {"B1"});
  Deliver("点卡", "1003", "丙", {"C1"});
  FakeDeliveryWindow deliveryWindow;
  HeldResend resend(shop());
  resend.buyers = {{"1001", "甲"_gbk}, {"1002", "乙"_gbk}, {"1003", "丙"_gbk}};
  resend.cards = {{"1001", {{"A1", "pw-A1"}}}, {"1002", {{"B1", "pw-B1"}}}, {"1003", {{"C1", "pw-C1"}}}};
  resend.unlisted = {"1003"};
  DeliveryController controller(
      shop(), deliveryWindow, [](const std::atomic<bool>&) { return CycleResult{}; }, resend.Runner());
  pages->sentCards.SetDeliveryController(&controller);
  ShowPageOf(resendAllButton);

  // Nothing marked: nothing to ask.
  resendAllButton->click();
  EXPECT_EQ(noteLabel->text(), QStringLiteral("没有标记为未送达的订单"));
  EXPECT_TRUE(prompts.boxes.empty());

  for (const char* order : {"1001", "1002", "1003"})
    ASSERT_TRUE(UndeliveredOrders(shop()).Mark(order, "x", "y"));
  pages->RefreshAllPages();
  // The seller says no: nothing starts.
  prompts.questionAnswers = {BoxAnswer::kNo};
  resendAllButton->click();
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].kind, BoxKind::kQuestion);
  EXPECT_EQ(prompts.boxes[0].caption, G(QStringLiteral("补发全部未送达")));
  EXPECT_EQ(prompts.boxes[0].text.rfind(G(QStringLiteral("有 3 笔订单标记为未送达。")), 0), 0u)
      << GbkToUtf8Lossy(prompts.boxes[0].text);
  EXPECT_TRUE(resend.requests.empty());

  QSignalSpy finished(&pages->sentCards, &SentCardsPage::resendFinished);
  resendAllButton->click();
  ASSERT_EQ(resend.started.get_future().wait_for(seconds(10)), std::future_status::ready);
  resend.release.set_value();
  ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() == 1; }, 10000));
  ASSERT_EQ(resend.requests.size(), 1u);
  EXPECT_TRUE(resend.requests[0].allUndelivered);
  EXPECT_EQ(
      noteLabel->text(),
      QStringLiteral("已把 2 笔订单的 2 张卡密重新发给各自的买家，其中 2 笔已提交发货；"
                     "1 笔已不在等待发货列表中，没有补发，仍记为未送达（订单 1003），请到淘宝卖家中心查看"));
  EXPECT_EQ(countLabel->text(), QStringLiteral("共 3 条　未送达 1 单"));
  controller.WaitForCycle();
  pages->sentCards.SetDeliveryController(nullptr);
}

std::string ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string("<unreadable>");
}

TEST_F(SentCardsToolsTest, ExportsWriteTheShownRowsTheWholeTableAndAnItemsStock) {
  Deliver("点卡,10元", "1001", "买家\"甲\"", {"A1"});
  Deliver("点卡,10元", "1002", "乙", {"B1", "B2"});
  pages->RefreshAllPages();
  std::vector<SentCard> all;
  ASSERT_TRUE(LoadSentCards(shop(), &all));

  Search(QStringLiteral("乙"));
  const QString shown = dir_.path() + QStringLiteral("/shown.csv");
  ASSERT_TRUE(pages->sentCards.ExportSentCards(shown, CsvEncoding::kUtf8WithBom, true));
  const std::vector<int> rows = {1, 2};
  EXPECT_EQ(ReadAll(shown), SentCardsCsv(all, &rows, CsvEncoding::kUtf8WithBom));
  EXPECT_EQ(noteLabel->text(), QStringLiteral("已导出 2 条到 %1").arg(shown));

  // The whole table, read anew (a card delivered since the last refresh
  // included), in GBK.
  Deliver("点卡,10元", "1003", "丙", {"C1"});
  ASSERT_TRUE(LoadSentCards(shop(), &all));
  const QString whole = dir_.path() + QStringLiteral("/all.csv");
  ASSERT_TRUE(pages->sentCards.ExportSentCards(whole, CsvEncoding::kGbk, false));
  EXPECT_EQ(ReadAll(whole), SentCardsCsv(all, nullptr, CsvEncoding::kGbk));

  const QString nowhere = dir_.path() + QStringLiteral("/missing/x.csv");
  EXPECT_FALSE(pages->sentCards.ExportSentCards(nowhere, CsvEncoding::kGbk, false));
  EXPECT_EQ(noteLabel->text(), QStringLiteral("无法写入 %1，没有导出").arg(nowhere));

  // The stock of the item the stock list shows, read anew.
  ASSERT_TRUE(AppendItem(shop(), {"点卡"_gbk, "", 0, true}));
  ASSERT_TRUE(AppendItem(shop(), {"月卡"_gbk, "", 0, true}));
  ASSERT_TRUE(AppendStockCard(shop(), {"点卡"_gbk, "N1", "P,1", 0}));
  ASSERT_TRUE(AppendStockCard(shop(), {"月卡"_gbk, "M1", "Q1", 0}));
  pages->RefreshAllPages();
  const QString stockPath = dir_.path() + QStringLiteral("/stock.csv");
  EXPECT_FALSE(pages->stockExport.ExportTo(stockPath, CsvEncoding::kUtf8WithBom).written);  // no item chosen
  ChooseItem("点卡"_gbk);
  ASSERT_TRUE(AppendStockCard(shop(), {"点卡"_gbk, "N2", "P2", 0}));
  const StockExport::Outcome outcome = pages->stockExport.ExportTo(stockPath, CsvEncoding::kUtf8WithBom);
  ASSERT_TRUE(outcome.written) << outcome.text.toStdString();
  EXPECT_EQ(outcome.cards, 2);
  EXPECT_EQ(ReadAll(stockPath),
            StockCardsCsv(LoadStockCardsOf(shop(), "点卡"_gbk), CsvEncoding::kUtf8WithBom));
}

TEST_F(SentCardsToolsTest, PlotShowsTheCardsPerDayOfTheChosenItem) {
  auto* view = window->findChild<QChartView*>(QStringLiteral("发货统计图"));
  auto* chooser = window->findChild<QComboBox*>(QStringLiteral("统计宝贝"));
  auto* total = window->findChild<QLabel*>(QStringLiteral("统计合计"));
  ASSERT_TRUE(view && chooser && total);
  auto barValues = [&] {
    std::vector<int> values;
    auto* series = qobject_cast<QBarSeries*>(view->chart()->series().value(0));
    if (!series || series->barSets().isEmpty()) return values;
    QBarSet* set = series->barSets().first();
    for (int i = 0; i < set->count(); ++i) values.push_back(static_cast<int>(set->at(i)));
    return values;
  };

  // Cards delivered now reach the plot with the grid's refresh.
  Deliver("点卡", "1001", "甲", {"A1", "A2"}, GbkToUtf8Lossy(SentAtNow()));
  pages->RefreshAllPages();
  std::vector<int> expected(30, 0);
  expected.back() = 2;
  EXPECT_EQ(barValues(), expected);

  // A fixed day for the rest.
  Deliver("点卡", "1002", "乙", {"B1"}, "2024年4月30日23时");
  Deliver("月卡", "2001", "丙", {"M1", "M2", "M3"}, "2024年5月1日8时");
  Deliver("月卡", "2002", "丁", {"M4"}, "2024年3月1日");  // before the 30 days
  std::vector<SentCard> cards;
  ASSERT_TRUE(LoadSentCards(shop(), &cards));
  pages->deliveriesPlot.Fill(cards, 2024y / May / 1);
  ASSERT_EQ(chooser->count(), 3);
  EXPECT_EQ(chooser->itemText(0), QStringLiteral("全部宝贝"));
  EXPECT_EQ(chooser->itemText(2), QStringLiteral("月卡"));
  expected.assign(30, 0);
  expected[28] = 1;
  expected[29] = 3;
  EXPECT_EQ(barValues(), expected);
  EXPECT_EQ(total->text(), QStringLiteral("4月2日至5月1日共发出 4 张卡密，2 笔订单"));

  chooser->setCurrentIndex(2);
  emit chooser->activated(2);
  expected[28] = 0;
  EXPECT_EQ(barValues(), expected);
  EXPECT_EQ(pages->deliveriesPlot.ChosenItem(), "月卡"_gbk);
  EXPECT_TRUE(view->chart()->title().contains(QStringLiteral("“月卡”")));
  // The choice survives a refill.
  pages->deliveriesPlot.Fill(cards, 2024y / May / 1);
  EXPECT_EQ(chooser->currentIndex(), 2);
  EXPECT_EQ(barValues(), expected);
}

}  // namespace
}  // namespace autodeliver::testing_pages
