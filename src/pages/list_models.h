// The models behind the two big lists: the card stock of the chosen item
// (卡号, 卡密 and the hidden Sqlid column) and the sent-cards grid (the eight
// fields of the sent-cards table). They hold the records as loaded and turn
// a cell into display text only when a view asks for it, so a refill of
// 100,000 records is a swap of vectors.
//
// Thread safety: Qt models, used on the window's thread only.
#pragma once

#include <QAbstractTableModel>
#include <string>
#include <vector>

#include "store/rows.h"

namespace autodeliver {

class StockListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kCardNumber = 0, kCardPassword = 1, kSqlid = 2, kColumnCount = 3 };

  using QAbstractTableModel::QAbstractTableModel;

  // Replaces the rows with `cards`, the stock of `itemName` as just loaded.
  void Reset(std::string itemName, std::vector<StockCard> cards);

  const std::string& itemName() const { return itemName_; }
  const std::vector<StockCard>& cards() const { return cards_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  std::string itemName_;
  std::vector<StockCard> cards_;
};

class SentCardsModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  static constexpr int kColumnCount = 8;

  using QAbstractTableModel::QAbstractTableModel;

  void Reset(std::vector<SentCard> cards);
  const std::vector<SentCard>& cards() const { return cards_; }

  // The header text (GBK) and width in pixels of `column`.
  static const std::string& HeaderText(int column);
  static int ColumnWidth(int column);
  // The text (GBK) of one cell, as the grid shows it.
  static std::string CellText(const SentCard& card, int column);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  std::vector<SentCard> cards_;
};

}  // namespace autodeliver
