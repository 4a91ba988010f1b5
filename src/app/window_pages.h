// The management pages of a main window: the monitored-items page, the
// card-stock page, the sent-cards page and the delivery switch, each built
// over its group of the window's controls (MainWindow::pageControls()), and
// wired to each other and to the window:
//
//   - a change on the items page, a delivery cycle's refresh request and
//     the first sign-in run RefreshAllPages;
//   - a card import or removal on the stock page recounts the items page's
//     stock figures, and the end of every delivery cycle hands the cards
//     that waiting orders need (waitingNeeds, the cycle's observer) to the
//     items page;
//   - the window's end lets the order in hand finish (the delivery switch);
//   - the first "设置" destroys the login browser;
//   - every fill of the sent-cards grid refills the deliveries plot;
//   - "登录桌面时启动" writes or removes the program's autostart entry
//     (autostart.h) and keeps the choice; a start with the choice on
//     writes the entry again, so that it names the program as it runs now.
//
// The program (application.h) and the window tests build the pages through
// this class, so both run the same wiring.
//
// The items page's stockWarning(item, text) is where the stock warnings
// leave the pages, for the log and the desktop notification.
//
// Thread safety: GUI thread only, except deliverySwitch.deliveryWindow()
// and waitingNeeds, which the delivery thread calls.
#pragma once

#include "delivery/waiting_needs.h"
#include "pages/deliveries_plot.h"
#include "pages/delivery_switch.h"
#include "pages/items_page.h"
#include "pages/sent_cards_page.h"
#include "pages/stock_export.h"
#include "pages/stock_page.h"
#include "service/prompts.h"

class QCheckBox;

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

  // "登录桌面时启动" ticked or unticked: the entry written or removed, the
  // choice kept; when that fails the box goes back and the seller is told.
  void SetAutostart(bool on);

  ItemsPage items;
  StockPage stock;
  SentCardsPage sentCards;
  DeliverySwitch deliverySwitch;
  StockExport stockExport;
  DeliveriesPlot deliveriesPlot;
  // The delivery cycle's observer that feeds "待发"; the program adds it to
  // its delivery monitor.
  WaitingNeeds waitingNeeds;

 private:
  ShopContext& shop_;
  Prompts& prompts_;
  QCheckBox* autostartBox_ = nullptr;
};

}  // namespace autodeliver
