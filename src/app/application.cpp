// The program's composition; see application.h.
#include "app/application.h"

#include <QApplication>
#include <QCheckBox>
#include <QFont>
#include <QLibraryInfo>
#include <QTranslator>

#include "alerts/daily_summary.h"
#include "app/layout_names.h"
#include "app/login_browser.h"
#include "app/login_profile.h"
#include "app/startup.h"
#include "delivery/notification_settings.h"
#include "delivery/remembered_switch.h"
#include "im/im_channel.h"
#include "store/settings.h"
#include "text/gbk.h"

namespace autodeliver {

bool InstallQtChinese() {
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

void SetProgramFont() { QApplication::setFont(QFont(QStringLiteral("WenQuanYi Micro Hei"), 9)); }

Application::Application(ShopContext& shop, DeliveryEvents* events)
    : shop_(shop),
      window_(shop),
      prompts_(&window_),
      sender_(shop),
      monitor_(shop, events),
      pages_(std::make_unique<WindowPages>(window_, prompts_)) {
  // "待发" on the items page: what the waiting orders of each cycle need.
  monitor_.Add(&pages_->waitingNeeds);
  // Stock warnings come from the items page, which counts the stock after
  // every change (a delivery, an import, a removal, a new level) and warns
  // once per crossing: the log says so and the desktop is told. The
  // policy's own check at each delivery would tell a delivery's crossing a
  // second time, so it gets a level no stock reaches.
  monitor_.notifications().SetWarningLevel([](const std::string&) { return -1; });
  QObject::connect(&pages_->items, &ItemsPage::stockWarning, &window_,
                   [this](const QString& item, const QString& text) {
                     const std::string utf8 = text.toStdString();
                     monitor_.log().Write(LineLevel::kWarning, utf8);
                     monitor_.notifications().TellStockWarning(utf8, item.toStdString());
                   });
  // What the IM channel tells of a Wine client's helper goes to the log.
  sender_.channel().SetNote(
      [this](const std::string& gbk) { monitor_.log().Write(LineLevel::kInfo, GbkToUtf8Lossy(gbk)); });
  // The seller's imports, removals and renames go into the delivery log, so
  // that a stock that changed without a delivery can be traced.
  auto logChange = [this](const QString& line) {
    monitor_.log().Write(LineLevel::kInfo, line.toStdString());
  };
  QObject::connect(&pages_->items, &ItemsPage::changeMade, &window_, logChange);
  QObject::connect(&pages_->stock, &StockPage::changeMade, &window_, logChange);
  AlertSender::Hooks alertHooks;
  alertHooks.log = [this](const std::string& line) { monitor_.log().Write(LineLevel::kWarning, line); };
  alertHooks.trouble = [this](const std::string& names) { monitor_.status().SetAlertChannelsFailing(names); };
  alertHooks.settings = [this] { return LoadAlertSettings(shop_); };
  alerts_ = std::make_unique<AlertSender>(std::move(alertHooks));
  notifiers_ = std::make_unique<NotifierFanOut>(
      std::initializer_list<Notifier*>{&monitor_.desktopNotifier(), alerts_.get()});
  monitor_.notifications().SetNotifier(notifiers_.get());
  QObject::connect(&dailySummary_, &QTimer::timeout, &window_, [this] {
    if (!DailySummaryWanted(shop_)) return;  // one row, not the whole configuration, each minute
    SendDailySummaryIfDue(shop_, *alerts_, LoadAlertSettings(shop_), monitor_.status().Figures(),
                          std::time(nullptr));
  });
  dailySummary_.start(60 * 1000);
  controller_ = std::make_unique<DeliveryController>(shop_, pages_->deliverySwitch.deliveryWindow(), sender_,
                                                     &monitor_);
  pages_->deliverySwitch.SetDeliveryController(controller_.get());
  pages_->sentCards.SetDeliveryController(controller_.get());
  watch_ = std::make_unique<WindowWatch>(window_, monitor_, *controller_);
  BindKeepLogin();
  // A login browser that ends early or hangs is written to the log.
  QObject::connect(&window_, &MainWindow::loginBrowserFailed, &window_, [this](const QString& reason) {
    monitor_.log().Write(LineLevel::kWarning,
                         (reason + QStringLiteral("；可点击“重新打开登录窗口”再次登录。")).toStdString());
  });
}

void Application::BindKeepLogin() {
  auto* box = window_.findChild<QCheckBox*>(QString::fromUtf8(layout::kKeepLoginBox));
  auto useProfile = [this](bool keep) {
    std::string problem;
    if (keep && PrepareLoginProfileFolder(shop_, &problem)) {
      window_.SetLoginProfileFolder(QString::fromStdString(LoginProfileFolder(shop_)));
      return;
    }
    if (keep) {
      monitor_.log().Write(LineLevel::kWarning,
                           "无法保留登录浏览器的资料（" + problem + "），本次登录不会被记住");
    }
    window_.SetLoginProfileFolder(QString());
  };
  // Unticked while a browser used the profile: it goes again once that
  // browser has ended.
  if (LoginBrowserHost* browser = window_.LoginBrowser()) {
    QObject::connect(browser, &LoginBrowserHost::ended, &window_, [this] {
      if (!KeepLoginWanted(shop_)) RemoveLoginProfileFolder(shop_);
    });
  }
  const bool keep = KeepLoginWanted(shop_);
  // The seller turned it off: nothing of an earlier profile is left.
  if (!keep) RemoveLoginProfileFolder(shop_);
  useProfile(keep);
  if (box == nullptr) return;
  box->setChecked(keep);
  QObject::connect(box, &QCheckBox::toggled, &window_, [this, useProfile](bool on) {
    if (!SetKeepLogin(shop_, on) && !on) {
      monitor_.log().Write(LineLevel::kWarning, "无法完全删除保留的登录资料：" + LoginProfileFolder(shop_));
    }
    useProfile(on);
  });
}

void Application::WatchAutoSignIn() {
  LoginBrowserHost* browser = window_.LoginBrowser();
  if (browser == nullptr || !LoadRememberedSwitch(shop_).on) return;
  auto tell = [this] {
    if (window_.PagesPrepared()) return;
    const std::string body =
        "程序启动后未能自动登录淘宝，自动发货尚未恢复。请在窗口中登录，登录后将按上次的设置恢复自动发货。";
    monitor_.log().Write(LineLevel::kWarning, body);
    if (NotificationEnabled(shop_, NotificationKind::kLoginExpired)) {
      notifiers_->Notify({NotificationKind::kLoginExpired, kAutoSignInFailedSummary, body, ""});
    }
  };
  // The window's login check runs first (connected when the browser was
  // made); once per start.
  auto once = std::make_shared<QMetaObject::Connection>();
  auto failedOnce = std::make_shared<QMetaObject::Connection>();
  auto done = [once, failedOnce] {
    QObject::disconnect(*once);
    QObject::disconnect(*failedOnce);
  };
  *once = QObject::connect(browser, &LoginBrowserHost::loadFinished, &window_, [tell, done](bool) {
    done();
    tell();
  });
  *failedOnce = QObject::connect(browser, &LoginBrowserHost::failed, &window_, [tell, done] {
    done();
    tell();
  });
}

Application::~Application() {
  // The switch stops using the controller; the controller then waits for a
  // cycle in hand, whose end still hands its calls to the switch's window
  // side, which lives until the pages go.
  watch_.reset();
  pages_->deliverySwitch.SetDeliveryController(nullptr);
  pages_->sentCards.SetDeliveryController(nullptr);
  controller_.reset();
  // No more alerts: the policy tells the desktop alone, and a send in hand
  // is abandoned.
  dailySummary_.stop();
  monitor_.notifications().SetNotifier(&monitor_.desktopNotifier());
  notifiers_.reset();
  alerts_.reset();
  monitor_.Remove(&pages_->waitingNeeds);
  pages_.reset();
}

bool Application::Start() {
  // Watched before the login page is opened: its answer may come at once.
  WatchAutoSignIn();
  if (!ShowAndRunStartup(window_, prompts_)) return false;
  // The seller sees which client the messages go through: a native program
  // or a program in a Wine prefix.
  monitor_.log().Write(LineLevel::kInfo,
                       GbkToUtf8Lossy(ImClientDescription(GetSetting(shop_, ImClientPathSetting()))));
  return true;
}

}  // namespace autodeliver
