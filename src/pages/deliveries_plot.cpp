// The deliveries plot; see deliveries_plot.h.
#include "pages/deliveries_plot.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QCursor>
#include <QLabel>
#include <QToolTip>
#include <QValueAxis>
#include <algorithm>

#include "pages/qt_text.h"

namespace autodeliver {
namespace {

using std::chrono::sys_days;

QString DayText(std::chrono::year_month_day d) {
  return QStringLiteral("%1月%2日").arg(static_cast<unsigned>(d.month())).arg(static_cast<unsigned>(d.day()));
}

// A step of 1, 2 or 5 times a power of ten that cuts 0..top into at most
// eight parts.
int TickStep(int top) {
  int step = 1;
  while (true) {
    for (int m : {1, 2, 5}) {
      if (top <= step * m * 8) return step * m;
    }
    step *= 10;
  }
}

}  // namespace

DeliveriesPlot::DeliveriesPlot(const DeliveriesPlotControls& controls, QObject* parent)
    : QObject(parent), chooser_(controls.itemChooser), totalLabel_(controls.totalLabel) {
  chart_ = new QChart;
  chart_->legend()->hide();
  chart_->setAnimationOptions(QChart::NoAnimation);
  chart_->setMargins(QMargins(4, 4, 4, 4));
  auto* series = new QBarSeries;
  bars_ = new QBarSet(QStringLiteral("发出卡密"));
  bars_->setColor(QColor(0x3A, 0x7B, 0xD5));
  series->append(bars_);
  series->setBarWidth(0.7);
  chart_->addSeries(series);
  days_ = new QBarCategoryAxis;
  values_ = new QValueAxis;
  values_->setLabelFormat(QStringLiteral("%d"));
  values_->setTitleText(QStringLiteral("卡密（张）"));
  values_->setTickType(QValueAxis::TicksDynamic);
  values_->setTickAnchor(0);
  chart_->addAxis(days_, Qt::AlignBottom);
  chart_->addAxis(values_, Qt::AlignLeft);
  series->attachAxis(days_);
  series->attachAxis(values_);
  controls.chart->setChart(chart_);
  controls.chart->setRenderHint(QPainter::Antialiasing);

  connect(bars_, &QBarSet::hovered, this, [this](bool status, int index) {
    if (!status || index < 0 || static_cast<std::size_t>(index) >= counts_.days.size()) {
      QToolTip::hideText();
      return;
    }
    const DayCount& d = counts_.days[static_cast<std::size_t>(index)];
    QToolTip::showText(
        QCursor::pos(),
        QStringLiteral("%1：发出 %2 张卡密，%3 笔订单").arg(DayText(d.day)).arg(d.cards).arg(d.orders));
  });
  connect(chooser_, &QComboBox::activated, this, &DeliveriesPlot::ChooseItem);
  Fill({});
}

std::string DeliveriesPlot::ChosenItem() const {
  const int index = chooser_ ? chooser_->currentIndex() : 0;
  return index >= 1 && static_cast<std::size_t>(index) <= items_.size()
             ? items_[static_cast<std::size_t>(index - 1)]
             : std::string();
}

void DeliveriesPlot::Fill(const std::vector<SentCard>& cards, std::chrono::year_month_day today) {
  const std::string chosen = ChosenItem();
  today_ = today;
  // Only the cards of the 30 days (and those without a date, which the
  // sums mention) are kept for the chooser's later counts.
  const sys_days last{today};
  const sys_days first = last - std::chrono::days(kDays - 1);
  recent_.clear();
  for (const SentCard& card : cards) {
    const std::optional<std::chrono::year_month_day> date = SentAtDate(card.sentAt);
    if (date && (sys_days{*date} < first || sys_days{*date} > last)) continue;
    recent_.push_back(card);
  }
  items_ = SentItemNames(cards);
  if (chooser_) {
    chooser_->clear();
    chooser_->addItem(QStringLiteral("全部宝贝"));
    for (const std::string& item : items_) chooser_->addItem(QFromGbk(item));
    const auto it = std::find(items_.begin(), items_.end(), chosen);
    chooser_->setCurrentIndex(
        !chosen.empty() && it != items_.end() ? static_cast<int>(it - items_.begin()) + 1 : 0);
  }
  Show();
}

void DeliveriesPlot::ChooseItem() { Show(); }

void DeliveriesPlot::Show() {
  const std::string item = ChosenItem();
  counts_ = CountDeliveriesPerDay(recent_, today_, kDays, item.empty() ? nullptr : &item);

  QList<qreal> values;
  QStringList labels;
  int most = 0;
  for (const DayCount& d : counts_.days) {
    values.append(d.cards);
    most = std::max(most, d.cards);
    // The day of the month; the axis title names the months. The axis
    // takes each category once, and 30 days can see a day number twice
    // (after a short February): a repeat gets a zero-width space.
    QString label = QString::number(static_cast<unsigned>(d.day.day()));
    while (labels.contains(label)) label += QChar(0x200B);
    labels.append(label);
  }
  bars_->remove(0, bars_->count());
  bars_->append(values);
  days_->clear();
  days_->append(labels);
  const int step = TickStep(std::max(most, 4));
  values_->setTickInterval(step);
  values_->setRange(0, ((std::max(most, 1) + step - 1) / step) * step);
  days_->setTitleText(QStringLiteral("日期（%1至%2）")
                          .arg(DayText(counts_.days.front().day), DayText(counts_.days.back().day)));

  const QString what = item.empty() ? QStringLiteral("全部宝贝") : QStringLiteral("“%1”").arg(QFromGbk(item));
  chart_->setTitle(QStringLiteral("近 %1 天每天发出的卡密：%2").arg(kDays).arg(what));
  if (totalLabel_) {
    QString text = QStringLiteral("%1至%2共发出 %3 张卡密，%4 笔订单")
                       .arg(DayText(counts_.days.front().day), DayText(counts_.days.back().day))
                       .arg(counts_.cards)
                       .arg(counts_.orders);
    if (counts_.unreadable > 0)
      text += QStringLiteral("（另有 %1 张的发货时间无法识别，未计入）").arg(counts_.unreadable);
    totalLabel_->setText(text);
  }
}

}  // namespace autodeliver
