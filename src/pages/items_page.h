// The monitored-items page: the name box with its placeholder, adding an
// item, renaming and deleting the checked items (with their cards), the
// attributes (remark, purchase limit, needs-card, stock warning level) of
// the selected item, and the stock figures of every item. The table work is
// done by the seller's operations of the core (seller_actions.h).
//
// Stock figures: beside the two columns of the layout the list has "库存",
// the cards of the item in stock, and "待发", the cards that the orders of
// the last delivery cycle wait for (SetWaitingNeeds). Counting a large
// stock takes a while, so the count runs on a thread of its own after
// every refill of the list and whenever RefreshFigures asks for it (after
// an import, a removal, a delivery cycle); the window stays free. A row
// whose stock is at or below its warning level turns the warning colour,
// and the first time it gets there (once per crossing, store/
// stock_warnings.h) the page emits stockWarning.
//
// After every change to the items it emits itemsChanged(); the application
// answers with RefreshAllPages, which refills this list with FillItemsList
// among others.
//
// Thread safety: lives on the window's thread; every method is called
// there. The counting thread touches no widget.
#pragma once

#include <QColor>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "io/status.h"
#include "pages/order_rules_dialog.h"
#include "pages/page_controls.h"
#include "service/prompts.h"
#include "store/stock_counts.h"
#include "store/stock_warnings.h"

namespace autodeliver {

class ShopContext;

class ItemsPage : public QObject {
  Q_OBJECT

 public:
  // The columns of the items list: the layout's two, then the figures.
  enum Column { kNameColumn = 0, kStatusColumn = 1, kStockColumn = 2, kWaitingColumn = 3, kColumnCount = 4 };

  // The background of a row whose stock is at or below its level.
  static QColor WarningColour() { return QColor(0xFF, 0xC8, 0xC0); }

  // Binds the page to `controls` (all set) and adds the figure columns to
  // the items list. `shop` and `prompts` must outlive the page.
  ItemsPage(ShopContext& shop, const ItemsPageControls& controls, Prompts& prompts,
            QObject* parent = nullptr);
  // Waits for a count in hand.
  ~ItemsPage() override;

  // Refills the items list from the table: one unchecked row per item;
  // then counts the stock anew.
  void FillItemsList();
  // Counts the stock anew (in the background) and shows the figures.
  void RefreshFigures();
  // The cards the waiting orders of the last delivery cycle need, per item
  // title; shown with the next figures, which this asks for.
  void SetWaitingNeeds(StockCounts needs);

  // True while a count asked for has not been shown yet.
  bool figuresPending() const { return counting_ || recountWanted_; }
  // The figures shown, in row order (empty before the first count).
  const std::vector<ItemStock>& figures() const { return figures_; }

  // The handlers, public so that tests can drive them as the controls do.
  void AddItem();
  void RenameCheckedItems();
  void DeleteCheckedItems();
  void ShowAttributesOfSelection();
  // True when `stored` is ok; else tells the seller the cause and shows
  // the selected item's attributes as the table holds them.
  bool AttributeStored(const Status& stored);
  void StoreRemark();
  void StoreLimit();
  void StoreNeedsCard(bool checked);
  void StoreWarningLevel(int level);
  // Opens the order rules' dialog (order_rules_dialog.h), read anew, or
  // brings it up.
  void OpenOrderRules();
  // The dialog once opened; null before.
  OrderRulesDialog* orderRules() const { return orderRules_.data(); }

  // "消息模板": shows the selected item's template for editing and stores
  // what the seller keeps (delivery/message_template.h); a template too
  // long for the chat window is refused with a message and not stored.
  void EditMessageTemplate();

  // Asks for the template (UTF-8 in and out; nullopt: cancelled). The
  // default is a multi-line input box; tests replace it.
  std::function<std::optional<QString>(const QString& itemName, const QString& current)> askTemplate;

 signals:
  // The items table may have changed: the lists must be refilled.
  void itemsChanged();
  // An item's stock has just fallen to or below its warning level (once per
  // crossing). `text` says so in the seller's words, for the log and the
  // desktop notification.
  void stockWarning(const QString& itemName, const QString& text);
  // The seller renamed or removed items: one line per change for the
  // delivery log (names and counts, never a password).
  void changeMade(const QString& line);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  ShopContext& shop_;
  struct Count;

  // The record number of the selected row, or 0 when none is selected.
  int SelectedRecord() const;
  void StartCount();
  // The level box with no item selected: off, blank.
  void ShowNoWarningLevel();
  void ShowFigures(const std::optional<StockCounts>& stock, const WarningLevels& levels);

  // Guarded: a control deleted before the page (the window's children go
  // first) reads as null, also in a focus change on the way out.
  QPointer<QLineEdit> nameBox_;
  QPointer<QPushButton> addButton_;
  QPointer<QTreeWidget> itemsList_;
  QPointer<QPushButton> renameButton_;
  QPointer<QPushButton> deleteButton_;
  QPointer<QLineEdit> remarkBox_;
  QPointer<QLineEdit> limitBox_;
  QPointer<QCheckBox> needsCardBox_;
  QPointer<QSpinBox> warningLevelBox_;
  QPointer<QPushButton> rulesButton_;
  QPointer<OrderRulesDialog> orderRules_;
  Prompts& prompts_;
  std::vector<std::string> itemNames_;  // names of the list's rows

  std::unique_ptr<Count> count_;
  bool counting_ = false;       // a count runs
  bool recountWanted_ = false;  // another is wanted once it ends
  StockCounts waiting_;
  std::vector<ItemStock> figures_;
  StockWarnings warnings_;
};

}  // namespace autodeliver
