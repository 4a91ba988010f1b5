// The program's composition; see application.h.
#include "app/application.h"

#include <QApplication>
#include <QFont>

#include "app/startup.h"

namespace autodeliver {

void SetProgramFont() { QApplication::setFont(QFont(QStringLiteral("WenQuanYi Micro Hei"), 9)); }

Application::Application(DeliveryEvents* events) : monitor_(events) {
  pages_ = AttachPages(window_, dialogs_);
  controller_ = std::make_unique<DeliveryController>(pages_->deliveryWindow(), sender_, &monitor_);
  pages_->SetDeliveryController(controller_.get());
  // The first "设置" ends the login browser for the rest of the run.
  QObject::connect(pages_, &Pages::deliverySettingApplied, &window_, &MainWindow::DestroyLoginBrowser);
}

Application::~Application() {
  // The pages stop using the controller; the controller then waits for a
  // cycle in hand, whose end still hands its calls to the pages' window
  // side, which lives until the window goes.
  pages_->SetDeliveryController(nullptr);
  controller_.reset();
}

bool Application::Start() {
  window_.show();
  return RunStartupSequence(window_, prompts_);
}

}  // namespace autodeliver
