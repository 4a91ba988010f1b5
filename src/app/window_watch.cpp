// The window's watch over the delivery; see window_watch.h.
#include "app/window_watch.h"

#include "app/main_window.h"

namespace autodeliver {

WindowWatch::WindowWatch(MainWindow& window, DeliveryMonitor& monitor, DeliveryController& controller)
    : logPage(window.pageControls().log),
      statusLine(window.pageControls().statusLine, monitor.status(),
                 window.pageControls().deliverySwitch.timer,
                 [&controller] { return controller.IsCycleRunning(); }),
      tray(window),
      reLogin(window),
      window_(window),
      monitor_(monitor) {
  logPage.Attach(monitor.log());
  QObject::connect(&logPage, &LogPage::notificationSettingsRequested, &logPage,
                   [this] { OpenNotificationSettings(); });
  QObject::connect(&tray, &Tray::notificationSettingsRequested, &tray,
                   [this] { OpenNotificationSettings(); });

  QObject::connect(&statusLine, &StatusLine::reLoginRequested, &reLogin, [this] { reLogin.Start(); });
  QObject::connect(&tray, &Tray::reLoginRequested, &reLogin, [this] {
    tray.ShowWindow();
    reLogin.Start();
  });
  QObject::connect(&statusLine, &StatusLine::reLoginCancelled, &reLogin, &ReLogin::Cancel);
  QObject::connect(&reLogin, &ReLogin::runningChanged, &statusLine, &StatusLine::SetReLoginRunning);
  QObject::connect(&reLogin, &ReLogin::signedInAgain, &statusLine, [this] {
    monitor_.log().Write(LineLevel::kInfo, "已重新登录淘宝，新的登录信息已替换旧的，下一轮扫描起使用");
    statusLine.ReLoginDone();
  });

  QObject::connect(&statusLine, &StatusLine::loginExpiredChanged, &tray, &Tray::SetLoginExpired);
  QObject::connect(&statusLine, &StatusLine::textChanged, &tray, &Tray::SetStatusText);
  tray.SetLoginExpired(statusLine.loginLooksExpired());
  tray.SetStatusText(statusLine.text());

  QObject::connect(&window, &MainWindow::closing, &tray, [this] {
    if (dialog_) dialog_->close();
  });
}

WindowWatch::~WindowWatch() {
  logPage.Detach();
  delete dialog_.data();
}

void WindowWatch::OpenNotificationSettings() {
  if (!dialog_) {
    dialog_ = new NotificationSettingsDialog(&window_);
  } else if (!dialog_->isVisible()) {
    dialog_->Load();
  }
  dialog_->show();
  dialog_->raise();
  dialog_->activateWindow();
}

}  // namespace autodeliver
