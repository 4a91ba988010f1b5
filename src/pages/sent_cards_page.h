// The sent-cards page: the grid of every delivered card, in table order,
// with its eight columns. It never writes the sent-cards table; the delivery
// engine does.
//
// Above the grid, what the seller asks after a delivery:
//   - the search box: the grid shows the rows whose item, order number,
//     buyer nick or card number hold every typed word (store/sent_search.h),
//     narrowed at each keystroke; "共 N 条" counts the rows shown;
//     double-clicking a row shows that order's rows;
//   - the orders whose message the IM client did not take
//     (store/undelivered_orders.h) are painted in their own colours, and
//     "只看未送达" shows only them;
//   - "重新发送" sends the selected orders' recorded cards to their buyers
//     again (delivery/resend.h), in the grid's order, on the delivery thread,
//     through the delivery controller, which refuses while a cycle runs; the
//     outcome shows in the note line below the grid (one order: what
//     happened to it; several: a summary, each order's lines in its hover
//     text);
//   - "补发全部未送达" asks first, naming how many orders are marked, then
//     sends every marked order the order list still shows as awaiting
//     shipment; the note names the marked orders it no longer shows;
//   - "导出…" writes the rows shown, or the whole table, as CSV
//     (export/csv_export.h).
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
// A resend's outcome comes back to this thread queued; the controller must
// be unset or destroyed before the page.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <set>
#include <string>
#include <vector>

#include "delivery/resend.h"
#include "export/csv_export.h"
#include "pages/page_controls.h"
#include "store/rows.h"
#include "store/sent_search.h"

class QModelIndex;

namespace autodeliver {

class ShopContext;

class DeliveryController;
class Prompts;
class SentCardsFilter;
class SentCardsModel;

class SentCardsPage : public QObject {
  Q_OBJECT

 public:
  // Binds the page to `controls` (the grid must be set; the search and
  // action bar is optional): the grid gets its model, which holds the header
  // texts, and the column widths: the remembered ones, or the layout's.
  // `prompts` asks the confirmation of "补发全部未送达" (without it, the
  // button sends without asking); it must outlive the page.
  explicit SentCardsPage(ShopContext& shop, const SentCardsPageControls& controls, Prompts* prompts = nullptr,
                         QObject* parent = nullptr);
  // Remembers widths changed since the last time.
  ~SentCardsPage() override;

  // Rebuilds the rows from the sent-cards table and the marks from their
  // file, and applies the search again; a table that cannot be opened
  // leaves the grid as it was.
  void FillSentCardsGrid();

  // The controller that runs resends; null: "重新发送" cannot run.
  void SetDeliveryController(DeliveryController* controller);

  // Every card as last loaded, in table order.
  const std::vector<SentCard>& cards() const;
  // The rows the grid shows.
  int shownRowCount() const;
  bool resendRunning() const { return resendRunning_; }

  // The handlers, public so that tests can drive them as the controls do.
  void ApplySearch();
  void ShowOrderOfRow(const QModelIndex& index);
  void ResendSelectedOrders();
  // "补发全部未送达": asks, then sends every marked order still listed.
  void ResendAllUndelivered();
  // Puts the buyers of the selected rows on the order rules' blacklist (the
  // grid's context menu "将买家加入黑名单"); the note line tells. Returns how
  // many buyers are listed now.
  int BlacklistSelectedBuyers();
  // Writes the rows shown (or all cards of the table, read anew) to `path`;
  // the note line tells how it went. False when nothing was written.
  bool ExportSentCards(const QString& path, CsvEncoding encoding, bool shownOnly);

  // The widths of the eight columns to show: the remembered ones, or the
  // layout's when none are remembered.
  static std::vector<int> ColumnWidths(ShopContext& shop);

 signals:
  // The rows were rebuilt from the table (the deliveries plot follows).
  void gridFilled();
  // A resend started by ResendSelectedOrders or ResendAllUndelivered came
  // back (the note tells).
  void resendFinished();

 protected:
  // Follows the size of the grid's visible area.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  ShopContext& shop_;
  void ReloadMarks();
  void ShowCount();
  void Note(const QString& text, bool warning = false);
  void StartResend(ResendRequest request, const QString& startedNote);
  void FinishResend(const ResendBatch& batch);
  void ChooseExportFile(bool shownOnly);
  void ColumnResized(int column, int width);
  // Gives the last column the room the others leave, or its own width.
  void FillWithLastColumn();
  void RememberWidths();

  QPointer<QTableView> grid_;
  QPointer<QLineEdit> searchBox_;
  QPointer<QCheckBox> undeliveredBox_;
  QPointer<QLabel> countLabel_;
  QPointer<QPushButton> resendButton_;
  QPointer<QPushButton> resendAllButton_;
  QPointer<QPushButton> exportButton_;
  QPointer<QLabel> noteLabel_;
  SentCardsModel* model_ = nullptr;    // child of this
  SentCardsFilter* filter_ = nullptr;  // child of this
  SentCardIndex index_;
  // The last search, for narrowing as the seller types on.
  std::string lastQuery_;
  bool lastUndeliveredOnly_ = false;
  bool lastValid_ = false;
  Prompts* prompts_ = nullptr;
  DeliveryController* controller_ = nullptr;
  bool resendRunning_ = false;
  int undeliveredOrders_ = 0;    // marked orders with rows in the grid
  std::vector<int> widths_;      // as the seller left them
  std::vector<int> remembered_;  // as last stored
  bool filling_ = false;         // the last column's width is being set by the page
  QTimer rememberTimer_;
};

}  // namespace autodeliver
