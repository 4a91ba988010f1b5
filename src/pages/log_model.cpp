// The log page's lines; see log_model.h.
#include "pages/log_model.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <algorithm>
#include <iterator>

#include "delivery/wording.h"

namespace autodeliver {
namespace {

QString FromUtf8(const std::string& utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<int>(utf8.size()));
}

// The warning lines stand out in dark red.
QColor WarningColour() { return QColor(0xB0, 0x1E, 0x1E); }

}  // namespace

LogEntry LogEntryOf(const DeliveryLogLine& line) {
  LogEntry entry;
  entry.atMs = std::chrono::duration_cast<std::chrono::milliseconds>(line.at.time_since_epoch()).count();
  entry.warning = line.level == LineLevel::kWarning;
  entry.reason = FromUtf8(line.reason);
  if (line.orderNumber.empty()) {
    entry.text = FromUtf8(line.text);
    return entry;
  }
  const std::string order = LineText(line.orderNumber);
  const std::string buyer = LineText(line.buyerNick);
  entry.orderNumber = FromUtf8(order);
  entry.buyerNick = FromUtf8(buyer);
  entry.itemTitle = FromUtf8(LineText(line.itemTitle));
  const std::string opening = "订单 " + order + "（买家 " + buyer + "）：";
  if (line.text.compare(0, opening.size(), opening) == 0) {
    entry.text = FromUtf8(line.text.substr(opening.size()));
  } else {
    entry.text = FromUtf8(line.text);
  }
  return entry;
}

LogModel::LogModel(int capacity, QObject* parent)
    : QAbstractTableModel(parent), capacity_(std::max(1, capacity)) {}

void LogModel::Append(std::vector<LogEntry> lines) {
  if (lines.empty()) return;
  received_ += static_cast<qint64>(lines.size());
  const std::size_t capacity = static_cast<std::size_t>(capacity_);
  if (lines.size() >= capacity) {
    // The batch alone fills the ring: only its newest lines stay.
    beginResetModel();
    rows_.clear();
    for (auto it = lines.rbegin(); it != lines.rbegin() + static_cast<std::ptrdiff_t>(capacity); ++it) {
      rows_.push_back(std::move(*it));
    }
    endResetModel();
    return;
  }
  const std::size_t overflow =
      rows_.size() + lines.size() > capacity ? rows_.size() + lines.size() - capacity : 0;
  if (overflow > 0) {
    const int last = static_cast<int>(rows_.size()) - 1;
    beginRemoveRows(QModelIndex(), last - static_cast<int>(overflow) + 1, last);
    rows_.erase(rows_.end() - static_cast<std::ptrdiff_t>(overflow), rows_.end());
    endRemoveRows();
  }
  beginInsertRows(QModelIndex(), 0, static_cast<int>(lines.size()) - 1);
  for (LogEntry& entry : lines) rows_.push_front(std::move(entry));
  endInsertRows();
}

void LogModel::Clear() {
  beginResetModel();
  rows_.clear();
  endResetModel();
}

QString LogModel::HeaderText(int column) {
  switch (column) {
    case kTime:
      return QStringLiteral("时间");
    case kOrder:
      return QStringLiteral("订单编号");
    case kBuyer:
      return QStringLiteral("买家旺旺");
    case kItem:
      return QStringLiteral("宝贝名称");
    case kReason:
      return QStringLiteral("原因");
    case kText:
      return QStringLiteral("经过");
  }
  return QString();
}

int LogModel::ColumnWidth(int column) {
  switch (column) {
    case kTime:
      return 92;
    case kOrder:
      return 116;
    case kBuyer:
      return 72;
    case kItem:
      return 100;
    case kReason:
      return 116;
    case kText:
      return 400;  // the page stretches it over the rest of the view
  }
  return 60;
}

int LogModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int LogModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant LogModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
  const LogEntry& e = rows_[static_cast<std::size_t>(index.row())];
  if (role == Qt::ForegroundRole) return e.warning ? QVariant(QBrush(WarningColour())) : QVariant();
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
  switch (index.column()) {
    case kTime:
      return QDateTime::fromMSecsSinceEpoch(e.atMs).toString(role == Qt::ToolTipRole
                                                                 ? QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")
                                                                 : QStringLiteral("MM-dd HH:mm:ss"));
    case kOrder:
      return e.orderNumber;
    case kBuyer:
      return e.buyerNick;
    case kItem:
      return e.itemTitle;
    case kReason:
      return e.reason;
    case kText:
      return e.text;
  }
  return {};
}

QVariant LogModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return HeaderText(section);
}

LogFilterModel::LogFilterModel(LogModel* source, QObject* parent)
    : QSortFilterProxyModel(parent), source_(source) {
  setSourceModel(source);
}

void LogFilterModel::SetFilterText(const QString& text) {
  const QString trimmed = text.trimmed();
  if (trimmed == filter_) return;
  filter_ = trimmed;
  invalidateFilter();
}

void LogFilterModel::SetWarningsOnly(bool only) {
  if (only == warningsOnly_) return;
  warningsOnly_ = only;
  invalidateFilter();
}

bool LogFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
  const LogEntry& e = source_->entry(sourceRow);
  if (warningsOnly_ && !e.warning) return false;
  if (filter_.isEmpty()) return true;
  return e.orderNumber.contains(filter_, Qt::CaseInsensitive) ||
         e.buyerNick.contains(filter_, Qt::CaseInsensitive) ||
         e.itemTitle.contains(filter_, Qt::CaseInsensitive);
}

}  // namespace autodeliver
