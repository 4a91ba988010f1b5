// The status line under the page control (figures, countdown, waiting
// orders on hover, the expired login with "重新登录") and the notification
// settings dialog.
#include "pages/status_line.h"

#include <QCheckBox>
#include <QLabel>
#include <QSignalSpy>
#include <algorithm>

#include "delivery/cycle.h"
#include "delivery/notification_settings.h"
#include "page_fixture.h"
#include "pages/notification_settings_dialog.h"
#include "store/settings.h"

namespace autodeliver::testing_pages {
namespace {

class StatusLineTest : public PagesTest {
 protected:
  void SetUp() override {
    PagesTest::SetUp();
    text = window->findChild<QLabel*>("标签状态栏");
    button = window->findChild<QPushButton*>("按钮重新登录");
    ASSERT_TRUE(text && button);
  }

  // One cycle as the delivery thread tells it.
  void Cycle(ScanOutcome outcome, std::vector<PendingOrder> waiting = {}, std::optional<bool> expired = {}) {
    status.CycleStarted();
    OrderScan scan;
    scan.outcome = outcome;
    if (outcome == ScanOutcome::kUnpaired) scan.counts = {2, 2, 1, 2, 2};
    if (outcome == ScanOutcome::kListed) scan.orders = waiting;
    status.OrdersScanned(scan);
    for (const PendingOrder& order : waiting) status.OrderWaiting(order, WaitReason::kStockShort, 0);
    if (expired) status.LoginStateChanged(*expired);
    CycleResult result;
    result.scanOutcome = outcome;
    result.ordersListed = static_cast<int>(scan.orders.size());
    result.loginLooksExpired = expired.value_or(false);
    status.CycleEnded(result);
  }

  DeliveryStatus status{3};
  QLabel* text = nullptr;
  QPushButton* button = nullptr;
};

TEST_F(StatusLineTest, FiguresCountdownAndTheWaitingOrdersOnHover) {
  bool running = false;
  StatusLine line(window->pageControls().statusLine, status, w->timer, [&] { return running; });
  EXPECT_EQ(line.text(), "尚未扫描 | 今日发货 3 笔 | 等待补货 0 笔 | 自动发货未开启");
  EXPECT_TRUE(button->isHidden());

  Cycle(ScanOutcome::kListed,
        {{"1001", "点卡"_gbk, 2, "甲"_gbk, "1"}, {"1002", "点卡"_gbk, 1, "乙"_gbk, "2"}});
  w->timer->start(30000);
  line.Refresh();
  const QString shown = line.text();
  EXPECT_EQ(text->text(), shown);  // short enough to be shown whole
  EXPECT_TRUE(shown.startsWith("上次扫描 ")) << shown.toStdString();
  EXPECT_TRUE(shown.endsWith("，列出 2 笔 | 今日发货 3 笔 | 等待补货 2 笔 | 下次扫描 30 秒后"))
      << shown.toStdString();
  EXPECT_EQ(text->toolTip(), line.text() + "\n等待补货：\n点卡：2 笔（订单 1001、1002）");

  // A cycle running, then the delivery switched off.
  running = true;
  line.Refresh();
  EXPECT_TRUE(line.text().endsWith(" | 正在扫描")) << line.text().toStdString();
  running = false;
  w->timer->stop();
  line.Refresh();
  EXPECT_TRUE(line.text().endsWith("等待补货 2 笔 | 自动发货未开启")) << line.text().toStdString();

  // A page that cannot be paired: why nothing is delivered, with the counts.
  Cycle(ScanOutcome::kUnpaired);
  line.Refresh();
  EXPECT_TRUE(
      line.text().contains("订单页面无法解析（宝贝标题 2，买家旺旺 2，订单编号 1，购买数量 2，发货链接 2）"))
      << line.text().toStdString();
  // Too long for a narrow window: cut, and whole in the hover text.
  window->resize(420, window->height());
  ASSERT_TRUE(QTest::qWaitFor([&] { return text->text().endsWith(QChar(0x2026)); }, 2000))
      << text->text().toStdString();
  EXPECT_TRUE(line.text().startsWith(text->text().chopped(1)));
  EXPECT_TRUE(text->toolTip().startsWith(line.text()));
  window->resize(2000, window->height());
  ASSERT_TRUE(QTest::qWaitFor([&] { return text->text() == line.text(); }, 2000))
      << text->text().toStdString();
  EXPECT_FALSE(text->styleSheet().isEmpty());  // drawn to catch the eye
  Cycle(ScanOutcome::kListed);
  line.Refresh();
  EXPECT_TRUE(text->styleSheet().isEmpty());
  EXPECT_TRUE(text->toolTip().endsWith("\n没有等待补货的订单")) << text->toolTip().toStdString();
}

TEST_F(StatusLineTest, ExpiredLoginOffersANewSignInUntilACycleShowsItWorking) {
  StatusLine line(window->pageControls().statusLine, status, w->timer);
  QSignalSpy expired(&line, &StatusLine::loginExpiredChanged);
  QSignalSpy requested(&line, &StatusLine::reLoginRequested);
  QSignalSpy cancelled(&line, &StatusLine::reLoginCancelled);

  Cycle(ScanOutcome::kSignInPage);
  Cycle(ScanOutcome::kSignInPage, {}, true);
  line.Refresh();
  EXPECT_TRUE(line.text().startsWith("淘宝登录似乎已失效，请重新登录 | ")) << line.text().toStdString();
  EXPECT_TRUE(line.loginLooksExpired());
  ASSERT_EQ(expired.count(), 1);
  EXPECT_TRUE(expired.at(0).at(0).toBool());
  EXPECT_FALSE(button->isHidden());
  EXPECT_EQ(button->text(), "重新登录");

  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(requested.count(), 1);
  // While the new browser is open the button gives up the new sign-in.
  line.SetReLoginRunning(true);
  EXPECT_EQ(button->text(), "放弃重新登录");
  QTest::mouseClick(button, Qt::LeftButton);
  EXPECT_EQ(cancelled.count(), 1);
  EXPECT_EQ(requested.count(), 1);

  // Signed in anew: said so until the next cycle has ended.
  line.SetReLoginRunning(false);
  line.ReLoginDone();
  EXPECT_TRUE(line.text().startsWith("已重新登录，下一轮扫描时确认 | ")) << line.text().toStdString();
  EXPECT_FALSE(line.loginLooksExpired());
  EXPECT_TRUE(button->isHidden());

  // That cycle still saw the sign-in page: the login is expired again.
  Cycle(ScanOutcome::kSignInPage, {}, true);
  line.Refresh();
  EXPECT_TRUE(line.text().startsWith("淘宝登录似乎已失效")) << line.text().toStdString();
  EXPECT_FALSE(button->isHidden());

  // Another new sign-in, and a cycle that reads the orders.
  line.ReLoginDone();
  Cycle(ScanOutcome::kListed, {}, false);
  line.Refresh();
  EXPECT_TRUE(line.text().startsWith("上次扫描 ")) << line.text().toStdString();
  EXPECT_TRUE(button->isHidden());
  EXPECT_FALSE(expired.last().at(0).toBool());
}

TEST_F(PagesTest, NotificationSwitchesAreStoredAsSettingsRows) {
  NotificationSettingsDialog dialog(shop(), window.get());
  for (const NotificationKind kind : kAllNotificationKinds) {
    EXPECT_TRUE(dialog.box(kind)->isChecked()) << NotificationSettingName(kind);  // on until switched off
    EXPECT_EQ(dialog.box(kind)->text(), QString::fromUtf8(NotificationCaption(kind)));
  }
  dialog.show();
  dialog.box(NotificationKind::kWaitingForStock)->click();
  dialog.box(NotificationKind::kLoginExpired)->click();
  dialog.accept();
  EXPECT_FALSE(dialog.isVisible());
  for (const NotificationKind kind : kAllNotificationKinds) {
    const bool off = kind == NotificationKind::kWaitingForStock || kind == NotificationKind::kLoginExpired;
    EXPECT_EQ(NotificationEnabled(shop(), kind), !off) << NotificationSettingName(kind);
  }
  EXPECT_EQ(GetSetting(shop(), Utf8ToGbkLossy("通知:订单等待补货")), "0");
  // Only the switches changed got rows.
  EXPECT_EQ(GetSetting(shop(), Utf8ToGbkLossy("通知:库存预警")), "");

  // Opened again, the boxes show the stored switches; cancel changes nothing.
  NotificationSettingsDialog again(shop(), window.get());
  EXPECT_FALSE(again.box(NotificationKind::kWaitingForStock)->isChecked());
  again.box(NotificationKind::kWaitingForStock)->click();
  again.reject();
  EXPECT_FALSE(NotificationEnabled(shop(), NotificationKind::kWaitingForStock));
  again.Load();
  again.box(NotificationKind::kWaitingForStock)->click();
  again.accept();
  EXPECT_TRUE(NotificationEnabled(shop(), NotificationKind::kWaitingForStock));
}

TEST_F(PagesTest, NotificationSwitchesThatCannotBeStoredKeepTheDialogOpen) {
  QTemporaryDir empty;
  ShopContext nowhere(empty.path().toStdString());  // no settings table to write to
  NotificationSettingsDialog dialog(nowhere, window.get());
  dialog.show();
  dialog.box(NotificationKind::kImFailed)->click();
  dialog.accept();
  EXPECT_TRUE(dialog.isVisible());
  auto labels = dialog.findChildren<QLabel*>();
  EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [](QLabel* l) {
    // The cause follows the line: the table is not there.
    return l->isVisible() && l->text().contains("设置无法写入配置表") && l->text().contains("找不到数据文件");
  }));
  // Once the table is there the switches are stored and the dialog closes.
  std::string error;
  ASSERT_TRUE(CreateDataTables(empty.path().toStdString(), &error)) << error;
  dialog.accept();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_FALSE(NotificationEnabled(nowhere, NotificationKind::kImFailed));
}

}  // namespace
}  // namespace autodeliver::testing_pages
