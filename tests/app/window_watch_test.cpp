// The window's watch over the delivery in the program as it is built
// (Application): the fourth page, the tray menu without a system tray, and
// an expired login against the marketplace imitation: told in the status
// line, the log page and one desktop notification, then a new sign-in in a
// new login browser whose cookies replace the old ones while the delivery
// keeps its timer.
#include "app/window_watch.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <cstdlib>

#include "app/application.h"
#include "app/login_browser.h"
#include "app_test_support.h"
#include "http/browser_cookies.h"
#include "http/cookie_store.h"
#include "market/hosts.h"
#include "support/program_env.h"
#include "support/shop_folder.h"

namespace autodeliver {
namespace {

using testing_support::WaitFor;

template <typename T = QWidget>
T* Find(QWidget& window, const char* name) {
  T* found = window.findChild<T*>(QString::fromUtf8(name));
  EXPECT_NE(found, nullptr) << name;
  return found;
}

bool AnyLineContains(LogModel& model, const QString& text) {
  for (int r = 0; r < model.rowCount(); ++r) {
    if (model.entry(r).text.contains(text)) return true;
  }
  return false;
}

TEST(WindowWatch, LogPageAndStatusLineAreInTheWindow) {
  testing::ShopFolder shop;
  ASSERT_TRUE(shop.ok()) << shop.error();
  Application program(shop.context());
  MainWindow& window = program.window();
  window.show();
  auto* tabs = Find<QTabWidget>(window, "高级选择夹1");
  ASSERT_EQ(tabs->count(), 5);
  EXPECT_EQ(tabs->tabText(4), "运行日志");
  EXPECT_EQ(Find<QTableView>(window, "表格运行日志")->model(), &program.watch().logPage.filter());
  // The program's own lines reach the page as the delivery's do.
  program.monitor().log().Write(LineLevel::kInfo, "程序启动");
  ASSERT_TRUE(WaitFor([&] { return program.watch().logPage.model().rowCount() == 1; }, 5000));
  EXPECT_TRUE(Find<QLabel>(window, "标签状态栏")->text().startsWith("尚未扫描 | 今日发货 0 笔"))
      << Find<QLabel>(window, "标签状态栏")->text().toStdString();
  EXPECT_EQ(program.watch().statusLine.text(), "尚未扫描 | 今日发货 0 笔 | 等待补货 0 笔 | 自动发货未开启");
  EXPECT_TRUE(Find(window, "按钮重新登录")->isHidden());
}

// No system tray under the test's X server: the icon stays away, the menu

// The tray icon says why it warns; closing the window while the delivery is
// on asks first: cancel keeps it, "关闭到托盘" hides it with the deliveries
// going on, "退出" ends it. With the delivery off nothing is asked.
TEST(WindowWatch, ClosingWhileDeliveringAsksAndTheTraySaysWhy) {
  testing::ShopFolder shop;
  ASSERT_TRUE(shop.ok()) << shop.error();
  Application program(shop.context());
  MainWindow& window = program.window();
  WindowWatch& watch = program.watch();
  window.show();
  QTimer* timer = window.pageControls().deliverySwitch.timer;
  EXPECT_EQ(watch.tray.attention(), "自动发货未开启");

  timer->start(60000);
  watch.statusLine.Refresh();
  EXPECT_EQ(watch.tray.attention(), "");
  program.monitor().status().LoginStateChanged(true);
  watch.statusLine.Refresh();
  EXPECT_EQ(watch.tray.attention(), "淘宝登录已失效");
  EXPECT_TRUE(watch.tray.toolTip().contains("淘宝登录已失效")) << watch.tray.toolTip().toStdString();

  std::vector<bool> asked;
  WindowWatch::CloseChoice answer = WindowWatch::CloseChoice::kCancel;
  watch.askClose = [&](bool trayOffered) {
    asked.push_back(trayOffered);
    return answer;
  };
  QSignalSpy closing(&window, &MainWindow::closing);
  window.close();
  EXPECT_EQ(asked, std::vector<bool>{watch.tray.iconShown()});
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(closing.count(), 0);

  answer = WindowWatch::CloseChoice::kToTray;
  window.close();
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(closing.count(), 0);
  EXPECT_TRUE(timer->isActive());  // the deliveries go on
  watch.tray.showWindowAction()->trigger();
  ASSERT_TRUE(WaitFor([&] { return window.isVisible(); }, 5000));

  answer = WindowWatch::CloseChoice::kQuit;
  window.close();
  EXPECT_EQ(asked.size(), 3u);
  EXPECT_EQ(closing.count(), 1);
  EXPECT_FALSE(window.isVisible());
  EXPECT_FALSE(timer->isActive());

  // Off: closed without a question.
  window.show();
  window.close();
  EXPECT_EQ(asked.size(), 3u);
  EXPECT_EQ(closing.count(), 2);
}

// and its commands work all the same.
TEST(WindowWatch, TrayMenuWorksWithoutASystemTray) {
  testing::ShopFolder shop;
  ASSERT_TRUE(shop.ok()) << shop.error();
  Application program(shop.context());
  MainWindow& window = program.window();
  Tray& tray = program.watch().tray;
  EXPECT_EQ(tray.iconShown(),
            QSystemTrayIcon::isSystemTrayAvailable() && !QApplication::windowIcon().isNull());
  QStringList texts;
  for (QAction* action : tray.menu().actions()) {
    if (action->isSeparator()) continue;
    texts << action->text();
  }
  EXPECT_EQ(texts, (QStringList{"显示窗口", "通知设置", "重新登录", "退出"}));
  EXPECT_FALSE(tray.reLoginAction()->isVisible());

  tray.showWindowAction()->trigger();
  ASSERT_TRUE(WaitFor([&] { return window.isVisible(); }, 5000));

  // "通知设置" opens the dialog; the log page's button brings up the same one.
  tray.settingsAction()->trigger();
  NotificationSettingsDialog* dialog = program.watch().notificationSettings();
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->isVisible());
  QTest::mouseClick(Find<QPushButton>(window, "按钮通知设置"), Qt::LeftButton);
  EXPECT_EQ(program.watch().notificationSettings(), dialog);

  // The login looks expired: the menu offers the new sign-in.
  program.monitor().status().LoginStateChanged(true);
  program.watch().statusLine.Refresh();
  EXPECT_TRUE(tray.reLoginAction()->isVisible());
  tray.reLoginAction()->trigger();
  EXPECT_TRUE(program.watch().reLogin.running());
  EXPECT_FALSE(Find(window, "图片框2")->isHidden());
  program.watch().reLogin.Cancel();
  EXPECT_TRUE(Find(window, "图片框2")->isHidden());

  // "退出" closes the window, and the dialog with it, so the program ends.
  QSignalSpy closing(&window, &MainWindow::closing);
  tray.quitAction()->trigger();
  EXPECT_EQ(closing.count(), 1);
  EXPECT_FALSE(window.isVisible());
  EXPECT_FALSE(dialog->isVisible());
}

TEST(WindowWatch, ExpiredLoginIsToldOnceAndANewSignInReplacesTheCookies) {
  testing::ProgramEnv env;
  ASSERT_EQ(env.problem(), "");
  testing::MarketSim& sim = env.sim();
  // What is left of the old login in the program's store.
  CookieStore::Global().Put({"cookie2", "expired-session", "127.0.0.1", "/", false, false, std::nullopt});
  CookieStore::Global().Put({"old_login", "1", "127.0.0.1", "/", false, false, std::nullopt});

  Application program(env.shop());
  MainWindow& window = program.window();
  WindowWatch& watch = program.watch();
  window.show();
  window.CheckSignIn(QStringLiteral("http://127.0.0.1/my_taobao.htm"));
  // The delivery is switched on; the first browser goes.
  Find<QCheckBox>(window, "选择框2")->click();
  Find<QLineEdit>(window, "编辑框2")->setText("3600");
  Find<QPushButton>(window, "超级按钮4")->click();
  auto* timer = Find<QTimer>(window, "自动发货时钟");
  ASSERT_TRUE(WaitFor([&] { return timer->isActive(); }, 5000));
  ASSERT_TRUE(WaitFor([&] { return window.LoginBrowser() == nullptr; }, 5000));

  auto runCycle = [&] {
    program.controller().OnTick();
    ASSERT_TRUE(WaitFor([&] { return !program.controller().IsCycleRunning() && timer->isActive(); }, 30000));
    watch.statusLine.Refresh();
  };
  sim.Post("/_sim/expire_sessions");
  runCycle();
  runCycle();

  // Said in the status line, the log page and one notification.
  auto* button = Find<QPushButton>(window, "按钮重新登录");
  EXPECT_TRUE(watch.statusLine.text().startsWith("淘宝登录似乎已失效，请重新登录 | "))
      << watch.statusLine.text().toStdString();
  EXPECT_FALSE(button->isHidden());
  EXPECT_TRUE(watch.tray.reLoginAction()->isVisible());
  ASSERT_TRUE(WaitFor([&] { return AnyLineContains(watch.logPage.model(), "淘宝登录似乎已失效"); }, 5000));
  const std::optional<std::string> told = env.bus().NextNotification();
  ASSERT_TRUE(told);
  EXPECT_EQ(testing::JsonStrings(*told, "summary"), std::vector<std::string>{"淘宝登录已失效"});
  ASSERT_TRUE(program.monitor().desktopNotifier().WaitIdle(std::chrono::seconds(20)));
  EXPECT_EQ(program.monitor().desktopNotifier().shown(), 1);

  // "重新登录": a new login browser on page 0, at the login page.
  auto* tabs = Find<QTabWidget>(window, "高级选择夹1");
  tabs->setCurrentIndex(4);
  QTest::mouseClick(button, Qt::LeftButton);
  LoginBrowserHost* browser = watch.reLogin.browser();
  ASSERT_NE(browser, nullptr);
  EXPECT_EQ(browser->objectName(), "重新登录浏览器");
  EXPECT_EQ(browser->parentWidget(), Find(window, "图片框2"));
  EXPECT_FALSE(Find(window, "图片框2")->isHidden());
  EXPECT_EQ(tabs->currentIndex(), 0);
  EXPECT_EQ(button->text(), "放弃重新登录");
  QSignalSpy loaded(browser, &LoginBrowserHost::loadFinished);
  ASSERT_TRUE(WaitFor([&] { return loaded.count() > 0; }, 30000));
  EXPECT_EQ(browser->url().toString().toStdString(), LoginPageUrl());
  // While the seller has not signed in, the old cookies stay in use.
  EXPECT_NE(ReadBrowserCookies(LoginCookieUrl()).find("old_login=1"), std::string::npos);

  QSignalSpy signedIn(&watch.reLogin, &ReLogin::signedInAgain);
  browser->RunScript(
      "document.querySelector('[name=TPL_username]').value = '测试卖家';"
      "document.querySelector('[name=TPL_password]').value = 'sim123';"
      "document.querySelector('[name=TPL_username]').form.submit();");
  ASSERT_TRUE(WaitFor([&] { return signedIn.count() == 1; }, 30000));
  EXPECT_TRUE(Find(window, "图片框2")->isHidden());
  EXPECT_EQ(watch.reLogin.browser(), nullptr);
  EXPECT_TRUE(timer->isActive());  // the delivery kept its timer
  // The new login's cookies replaced the old ones.
  ASSERT_TRUE(WaitFor(
      [&] {
        const std::string cookies = ReadBrowserCookies(LoginCookieUrl());
        return cookies.find("cookie2=") != std::string::npos &&
               cookies.find("expired-session") == std::string::npos;
      },
      10000))
      << ReadBrowserCookies(LoginCookieUrl());
  EXPECT_EQ(ReadBrowserCookies(LoginCookieUrl()).find("old_login"), std::string::npos);
  EXPECT_TRUE(watch.statusLine.text().startsWith("已重新登录，下一轮扫描时确认 | "))
      << watch.statusLine.text().toStdString();
  EXPECT_TRUE(button->isHidden());
  ASSERT_TRUE(WaitFor([&] { return AnyLineContains(watch.logPage.model(), "已重新登录淘宝"); }, 5000));

  // The next cycle reads the orders with the new login.
  runCycle();
  EXPECT_TRUE(watch.statusLine.text().startsWith("上次扫描 ")) << watch.statusLine.text().toStdString();
  EXPECT_TRUE(watch.statusLine.text().contains("，列出 ")) << watch.statusLine.text().toStdString();
  EXPECT_TRUE(button->isHidden());
  EXPECT_FALSE(watch.tray.reLoginAction()->isVisible());
  EXPECT_TRUE(AnyLineContains(watch.logPage.model(), "淘宝登录恢复正常"));
  ASSERT_TRUE(program.monitor().desktopNotifier().WaitIdle(std::chrono::seconds(20)));
  EXPECT_EQ(program.monitor().desktopNotifier().shown(), 1);  // told once
  CookieStore::Global().Clear();
}

}  // namespace
}  // namespace autodeliver
