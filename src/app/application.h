// The whole program as one object: the main window, its prompts, the IM
// sender, the management pages with the delivery switch and the delivery
// controller, wired together as the program runs them. The program's entry and the
// demo driver build the same program through it.
//
// Usage (a QApplication exists; the program font is set before):
//
//   ShopContext shop(ProgramDir());  // outlives the program
//   Application program(shop);
//   if (!program.Start()) return program.ExitCode();
//   return app.exec();
//
// Destruction: the window's watch (log page, status line, tray) goes first,
// the delivery switch and the sent-cards page are unbound from the
// controller, the controller goes (it waits for a cycle or resend in hand,
// which calls the switch's window side or queues to the page), then the
// pages, then the window.
//
// The notification policy tells the desktop and the seller's phone alert
// channels (alerts/) the same news; an alert channel that keeps failing
// shows on the status line, and the daily summary goes out from a timer
// of the window's thread.
//
// The login browser keeps its profile in the data folder unless the seller
// unticks "记住登录" (login_profile.h); after a start with the delivery
// switch remembered on, a first page that does not come back signed in is
// told on the desktop and the phone ("自动登录未成功") and in the log, and
// so is a login browser that fails.
//
// The delivery monitor (the log, the notifications, the status figures)
// also hears the items page: its stock warnings are written to the log and
// told on the desktop, and the cards each cycle's waiting orders need reach
// its "待发" column.
//
// Thread safety: GUI thread only. The optional DeliveryEvents observer is
// called from the delivery thread.
#pragma once

#include <QTimer>
#include <memory>

#include "alerts/alert_sender.h"
#include "alerts/notifier_fan_out.h"
#include "app/main_window.h"
#include "app/window_pages.h"
#include "app/window_prompts.h"
#include "app/window_watch.h"
#include "delivery/controller.h"
#include "delivery/events.h"
#include "delivery/message_sender.h"
#include "delivery/monitor.h"

namespace autodeliver {

class ShopContext;

// The program's font (Chinese text in every control); call once the
// QApplication exists and before the window is built.
void SetProgramFont();
// Loads Qt's own Chinese translation (file dialogs, the standard buttons,
// the context menus of edit boxes) from the system's translations
// (qtbase_zh_CN); false, and English kept, when it is not installed. Call
// once the QApplication exists.
bool InstallQtChinese();

class Application {
 public:
  // Builds the window with the pages and the delivery switch attached.
  // `events`, when given, is told each order's fate and must outlive this.
  explicit Application(ShopContext& shop, DeliveryEvents* events = nullptr);
  ~Application();
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // Shows the window and runs the start-up sequence, the re-layout held
  // back until it has returned (ShowAndRunStartup). False when a step
  // ended the program: the caller returns ExitCode() at once.
  bool Start();
  int ExitCode() const { return prompts_.ExitCode(); }

  MainWindow& window() { return window_; }
  WindowPages& pages() { return *pages_; }
  DeliveryController& controller() { return *controller_; }
  DeliveryMonitor& monitor() { return monitor_; }
  AlertSender& alerts() { return *alerts_; }
  WindowWatch& watch() { return *watch_; }

  // The seller's notice when the sign-in after a start is not recognised
  // while the delivery switch is remembered on (UTF-8).
  static constexpr char kAutoSignInFailedSummary[] = "自动登录未成功";

 private:
  ShopContext& shop_;
  MainWindow window_;
  WindowPrompts prompts_;
  ImMessageSender sender_;
  DeliveryMonitor monitor_;                    // the delivery log and notifications, then `events`
  std::unique_ptr<AlertSender> alerts_;        // the phone alerts, told what the desktop is told
  std::unique_ptr<NotifierFanOut> notifiers_;  // the desktop and the phone alerts
  QTimer dailySummary_;                        // looks once a minute whether the summary is due
  std::unique_ptr<WindowPages> pages_;
  std::unique_ptr<DeliveryController> controller_;
  std::unique_ptr<WindowWatch> watch_;  // the log page, status line, tray and new sign-in

  // The "记住登录" box and the profile folder the login browsers use.
  void BindKeepLogin();
  // After a start with the switch remembered on: tells the seller when the
  // first login browser does not come back signed in.
  void WatchAutoSignIn();
};

}  // namespace autodeliver
