// Column headers of the sent-cards grid and the card-stock list.
#include "app/list_columns.h"

#include <QHeaderView>
#include <QStandardItemModel>
#include <QTableView>
#include <QTreeView>

#include "pages/sent_cards_page.h"

namespace autodeliver {

std::vector<ColumnSpec> SentCardsGridColumns(ShopContext& shop) {
  std::vector<ColumnSpec> columns = {
      {QStringLiteral("宝贝名称"), 140}, {QStringLiteral("订单编号"), 200}, {QStringLiteral("买家旺旺"), 90},
      {QStringLiteral("购买数量"), 90},  {QStringLiteral("已发卡号"), 200}, {QStringLiteral("已发卡密"), 200},
      {QStringLiteral("已发备注"), 200}, {QStringLiteral("发货时间"), 200},
  };
  const std::vector<int> widths = SentCardsPage::ColumnWidths(shop);
  for (std::size_t c = 0; c < columns.size() && c < widths.size(); ++c) columns[c].width = widths[c];
  return columns;
}

const std::vector<ColumnSpec>& StockListColumns() {
  static const std::vector<ColumnSpec> columns = {
      {QStringLiteral("卡号"), 200}, {QStringLiteral("卡密"), 120}, {QStringLiteral("Sqlid"), 0}};
  return columns;
}

void WriteColumnHeader(QAbstractItemView& view, const std::vector<ColumnSpec>& columns) {
  QHeaderView* header = nullptr;
  if (auto* table = qobject_cast<QTableView*>(&view)) header = table->horizontalHeader();
  if (auto* tree = qobject_cast<QTreeView*>(&view)) header = tree->header();
  if (header == nullptr) return;
  const int count = static_cast<int>(columns.size());
  if (view.model() == nullptr) view.setModel(new QStandardItemModel(0, count, &view));
  QAbstractItemModel* model = view.model();
  for (int c = 0; c < count && c < model->columnCount(); ++c) {
    model->setHeaderData(c, Qt::Horizontal, columns[c].text);
  }
  header->setStretchLastSection(false);
  for (int c = 0; c < count; ++c) {
    if (columns[c].width == 0) {
      // A zero-width column is still there, only not seen.
      header->setMinimumSectionSize(0);
    }
    header->resizeSection(c, columns[c].width);
  }
}

}  // namespace autodeliver
