// The small dialog "通知设置": one check box per kind of desktop
// notification (notification_settings.h), ticked when the kind is on. "确定"
// stores every switch as its row of the settings table; a row that cannot be
// written keeps the dialog open with a line saying so. "手机提醒…" opens the
// alert channels' dialog (alert_settings_dialog.h) over it.
//
// Thread safety: a QDialog; GUI thread only. The rows are read and written
// under the store lock, as the delivery thread reads them.
#pragma once

#include <QDialog>
#include <QPointer>

#include "delivery/notifier.h"
#include "pages/alert_settings_dialog.h"
#include "pages/settings_form.h"

class QLabel;

namespace autodeliver {

class ShopContext;

class NotificationSettingsDialog : public QDialog {
  Q_OBJECT

 public:
  explicit NotificationSettingsDialog(ShopContext& shop, QWidget* parent = nullptr);

  // Reads the switches anew into the boxes (done when the dialog is built
  // and each time the program opens it).
  void Load();
  // Stores the boxes; false when a row could not be written.
  bool Store();

  QCheckBox* box(NotificationKind kind) const { return switches_.at(kind); }
  // Opens the alert channels' dialog (read anew), or brings it up.
  void OpenAlertSettings();
  AlertSettingsDialog* alertSettings() const { return alerts_.data(); }

 public slots:
  void accept() override;

 private:
  ShopContext& shop_;
  Switches<NotificationKind> switches_;
  QLabel* failure_;
  QPointer<AlertSettingsDialog> alerts_;
};

}  // namespace autodeliver
