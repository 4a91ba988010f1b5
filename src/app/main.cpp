// The program's entry: sets up the browser engine, builds the main window
// with the management pages and the delivery switch attached, runs the
// start-up sequence and the event loop, and ends with exit code 0 when the
// window is closed (or with the code a start-up step asked for).
#include <QApplication>
#include <QFont>

#include "app/login_browser.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "app/window_prompts.h"
#ifdef AUTODELIVER_HAVE_PAGES
#include "delivery/delivery_controller.h"
#include "delivery/message_sender.h"
#include "pages/pages.h"
#endif

int main(int argc, char** argv) {
  using namespace autodeliver;
  PrepareWebEngineEnvironment();
  QApplication app(argc, argv);
  app.setFont(QFont(QStringLiteral("WenQuanYi Micro Hei"), 9));

  MainWindow window;
  WindowPrompts prompts;
#ifdef AUTODELIVER_HAVE_PAGES
  QtPageDialogs dialogs;
  ImMessageSender sender;
  Pages* pages = AttachPages(window, dialogs);
  DeliveryController controller(pages->deliveryWindow(), sender);
  pages->SetDeliveryController(&controller);
  // The first "设置" ends the login browser for the rest of the run.
  QObject::connect(pages, &Pages::deliverySettingApplied, &window, &MainWindow::DestroyLoginBrowser);
  // The controller goes before the pages that point at it.
  struct Unbind {
    Pages* pages;
    ~Unbind() { pages->SetDeliveryController(nullptr); }
  } unbind{pages};
#endif

  window.show();
  if (!RunStartupSequence(window, prompts)) return prompts.ExitCode();
  return app.exec();
}
