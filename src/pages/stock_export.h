// The stock page's "导出…": the cards left in stock of the item the stock
// list shows, written as CSV (export/csv_export.h), UTF-8 with a byte-order
// mark or GBK as the seller picks in the file dialog. It reads the stock
// table anew, so the file holds the stock as it is, not as last shown.
//
// A separate little object beside the stock page: it takes the stock list
// (whose model names the item) and its own button from the page's controls.
//
// Thread safety: lives on the window's thread; every method is called there.
#pragma once

#include <QObject>
#include <QPointer>
#include <string>

#include "export/csv_export.h"
#include "pages/page_controls.h"

namespace autodeliver {

class ShopContext;

class StockExport : public QObject {
  Q_OBJECT

 public:
  // Uses controls.stockList and controls.exportButton; without the button
  // there is nothing to do.
  explicit StockExport(ShopContext& shop, const StockPageControls& controls, QObject* parent = nullptr);

  // The item whose stock the list shows (GBK); empty when none is chosen.
  std::string ShownItem() const;

  struct Outcome {
    bool written = false;
    int cards = 0;
    QString text;  // what to tell the seller
  };
  // Writes the stock of the shown item to `path`.
  Outcome ExportTo(const QString& path, CsvEncoding encoding) const;

  // The button's handler: the file dialog, the export, a message box.
  void ChooseFile();

 private:
  ShopContext& shop_;
  QPointer<QTreeView> stockList_;
  QPointer<QPushButton> button_;
};

}  // namespace autodeliver
