// The status line; see status_line.h.
#include "pages/status_line.h"

#include <QEvent>
#include <QLabel>
#include <QPushButton>

namespace autodeliver {
namespace {

// A status line that needs the seller's eye is drawn in dark red.
QString Colour(bool alarm) { return alarm ? QStringLiteral("color: #b01e1e;") : QString(); }

}  // namespace

StatusLine::StatusLine(const StatusLineControls& controls, const DeliveryStatus& status,
                       QTimer* deliveryTimer, CycleRunning cycleRunning, QObject* parent)
    : QObject(parent),
      label_(controls.text),
      button_(controls.reLoginButton),
      status_(status),
      deliveryTimer_(deliveryTimer),
      cycleRunning_(std::move(cycleRunning)) {
  // The label takes the width it is given and cuts the text to it.
  label_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  label_->setMinimumWidth(1);
  label_->installEventFilter(this);
  connect(button_, &QPushButton::clicked, this, &StatusLine::ButtonClicked);
  connect(&refresh_, &QTimer::timeout, this, &StatusLine::Refresh);
  refresh_.start(kRefreshMs);
  UpdateButton();
  Refresh();
}

void StatusLine::Refresh() {
  DeliveryStatusFigures f = status_.Figures();
  // A new sign-in waits for its first cycle: no expired login is claimed
  // until that cycle ended.
  const bool reLoginPending = reLoginCycles_ >= 0 && f.cyclesEnded == reLoginCycles_;
  if (!reLoginPending) reLoginCycles_ = -1;
  if (reLoginPending) f.loginLooksExpired = false;

  int seconds = -1;
  if (deliveryTimer_ && deliveryTimer_->isActive()) {
    // Rounded to the nearest second: the timer's own slack (a coarse timer
    // may run a few hundred milliseconds long) stays out of the count.
    seconds = (std::max(0, deliveryTimer_->remainingTime()) + 500) / 1000;
  }
  const bool running = cycleRunning_ && cycleRunning_();
  QString text = QString::fromStdString(StatusLineText(f, seconds, running));
  if (reLoginPending) text = QStringLiteral("已重新登录，下一轮扫描时确认 | ") + text;
  const bool alarm = f.loginLooksExpired || f.endedAtImFailure || f.imNotAnswering || f.undelivered > 0 ||
                     (f.lastScanAt && f.lastScanOutcome != ScanOutcome::kListed);
  const std::string waiting = WaitingForStockText(f);
  QString tip = text + QLatin1Char('\n') +
                (waiting.empty() ? QStringLiteral("没有等待补货的订单")
                                 : QStringLiteral("等待补货：\n") + QString::fromStdString(waiting));
  const std::string unmatched = UnmatchedOrdersText(f);
  if (!unmatched.empty()) {
    tip += QStringLiteral("\n未匹配监控宝贝的订单（标题须与监控列表中的名称完全一致）：\n") +
           QString::fromStdString(unmatched);
  }

  if (text != text_) {
    text_ = text;
    ShowText();
    emit textChanged(text_);
  }
  if (label_) {
    label_->setToolTip(tip);
    if (label_->styleSheet() != Colour(alarm)) label_->setStyleSheet(Colour(alarm));
  }
  if (expired_ != f.loginLooksExpired) {
    expired_ = f.loginLooksExpired;
    UpdateButton();
    emit loginExpiredChanged(expired_);
  }
}

void StatusLine::ShowText() {
  if (!label_) return;
  const int room = label_->contentsRect().width();
  label_->setText(room > 0 ? label_->fontMetrics().elidedText(text_, Qt::ElideRight, room) : text_);
}

bool StatusLine::eventFilter(QObject* watched, QEvent* event) {
  if (watched == label_ && event->type() == QEvent::Resize) ShowText();
  return QObject::eventFilter(watched, event);
}

QString StatusLine::toolTip() const { return label_ ? label_->toolTip() : QString(); }

void StatusLine::SetReLoginRunning(bool running) {
  reLoginRunning_ = running;
  UpdateButton();
}

void StatusLine::ReLoginDone() {
  reLoginCycles_ = status_.Figures().cyclesEnded;
  Refresh();
}

void StatusLine::ButtonClicked() {
  if (reLoginRunning_) {
    emit reLoginCancelled();
  } else {
    emit reLoginRequested();
  }
}

void StatusLine::UpdateButton() {
  if (!button_) return;
  button_->setText(reLoginRunning_ ? QStringLiteral("放弃重新登录") : QStringLiteral("重新登录"));
  button_->setVisible(expired_ || reLoginRunning_);
}

}  // namespace autodeliver
