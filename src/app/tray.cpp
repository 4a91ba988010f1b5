// The tray icon and its menu; see tray.h.
#include "app/tray.h"

#include <QApplication>
#include <QWidget>

namespace autodeliver {

Tray::Tray(QWidget& window, QObject* parent) : QObject(parent), window_(window) {
  showWindow_ = menu_.addAction(QStringLiteral("显示窗口"));
  settings_ = menu_.addAction(QStringLiteral("通知设置"));
  reLogin_ = menu_.addAction(QStringLiteral("重新登录"));
  menu_.addSeparator();
  quit_ = menu_.addAction(QStringLiteral("退出"));
  reLogin_->setVisible(false);
  connect(showWindow_, &QAction::triggered, this, &Tray::ShowWindow);
  connect(settings_, &QAction::triggered, this, &Tray::notificationSettingsRequested);
  connect(reLogin_, &QAction::triggered, this, &Tray::reLoginRequested);
  connect(quit_, &QAction::triggered, &window_, &QWidget::close);

  icon_.setIcon(QApplication::windowIcon());
  icon_.setToolTip(window_.windowTitle());
  // The tooltip names what the title names (the shop, the version).
  connect(&window_, &QWidget::windowTitleChanged, this, [this] { ShowToolTip(); });
  icon_.setContextMenu(&menu_);
  connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) ShowWindow();
  });
  if (QSystemTrayIcon::isSystemTrayAvailable() && !icon_.icon().isNull()) icon_.show();
}

void Tray::SetLoginExpired(bool expired) { reLogin_->setVisible(expired); }

void Tray::SetStatusText(const QString& text) {
  status_ = text;
  ShowToolTip();
}

void Tray::ShowToolTip() {
  icon_.setToolTip(status_.isEmpty() ? window_.windowTitle()
                                     : window_.windowTitle() + QLatin1Char('\n') + status_);
}

void Tray::ShowWindow() {
  window_.setWindowState((window_.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  window_.show();
  window_.raise();
  window_.activateWindow();
}

}  // namespace autodeliver
