// The program's composition; see application.h.
#include "app/application.h"

#include <QApplication>
#include <QFont>

#include "app/startup.h"

namespace autodeliver {

void SetProgramFont() { QApplication::setFont(QFont(QStringLiteral("WenQuanYi Micro Hei"), 9)); }

Application::Application(DeliveryEvents* events)
    : prompts_(&window_), monitor_(events), pages_(std::make_unique<WindowPages>(window_, prompts_)) {
  controller_ =
      std::make_unique<DeliveryController>(pages_->deliverySwitch.deliveryWindow(), sender_, &monitor_);
  pages_->deliverySwitch.SetDeliveryController(controller_.get());
  pages_->sentCards.SetDeliveryController(controller_.get());
}

Application::~Application() {
  // The switch stops using the controller; the controller then waits for a
  // cycle in hand, whose end still hands its calls to the switch's window
  // side, which lives until the pages go.
  pages_->deliverySwitch.SetDeliveryController(nullptr);
  pages_->sentCards.SetDeliveryController(nullptr);
  controller_.reset();
  pages_.reset();
}

bool Application::Start() { return ShowAndRunStartup(window_, prompts_); }

}  // namespace autodeliver
