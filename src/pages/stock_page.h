// The card-stock page: the item chooser, the stock list of the chosen item,
// the card import and the removal of the selected cards. The table work is
// done by the seller's operations of the core (seller_actions.h).
//
// A card import, from the lines pasted into the import box ("增加入库") or
// from a text or CSV file ("从文件导入…", import/card_file.h), runs in three
// steps, none of which holds up the window:
//
//   1. on a thread of its own, the lines are read (and the file decoded)
//      and checked against the item's stock and the sent cards
//      (CheckImport, import/import_check.h);
//   2. the preview (import_preview_dialog.h) shows what will be imported
//      and what will not, with the reasons; the seller may tick the
//      duplicates or the cards without password in, swap number and
//      password for the whole import (checked again off the window's
//      thread), then imports or cancels;
//   3. on a thread of its own, the cards are appended in batches inside one
//      hold of the table lock (ImportStockCards), with a progress dialog
//      "已导入 N / M" whose "取消" stops the import after the batch in hand.
//
// No line that was not imported is lost: after a paste they stay in the
// import box, after a file import they are written to a new file beside the
// source. A cancelled import keeps the cards written and says how far it
// got.
//
// Thread safety: lives on the window's thread; every method is called
// there. The import's worker threads touch no widget.
#pragma once

#include <QObject>
#include <QPointer>
#include <memory>
#include <string>
#include <vector>

#include "pages/page_controls.h"
#include "service/prompts.h"

class QProgressDialog;

namespace autodeliver {

class ShopContext;

class ImportPreviewDialog;
class StockListModel;

class StockPage : public QObject {
  Q_OBJECT

 public:
  // Binds the page to `controls` (all set) and gives the stock list its
  // model. `shop` and `prompts` (messages and the file dialog) must outlive the
  // page.
  StockPage(ShopContext& shop, const StockPageControls& controls, Prompts& prompts,
            QObject* parent = nullptr);
  // Waits for an import that is writing, so that no card is lost.
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
  void ImportFromFile();
  void DeleteSelectedStock();

  // True from the start of an import (ImportCards, ImportFromFile) to its
  // end: while it is checked, previewed and written.
  bool importRunning() const;
  // The preview of the import in hand while it is open, else null.
  ImportPreviewDialog* preview() const;
  // The progress dialog of the import in hand while it writes, else null.
  QProgressDialog* progress() const;

 signals:
  // Emitted on this object's thread when a card import has ended, whatever
  // its outcome.
  void importFinished();
  // Emitted after cards were added to or removed from the stock.
  void stockChanged();
  // One line per import or removal for the delivery log (the item and the
  // count, never a card).
  void changeMade(const QString& line);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  ShopContext& shop_;
  struct Import;

  // The name of the chosen item, or nullptr when none is chosen.
  const std::string* ChosenName() const;
  void BeginImport(bool fromFile);
  void ShowPreview();
  void StartWriting(bool allowDuplicates, bool allowNoPassword);
  // "交换卡号/卡密" in the preview: swaps number and password in every line
  // and checks the cards again, off the window's thread.
  void SwapAndRecheck();
  void ShowProgress(std::size_t handled, std::size_t total);
  void FinishImport();
  // Gives the controls back and tells that the import ended.
  void EndImport(bool wroteCards);

  QPointer<QComboBox> itemChooser_;
  QPointer<QPlainTextEdit> importBox_;
  QPointer<QPushButton> importButton_;
  QPointer<QPushButton> fileImportButton_;
  QPointer<QTreeView> stockList_;
  QPointer<QPushButton> deleteStockButton_;
  Prompts& prompts_;
  StockListModel* stockModel_ = nullptr;   // child of this
  std::vector<std::string> chooserNames_;  // names of the chooser's entries
  std::unique_ptr<Import> import_;
  QPointer<ImportPreviewDialog> preview_;
  QPointer<QProgressDialog> progress_;
};

}  // namespace autodeliver
