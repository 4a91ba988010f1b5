// The three management pages (monitored items, card stock with the card
// import, sent cards) and the delivery switch of the first page, attached to
// a widget tree that holds the controls under their layout names.
//
// Usage by the main window:
//
//   Pages* pages = AttachPages(window, dialogs);   // owned by window
//   pages->SetDeliveryController(&controller);     // the delivery switch
//
// When the root has the signals signedIn(), refreshRequested() and
// closing() (the main window has them), they are connected to
// FillAfterSignIn, RefreshAllPages and the end of the delivery (no further
// order after the one in hand). "设置" emits deliverySettingApplied(), on
// which the window destroys its login browser.
//
// Widgets looked up by objectName (a missing one leaves its handlers
// unbound): 编辑框1 宝贝备注 限拍数量 编辑框2 (QLineEdit), 编辑框3
// (QPlainTextEdit), 超级列表框1 (QTreeWidget, a check box per row),
// 超级列表框2 (QTreeView, model set here), 高级表格1 (QTableView, model set
// here), 组合框1 (QComboBox), 超级按钮1 2 3 4 6 7 8 9 (QPushButton), 选择框1
// 选择框2 (QCheckBox), 标签8 (QLabel), 自动发货时钟 (QTimer).
//
// Thread safety: a Pages object lives on the window's thread and every
// method is called there, except deliveryWindow(), whose methods may be
// called from the delivery thread and are handed over to the window's thread.
#pragma once

#include <QObject>
#include <QPointer>
#include <memory>
#include <string>
#include <vector>

#include "delivery/delivery_window.h"
#include "pages/page_dialogs.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableView;
class QTimer;
class QTreeView;
class QTreeWidget;
class QWidget;

namespace autodeliver {

class DeliveryController;
class SentCardsModel;
class StockListModel;

// The placeholder texts of the name box and the import box (GBK).
const std::string& ItemNamePlaceholder();
const std::string& CardImportPlaceholder();

class Pages : public QObject {
  Q_OBJECT

 public:
  // Binds the page handlers to the widgets under `root`. `dialogs` must
  // outlive the object.
  Pages(QWidget& root, PageDialogs& dialogs, QObject* parent = nullptr);
  // Waits for a running card import.
  ~Pages() override;

  // The delivery engine behind the switch, "设置" and the timer; null
  // unbinds them. The controller must be destroyed before this object, as
  // it calls deliveryWindow().
  void SetDeliveryController(DeliveryController* controller);

  // Start-up: the import hint in the import box, the widths of the
  // sent-cards grid (its header texts come from the model) and the row
  // colours of the two lists. For a root whose own start-up does not do
  // this already.
  void SetUpAtStart();
  // After the sign-in: fills the items list, the item chooser and the
  // sent-cards grid.
  void FillAfterSignIn();

  // Refills the items list, the item chooser (keeping the chosen item when
  // it still exists) with the stock list, and the sent-cards grid.
  void RefreshAllPages();
  void FillItemsList();
  void FillItemChooser();
  void FillStockList();
  void FillSentCardsGrid();

  // The window side of the delivery cycle: its calls may come from the
  // delivery thread and are carried out on this object's thread.
  DeliveryWindow& deliveryWindow();

  // The handlers, public so that the window and tests can drive them as the
  // controls do.
  void AddItem();
  void RenameCheckedItems();
  void DeleteCheckedItems();
  void ShowAttributesOfSelection();
  void StoreRemark();
  void StoreLimit();
  void StoreNeedsCard(bool checked);
  void ImportCards();
  void DeleteSelectedStock();
  void ChooseItem();
  void SwitchClicked();
  void ApplyDeliverySetting();
  void TimerTicked();
  void WindowClosing();

  // True while an import started by ImportCards is still writing cards.
  bool importRunning() const;

 signals:
  // Emitted on this object's thread when a card import has finished.
  void importFinished();
  // Emitted after "设置" was applied.
  void deliverySettingApplied();

 private slots:
  void OnSignedIn();
  void OnRefreshRequested();
  void OnClosing();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class WindowBridge;
  struct Controls;

  void FinishImport();

  PageDialogs& dialogs_;
  DeliveryController* controller_ = nullptr;
  std::unique_ptr<Controls> c_;
  std::unique_ptr<WindowBridge> bridge_;
  StockListModel* stockModel_ = nullptr;
  SentCardsModel* sentModel_ = nullptr;
  std::vector<std::string> itemNames_;  // names of the items list rows
  struct Import;
  std::unique_ptr<Import> import_;
};

// Creates the pages as a child of `root` (deleted with it).
Pages* AttachPages(QWidget& root, PageDialogs& dialogs);

}  // namespace autodeliver
