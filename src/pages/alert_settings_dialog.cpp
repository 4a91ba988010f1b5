// The alert channels' dialog; see alert_settings_dialog.h.
#include "pages/alert_settings_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <ctime>

#include "pages/settings_form.h"

namespace autodeliver {
namespace {

QString FailureText() { return QStringLiteral("设置无法写入配置表或密钥文件，请检查数据文件夹后再试。"); }

QString Q(const std::string& utf8) { return QString::fromStdString(utf8); }
std::string S(const QLineEdit* edit) { return edit->text().trimmed().toStdString(); }

QLineEdit* Edit(QWidget* parent, const QString& name, const QString& hint, bool secret) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setPlaceholderText(hint);
  if (secret) edit->setEchoMode(QLineEdit::Password);
  edit->setMinimumWidth(380);
  return edit;
}

}  // namespace

AlertSettingsDialog::AlertSettingsDialog(ShopContext& shop, QWidget* parent) : QDialog(parent), shop_(shop) {
  setWindowTitle(QStringLiteral("手机提醒设置"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(
      QStringLiteral("通知设置里勾选的情况出现时，除了桌面通知，也经下面开启的渠道发到手机。"), this));
  auto* tabs = new QTabWidget(this);
  tabs->setObjectName(QStringLiteral("提醒渠道"));

  auto* common = new QWidget(tabs);
  auto* form = new QFormLayout(common);
  shopName_ = Edit(common, QStringLiteral("店铺名称"), QStringLiteral("写在每条提醒里，例如店铺名"), false);
  form->addRow(QStringLiteral("店铺名称："), shopName_);
  repeatMinutes_ = new QSpinBox(common);
  repeatMinutes_->setObjectName(QStringLiteral("同类间隔分钟"));
  repeatMinutes_->setRange(0, 24 * 60);
  repeatMinutes_->setSuffix(QStringLiteral(" 分钟"));
  form->addRow(QStringLiteral("同一宝贝的同类提醒至少间隔："), repeatMinutes_);
  summary_ =
      new QCheckBox(QStringLiteral("每天发送一次每日汇总（今日发货、未送达、等待补货、库存偏低）"), common);
  summary_->setObjectName(QStringLiteral("每日汇总"));
  form->addRow(summary_);
  summaryHour_ = new QSpinBox(common);
  summaryHour_->setObjectName(QStringLiteral("每日汇总时刻"));
  summaryHour_->setRange(0, 23);
  summaryHour_->setSuffix(QStringLiteral(" 点"));
  form->addRow(QStringLiteral("每日汇总发送时刻："), summaryHour_);
  showSecrets_ = new QCheckBox(QStringLiteral("显示密钥（网址、签名密钥和邮箱密码）"), common);
  showSecrets_->setObjectName(QStringLiteral("显示密钥"));
  form->addRow(showSecrets_);
  connect(showSecrets_, &QCheckBox::toggled, this, &AlertSettingsDialog::SetSecretsShown);
  tabs->addTab(common, QStringLiteral("常规"));

  for (const AlertChannelKind kind : kAllAlertChannels) {
    auto* page = new QWidget(tabs);
    auto* rows = new QFormLayout(page);
    ChannelFields f;
    f.enabled = switches_.Add(kind, QStringLiteral("开启此渠道"), page);
    rows->addRow(f.enabled);
    switch (kind) {
      case AlertChannelKind::kSignedRobot:
        f.url = Edit(page, QStringLiteral("网址"), QStringLiteral("机器人的 Webhook 网址（含 access_token）"),
                     true);
        rows->addRow(QStringLiteral("Webhook 网址："), f.url);
        f.secret = Edit(page, QStringLiteral("签名密钥"),
                        QStringLiteral("机器人安全设置里的加签密钥，可不填"), true);
        rows->addRow(QStringLiteral("加签密钥："), f.secret);
        break;
      case AlertChannelKind::kTextRobot:
        f.url = Edit(page, QStringLiteral("网址"), QStringLiteral("机器人的 Webhook 网址（含 key）"), true);
        rows->addRow(QStringLiteral("Webhook 网址："), f.url);
        break;
      case AlertChannelKind::kPushApp:
        f.url = Edit(page, QStringLiteral("网址"), QStringLiteral("推送应用给你的发送网址"), true);
        rows->addRow(QStringLiteral("推送网址："), f.url);
        f.method = new QComboBox(page);
        f.method->setObjectName(QStringLiteral("方式"));
        f.method->addItems({QStringLiteral("GET（标题和内容放在网址里）"), QStringLiteral("POST（表单）")});
        rows->addRow(QStringLiteral("发送方式："), f.method);
        break;
      case AlertChannelKind::kJsonWebhook:
        f.url = Edit(page, QStringLiteral("网址"), QStringLiteral("接收 JSON 的网址"), true);
        rows->addRow(QStringLiteral("网址："), f.url);
        rows->addRow(new QLabel(
            QStringLiteral("以 POST 发送一个 JSON 对象：kind、title、text、item、shop、time、timestamp。"),
            page));
        break;
      case AlertChannelKind::kMail:
        f.server = Edit(page, QStringLiteral("服务器"),
                        QStringLiteral("smtps://smtp.example.com:465 或 smtp://…:587"), false);
        rows->addRow(QStringLiteral("SMTP 服务器："), f.server);
        f.user = Edit(page, QStringLiteral("用户"), QStringLiteral("登录邮箱的用户名"), false);
        rows->addRow(QStringLiteral("用户名："), f.user);
        f.password = Edit(page, QStringLiteral("密码"), QStringLiteral("邮箱密码或授权码"), true);
        rows->addRow(QStringLiteral("密码："), f.password);
        f.from = Edit(page, QStringLiteral("发件人"), QStringLiteral("发件人地址"), false);
        rows->addRow(QStringLiteral("发件人："), f.from);
        f.to = Edit(page, QStringLiteral("收件人"), QStringLiteral("收件人地址，多个用逗号隔开"), false);
        rows->addRow(QStringLiteral("收件人："), f.to);
        rows->addRow(
            new QLabel(QStringLiteral("邮件只经加密连接发送（smtps，或 smtp 加 STARTTLS）。"), page));
        break;
    }
    f.test = new QPushButton(QStringLiteral("发送测试消息"), page);
    f.test->setObjectName(QStringLiteral("发送测试消息"));
    f.answer = new QLabel(page);
    f.answer->setObjectName(QStringLiteral("测试结果"));
    f.answer->setWordWrap(true);
    f.answer->setTextInteractionFlags(Qt::TextSelectableByMouse);
    rows->addRow(f.test, f.answer);
    connect(f.test, &QPushButton::clicked, this, [this, kind] { SendTest(kind); });
    fields_[kind] = f;
    tabs->addTab(page, QString::fromUtf8(AlertChannelCaption(kind)));
  }
  layout->addWidget(tabs);

  failure_ = AddFailureLine(this, layout, FailureText());
  AddOkAndCancel(this, layout);
  Load();
}

AlertSettingsDialog::~AlertSettingsDialog() {
  // The tests in flight stop within about a second; their answers are
  // dropped with the dialog.
  closing_->store(true);
  for (std::thread& t : tests_) t.join();
}

void AlertSettingsDialog::Load() {
  const AlertSettings s = LoadAlertSettings(shop_);
  shopName_->setText(Q(s.shopName));
  repeatMinutes_->setValue(s.repeatMinutes);
  summary_->setChecked(s.dailySummary);
  summaryHour_->setValue(s.summaryHour);
  switches_.Show([&s](AlertChannelKind kind) { return s.channel(kind).enabled; });
  for (auto& [kind, f] : fields_) {
    const AlertChannel& c = s.channel(kind);
    if (f.url) f.url->setText(Q(c.url));
    if (f.secret) f.secret->setText(Q(c.signingSecret));
    if (f.method) f.method->setCurrentIndex(c.pushWithPost ? 1 : 0);
    if (f.server) {
      f.server->setText(Q(c.mailServer));
      f.user->setText(Q(c.mailUser));
      f.password->setText(Q(c.mailPassword));
      f.from->setText(Q(c.mailFrom));
      f.to->setText(Q(c.mailTo));
    }
    f.answer->clear();
  }
  failure_->hide();
}

AlertSettings AlertSettingsDialog::Current() const {
  AlertSettings s;
  s.shopName = S(shopName_);
  s.repeatMinutes = repeatMinutes_->value();
  s.dailySummary = summary_->isChecked();
  s.summaryHour = summaryHour_->value();
  for (const auto& [kind, f] : fields_) {
    AlertChannel& c = s.channel(kind);
    c.enabled = switches_.On(kind);
    if (f.url) c.url = S(f.url);
    if (f.secret) c.signingSecret = S(f.secret);
    if (f.method) c.pushWithPost = f.method->currentIndex() == 1;
    if (f.server) {
      c.mailServer = S(f.server);
      c.mailUser = S(f.user);
      c.mailPassword = f.password->text().toStdString();  // a password keeps its blanks
      c.mailFrom = S(f.from);
      c.mailTo = S(f.to);
    }
  }
  return s;
}

bool AlertSettingsDialog::Store() {
  const Status stored = StoreAlertSettings(shop_, Current());
  ShowFailure(failure_, FailureText(), stored);
  return stored.ok();
}

void AlertSettingsDialog::accept() {
  if (Store()) QDialog::accept();
}

void AlertSettingsDialog::SetSecretsShown(bool shown) {
  for (auto& [kind, f] : fields_) {
    for (QLineEdit* edit : {f.url, f.secret, f.password}) {
      if (edit) edit->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password);
    }
  }
}

void AlertSettingsDialog::SendTest(AlertChannelKind kind) {
  const AlertSettings settings = Current();
  AlertChannel channel = settings.channel(kind);
  channel.enabled = true;  // a test goes out whether or not the channel is on yet
  const ChannelFields& f = fields_.at(kind);
  if (!channel.Usable()) {
    f.answer->setText(kind == AlertChannelKind::kMail ? QStringLiteral("请先填写服务器、发件人和收件人。")
                                                      : QStringLiteral("请先填写网址。"));
    return;
  }
  Alert alert;
  alert.kind = "test";
  alert.title = "测试消息";
  alert.text = "这是一条测试消息，收到说明手机提醒已设置好。";
  alert.shop = settings.shopName.empty() ? "（未填写店铺名称）" : settings.shopName;
  alert.at = std::time(nullptr);
  f.test->setEnabled(false);
  f.answer->setText(QStringLiteral("正在发送……"));
  // The destructor joins this thread before the dialog goes, so the dialog
  // outlives it; a queued call to a dialog gone by then is dropped by Qt.
  AlertSettingsDialog* dialog = this;
  auto closing = closing_;
  tests_.emplace_back([dialog, closing, channel, alert, kind] {
    const ChannelAnswer answer = SendThroughChannel(channel, alert, closing.get());
    if (closing->load()) return;
    const QString text = (answer.ok ? QStringLiteral("发送成功：") : QStringLiteral("发送失败：")) +
                         Q(WithoutSecrets(answer.detail, channel.Secrets()));
    QMetaObject::invokeMethod(
        dialog,
        [dialog, kind, text, ok = answer.ok] {
          const ChannelFields& f = dialog->fields_.at(kind);
          f.answer->setText(text);
          f.test->setEnabled(true);
          emit dialog->testAnswered(kind, ok);
        },
        Qt::QueuedConnection);
  });
}

}  // namespace autodeliver
