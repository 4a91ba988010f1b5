// The stock list and sent-cards grid models; see list_models.h.
#include "pages/list_models.h"

#include <array>

#include "text/gbk.h"

namespace autodeliver {

namespace {

QString ToQ(const std::string& gbk) { return QString::fromStdString(GbkToUtf8Lossy(gbk)); }

}  // namespace

void StockListModel::Reset(std::string itemName, std::vector<StockCard> cards) {
  beginResetModel();
  itemName_ = std::move(itemName);
  cards_ = std::move(cards);
  endResetModel();
}

int StockListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(cards_.size());
}

int StockListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant StockListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || role != Qt::DisplayRole) return {};
  const size_t row = static_cast<size_t>(index.row());
  if (row >= cards_.size()) return {};
  const StockCard& card = cards_[row];
  switch (index.column()) {
    case kCardNumber:
      return ToQ(card.cardNumber);
    case kCardPassword:
      return ToQ(card.cardPassword);
    case kSqlid:
      return QString::number(card.recordNumber);
    default:
      return {};
  }
}

QVariant StockListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case kCardNumber:
      return QStringLiteral("卡号");
    case kCardPassword:
      return QStringLiteral("卡密");
    case kSqlid:
      return QStringLiteral("Sqlid");
    default:
      return {};
  }
}

void SentCardsModel::Reset(std::vector<SentCard> cards) {
  beginResetModel();
  cards_ = std::move(cards);
  endResetModel();
}

const std::string& SentCardsModel::HeaderText(int column) {
  static const std::array<std::string, kColumnCount> kHeaders = {
      "宝贝名称"_gbk, "订单编号"_gbk, "买家旺旺"_gbk, "购买数量"_gbk,
      "已发卡号"_gbk, "已发卡密"_gbk, "已发备注"_gbk, "发货时间"_gbk};
  static const std::string kNone;
  return column >= 0 && column < kColumnCount ? kHeaders[column] : kNone;
}

int SentCardsModel::ColumnWidth(int column) {
  static constexpr std::array<int, kColumnCount> kWidths = {140, 200, 90, 90, 200, 200, 200, 200};
  return column >= 0 && column < kColumnCount ? kWidths[column] : 0;
}

std::string SentCardsModel::CellText(const SentCard& card, int column) {
  switch (column) {
    case 0:
      return card.itemName;
    case 1:
      return card.orderNumber;
    case 2:
      return card.buyerNick;
    case 3:
      return std::to_string(card.quantity);
    case 4:
      return card.cardNumber;
    case 5:
      return card.cardPassword;
    case 6:
      return card.remark;
    case 7:
      return card.sentAt;
    default:
      return {};
  }
}

int SentCardsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(cards_.size());
}

int SentCardsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant SentCardsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || role != Qt::DisplayRole) return {};
  const size_t row = static_cast<size_t>(index.row());
  if (row >= cards_.size()) return {};
  return ToQ(CellText(cards_[row], index.column()));
}

QVariant SentCardsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section < 0 || section >= kColumnCount) return {};
  return ToQ(HeaderText(section));
}

}  // namespace autodeliver
