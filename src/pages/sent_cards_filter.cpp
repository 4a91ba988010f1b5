// The rows of the sent-cards grid that the page shows; see
// sent_cards_filter.h.
#include "pages/sent_cards_filter.h"

#include <QColor>
#include <algorithm>

#include "pages/list_models.h"

namespace autodeliver {

QColor SentCardsFilter::MarkedBackground() { return QColor(0xFF, 0xD6, 0xD0); }
QColor SentCardsFilter::MarkedText() { return QColor(0x9C, 0x1C, 0x10); }

SentCardsFilter::SentCardsFilter(SentCardsModel* source, QObject* parent)
    : QAbstractProxyModel(parent), source_(source) {
  QAbstractProxyModel::setSourceModel(source);
  // A refill of the source: every row until the page sets the rows anew.
  connect(source, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
  connect(source, &QAbstractItemModel::modelReset, this, [this] {
    all_ = true;
    rows_.clear();
    endResetModel();
  });
}

void SentCardsFilter::SetRows(std::vector<int> rows) {
  beginResetModel();
  all_ = false;
  rows_ = std::move(rows);
  endResetModel();
}

void SentCardsFilter::ShowAll() {
  beginResetModel();
  all_ = true;
  rows_.clear();
  endResetModel();
}

int SentCardsFilter::SourceRow(int row) const {
  if (row < 0 || row >= rowCount()) return -1;
  return all_ ? row : rows_[static_cast<std::size_t>(row)];
}

void SentCardsFilter::SetMarkedOrders(std::set<std::string> orderNumbers) {
  marked_ = std::move(orderNumbers);
  if (rowCount() > 0)
    emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1),
                     {Qt::BackgroundRole, Qt::ForegroundRole, Qt::ToolTipRole});
}

bool SentCardsFilter::IsMarkedRow(int row) const {
  const int source = SourceRow(row);
  if (source < 0 || marked_.empty()) return false;
  return marked_.count(source_->cards()[static_cast<std::size_t>(source)].orderNumber) > 0;
}

QModelIndex SentCardsFilter::index(int row, int column, const QModelIndex& parent) const {
  if (parent.isValid() || row < 0 || row >= rowCount() || column < 0 || column >= columnCount()) return {};
  return createIndex(row, column);
}

QModelIndex SentCardsFilter::parent(const QModelIndex&) const { return {}; }

int SentCardsFilter::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return all_ ? source_->rowCount() : static_cast<int>(rows_.size());
}

int SentCardsFilter::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : source_->columnCount();
}

QModelIndex SentCardsFilter::mapToSource(const QModelIndex& proxyIndex) const {
  if (!proxyIndex.isValid()) return {};
  const int source = SourceRow(proxyIndex.row());
  return source < 0 ? QModelIndex() : source_->index(source, proxyIndex.column());
}

QModelIndex SentCardsFilter::mapFromSource(const QModelIndex& sourceIndex) const {
  if (!sourceIndex.isValid()) return {};
  if (all_) return index(sourceIndex.row(), sourceIndex.column());
  const auto it = std::lower_bound(rows_.begin(), rows_.end(), sourceIndex.row());
  if (it == rows_.end() || *it != sourceIndex.row()) return {};
  return index(static_cast<int>(it - rows_.begin()), sourceIndex.column());
}

QVariant SentCardsFilter::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  switch (role) {
    case Qt::BackgroundRole:
      return IsMarkedRow(index.row()) ? QVariant(MarkedBackground()) : QVariant();
    case Qt::ForegroundRole:
      return IsMarkedRow(index.row()) ? QVariant(MarkedText()) : QVariant();
    case Qt::ToolTipRole:
      return IsMarkedRow(index.row())
                 ? QVariant(QStringLiteral("未送达：旺旺没有收下这笔订单的卡密消息，买家还没有收到卡密。"
                                           "选中后点“重新发送”补发。"))
                 : QVariant();
    default:
      return QAbstractProxyModel::data(index, role);
  }
}

QVariant SentCardsFilter::headerData(int section, Qt::Orientation orientation, int role) const {
  // The columns are the source's; the shown rows have no header.
  return orientation == Qt::Horizontal ? source_->headerData(section, orientation, role) : QVariant();
}

}  // namespace autodeliver
