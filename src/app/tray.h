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
// "重新登录"). "退出" closes the window, and closing the window still ends the
// program: the tray does not keep it running.
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

  // Brings the window up: shown, not minimized, in front.
  void ShowWindow();

 signals:
  void notificationSettingsRequested();
  void reLoginRequested();

 private:
  void ShowToolTip();

  QWidget& window_;
  QString status_;
  QMenu menu_;
  QSystemTrayIcon icon_;
  QAction* showWindow_;
  QAction* settings_;
  QAction* reLogin_;
  QAction* quit_;
};

}  // namespace autodeliver
