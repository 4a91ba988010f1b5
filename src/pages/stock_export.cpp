// The stock page's CSV export; see stock_export.h.
#include "pages/stock_export.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTreeView>
#include <vector>

#include "pages/list_models.h"
#include "pages/qt_text.h"
#include "store/stock_table.h"

namespace autodeliver {

StockExport::StockExport(ShopContext& shop, const StockPageControls& controls, QObject* parent)
    : QObject(parent), shop_(shop), stockList_(controls.stockList), button_(controls.exportButton) {
  if (!button_) return;
  button_->setToolTip(QStringLiteral("把当前宝贝剩余的库存卡密导出为 CSV 文件"));
  connect(button_, &QPushButton::clicked, this, &StockExport::ChooseFile);
}

std::string StockExport::ShownItem() const {
  const auto* model = stockList_ ? qobject_cast<const StockListModel*>(stockList_->model()) : nullptr;
  return model ? model->itemName() : std::string();
}

StockExport::Outcome StockExport::ExportTo(const QString& path, CsvEncoding encoding) const {
  Outcome outcome;
  const std::string item = ShownItem();
  if (item.empty()) {
    outcome.text = QStringLiteral("请先选择发货宝贝");
    return outcome;
  }
  std::vector<StockCard> all;
  if (!LoadAllStockCards(shop_, &all)) {
    outcome.text = QStringLiteral("读不到库存卡密表，没有导出");
    return outcome;
  }
  std::erase_if(all, [&](const StockCard& card) { return card.itemName != item; });
  const QString shownPath = QDir::toNativeSeparators(path);
  if (!WriteExportFile(path.toStdString(), StockCardsCsv(all, encoding))) {
    outcome.text = QStringLiteral("无法写入 %1，没有导出").arg(shownPath);
    return outcome;
  }
  outcome.written = true;
  outcome.cards = static_cast<int>(all.size());
  outcome.text = QStringLiteral("已把“%1”的 %2 张库存卡密导出到 %3")
                     .arg(QFromGbk(item))
                     .arg(outcome.cards)
                     .arg(shownPath);
  return outcome;
}

void StockExport::ChooseFile() {
  QWidget* owner = button_ ? button_->window() : nullptr;
  const std::string item = ShownItem();
  if (item.empty()) {
    QMessageBox::information(owner, QStringLiteral("导出库存"), QStringLiteral("请先选择发货宝贝"));
    return;
  }
  const QString utf8Filter = QStringLiteral("CSV 文件，UTF-8（Excel、WPS 可直接打开） (*.csv)");
  const QString gbkFilter = QStringLiteral("CSV 文件，GBK (*.csv)");
  QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (folder.isEmpty()) folder = QDir::homePath();
  // The item name may hold characters a file name cannot.
  QString name = QFromGbk(item);
  name.replace(QLatin1Char('/'), QLatin1Char('_'));
  QString chosenFilter = utf8Filter;
  QString path = QFileDialog::getSaveFileName(owner, QStringLiteral("导出库存卡密"),
                                              folder + QStringLiteral("/库存-%1.csv").arg(name),
                                              utf8Filter + QStringLiteral(";;") + gbkFilter, &chosenFilter);
  if (path.isEmpty()) return;
  if (QFileInfo(path).suffix().isEmpty()) path += QStringLiteral(".csv");
  const Outcome outcome =
      ExportTo(path, chosenFilter == gbkFilter ? CsvEncoding::kGbk : CsvEncoding::kUtf8WithBom);
  if (outcome.written) {
    QMessageBox::information(owner, QStringLiteral("导出库存"), outcome.text);
  } else {
    QMessageBox::warning(owner, QStringLiteral("导出库存"), outcome.text);
  }
}

}  // namespace autodeliver
