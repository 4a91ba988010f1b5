// The notification switches' dialog; see notification_settings_dialog.h.
#include "pages/notification_settings_dialog.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "delivery/notification_settings.h"
#include "pages/settings_form.h"

namespace autodeliver {

namespace {

QString FailureText() { return QStringLiteral("设置无法写入配置表，请检查数据文件夹后再试。"); }

}  // namespace

NotificationSettingsDialog::NotificationSettingsDialog(ShopContext& shop, QWidget* parent)
    : QDialog(parent), shop_(shop) {
  setWindowTitle(QStringLiteral("通知设置"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("以下情况出现时，在桌面上弹出通知："), this));
  for (const NotificationKind kind : kAllNotificationKinds) {
    layout->addWidget(switches_.Add(kind, QString::fromUtf8(NotificationCaption(kind)), this,
                                    QString::fromUtf8(NotificationSettingName(kind))));
  }
  auto* alerts = new QPushButton(QStringLiteral("手机提醒…"), this);
  alerts->setObjectName(QStringLiteral("手机提醒"));
  alerts->setToolTip(QStringLiteral("同样的提醒经群机器人、推送应用或邮件发到手机"));
  connect(alerts, &QPushButton::clicked, this, &NotificationSettingsDialog::OpenAlertSettings);
  layout->addWidget(alerts, 0, Qt::AlignLeft);
  failure_ = AddFailureLine(this, layout, FailureText());
  AddOkAndCancel(this, layout);
  Load();
}

void NotificationSettingsDialog::Load() {
  switches_.Show(StoredNotificationSwitches(shop_));
  failure_->hide();
}

bool NotificationSettingsDialog::Store() {
  // A switch left as it is needs no row: a missing row means on.
  const Status stored = switches_.StoreChanged(
      StoredNotificationSwitches(shop_),
      [this](NotificationKind kind, bool on) { return SetNotificationEnabled(shop_, kind, on); });
  ShowFailure(failure_, FailureText(), stored);
  return stored.ok();
}

void NotificationSettingsDialog::OpenAlertSettings() {
  if (!alerts_) {
    alerts_ = new AlertSettingsDialog(shop_, this);
  } else if (!alerts_->isVisible()) {
    alerts_->Load();
  }
  alerts_->show();
  alerts_->raise();
  alerts_->activateWindow();
}

void NotificationSettingsDialog::accept() {
  if (Store()) QDialog::accept();
}

}  // namespace autodeliver
