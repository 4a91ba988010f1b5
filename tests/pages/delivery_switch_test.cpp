// The delivery switch on the first page: "开启自动发货", the interval box,
// "设置", the status text, the timer ticks that start a cycle on its own
// thread, the refresh after a delivery and the end of the program while a
// cycle runs.
#include <QCheckBox>
#include <QCoreApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "app/autostart.h"
#include "delivery/card_delivery.h"
#include "delivery/controller.h"
#include "delivery/remembered_switch.h"
#include "page_fixture.h"
#include "store/item_table.h"
#include "store/sent_table.h"
#include "store/stock_table.h"

namespace autodeliver::testing_pages {
namespace {

class NoSender : public MessageSender {
 public:
  bool Send(const std::string&, const std::string&, const std::string&) override { return true; }
};

class DeliverySwitchTest : public PagesTest {
 protected:
  void TypeInterval(const QString& text) {
    Focus(w->intervalBox);
    w->intervalBox->selectAll();
    QTest::keyClick(w->intervalBox, Qt::Key_Delete);
    Type(w->intervalBox, text);
  }

  NoSender sender;
};

TEST_F(DeliverySwitchTest, SwitchIntervalAndStatusTexts) {
  DeliveryController controller(shop(), pages->deliverySwitch.deliveryWindow(), sender);
  pages->deliverySwitch.SetDeliveryController(&controller);
  QSignalSpy applied(&pages->deliverySwitch, &DeliverySwitch::deliverySettingApplied);

  EXPECT_FALSE(w->intervalBox->isEnabled());
  QTest::mouseClick(w->switchBox, Qt::LeftButton);
  ASSERT_TRUE(w->switchBox->isChecked());
  EXPECT_TRUE(w->intervalBox->isEnabled());
  // Ticking the box alone does not start the timer.
  EXPECT_FALSE(w->timer->isActive());

  // An empty, zero, negative, too short or non-numeric interval is refused
  // next to the box; the switch stays off and the status says so.
  for (const QString& typed : {QString(), QStringLiteral("0"), QStringLiteral("-30"), QStringLiteral("2"),
                               QStringLiteral("abc"), QStringLiteral("10秒")}) {
    if (!w->switchBox->isChecked()) w->switchBox->click();  // the refusal before unticked it
    ASSERT_TRUE(w->switchBox->isChecked());
    TypeInterval(typed);
    QTest::mouseClick(w->applyButton, Qt::LeftButton);
    EXPECT_FALSE(pages->deliverySwitch.intervalRefusal().isEmpty()) << typed.toStdString();
    EXPECT_FALSE(w->switchBox->isChecked()) << typed.toStdString();
    EXPECT_EQ(w->statusLabel->text(), QStringLiteral("未开启自动发货功能"));
    EXPECT_FALSE(w->timer->isActive());
    EXPECT_EQ(LoadRememberedSwitch(shop()).on, false);
  }
  EXPECT_EQ(applied.count(), 0);

  // Accepted: the interval as a number, the refusal gone, the switch kept.
  QTest::mouseClick(w->switchBox, Qt::LeftButton);
  TypeInterval(QStringLiteral(" 30 "));
  QTest::mouseClick(w->applyButton, Qt::LeftButton);
  EXPECT_TRUE(pages->deliverySwitch.intervalRefusal().isEmpty());
  EXPECT_EQ(w->statusLabel->text(), QStringLiteral("自动发货扫描时间：30 秒"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return w->timer->isActive(); }, 2000));
  EXPECT_EQ(w->timer->interval(), 30000);
  EXPECT_EQ(LoadRememberedSwitch(shop()).on, true);
  EXPECT_EQ(LoadRememberedSwitch(shop()).seconds, 30);

  // A refusal while it runs leaves the running setting alone.
  TypeInterval(QStringLiteral("abc"));
  QTest::mouseClick(w->applyButton, Qt::LeftButton);
  EXPECT_TRUE(w->switchBox->isChecked());
  EXPECT_EQ(w->timer->interval(), 30000);
  EXPECT_EQ(w->statusLabel->text(), QStringLiteral("自动发货扫描时间：30 秒"));
  TypeInterval(QStringLiteral("30"));

  // Switched off: the interval box is disabled at once, the timer stops
  // only with "设置".
  QTest::mouseClick(w->switchBox, Qt::LeftButton);
  EXPECT_FALSE(w->intervalBox->isEnabled());
  EXPECT_TRUE(w->timer->isActive());
  QTest::mouseClick(w->applyButton, Qt::LeftButton);
  EXPECT_EQ(w->statusLabel->text(), QStringLiteral("未开启自动发货功能"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !w->timer->isActive(); }, 2000));
  EXPECT_EQ(applied.count(), 2);
  // Off is remembered, with the interval for the next time.
  EXPECT_EQ(LoadRememberedSwitch(shop()).on, false);
  EXPECT_EQ(LoadRememberedSwitch(shop()).seconds, 30);
  pages->deliverySwitch.SetDeliveryController(nullptr);
}

// After a start, the remembered switch is applied again once the sign-in is
// recognised: no click in the window, and the first cycle one interval later.
TEST_F(DeliverySwitchTest, RememberedSwitchResumesWithoutAnyClick) {
  std::atomic<int> cycles{0};
  DeliveryController controller(shop(), pages->deliverySwitch.deliveryWindow(),
                                [&](const std::atomic<bool>&) {
                                  ++cycles;
                                  return CycleResult();
                                });
  pages->deliverySwitch.SetDeliveryController(&controller);
  // Nothing remembered, or a switch remembered off: nothing happens.
  EXPECT_FALSE(pages->deliverySwitch.ResumeRemembered());
  ASSERT_TRUE(RememberSwitch(shop(), false, 5));
  EXPECT_FALSE(pages->deliverySwitch.ResumeRemembered());
  EXPECT_FALSE(w->switchBox->isChecked());

  ASSERT_TRUE(RememberSwitch(shop(), true, 5));
  EXPECT_TRUE(pages->deliverySwitch.ResumeRemembered());
  EXPECT_TRUE(w->switchBox->isChecked());
  EXPECT_TRUE(w->intervalBox->isEnabled());
  EXPECT_EQ(w->intervalBox->text(), QStringLiteral("5"));
  EXPECT_EQ(w->statusLabel->text(), QStringLiteral("自动发货扫描时间：5 秒"));
  ASSERT_TRUE(QTest::qWaitFor([&] { return cycles.load() >= 1; }, 20000));
  pages->deliverySwitch.SetDeliveryController(nullptr);
}

// "登录桌面时启动": the entry under XDG_CONFIG_HOME names the running
// program; the choice is kept, shown and the entry renewed at the next start.
TEST_F(DeliverySwitchTest, AutostartBoxWritesAndRemovesTheEntryAndIsRemembered) {
  QTemporaryDir config;
  ASSERT_TRUE(config.isValid());
  qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
  auto* box = window->findChild<QCheckBox*>(QStringLiteral("登录桌面时启动"));
  ASSERT_NE(box, nullptr);
  EXPECT_FALSE(box->isChecked());
  const std::string path = AutostartEntryPath(AUTODELIVER_APP_ID);
  ASSERT_EQ(path.rfind(config.path().toStdString() + "/autostart/", 0), 0u) << path;
  const std::string program = QCoreApplication::applicationFilePath().toStdString();

  ShowPageOf(box);
  box->click();
  EXPECT_TRUE(AutostartChosen(shop()));
  std::ifstream written(path);
  const std::string entry((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
  EXPECT_EQ(entry, AutostartEntry(AUTODELIVER_APP_ID, program, ""));
  EXPECT_NE(entry.find("\nExec=" + program + "\n"), std::string::npos) << entry;

  // The next start shows the choice and writes the entry again.
  std::filesystem::remove(path);
  pages.reset();
  window.reset();
  window = std::make_unique<MainWindow>(shop());
  pages = std::make_unique<WindowPages>(*window, prompts);
  box = window->findChild<QCheckBox*>(QStringLiteral("登录桌面时启动"));
  EXPECT_TRUE(box->isChecked());
  EXPECT_TRUE(AutostartEntryExists(AUTODELIVER_APP_ID));

  // Unticked: gone, and kept off.
  box->click();
  EXPECT_FALSE(AutostartEntryExists(AUTODELIVER_APP_ID));
  EXPECT_FALSE(AutostartChosen(shop()));

  // The entry cannot be written: the box goes back and the seller is told.
  std::filesystem::remove_all(config.path().toStdString() + "/autostart");
  std::ofstream(config.path().toStdString() + "/autostart") << "a file";
  box->click();
  EXPECT_FALSE(box->isChecked());
  EXPECT_FALSE(AutostartChosen(shop()));
  ASSERT_FALSE(prompts.boxes.empty());
  EXPECT_EQ(prompts.boxes.back().kind, BoxKind::kError);
  EXPECT_EQ(prompts.boxes.back().text.rfind(G(QStringLiteral("无法写入自动启动项")), 0), 0u);
  qunsetenv("XDG_CONFIG_HOME");
}

TEST_F(DeliverySwitchTest, TickRunsACycleOnItsOwnThreadAndTheListsFollow) {
  ASSERT_TRUE(AppendItem(shop(), {"A", "", 0, true}));
  for (const char* n : {"k1", "k2", "k3", "k4"}) ASSERT_TRUE(AppendStockCard(shop(), {"A", n, "pw", 0}));
  pages->RefreshAllPages();
  ChooseItem("A");
  ASSERT_EQ(w->sentGrid->model()->rowCount(), 0);

  std::atomic<int> cycles{0};
  std::atomic<bool> onWindowThread{false};
  const std::thread::id windowThread = std::this_thread::get_id();
  DeliveryController controller(shop(), pages->deliverySwitch.deliveryWindow(),
                                [&](const std::atomic<bool>&) {
                                  CycleResult result;
                                  if (std::this_thread::get_id() == windowThread) onWindowThread = true;
                                  if (cycles++ == 0) {
                                    // One order of three cards.
                                    result.ordersListed = 1;
                                    if (DeliverCards(shop(), "T100", "A", "buyer", "", 3).message)
                                      result.ordersDelivered = 1;
                                  }
                                  return result;
                                });
  pages->deliverySwitch.SetDeliveryController(&controller);

  QTest::mouseClick(w->switchBox, Qt::LeftButton);
  TypeInterval(QStringLiteral("5"));
  QTest::mouseClick(w->applyButton, Qt::LeftButton);
  // The first tick comes five seconds later; the cycle's refresh is handed to
  // the window's thread.
  ASSERT_TRUE(QTest::qWaitFor([&] { return w->sentGrid->model()->rowCount() == 3; }, 20000));
  EXPECT_FALSE(onWindowThread.load());
  QAbstractItemModel* grid = w->sentGrid->model();
  for (int r = 0; r < 3; ++r) {
    EXPECT_EQ(grid->index(r, 0).data().toString(), QStringLiteral("A"));
    EXPECT_EQ(grid->index(r, 1).data().toString(), QStringLiteral("T100"));
    EXPECT_EQ(grid->index(r, 2).data().toString(), QStringLiteral("buyer"));
    EXPECT_EQ(grid->index(r, 3).data().toString(), QStringLiteral("3"));
    EXPECT_EQ(grid->index(r, 4).data().toString(), QStringLiteral("k%1").arg(r + 1));
    EXPECT_EQ(grid->index(r, 5).data().toString(), QStringLiteral("pw"));
    EXPECT_EQ(grid->index(r, 6).data().toString(), QString());
    EXPECT_TRUE(grid->index(r, 7).data().toString().contains(QStringLiteral("年")));
  }
  EXPECT_EQ(grid->headerData(3, Qt::Horizontal).toString(), QStringLiteral("购买数量"));
  // The stock list of the chosen item shows what is left, with the record
  // number the stock holds it at (the taken cards may still be marked in
  // front of it until a compaction).
  EXPECT_EQ(G(w->chooser->currentText()), "A");
  const std::vector<StockCard> left = LoadStockCardsOf(shop(), "A");
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(StockShown(), (std::vector<std::string>{"k4|pw|" + std::to_string(left[0].recordNumber)}));
  // After the cycle the timer runs again with the interval it had.
  ASSERT_TRUE(QTest::qWaitFor([&] { return !controller.IsCycleRunning() && w->timer->isActive(); }, 5000));
  EXPECT_EQ(w->timer->interval(), 5000);

  QTest::mouseClick(w->switchBox, Qt::LeftButton);
  QTest::mouseClick(w->applyButton, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !controller.IsCycleRunning() && !w->timer->isActive(); }, 5000));
  pages->deliverySwitch.SetDeliveryController(nullptr);
}

TEST_F(DeliverySwitchTest, ClosingLetsTheOrderInHandFinishAndStartsNoMore) {
  ASSERT_TRUE(AppendItem(shop(), {"A", "", 0, true}));
  for (const char* n : {"k1", "k2", "k3"}) ASSERT_TRUE(AppendStockCard(shop(), {"A", n, "pw", 0}));
  pages->RefreshAllPages();

  std::mutex m;
  std::condition_variable cv;
  bool inHand = false, release = false;
  std::atomic<int> cycles{0};
  DeliveryController controller(shop(), pages->deliverySwitch.deliveryWindow(),
                                [&](const std::atomic<bool>& stop) {
                                  ++cycles;
                                  CycleResult result;
                                  result.ordersListed = 2;
                                  const char* orders[] = {"T1", "T2"};
                                  for (const char* order : orders) {
                                    if (stop.load()) {
                                      result.stopped = true;
                                      break;
                                    }
                                    {
                                      // The order is in hand; the test closes the window now.
                                      std::unique_lock<std::mutex> lock(m);
                                      inHand = true;
                                      cv.notify_all();
                                      cv.wait_for(lock, std::chrono::seconds(30), [&] { return release; });
                                    }
                                    if (DeliverCards(shop(), order, "A", "buyer", "", 1).message)
                                      ++result.ordersDelivered;
                                  }
                                  return result;
                                });
  pages->deliverySwitch.SetDeliveryController(&controller);

  QTest::mouseClick(w->switchBox, Qt::LeftButton);
  TypeInterval(QStringLiteral("5"));
  QTest::mouseClick(w->applyButton, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        std::lock_guard<std::mutex> lock(m);
        return inHand;
      },
      20000));

  window->close();
  {
    std::lock_guard<std::mutex> lock(m);
    release = true;
  }
  cv.notify_all();
  controller.WaitForCycle();

  // The order in hand was delivered and recorded; the next one was not begun.
  EXPECT_TRUE(SentCardExists(shop(), "T1"));
  EXPECT_FALSE(SentCardExists(shop(), "T2"));
  EXPECT_EQ(LoadStockCardsOf(shop(), "A").size(), 2u);
  EXPECT_TRUE(controller.LastCycleResult().stopped);
  // No further cycle: the timer stays stopped and a tick is ignored.
  QCoreApplication::processEvents();
  EXPECT_FALSE(w->timer->isActive());
  pages->deliverySwitch.TimerTicked();
  EXPECT_FALSE(controller.IsCycleRunning());
  EXPECT_EQ(cycles.load(), 1);
  pages->deliverySwitch.SetDeliveryController(nullptr);
}

// The delivery thread's calls reach the window on the window's thread: the
// timer interval, and the refresh that refills the lists.
TEST_F(DeliverySwitchTest, CycleRequestsAreHandedToTheWindowsThread) {
  ASSERT_TRUE(AppendItem(shop(), {"A", "", 0, true}));
  DeliveryWindow& side = pages->deliverySwitch.deliveryWindow();
  QThread* refreshedOn = nullptr;
  int refreshes = 0;
  QObject::connect(&pages->deliverySwitch, &DeliverySwitch::refreshRequested, window.get(), [&] {
    refreshedOn = QThread::currentThread();
    ++refreshes;
  });

  std::thread([&] {
    side.SetTimerInterval(30000);
    side.RefreshAfterDelivery();
  }).join();
  ASSERT_TRUE(QTest::qWaitFor([&] { return w->timer->isActive() && refreshes == 1; }, 5000));
  EXPECT_EQ(w->timer->interval(), 30000);
  EXPECT_EQ(refreshedOn, window->thread());
  // The refresh refilled the lists.
  EXPECT_EQ(ItemsShown(), (std::vector<std::string>{"A"}));
  EXPECT_EQ(w->chooser->count(), 1);

  for (int interval : {0, 2000, -5}) {
    std::thread([&] { side.SetTimerInterval(interval); }).join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->timer->isActive() == (interval > 0); }, 5000)) << interval;
    if (interval > 0) {
      EXPECT_EQ(w->timer->interval(), interval);
    }
  }
}

}  // namespace
}  // namespace autodeliver::testing_pages
