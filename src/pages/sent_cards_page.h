// The sent-cards page: the grid of every delivered card, in table order,
// with its eight columns. It only displays; the delivery engine writes the
// table.
//
// The columns start at the layout's widths, which together are wider than
// the grid, so the grid scrolls sideways. The seller can drag the edge of
// any column (or double-click it to fit the column to its texts). When the
// columns leave room at the right, the last column stretches to fill it; it
// never gets narrower than the width of its own. The widths the seller gave
// the columns (the last one's own width, not the room it fills) are
// remembered in the settings table (column_widths.h) a moment after the
// last change, and at the latest when the page goes, and the grid shows
// them at the next start.
//
// Thread safety: lives on the window's thread; every method is called there.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <vector>

#include "pages/page_controls.h"

namespace autodeliver {

class SentCardsModel;

class SentCardsPage : public QObject {
  Q_OBJECT

 public:
  // Binds the page to `controls` (all set): the grid gets its model, which
  // holds the header texts, and the column widths: the remembered ones, or
  // the layout's.
  explicit SentCardsPage(const SentCardsPageControls& controls, QObject* parent = nullptr);
  // Remembers widths changed since the last time.
  ~SentCardsPage() override;

  // Rebuilds the rows from the sent-cards table; a table that cannot be
  // opened leaves the grid as it was.
  void FillSentCardsGrid();

  // The widths of the eight columns to show: the remembered ones, or the
  // layout's when none are remembered.
  static std::vector<int> ColumnWidths();

 protected:
  // Follows the size of the grid's visible area.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ColumnResized(int column, int width);
  // Gives the last column the room the others leave, or its own width.
  void FillWithLastColumn();
  void RememberWidths();

  QPointer<QTableView> grid_;
  SentCardsModel* model_ = nullptr;  // child of this
  std::vector<int> widths_;          // as the seller left them
  std::vector<int> remembered_;      // as last stored
  bool filling_ = false;             // the last column's width is being set by the page
  QTimer rememberTimer_;
};

}  // namespace autodeliver
