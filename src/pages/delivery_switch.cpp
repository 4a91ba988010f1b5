// The delivery switch; see delivery_switch.h.
#include "pages/delivery_switch.h"

#include <QCheckBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <optional>
#include <string>

#include "delivery/controller.h"
#include "delivery/remembered_switch.h"
#include "delivery/scan_interval.h"
#include "pages/qt_text.h"

namespace autodeliver {

// The delivery thread's calls, carried over to the switch's thread.
class DeliverySwitch::WindowSide : public DeliveryWindow {
 public:
  explicit WindowSide(DeliverySwitch& owner) : owner_(owner) {}

  void RefreshAfterDelivery() override {
    QMetaObject::invokeMethod(
        &owner_, [o = &owner_] { emit o->refreshRequested(); }, Qt::QueuedConnection);
  }

  void SetTimerInterval(int milliseconds) override {
    QMetaObject::invokeMethod(
        &owner_,
        [o = &owner_, milliseconds] {
          QTimer* timer = o->timer_.data();
          if (!timer) return;
          if (milliseconds <= 0) {
            timer->stop();
            timer->setInterval(0);
          } else {
            // start() restarts: the next tick comes one full interval later.
            timer->setInterval(milliseconds);
            timer->start();
          }
        },
        Qt::QueuedConnection);
  }

 private:
  DeliverySwitch& owner_;
};

DeliverySwitch::DeliverySwitch(ShopContext& shop, const DeliverySwitchControls& controls, QObject* parent)
    : QObject(parent),
      shop_(shop),
      switchBox_(controls.switchBox),
      intervalBox_(controls.intervalBox),
      applyButton_(controls.applyButton),
      statusLabel_(controls.statusLabel),
      timer_(controls.timer),
      windowSide_(std::make_unique<WindowSide>(*this)) {
  // The reason a typed interval was refused, in small red letters between
  // the interval box and the switch.
  if (intervalBox_ && intervalBox_->parentWidget()) {
    refusalLabel_ = new QLabel(intervalBox_->parentWidget());
    refusalLabel_->setObjectName(QStringLiteral("intervalRefusal"));
    const QRect box = intervalBox_->geometry();
    refusalLabel_->setGeometry(10, box.bottom() + 1, intervalBox_->parentWidget()->width() - 14, 13);
    QFont font = refusalLabel_->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    refusalLabel_->setFont(font);
    refusalLabel_->setStyleSheet(QStringLiteral("color: #b01e1e;"));
    refusalLabel_->hide();
  }
  connect(switchBox_, &QCheckBox::clicked, this, &DeliverySwitch::SwitchClicked);
  connect(applyButton_, &QPushButton::clicked, this, &DeliverySwitch::ApplyDeliverySetting);
  connect(timer_, &QTimer::timeout, this, &DeliverySwitch::TimerTicked);
}

DeliverySwitch::~DeliverySwitch() = default;

void DeliverySwitch::SetDeliveryController(DeliveryController* controller) { controller_ = controller; }

DeliveryWindow& DeliverySwitch::deliveryWindow() { return *windowSide_; }

void DeliverySwitch::SwitchClicked() {
  if (intervalBox_ && switchBox_) intervalBox_->setEnabled(switchBox_->isChecked());
}

void DeliverySwitch::ApplyDeliverySetting() {
  if (!controller_) return;
  const bool ticked = switchBox_ && switchBox_->isChecked();
  const std::string typed = intervalBox_ ? GbkFromQ(intervalBox_->text()) : std::string();
  std::optional<int> seconds;
  if (ticked) {
    const ScanIntervalCheck check = CheckScanInterval(typed);
    if (!check.seconds) {
      // Refused: the switch stays as it was, the box keeps the typed text.
      if (refusalLabel_) {
        refusalLabel_->setText(QFromGbk(check.refusal));
        refusalLabel_->show();
      }
      if (switchBox_) switchBox_->setChecked(on_);
      if (intervalBox_) {
        intervalBox_->setEnabled(on_);
        intervalBox_->setFocus();
      }
      return;
    }
    seconds = check.seconds;
  } else {
    const ScanIntervalCheck check = CheckScanInterval(typed);
    seconds = check.seconds;  // an interval left in the box is kept for the next start
  }
  if (refusalLabel_) {
    refusalLabel_->clear();
    refusalLabel_->hide();
  }
  const std::string shown = ticked ? std::to_string(*seconds) : typed;
  if (ticked && intervalBox_) intervalBox_->setText(QFromGbk(shown));
  const std::string status = controller_->ApplySetting(ticked, shown);
  on_ = ticked;
  RememberSwitch(shop_, ticked, seconds);
  if (statusLabel_) {
    statusLabel_->setText(QFromGbk(status));
    // A long status is cut by the layout's width: the hover text holds it.
    statusLabel_->setToolTip(statusLabel_->text());
  }
  emit deliverySettingApplied();
}

bool DeliverySwitch::ResumeRemembered() {
  const RememberedSwitch remembered = LoadRememberedSwitch(shop_);
  if (!controller_ || !remembered.on) return false;
  if (switchBox_) switchBox_->setChecked(true);
  if (intervalBox_) {
    intervalBox_->setEnabled(true);
    intervalBox_->setText(QString::number(remembered.seconds));
  }
  ApplyDeliverySetting();
  return on_;
}

QString DeliverySwitch::intervalRefusal() const { return refusalLabel_ ? refusalLabel_->text() : QString(); }

void DeliverySwitch::TimerTicked() {
  if (controller_) controller_->OnTick();
}

void DeliverySwitch::WindowClosing() {
  // The cycle in hand finishes its order and starts no other; the program's
  // end waits for it (the controller's destructor).
  if (controller_) controller_->RequestStop();
  if (timer_) timer_->stop();
}

}  // namespace autodeliver
