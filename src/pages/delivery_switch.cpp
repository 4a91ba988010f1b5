// The delivery switch; see delivery_switch.h.
#include "pages/delivery_switch.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "delivery/controller.h"
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

DeliverySwitch::DeliverySwitch(const DeliverySwitchControls& controls, QObject* parent)
    : QObject(parent),
      switchBox_(controls.switchBox),
      intervalBox_(controls.intervalBox),
      applyButton_(controls.applyButton),
      statusLabel_(controls.statusLabel),
      timer_(controls.timer),
      windowSide_(std::make_unique<WindowSide>(*this)) {
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
  const std::string seconds = intervalBox_ ? GbkFromQ(intervalBox_->text()) : std::string();
  const std::string status = controller_->ApplySetting(ticked, seconds);
  if (statusLabel_) {
    statusLabel_->setText(QFromGbk(status));
    // A long status is cut by the layout's width: the hover text holds it.
    statusLabel_->setToolTip(statusLabel_->text());
  }
  emit deliverySettingApplied();
}

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
