// Column headers of the window's lists and grid: the sent-cards grid's
// header written at start-up, and the card-stock list's design-time
// columns. With model/view the header texts live in the model, so the
// pages that set their own models can take the texts and widths from here.
//
// Thread safety: GUI thread only.
#pragma once

#include <QString>
#include <vector>

class QAbstractItemView;

namespace autodeliver {

class ShopContext;

struct ColumnSpec {
  QString text;
  int width = 0;
};

// "宝贝名称" 140, "订单编号" 200, "买家旺旺" 90, "购买数量" 90, "已发卡号" 200,
// "已发卡密" 200, "已发备注" 200, "发货时间" 200: one column per field of a
// delivered card, in field order. The widths are the layout's unless the
// seller gave the columns others, which are remembered (sent_cards_page.h).
std::vector<ColumnSpec> SentCardsGridColumns(ShopContext& shop);

// "卡号" 200, "卡密" 120, "Sqlid" 0 (present but not seen).
const std::vector<ColumnSpec>& StockListColumns();

// Writes `columns` into the header of `view` (a QTableView or a QTreeView):
// the texts through the model's setHeaderData (a view without a model gets
// a model holding just the header), then the widths. Texts a model refuses
// are left to the model.
void WriteColumnHeader(QAbstractItemView& view, const std::vector<ColumnSpec>& columns);

}  // namespace autodeliver
