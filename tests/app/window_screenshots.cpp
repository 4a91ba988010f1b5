// A developer's tool, not a test: shows the main window against the
// marketplace imitation (hosts from the environment), signs in through the
// login browser and saves pictures of the screen before and after the
// sign-in into the folder given as the only argument. Then it tells the
// program's delivery monitor a few cycles (a delivery, an order waiting for
// stock, an order page that cannot be paired, an expired login), as the
// delivery thread would, and saves the log page, the status line, the tray
// menu (opened by hand: a bare X server has no system tray) and the
// notification settings dialog.
//
//   window_screenshots OUT_DIR     (under Xvfb, with AUTODELIVER_* set)
//   window_screenshots --help
#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QFont>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <cstdio>
#include <cstdlib>

#include "app/application.h"
#include "app/login_browser.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "app/window_pages.h"
#include "app/window_prompts.h"
#include "app_test_support.h"
#include "market/hosts.h"
#include "store/shop_context.h"
#include "store/shop_paths.h"

using namespace autodeliver;
using testing_support::FakePrompts;
using testing_support::WaitFor;

namespace {

bool Save(const QString& path) {
  QTest::qWait(300);  // let the compositor catch up before the picture
  return QGuiApplication::primaryScreen()->grabWindow(0).save(path);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("AUTODELIVER_LOGIN_PROGRAM", AUTODELIVER_LOGIN_EXE, 0);
  QApplication app(argc, argv);
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Shows the main window against the marketplace imitation (hosts from the environment),\n"
                     "signs in and saves before-sign-in.png and after-sign-in.png into OUT_DIR.\n"
                     "Exit status 2 for a usage error, 1 when a step did not finish."));
  const QCommandLineOption help = parser.addHelpOption();
  parser.addPositionalArgument(QStringLiteral("OUT_DIR"), QStringLiteral("Where the pictures go."));
  if (!parser.parse(app.arguments())) {
    std::fprintf(stderr, "%s\n%s", qPrintable(parser.errorText()), qPrintable(parser.helpText()));
    return 2;
  }
  if (parser.isSet(help)) {
    std::fputs(qPrintable(parser.helpText()), stdout);
    return 0;
  }
  if (parser.positionalArguments().size() != 1) {
    std::fputs(qPrintable(parser.helpText()), stderr);
    return 2;
  }
  app.setFont(QFont(QStringLiteral("WenQuanYi Micro Hei"), 9));
  const QString out = parser.positionalArguments().first();

  ShopContext shop(ProgramDir());  // the folder the rules pick, as the program takes it
  Application program(shop);
  MainWindow& window = program.window();
  WindowPages& pages = program.pages();
  FakePrompts prompts;
  StartupOptions options;
  options.imClientLookup = ImClientLookup{[] { return std::string("/bin/sh"); },
                                          [](const std::string&) {},
                                          [] { return std::optional<std::string>(); },
                                          {}};
  if (!ShowAndRunStartup(window, prompts, options)) return 1;
  LoginBrowserHost* browser = window.LoginBrowser();
  bool loaded = false;
  QObject::connect(browser, &LoginBrowserHost::loadFinished, [&](bool ok) { loaded = ok; });
  if (!WaitFor([&] { return loaded; })) return 1;
  Save(out + "/before-sign-in.png");

  browser->RunScript(
      "document.querySelector('[name=TPL_username]').value = '测试卖家';"
      "document.querySelector('[name=TPL_password]').value = 'sim123';"
      "document.querySelector('[name=TPL_username]').form.submit();");
  if (!WaitFor([&] { return window.PagesPrepared(); })) return 1;
  // Two monitored items, so that the list shows its rows.
  auto* name = window.findChild<QLineEdit*>(QStringLiteral("编辑框1"));
  for (const char* item : {"腾讯QQ币 10元 自动发货", "网易一卡通 50点"}) {
    name->setText(QString::fromUtf8(item));
    pages.items.AddItem();
  }
  Save(out + "/after-sign-in.png");
  auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("高级选择夹1"));
  tabs->setCurrentIndex(1);
  Save(out + "/sent-cards-page.png");
  tabs->setCurrentIndex(2);
  Save(out + "/card-stock-page.png");

  // The delivery switched on, and the cycles the delivery thread would tell.
  window.findChild<QCheckBox*>(QStringLiteral("选择框2"))->click();
  window.findChild<QLineEdit*>(QStringLiteral("编辑框2"))->setText(QStringLiteral("30"));
  window.findChild<QPushButton*>(QStringLiteral("超级按钮4"))->click();
  DeliveryMonitor& monitor = program.monitor();
  const auto gbk = [](const char* utf8) { return Utf8ToGbkLossy(utf8); };
  const PendingOrder delivered{"1718000000101", gbk("腾讯QQ币 10元 自动发货"), 1, gbk("小鱼儿2012"), "9101"};
  const PendingOrder waiting{"1718000000102", gbk("网易一卡通 50点"), 3, gbk("星星点灯"), "9102"};
  const PendingOrder other{"1718000000103", gbk("游戏周边 鼠标垫"), 1, gbk("tb_买家丙"), "9103"};
  OrderScan listed;
  listed.outcome = ScanOutcome::kListed;
  listed.orders = {delivered, waiting, other};
  listed.counts = {3, 3, 3, 3, 3};
  monitor.CycleStarted();
  monitor.OrdersScanned(listed);
  monitor.OrderSeen(delivered);
  monitor.CardsDelivered(delivered, {{"QB2012112000017788", "secret"}});
  monitor.StockAfterDelivery(delivered, 4);
  monitor.MessageHanded(delivered, true);
  monitor.OrderConsigned(delivered, true);
  monitor.OrderSeen(waiting);
  monitor.OrderWaiting(waiting, WaitReason::kStockShort, 1);
  monitor.OrderSeen(other);
  monitor.OrderSkipped(other, SkipReason::kNotMonitored);
  CycleResult first;
  first.ordersListed = 3;
  first.ordersDelivered = first.ordersConsigned = 1;
  first.ordersWaiting = first.ordersSkipped = 1;
  first.scanOutcome = ScanOutcome::kListed;
  monitor.CycleEnded(first);
  WaitFor([&] { return program.watch().logPage.model().rowCount() >= 11; });
  program.watch().statusLine.Refresh();
  tabs->setCurrentIndex(4);
  Save(out + "/log-page.png");
  tabs->setCurrentIndex(0);
  Save(out + "/status-line.png");

  OrderScan unpaired;
  unpaired.outcome = ScanOutcome::kUnpaired;
  unpaired.counts = {3, 3, 2, 3, 3};
  CycleResult second;
  second.scanOutcome = ScanOutcome::kUnpaired;
  monitor.CycleStarted();
  monitor.OrdersScanned(unpaired);
  monitor.CycleEnded(second);
  program.watch().statusLine.Refresh();
  Save(out + "/status-line-unparsed.png");

  OrderScan signIn;
  signIn.outcome = ScanOutcome::kSignInPage;
  CycleResult expired;
  expired.scanOutcome = ScanOutcome::kSignInPage;
  for (int cycle = 0; cycle < 2; ++cycle) {
    monitor.CycleStarted();
    monitor.OrdersScanned(signIn);
    expired.loginLooksExpired = cycle == 1;
    if (cycle == 1) monitor.LoginStateChanged(true);
    monitor.CycleEnded(expired);
  }
  program.watch().statusLine.Refresh();
  WaitFor([&] { return program.watch().logPage.model().rowCount() >= 19; });
  Save(out + "/status-line-login-expired.png");
  tabs->setCurrentIndex(4);
  Save(out + "/log-page-login-expired.png");

  QMenu& menu = program.watch().tray.menu();
  menu.popup(window.mapToGlobal(QPoint(window.width() - 40, window.height() - 10)));
  WaitFor([&] { return menu.isVisible(); });
  Save(out + "/tray-menu.png");
  menu.close();
  program.watch().OpenNotificationSettings();
  WaitFor([&] { return program.watch().notificationSettings()->isVisible(); });
  Save(out + "/notification-settings.png");
  program.watch().notificationSettings()->close();
  for (const auto& box : prompts.boxes) std::printf("box: %s | %s\n", box.caption.c_str(), box.text.c_str());
  return 0;
}
