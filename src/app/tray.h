// The program's icon in the desktop's system tray, with its menu: "显示窗口",
// "通知设置", "重新登录" (only while the login looks expired) and "退出". A
// click on the icon shows the window; the icon's hover text repeats the
// status line.
//
// Notifications do not go through the tray icon: the delivery monitor's
// DesktopNotifier calls the freedesktop notification service directly over
// D-Bus, which every Linux desktop answers, while QSystemTrayIcon's
// messages reach that service only through a StatusNotifier host. One
// channel, so no notification is ever shown twice.
//
// Without a system tray (QSystemTrayIcon::isSystemTrayAvailable() false, as
// on a bare X server) or without a program icon the tray icon is not shown;
// the menu and its actions exist all the same, and every command of the
// menu is also in the window (the log page's "通知设置", the status line's
// "重新登录"). "退出" closes the window; while the delivery is on, closing
// asks whether to close to the tray (the deliveries go on), to quit, or to
// cancel (window_watch.h).
//
// Thread safety: GUI thread only.
#pragma once

#include <QAction>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

class QWidget;

namespace autodeliver {

class Tray : public QObject {
  Q_OBJECT

 public:
  // `window` must outlive the tray.
  explicit Tray(QWidget& window, QObject* parent = nullptr);

  QMenu& menu() { return menu_; }
  QAction* showWindowAction() const { return showWindow_; }
  QAction* settingsAction() const { return settings_; }
  QAction* reLoginAction() const { return reLogin_; }
  QAction* quitAction() const { return quit_; }
  // The icon is in the tray.
  bool iconShown() const { return icon_.isVisible(); }

  // Offers "重新登录" or takes it away.
  void SetLoginExpired(bool expired);
  // The icon's hover text.
  void SetStatusText(const QString& text);
  // Something needs the seller (the IM client away, the login expired, the
  // delivery off): the icon changes to a warning sign and the hover text
  // starts with `reason`; empty puts the program's icon back.
  void SetAttention(const QString& reason);
  const QString& attention() const { return attention_; }
  QString toolTip() const { return icon_.toolTip(); }

  // Brings the window up: shown, not minimized, in front.
  void ShowWindow();

 signals:
  void notificationSettingsRequested();
  void reLoginRequested();

 private:
  // The window title (it names the shop), why the icon warns, and the status.
  void UpdateToolTip();

  QWidget& window_;
  QMenu menu_;
  QSystemTrayIcon icon_;
  QAction* showWindow_;
  QAction* settings_;
  QAction* reLogin_;
  QAction* quit_;
  QString statusText_;
  QString attention_;
};

}  // namespace autodeliver
