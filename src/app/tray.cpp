// The tray icon and its menu; see tray.h.
#include "app/tray.h"

#include <QApplication>
#include <QStyle>
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
  connect(&window_, &QWidget::windowTitleChanged, this, [this] { UpdateToolTip(); });
  icon_.setContextMenu(&menu_);
  connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) ShowWindow();
  });
  if (QSystemTrayIcon::isSystemTrayAvailable() && !icon_.icon().isNull()) icon_.show();
}

void Tray::SetLoginExpired(bool expired) { reLogin_->setVisible(expired); }

void Tray::SetStatusText(const QString& text) {
  statusText_ = text;
  UpdateToolTip();
}

void Tray::SetAttention(const QString& reason) {
  if (reason == attention_) return;
  attention_ = reason;
  icon_.setIcon(reason.isEmpty() ? QApplication::windowIcon()
                                 : QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning));
  UpdateToolTip();
}

void Tray::UpdateToolTip() {
  QString tip = window_.windowTitle();
  if (!attention_.isEmpty()) tip += QLatin1Char('\n') + attention_;
  if (!statusText_.isEmpty()) tip += QLatin1Char('\n') + statusText_;
  icon_.setToolTip(tip);
}

void Tray::ShowWindow() {
  window_.setWindowState((window_.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  window_.show();
  window_.raise();
  window_.activateWindow();
}

}  // namespace autodeliver
