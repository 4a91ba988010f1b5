// The sent-cards page: the grid of every delivered card, in table order,
// with its eight columns. It only displays; the delivery engine writes the
// table.
//
// Thread safety: lives on the window's thread; every method is called there.
#pragma once

#include <QObject>
#include <QPointer>

#include "pages/page_controls.h"

namespace autodeliver {

class SentCardsModel;

class SentCardsPage : public QObject {
  Q_OBJECT

 public:
  // Binds the page to `controls` (all set): the grid gets its model, which
  // holds the header texts, and the column widths.
  explicit SentCardsPage(const SentCardsPageControls& controls, QObject* parent = nullptr);

  // Rebuilds the rows from the sent-cards table; a table that cannot be
  // opened leaves the grid as it was.
  void FillSentCardsGrid();

 private:
  QPointer<QTableView> grid_;
  SentCardsModel* model_ = nullptr;  // child of this
};

}  // namespace autodeliver
