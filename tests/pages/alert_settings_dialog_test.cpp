// The phone alerts' dialog: opened from the notification settings, its
// secrets masked, "发送测试消息" showing the answer of the local webhook
// imitation, and what "确定" stores.
#include "pages/alert_settings_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>

#include "../alerts/local_servers.h"
#include "alerts/alert_settings.h"
#include "page_fixture.h"
#include "pages/notification_settings_dialog.h"

namespace autodeliver::testing_pages {
namespace {

TEST_F(PagesTest, AlertDialogMasksSecretsSendsATestAndStoresTheChannels) {
  const std::filesystem::path record = std::filesystem::path(dir_.path().toStdString()) / "record";
  std::filesystem::create_directories(record);
  testing::LocalServer hooks("webhook_sim.py", {"--record", record.string()});
  ASSERT_TRUE(hooks.ok());

  NotificationSettingsDialog notifications(shop(), window.get());
  notifications.show();
  notifications.findChild<QPushButton*>(QStringLiteral("手机提醒"))->click();
  AlertSettingsDialog* dialog = notifications.alertSettings();
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(dialog->isVisible());

  const auto& robot = dialog->fields(AlertChannelKind::kTextRobot);
  const QString url = QStringLiteral("http://127.0.0.1:%1/robot/send?key=SECRET-KEY-1").arg(hooks.port());
  robot.url->setText(url);
  EXPECT_EQ(robot.url->echoMode(), QLineEdit::Password);
  dialog->findChild<QCheckBox*>(QStringLiteral("显示密钥"))->click();
  EXPECT_EQ(robot.url->echoMode(), QLineEdit::Normal);
  dialog->findChild<QCheckBox*>(QStringLiteral("显示密钥"))->click();
  EXPECT_EQ(robot.url->echoMode(), QLineEdit::Password);
  dialog->findChild<QLineEdit*>(QStringLiteral("店铺名称"))->setText(QStringLiteral("测试小店"));

  // The test goes out although the channel is not switched on yet; the
  // answer shows under the button.
  robot.test->click();
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return robot.answer->text().startsWith(QStringLiteral("发送")); }, 20000));
  EXPECT_TRUE(robot.answer->text().startsWith(QStringLiteral("发送成功：HTTP 200")))
      << robot.answer->text().toStdString();
  const std::vector<testing::RecordedRequest> got = testing::RecordedRequests(record);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].target, "/robot/send?key=SECRET-KEY-1");
  EXPECT_NE(got[0].body.find("测试消息"), std::string::npos);
  EXPECT_NE(got[0].body.find("店铺：测试小店"), std::string::npos);

  // A failing test says so, without the key.
  const auto& push = dialog->fields(AlertChannelKind::kPushApp);
  push.url->setText(QStringLiteral("http://127.0.0.1:1/SECRET-KEY-2.send"));
  push.test->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return push.answer->text().startsWith(QStringLiteral("发送")); }, 20000));
  EXPECT_TRUE(push.answer->text().startsWith(QStringLiteral("发送失败：")))
      << push.answer->text().toStdString();
  EXPECT_FALSE(push.answer->text().contains(QStringLiteral("SECRET")));

  robot.enabled->click();
  push.method->setCurrentIndex(1);
  dialog->accept();
  EXPECT_FALSE(dialog->isVisible());
  const AlertSettings stored = LoadAlertSettings(shop());
  EXPECT_EQ(stored.shopName, "测试小店");
  EXPECT_TRUE(stored.channel(AlertChannelKind::kTextRobot).enabled);
  EXPECT_EQ(stored.channel(AlertChannelKind::kTextRobot).url, url.toStdString());
  EXPECT_FALSE(stored.channel(AlertChannelKind::kPushApp).enabled);
  EXPECT_TRUE(stored.channel(AlertChannelKind::kPushApp).pushWithPost);

  // Opened again, the fields hold what was stored.
  notifications.findChild<QPushButton*>(QStringLiteral("手机提醒"))->click();
  EXPECT_EQ(dialog->fields(AlertChannelKind::kTextRobot).url->text(), url);
  EXPECT_TRUE(dialog->fields(AlertChannelKind::kTextRobot).enabled->isChecked());
}

}  // namespace
}  // namespace autodeliver::testing_pages
