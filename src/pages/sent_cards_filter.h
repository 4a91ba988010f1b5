// The rows of the sent-cards grid that the page shows: a proxy over the
// grid's model (SentCardsModel) that shows every row or a given list of
// its rows (the matches of the search, store/sent_search.h), and that paints
// the rows of the orders marked as not delivered to their buyers
// (store/undelivered_orders.h) in their own colours, with a hover text.
//
// Setting the rows is a reset of the proxy: one swap of a vector, so a
// keystroke's new matches show at once also at 100,000 rows. A reset of the
// source shows every row again until the page sets the rows anew.
//
// Thread safety: a Qt model, used on the window's thread only.
#pragma once

#include <QAbstractProxyModel>
#include <set>
#include <string>
#include <vector>

namespace autodeliver {

class SentCardsModel;

class SentCardsFilter : public QAbstractProxyModel {
  Q_OBJECT

 public:
  // The background and text colours of a row whose order is marked.
  static QColor MarkedBackground();
  static QColor MarkedText();

  // `source` must outlive the proxy.
  explicit SentCardsFilter(SentCardsModel* source, QObject* parent = nullptr);

  // Shows the source rows `rows` (ascending, each below the source's row
  // count), or every row.
  void SetRows(std::vector<int> rows);
  void ShowAll();
  bool showsAll() const { return all_; }
  // The source rows shown, when not all are.
  const std::vector<int>& rows() const { return rows_; }
  // The source row behind a shown row; -1 when there is none.
  int SourceRow(int row) const;

  // The orders whose rows are painted as not delivered.
  void SetMarkedOrders(std::set<std::string> orderNumbers);
  const std::set<std::string>& markedOrders() const { return marked_; }
  bool IsMarkedRow(int row) const;

  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QModelIndex mapToSource(const QModelIndex& proxyIndex) const override;
  QModelIndex mapFromSource(const QModelIndex& sourceIndex) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  SentCardsModel* source_;
  bool all_ = true;
  std::vector<int> rows_;
  std::set<std::string> marked_;
};

}  // namespace autodeliver
