// The notification switches' dialog; see notification_settings_dialog.h.
#include "pages/notification_settings_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "delivery/notification_settings.h"

namespace autodeliver {

NotificationSettingsDialog::NotificationSettingsDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("通知设置"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("以下情况出现时，在桌面上弹出通知："), this));
  for (const NotificationKind kind : kAllNotificationKinds) {
    auto* box = new QCheckBox(QString::fromUtf8(NotificationCaption(kind)), this);
    box->setObjectName(QString::fromUtf8(NotificationSettingName(kind)));
    layout->addWidget(box);
    boxes_[kind] = box;
  }
  auto* alerts = new QPushButton(QStringLiteral("手机提醒…"), this);
  alerts->setObjectName(QStringLiteral("手机提醒"));
  alerts->setToolTip(QStringLiteral("同样的提醒经群机器人、推送应用或邮件发到手机"));
  connect(alerts, &QPushButton::clicked, this, &NotificationSettingsDialog::OpenAlertSettings);
  layout->addWidget(alerts, 0, Qt::AlignLeft);
  failure_ = new QLabel(QStringLiteral("设置无法写入配置表，请检查数据文件夹后再试。"), this);
  failure_->setStyleSheet(QStringLiteral("color: #b01e1e;"));
  failure_->hide();
  layout->addWidget(failure_);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
  connect(buttons, &QDialogButtonBox::accepted, this, &NotificationSettingsDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &NotificationSettingsDialog::reject);
  layout->addWidget(buttons);
  Load();
}

void NotificationSettingsDialog::Load() {
  for (const auto& [kind, box] : boxes_) box->setChecked(NotificationEnabled(kind));
  failure_->hide();
}

bool NotificationSettingsDialog::Store() {
  bool stored = true;
  for (const auto& [kind, box] : boxes_) {
    // A switch left as it is needs no row: a missing row means on.
    if (box->isChecked() == NotificationEnabled(kind)) continue;
    stored = SetNotificationEnabled(kind, box->isChecked()) && stored;
  }
  failure_->setVisible(!stored);
  return stored;
}

void NotificationSettingsDialog::OpenAlertSettings() {
  if (!alerts_) {
    alerts_ = new AlertSettingsDialog(this);
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
