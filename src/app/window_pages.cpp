// The management pages of the main window; see window_pages.h.
#include "app/window_pages.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QSignalBlocker>

#include "app/autostart.h"
#include "app/main_window.h"
#include "pages/qt_text.h"
#include "store/shop_paths.h"

namespace autodeliver {

namespace {

std::string ProgramPath() { return QCoreApplication::applicationFilePath().toStdString(); }

}  // namespace

WindowPages::WindowPages(MainWindow& window, Prompts& prompts)
    : items(window.shop(), window.pageControls().items, prompts),
      stock(window.shop(), window.pageControls().stock, prompts),
      sentCards(window.shop(), window.pageControls().sentCards, &prompts),
      deliverySwitch(window.shop(), window.pageControls().deliverySwitch),
      stockExport(window.shop(), window.pageControls().stock),
      deliveriesPlot(window.pageControls().deliveriesPlot),
      shop_(window.shop()),
      prompts_(prompts),
      autostartBox_(window.pageControls().deliverySwitch.autostartBox) {
  QObject::connect(&items, &ItemsPage::itemsChanged, &items, [this] { RefreshAllPages(); });
  QObject::connect(&deliverySwitch, &DeliverySwitch::refreshRequested, &deliverySwitch,
                   [this] { RefreshAllPages(); });
  QObject::connect(&window, &MainWindow::signedIn, &items, [this] { RefreshAllPages(); });
  // A switch left on at the last run comes on again by itself.
  QObject::connect(&window, &MainWindow::signedIn, &deliverySwitch,
                   [this] { deliverySwitch.ResumeRemembered(); });
  QObject::connect(&window, &MainWindow::closing, &deliverySwitch, &DeliverySwitch::WindowClosing);
  QObject::connect(&deliverySwitch, &DeliverySwitch::deliverySettingApplied, &window,
                   &MainWindow::DestroyLoginBrowser);
  QObject::connect(&sentCards, &SentCardsPage::gridFilled, &deliveriesPlot,
                   [this] { deliveriesPlot.Fill(sentCards.cards()); });
  QObject::connect(&stock, &StockPage::stockChanged, &items, &ItemsPage::RefreshFigures);
  if (autostartBox_) {
    const bool chosen = AutostartChosen(shop_);
    // The entry names the program as it runs now (it may have moved).
    if (chosen) WriteAutostartEntry(AUTODELIVER_APP_ID, ProgramPath(), CurrentShop());
    autostartBox_->setChecked(chosen);
    QObject::connect(autostartBox_, &QCheckBox::toggled, autostartBox_,
                     [this](bool on) { SetAutostart(on); });
  }
  // From the delivery thread to the window's thread.
  waitingNeeds.SetHandover([this](const StockCounts& needs) {
    QMetaObject::invokeMethod(
        &items, [this, needs] { items.SetWaitingNeeds(needs); }, Qt::QueuedConnection);
  });
}

void WindowPages::SetAutostart(bool on) {
  const bool written = on ? WriteAutostartEntry(AUTODELIVER_APP_ID, ProgramPath(), CurrentShop())
                          : RemoveAutostartEntry(AUTODELIVER_APP_ID);
  const bool kept = written && RememberAutostart(shop_, on);
  if (!kept) {
    // Back to what is on disk, and the seller is told.
    if (on && written) RemoveAutostartEntry(AUTODELIVER_APP_ID);
    if (autostartBox_) {
      const QSignalBlocker quiet(autostartBox_);
      autostartBox_->setChecked(AutostartEntryExists(AUTODELIVER_APP_ID));
    }
    const QString where = QString::fromStdString(AutostartEntryPath(AUTODELIVER_APP_ID));
    const QString text = !written ? (on ? QStringLiteral("无法写入自动启动项 %1，登录桌面时不会自动启动")
                                        : QStringLiteral("无法删除自动启动项 %1，登录桌面时仍会自动启动"))
                                        .arg(where)
                                  : QStringLiteral("配置表无法写入，登录桌面时启动的设置没有保存");
    prompts_.ShowBox(GbkFromQ(text), GbkFromQ(QStringLiteral("登录桌面时启动")), BoxKind::kError);
    return;
  }
  if (autostartBox_ && autostartBox_->isChecked() != on) {
    const QSignalBlocker quiet(autostartBox_);
    autostartBox_->setChecked(on);
  }
}

void WindowPages::RefreshAllPages() {
  items.FillItemsList();
  stock.FillItemChooser();
  stock.FillStockList();
  sentCards.FillSentCardsGrid();
}

}  // namespace autodeliver
