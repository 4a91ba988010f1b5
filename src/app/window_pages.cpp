// The management pages of the main window; see window_pages.h.
#include "app/window_pages.h"

#include "app/main_window.h"

namespace autodeliver {

WindowPages::WindowPages(MainWindow& window, Prompts& prompts)
    : items(window.pageControls().items, prompts),
      stock(window.pageControls().stock, prompts),
      sentCards(window.pageControls().sentCards),
      deliverySwitch(window.pageControls().deliverySwitch),
      stockExport(window.pageControls().stock),
      deliveriesPlot(window.pageControls().deliveriesPlot) {
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
  // From the delivery thread to the window's thread.
  waitingNeeds.SetHandover([this](const StockCounts& needs) {
    QMetaObject::invokeMethod(
        &items, [this, needs] { items.SetWaitingNeeds(needs); }, Qt::QueuedConnection);
  });
}

void WindowPages::RefreshAllPages() {
  items.FillItemsList();
  stock.FillItemChooser();
  stock.FillStockList();
  sentCards.FillSentCardsGrid();
}

}  // namespace autodeliver
