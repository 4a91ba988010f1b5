// The dialog "手机提醒设置": the seller's alert channels (alerts/), one tab
// each, and the common settings (the shop's name in every alert, the
// interval between alerts of one kind and item, the daily summary and its
// hour). The URLs, keys and the mail password show masked ("显示密钥" shows
// them while ticked). Each channel's "发送测试消息" sends a test message
// through what the tab holds now, on a thread of its own, and shows the
// answer under the button. "确定" stores everything (alerts/alert_settings.h);
// what cannot be written keeps the dialog open with a line saying so.
//
// Thread safety: a QDialog; GUI thread only. A test message in flight is
// abandoned when the dialog goes (its answer is then dropped).
#pragma once

#include <QDialog>
#include <atomic>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "alerts/alert_settings.h"
#include "pages/settings_form.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace autodeliver {

class ShopContext;

class AlertSettingsDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AlertSettingsDialog(ShopContext& shop, QWidget* parent = nullptr);
  ~AlertSettingsDialog() override;

  // Reads the settings anew into the fields.
  void Load();
  // The settings as the fields hold them.
  AlertSettings Current() const;
  // Stores the fields; false when something could not be written.
  bool Store();

  // The widgets of one channel's tab, for the program's tests.
  struct ChannelFields {
    QCheckBox* enabled = nullptr;
    QLineEdit* url = nullptr;
    QLineEdit* secret = nullptr;  // the signing robot only
    QComboBox* method = nullptr;  // the push app only
    QLineEdit* server = nullptr;  // mail only, as the four below
    QLineEdit* user = nullptr;
    QLineEdit* password = nullptr;
    QLineEdit* from = nullptr;
    QLineEdit* to = nullptr;
    QPushButton* test = nullptr;  // "发送测试消息"
    QLabel* answer = nullptr;     // what the test brought back
  };
  const ChannelFields& fields(AlertChannelKind kind) const { return fields_.at(kind); }

 public slots:
  void accept() override;

 signals:
  // A test message's answer was shown.
  void testAnswered(AlertChannelKind kind, bool ok);

 private:
  ShopContext& shop_;
  void SendTest(AlertChannelKind kind);
  void SetSecretsShown(bool shown);

  std::map<AlertChannelKind, ChannelFields> fields_;
  Switches<AlertChannelKind> switches_;  // the channels' "开启此渠道"
  QLineEdit* shopName_ = nullptr;
  QSpinBox* repeatMinutes_ = nullptr;
  QCheckBox* summary_ = nullptr;
  QSpinBox* summaryHour_ = nullptr;
  QCheckBox* showSecrets_ = nullptr;
  QLabel* failure_ = nullptr;
  std::shared_ptr<std::atomic<bool>> closing_ = std::make_shared<std::atomic<bool>>(false);
  std::vector<std::thread> tests_;
};

}  // namespace autodeliver
