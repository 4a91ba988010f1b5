// The program's composition; see application.h.
#include "app/application.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QTranslator>

#include "alerts/daily_summary.h"
#include "app/startup.h"
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

Application::Application(DeliveryEvents* events)
    : prompts_(&window_), monitor_(events), pages_(std::make_unique<WindowPages>(window_, prompts_)) {
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
  alerts_ = std::make_unique<AlertSender>(std::move(alertHooks));
  notifiers_ = std::make_unique<NotifierFanOut>(
      std::initializer_list<Notifier*>{&monitor_.desktopNotifier(), alerts_.get()});
  monitor_.notifications().SetNotifier(notifiers_.get());
  QObject::connect(&dailySummary_, &QTimer::timeout, &window_, [this] {
    if (!DailySummaryWanted()) return;  // one row, not the whole configuration, each minute
    SendDailySummaryIfDue(*alerts_, LoadAlertSettings(), monitor_.status().Figures(), std::time(nullptr));
  });
  dailySummary_.start(60 * 1000);
  controller_ =
      std::make_unique<DeliveryController>(pages_->deliverySwitch.deliveryWindow(), sender_, &monitor_);
  pages_->deliverySwitch.SetDeliveryController(controller_.get());
  pages_->sentCards.SetDeliveryController(controller_.get());
  watch_ = std::make_unique<WindowWatch>(window_, monitor_, *controller_);
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
  if (!ShowAndRunStartup(window_, prompts_)) return false;
  // The seller sees which client the messages go through: a native program
  // or a program in a Wine prefix.
  monitor_.log().Write(LineLevel::kInfo,
                       GbkToUtf8Lossy(ImClientDescription(GetSetting(ImClientPathSetting()))));
  return true;
}

}  // namespace autodeliver
