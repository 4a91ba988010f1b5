// The card-stock page: the item chooser, the stock list of the chosen item,
// the card import from pasted lines (store/card_lines.h) and the removal of the
// selected cards. The table work is done by the seller's operations of the
// core (shop_ops.h): the import in one access on a thread of its own, so
// that a paste of many thousands of lines leaves the window free to
// repaint, and the removal exact also after a delivery took cards.
//
// Thread safety: lives on the window's thread; every method is called
// there. The import's worker thread touches no widget.
#pragma once

#include <QObject>
#include <QPointer>
#include <memory>
#include <string>
#include <vector>

#include "pages/page_controls.h"

namespace autodeliver {

class StockListModel;

class StockPage : public QObject {
  Q_OBJECT

 public:
  // Binds the page to `controls` (all set) and gives the stock list its
  // model.
  explicit StockPage(const StockPageControls& controls, QObject* parent = nullptr);
  // Waits for a running import, so that no pasted card is lost.
  ~StockPage() override;

  // Puts the import hint into the import box, in silver.
  void ShowImportPlaceholder();

  // Refills the item chooser, keeping the chosen item when it still exists.
  void FillItemChooser();
  // Refills the stock list with the cards of the chosen item.
  void FillStockList();

  // The handlers, public so that tests can drive them as the controls do.
  void ChooseItem();
  void ImportCards();
  void DeleteSelectedStock();

  // True while an import started by ImportCards is still writing cards.
  bool importRunning() const;

 signals:
  // Emitted on this object's thread when a card import has finished.
  void importFinished();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Import;

  // The name of the chosen item, or nullptr when none is chosen.
  const std::string* ChosenName() const;
  void FinishImport();

  QPointer<QComboBox> itemChooser_;
  QPointer<QPlainTextEdit> importBox_;
  QPointer<QPushButton> importButton_;
  QPointer<QTreeView> stockList_;
  QPointer<QPushButton> deleteStockButton_;
  StockListModel* stockModel_ = nullptr;   // child of this
  std::vector<std::string> chooserNames_;  // names of the chooser's entries
  std::unique_ptr<Import> import_;
};

}  // namespace autodeliver
