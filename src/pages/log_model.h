// The lines of the log page: the recent delivery-log lines, newest first,
// in a ring of bounded size, and the filter that keeps the lines of one
// order, buyer or item.
//
// The page keeps the newest kDefaultCapacity (20,000) lines; older ones
// leave the ring as new ones come and remain only in the log file (the
// file keeps everything, delivery/log.h). 20,000 lines are a few hours of a
// busy shop scanned every half minute, and hold about 10 MB of text.
//
// Thread safety: Qt models, used on the window's thread only. LogEntryOf is
// pure and may run on any thread (the delivery thread converts its lines).
#pragma once

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QString>
#include <deque>
#include <vector>

#include "delivery/log.h"

namespace autodeliver {

// One line as the page shows it. Texts are ready for display (UTF-8 page
// texts converted, control characters written as \xNN).
struct LogEntry {
  qint64 atMs = 0;  // milliseconds since 1970 (UTC)
  bool warning = false;
  QString orderNumber;
  QString buyerNick;
  QString itemTitle;
  QString reason;
  // The line's text without its "订单 <number>（买家 <nick>）：" opening,
  // which the order and buyer columns show.
  QString text;
};

LogEntry LogEntryOf(const DeliveryLogLine& line);

class LogModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kTime = 0, kOrder, kBuyer, kItem, kReason, kText, kColumnCount };
  static constexpr int kDefaultCapacity = 20000;

  explicit LogModel(int capacity = kDefaultCapacity, QObject* parent = nullptr);

  // Adds `lines`, given oldest first as they were written. Row 0 shows the
  // newest line; beyond the capacity the oldest lines leave the ring.
  void Append(std::vector<LogEntry> lines);
  // Empties the ring (the count of lines received stays).
  void Clear();

  int capacity() const { return capacity_; }
  // Every line appended since the start, also those that left the ring.
  qint64 linesReceived() const { return received_; }
  const LogEntry& entry(int row) const { return rows_[static_cast<std::size_t>(row)]; }

  // The header text of a column and its width in pixels.
  static QString HeaderText(int column);
  static int ColumnWidth(int column);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  const int capacity_;
  std::deque<LogEntry> rows_;  // front: the newest line
  qint64 received_ = 0;
};

// Keeps the lines whose order number, buyer or item contains the filter
// text (case-insensitive); an empty filter keeps every line, a non-empty one
// drops the lines about no order. "只看警告" keeps the warnings alone.
class LogFilterModel : public QSortFilterProxyModel {
  Q_OBJECT

 public:
  explicit LogFilterModel(LogModel* source, QObject* parent = nullptr);

  void SetFilterText(const QString& text);
  const QString& filterText() const { return filter_; }
  // Keeps only the warnings (with the filter text, when there is one).
  void SetWarningsOnly(bool only);
  bool warningsOnly() const { return warningsOnly_; }
  // Some filter is on.
  bool filtering() const { return warningsOnly_ || !filter_.isEmpty(); }

 protected:
  bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

 private:
  LogModel* source_;
  QString filter_;
  bool warningsOnly_ = false;
};

}  // namespace autodeliver
