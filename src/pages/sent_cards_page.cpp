// The sent-cards page; see sent_cards_page.h.
#include "pages/sent_cards_page.h"

#include <QEvent>
#include <QHeaderView>
#include <QTableView>
#include <algorithm>

#include "pages/column_widths.h"
#include "pages/list_models.h"
#include "store/store_ops.h"

namespace autodeliver {

namespace {

constexpr int kLastColumn = SentCardsModel::kColumnCount - 1;

// How long after the last change of a width the widths are stored: a drag
// changes a width many times, and only where it ends counts.
constexpr int kRememberDelayMs = 500;

std::vector<int> LayoutWidths() {
  std::vector<int> widths;
  for (int col = 0; col < SentCardsModel::kColumnCount; ++col)
    widths.push_back(SentCardsModel::ColumnWidth(col));
  return widths;
}

}  // namespace

std::vector<int> SentCardsPage::ColumnWidths() {
  return LoadColumnWidths(kSentCardsColumnWidthsSetting, LayoutWidths());
}

SentCardsPage::SentCardsPage(const SentCardsPageControls& controls, QObject* parent)
    : QObject(parent), grid_(controls.grid) {
  model_ = new SentCardsModel(this);
  grid_->setModel(model_);
  grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid_->verticalHeader()->setDefaultSectionSize(22);
  grid_->verticalHeader()->hide();
  // Every column, the last one too, is the seller's to resize; the page
  // does the last column's stretching itself, so that the seller can still
  // make it narrower than the layout has it.
  QHeaderView* header = grid_->horizontalHeader();
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->setStretchLastSection(false);
  widths_ = remembered_ = ColumnWidths();
  for (int col = 0; col < SentCardsModel::kColumnCount; ++col) grid_->setColumnWidth(col, widths_[col]);

  rememberTimer_.setSingleShot(true);
  rememberTimer_.setInterval(kRememberDelayMs);
  connect(&rememberTimer_, &QTimer::timeout, this, &SentCardsPage::RememberWidths);
  connect(header, &QHeaderView::sectionResized, this,
          [this](int column, int, int width) { ColumnResized(column, width); });
  grid_->viewport()->installEventFilter(this);
  FillWithLastColumn();
}

SentCardsPage::~SentCardsPage() { RememberWidths(); }

bool SentCardsPage::eventFilter(QObject* watched, QEvent* event) {
  if (grid_ && watched == grid_->viewport() && event->type() == QEvent::Resize) FillWithLastColumn();
  return false;
}

void SentCardsPage::ColumnResized(int column, int width) {
  if (filling_ || column < 0 || column > kLastColumn) return;
  if (widths_[column] != width) {
    widths_[column] = width;
    rememberTimer_.start();
  }
  FillWithLastColumn();
}

void SentCardsPage::FillWithLastColumn() {
  if (!grid_) return;
  const QHeaderView* header = grid_->horizontalHeader();
  int others = 0;
  for (int col = 0; col < kLastColumn; ++col) others += header->sectionSize(col);
  const int width = std::max(widths_[kLastColumn], grid_->viewport()->width() - others);
  if (header->sectionSize(kLastColumn) == width) return;
  filling_ = true;
  grid_->setColumnWidth(kLastColumn, width);
  filling_ = false;
}

void SentCardsPage::RememberWidths() {
  rememberTimer_.stop();
  if (widths_ == remembered_) return;
  // A table that cannot be written keeps the change pending for the next
  // try.
  if (SaveColumnWidths(kSentCardsColumnWidthsSetting, widths_)) remembered_ = widths_;
}

void SentCardsPage::FillSentCardsGrid() {
  std::vector<SentCard> cards;
  if (!LoadSentCards(&cards)) return;  // the grid keeps what it showed
  model_->Reset(std::move(cards));
}

}  // namespace autodeliver
