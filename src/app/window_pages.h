// The management pages of a main window: the monitored-items page, the
// card-stock page, the sent-cards page and the delivery switch, each built
// over its group of the window's controls (MainWindow::pageControls()), and
// wired to each other and to the window:
//
//   - a change on the items page, a delivery cycle's refresh request and
//     the first sign-in run RefreshAllPages;
//   - the window's end lets the order in hand finish (the delivery switch);
//   - the first "设置" destroys the login browser;
//   - every fill of the sent-cards grid refills the deliveries plot.
//
// The program (application.h) and the window tests build the pages through
// this class, so both run the same wiring.
//
// Thread safety: GUI thread only, except deliverySwitch.deliveryWindow().
#pragma once

#include "pages/deliveries_plot.h"
#include "pages/delivery_switch.h"
#include "pages/items_page.h"
#include "pages/sent_cards_page.h"
#include "pages/stock_export.h"
#include "pages/stock_page.h"
#include "service/prompts.h"

namespace autodeliver {

class MainWindow;

class WindowPages {
 public:
  // `window` and `prompts` must outlive the pages.
  WindowPages(MainWindow& window, Prompts& prompts);
  WindowPages(const WindowPages&) = delete;
  WindowPages& operator=(const WindowPages&) = delete;

  // Refills the monitored-items list, the item chooser with the stock list
  // of the chosen item, and the sent-cards grid, in this order.
  void RefreshAllPages();

  ItemsPage items;
  StockPage stock;
  SentCardsPage sentCards;
  DeliverySwitch deliverySwitch;
  StockExport stockExport;
  DeliveriesPlot deliveriesPlot;
};

}  // namespace autodeliver
