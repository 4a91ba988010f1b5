// A developer's tool, not a test: builds the main window with its pages on
// a temporary shop (no marketplace needed), fills the items list with stock
// figures (one item below its warning level, one waiting for cards) and
// saves pictures of the screen: the items page, and the card page with the
// import preview open, and the phone alerts' dialog over the notification
// settings. Under Xvfb, with the program's font installed.
//
//   pages_screenshots OUT_DIR
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>

#include "app/main_window.h"
#include "app/window_pages.h"
#include "delivery/cycle.h"
#include "pages/alert_settings_dialog.h"
#include "pages/import_preview_dialog.h"
#include "pages/notification_settings_dialog.h"
#include "service/prompts.h"
#include "store/item_table.h"
#include "store/shop_context.h"
#include "store/stock_table.h"
#include "store/table_schema.h"
#include "store/warning_levels.h"
#include "text/gbk.h"

using namespace autodeliver;

namespace {

class SilentPrompts : public Prompts {
 public:
  BoxAnswer ShowBox(const std::string&, const std::string&, BoxKind) override { return BoxAnswer::kOk; }
  void OpenPage(const std::string&) override {}
  void EndProgram(int) override {}
};

bool Save(const QString& path) {
  QTest::qWait(400);  // let the window system draw before the picture
  const bool saved = QGuiApplication::primaryScreen()->grabWindow(0).save(path);
  std::printf("%s %s\n", saved ? "saved" : "NOT saved", qPrintable(path));
  return saved;
}

template <typename Done>
bool WaitFor(Done done) {
  return QTest::qWaitFor(done, 30000);
}

}  // namespace

int main(int argc, char** argv) {
  setenv("AUTODELIVER_LOGIN_PROGRAM", AUTODELIVER_LOGIN_EXE, 0);
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: pages_screenshots OUT_DIR\n");
    return 2;
  }
  app.setFont(QFont(QStringLiteral("WenQuanYi Micro Hei"), 9));
  const QString out = QString::fromLocal8Bit(argv[1]);
  QTemporaryDir dir;
  if (!CreateDataTables(dir.path().toStdString())) return 1;
  ShopContext shop(dir.path().toStdString());

  // Four items: plenty of stock, below the default level, switched off,
  // and one whose orders wait for cards.
  struct Item {
    const char* name;
    int cards;
  } items[] = {
      {"腾讯QQ币 10元 自动发货", 120}, {"网易一卡通 50点", 3}, {"游戏点卡 试用码", 0}, {"月卡 30天", 8}};
  for (const Item& item : items) {
    const std::string name = Utf8ToGbkLossy(item.name);
    AppendItem(shop, {name, "", 0, true});
    for (int i = 0; i < item.cards; ++i)
      AppendStockCard(shop, {name, "K" + std::to_string(100000 + i), "P" + std::to_string(i), 0});
  }
  SetWarningLevel(shop, Utf8ToGbkLossy("游戏点卡 试用码"), 0);

  SilentPrompts prompts;
  MainWindow window(shop);
  WindowPages pages(window, prompts);
  pages.stock.ShowImportPlaceholder();
  window.show();
  window.CheckSignIn(QStringLiteral("http://127.0.0.1/my_taobao.htm"));
  // A delivery cycle in which two orders of the month card waited.
  pages.waitingNeeds.CycleStarted();
  pages.waitingNeeds.OrderWaiting(PendingOrder{"T1", Utf8ToGbkLossy("月卡 30天"), 6, "buyer", "1"},
                                  WaitReason::kStockShort, 8);
  pages.waitingNeeds.OrderWaiting(PendingOrder{"T2", Utf8ToGbkLossy("月卡 30天"), 5, "buyer", "2"},
                                  WaitReason::kStockShort, 8);
  CycleResult whole;
  whole.scanOutcome = ScanOutcome::kListed;
  pages.waitingNeeds.CycleEnded(whole);
  auto* list = window.findChild<QTreeWidget*>(QStringLiteral("超级列表框1"));
  if (!WaitFor(
          [&] { return list->topLevelItem(3) && list->topLevelItem(3)->text(3) == QStringLiteral("11"); }))
    return 1;
  if (!WaitFor([&] { return !pages.items.figuresPending(); })) return 1;
  // The month card selected; the low item shows its warning colour.
  list->setCurrentItem(list->topLevelItem(3));
  pages.items.ShowAttributesOfSelection();
  if (!Save(out + "/items-page-stock.png")) return 1;

  // The card page: a paste with duplicates, the preview open.
  auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("高级选择夹1"));
  tabs->setCurrentIndex(2);
  auto* chooser = window.findChild<QComboBox*>(QStringLiteral("组合框1"));
  chooser->setCurrentIndex(0);
  pages.stock.FillStockList();
  auto* box = window.findChild<QPlainTextEdit*>(QStringLiteral("编辑框3"));
  window.activateWindow();
  box->setFocus();  // the hint gives way, the text turns black
  QTest::qWait(100);
  box->setPlainText(
      QStringLiteral("K200001 8F3K-22QP\nK100000 P0\nK200002 9X1M-77RT\nK200001 "
                     "8F3K-22QP\n只有卡号没有卡密\nK200003 4C6N-10ZW"));
  pages.stock.ImportCards();
  if (!WaitFor([&] { return pages.stock.preview() != nullptr; })) return 1;
  if (!QTest::qWaitForWindowExposed(pages.stock.preview())) return 1;
  if (!Save(out + "/import-preview.png")) return 1;
  pages.stock.preview()->reject();

  // The phone alerts: the signing robot's tab filled in, its key masked,
  // over the notification settings.
  NotificationSettingsDialog notifications(shop, &window);
  notifications.show();
  notifications.OpenAlertSettings();
  AlertSettingsDialog* alerts = notifications.alertSettings();
  const auto& robot = alerts->fields(AlertChannelKind::kSignedRobot);
  robot.enabled->setChecked(true);
  robot.url->setText(QStringLiteral("https://robot.example/send?access_token=0123456789"));
  robot.secret->setText(QStringLiteral("SEC0123456789"));
  robot.answer->setText(QStringLiteral("发送成功：HTTP 200 {\"errcode\":0,\"errmsg\":\"ok\"}"));
  alerts->findChild<QTabWidget*>(QStringLiteral("提醒渠道"))->setCurrentIndex(1);
  if (!QTest::qWaitForWindowExposed(alerts)) return 1;
  if (!Save(out + "/alert-settings.png")) return 1;
  alerts->findChild<QTabWidget*>(QStringLiteral("提醒渠道"))->setCurrentIndex(5);
  if (!Save(out + "/alert-settings-mail.png")) return 1;
  return 0;
}
