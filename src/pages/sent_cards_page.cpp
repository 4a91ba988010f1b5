// The sent-cards page; see sent_cards_page.h.
#include "pages/sent_cards_page.h"

#include <QHeaderView>
#include <QTableView>

#include "pages/list_models.h"
#include "store/store_ops.h"

namespace autodeliver {

SentCardsPage::SentCardsPage(const SentCardsPageControls& controls, QObject* parent)
    : QObject(parent), grid_(controls.grid) {
  model_ = new SentCardsModel(this);
  grid_->setModel(model_);
  grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid_->verticalHeader()->setDefaultSectionSize(22);
  grid_->verticalHeader()->hide();
  for (int col = 0; col < SentCardsModel::kColumnCount; ++col)
    grid_->setColumnWidth(col, SentCardsModel::ColumnWidth(col));
}

void SentCardsPage::FillSentCardsGrid() {
  std::vector<SentCard> cards;
  if (!LoadSentCards(&cards)) return;  // the grid keeps what it showed
  model_->Reset(std::move(cards));
}

}  // namespace autodeliver
