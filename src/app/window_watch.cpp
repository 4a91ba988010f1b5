// The window's watch over the delivery; see window_watch.h.
#include "app/window_watch.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "app/main_window.h"
#include "delivery/status_figures.h"

namespace autodeliver {
namespace {

// The close question while the delivery is on.
WindowWatch::CloseChoice AskCloseBox(QWidget& window, bool trayOffered) {
  QMessageBox box(QMessageBox::Question, QStringLiteral("自动发货"),
                  trayOffered ? QStringLiteral("自动发货正在运行。关闭到托盘后继续发货；退出则停止发货。")
                              : QStringLiteral("自动发货正在运行，退出后将停止发货。确定退出吗？"),
                  QMessageBox::NoButton, &window);
  QPushButton* toTray =
      trayOffered ? box.addButton(QStringLiteral("关闭到托盘"), QMessageBox::AcceptRole) : nullptr;
  QPushButton* quit = box.addButton(QStringLiteral("退出"), QMessageBox::DestructiveRole);
  QPushButton* cancel = box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
  box.setDefaultButton(toTray ? toTray : cancel);
  box.setEscapeButton(cancel);
  box.exec();
  if (toTray && box.clickedButton() == toTray) return WindowWatch::CloseChoice::kToTray;
  if (box.clickedButton() == quit) return WindowWatch::CloseChoice::kQuit;
  return WindowWatch::CloseChoice::kCancel;
}

}  // namespace

WindowWatch::WindowWatch(MainWindow& window, DeliveryMonitor& monitor, DeliveryController& controller)
    : logPage(window.pageControls().log),
      statusLine(window.pageControls().statusLine, monitor.status(),
                 window.pageControls().deliverySwitch.timer,
                 [&controller] { return controller.IsCycleRunning(); }),
      tray(window),
      reLogin(window),
      window_(window),
      monitor_(monitor),
      controller_(controller) {
  askClose = [this](bool trayOffered) { return AskCloseBox(window_, trayOffered); };
  window.SetCloseGuard([this] { return AllowClose(); });
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
  QObject::connect(&statusLine, &StatusLine::textChanged, &tray, [this] { UpdateTray(); });
  tray.SetLoginExpired(statusLine.loginLooksExpired());
  UpdateTray();

  QObject::connect(&window, &MainWindow::closing, &tray, [this] {
    if (dialog_) dialog_->close();
  });
}

bool WindowWatch::AllowClose() {
  const bool deliveryOn =
      window_.pageControls().deliverySwitch.timer->isActive() || controller_.IsCycleRunning();
  if (!deliveryOn) return true;
  switch (askClose(tray.iconShown())) {
    case CloseChoice::kQuit:
      return true;
    case CloseChoice::kToTray:
      // The deliveries go on; the tray icon brings the window back.
      window_.hide();
      return false;
    case CloseChoice::kCancel:
      return false;
  }
  return false;
}

void WindowWatch::UpdateTray() {
  const bool deliveryOn =
      window_.pageControls().deliverySwitch.timer->isActive() || controller_.IsCycleRunning();
  tray.SetStatusText(statusLine.text());
  tray.SetAttention(QString::fromStdString(TrayAttentionText(monitor_.status().Figures(), deliveryOn)));
}

WindowWatch::~WindowWatch() {
  logPage.Detach();
  delete dialog_.data();
}

void WindowWatch::OpenNotificationSettings() {
  if (!dialog_) {
    dialog_ = new NotificationSettingsDialog(window_.shop(), &window_);
  } else if (!dialog_->isVisible()) {
    dialog_->Load();
  }
  dialog_->show();
  dialog_->raise();
  dialog_->activateWindow();
}

}  // namespace autodeliver
