// The window's side of the program's standing watch over the delivery
// (delivery/monitor.h): the log page fed by the delivery log, the status
// line over the status figures and the delivery timer, the tray icon with
// its menu, the notification settings dialog and the new sign-in
// ("重新登录") when the login looks expired, wired to each other:
//
//   - "通知设置" on the log page or in the tray menu opens the dialog;
//   - the status line's "重新登录", or the tray's, opens a new login
//     browser on page 0 (relogin.h); its sign-in is written to the log and
//     shown in the status line until the next cycle confirms it;
//   - the tray offers "重新登录" while the login looks expired and repeats
//     the status line in its hover text;
//   - the window's end closes the dialog, so closing the window still ends
//     the program.
//
// The program (application.h) builds it once the delivery controller
// exists and destroys it first.
//
// Thread safety: GUI thread only; the log page's line receiver runs on the
// delivery thread (log_page.h).
#pragma once

#include <QPointer>
#include <functional>
#include <memory>

#include "app/relogin.h"
#include "app/tray.h"
#include "delivery/controller.h"
#include "delivery/monitor.h"
#include "pages/log_page.h"
#include "pages/notification_settings_dialog.h"
#include "pages/status_line.h"

namespace autodeliver {

class MainWindow;

class WindowWatch {
 public:
  // `window`, `monitor` and `controller` must outlive the watch.
  WindowWatch(MainWindow& window, DeliveryMonitor& monitor, DeliveryController& controller);
  ~WindowWatch();
  WindowWatch(const WindowWatch&) = delete;
  WindowWatch& operator=(const WindowWatch&) = delete;

  // Opens the notification settings dialog (read anew), or brings it up.
  void OpenNotificationSettings();
  // The dialog once opened; null before.
  NotificationSettingsDialog* notificationSettings() const { return dialog_.data(); }

  // What the seller chose when the window was closed with the delivery on.
  enum class CloseChoice { kToTray, kQuit, kCancel };
  // Asks it; `trayOffered`: "关闭到托盘" is one of the answers (only with a
  // tray icon to bring the window back). Tests replace it.
  std::function<CloseChoice(bool trayOffered)> askClose;
  // Whether closing goes on: asked only while the delivery is on.
  bool AllowClose();

  LogPage logPage;
  StatusLine statusLine;
  Tray tray;
  ReLogin reLogin;

 private:
  void UpdateTray();

  MainWindow& window_;
  DeliveryMonitor& monitor_;
  DeliveryController& controller_;
  QPointer<NotificationSettingsDialog> dialog_;
};

}  // namespace autodeliver
