// The deliveries plot, a page of its own ("发货统计"): a bar per day of the
// cards delivered over the last 30 days, for all items or the one chosen,
// with the sums beside the chooser. The figures come from the delivery
// times of the sent cards (store/delivery_counts.h); the page is filled
// with the cards the sent-cards page loaded, whenever it loads them.
//
// Thread safety: lives on the window's thread; every method is called there.
#pragma once

#include <QObject>
#include <QPointer>
#include <chrono>
#include <string>
#include <vector>

#include "pages/page_controls.h"
#include "store/delivery_counts.h"
#include "store/rows.h"

class QBarCategoryAxis;
class QBarSet;
class QChart;
class QValueAxis;

namespace autodeliver {

class DeliveriesPlot : public QObject {
  Q_OBJECT

 public:
  static constexpr int kDays = 30;

  // Binds the plot to `controls` (all set) and gives the chart view its
  // chart.
  explicit DeliveriesPlot(const DeliveriesPlotControls& controls, QObject* parent = nullptr);

  // Counts `cards` for the 30 days that end with `today`; the chosen item
  // stays chosen while it has cards.
  void Fill(const std::vector<SentCard>& cards, std::chrono::year_month_day today = LocalDate());

  // The chooser's handler: shows the counts of the chosen entry.
  void ChooseItem();

  // What the chart shows.
  const DeliveryCounts& counts() const { return counts_; }
  // The chosen item (GBK); empty for all items.
  std::string ChosenItem() const;

 private:
  void Show();

  QPointer<QComboBox> chooser_;
  QPointer<QLabel> totalLabel_;
  QChart* chart_ = nullptr;  // owned by the chart view
  QBarSet* bars_ = nullptr;  // owned by the chart
  QBarCategoryAxis* days_ = nullptr;
  QValueAxis* values_ = nullptr;
  std::vector<std::string> items_;  // the chooser's entries after "全部宝贝"
  std::vector<SentCard> recent_;    // the cards of the 30 days
  std::chrono::year_month_day today_{};
  DeliveryCounts counts_;
};

}  // namespace autodeliver
