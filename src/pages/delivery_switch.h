// The delivery switch of the first page: "开启自动发货" enables the interval
// box, "设置" hands the switch and the typed interval to the delivery
// controller and shows its status text, the delivery timer's ticks start a
// cycle, and the window's end lets the order in hand finish.
//
// "设置" refuses an interval that is not whole seconds of at least a few
// (delivery/scan_interval.h): the reason shows next to the box and the
// switch stays as it was. An applied setting is remembered
// (delivery/remembered_switch.h); ResumeRemembered, called once the
// sign-in is recognised after a start, applies it again with no action of
// the seller.
//
// It is also the window side of the delivery cycle (deliveryWindow()): the
// cycle's requests from the delivery thread are carried out on this
// object's thread, the timer interval at once, a refresh as
// refreshRequested(), on which the application runs RefreshAllPages.
//
// Thread safety: lives on the window's thread; every method is called
// there, except deliveryWindow()'s methods, which any thread may call.
#pragma once

#include <QObject>
#include <QPointer>
#include <memory>

#include "delivery/window.h"
#include "pages/page_controls.h"

namespace autodeliver {

class ShopContext;

class DeliveryController;

class DeliverySwitch : public QObject {
  Q_OBJECT

 public:
  // Binds the switch to `controls` (all set).
  explicit DeliverySwitch(ShopContext& shop, const DeliverySwitchControls& controls,
                          QObject* parent = nullptr);
  ~DeliverySwitch() override;

  // The delivery engine behind the switch, "设置" and the timer; null
  // unbinds them. The controller must be destroyed before this object, as
  // it calls deliveryWindow().
  void SetDeliveryController(DeliveryController* controller);

  // The window side of the delivery cycle; its calls may come from the
  // delivery thread.
  DeliveryWindow& deliveryWindow();

  // The handlers, public so that tests can drive them as the controls do.
  void SwitchClicked();
  void ApplyDeliverySetting();
  void TimerTicked();
  // Applies the remembered switch when it is on; true when it was applied.
  bool ResumeRemembered();
  // The refusal shown next to the interval box (empty when none).
  QString intervalRefusal() const;
  // The window is closing: the cycle in hand finishes its order and starts
  // no other; the timer stops.
  void WindowClosing();

 signals:
  // Emitted after "设置" was applied.
  void deliverySettingApplied();
  // Emitted on this object's thread when a delivery cycle asked for the
  // lists to be refilled.
  void refreshRequested();

 private:
  ShopContext& shop_;
  class WindowSide;

  QPointer<QCheckBox> switchBox_;
  QPointer<QLineEdit> intervalBox_;
  QPointer<QPushButton> applyButton_;
  QPointer<QLabel> statusLabel_;
  QPointer<QTimer> timer_;
  QPointer<QLabel> refusalLabel_;  // next to the interval box; hidden when empty
  bool on_ = false;                // the switch as last applied
  DeliveryController* controller_ = nullptr;
  std::unique_ptr<WindowSide> windowSide_;
};

}  // namespace autodeliver
