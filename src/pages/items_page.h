// The monitored-items page: the name box with its placeholder, adding an
// item, renaming and deleting the checked items (with their cards), and the
// attributes (remark, purchase limit, needs-card) of the selected item. The
// table work is done by the seller's operations of the core (shop_ops.h).
//
// After every change it emits itemsChanged(); the application answers with
// RefreshAllPages, which refills this list with FillItemsList among others.
//
// Thread safety: lives on the window's thread; every method is called there.
#pragma once

#include <QObject>
#include <QPointer>
#include <string>
#include <vector>

#include "pages/page_controls.h"
#include "service/prompts.h"

namespace autodeliver {

class ItemsPage : public QObject {
  Q_OBJECT

 public:
  // Binds the page to `controls` (all set). `prompts` must outlive the page.
  ItemsPage(const ItemsPageControls& controls, Prompts& prompts, QObject* parent = nullptr);

  // Refills the items list from the table: one unchecked row per item.
  void FillItemsList();

  // The handlers, public so that tests can drive them as the controls do.
  void AddItem();
  void RenameCheckedItems();
  void DeleteCheckedItems();
  void ShowAttributesOfSelection();
  void StoreRemark();
  void StoreLimit();
  void StoreNeedsCard(bool checked);

 signals:
  // The items table may have changed: the lists must be refilled.
  void itemsChanged();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The record number of the selected row, or 0 when none is selected.
  int SelectedRecord() const;

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
  Prompts& prompts_;
  std::vector<std::string> itemNames_;  // names of the list's rows
};

}  // namespace autodeliver
