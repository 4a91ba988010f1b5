// A developer's tool, not a test: fills a temporary shop with a month of
// deliveries (two orders marked as not delivered), shows the main window
// signed in and saves pictures of the sent-cards page (searched, with the
// marks, with only the undelivered orders) and of the deliveries plot (all
// items, one item) and of the card page with its export button into the
// folder given as the only argument.
//
//   sent_cards_screenshots OUT_DIR     (under Xvfb or offscreen)
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QLineEdit>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "app/main_window.h"
#include "app/window_pages.h"
#include "app/window_prompts.h"
#include "store/delivery_counts.h"
#include "store/item_table.h"
#include "store/sent_table.h"
#include "store/shop_context.h"
#include "store/stock_table.h"
#include "store/table_schema.h"
#include "store/undelivered_orders.h"
#include "text/gbk.h"

using namespace autodeliver;
using namespace std::chrono;

namespace {

bool Save(QWidget& window, const QString& path) {
  QTest::qWait(200);
  const bool ok = window.grab().save(path);
  std::printf("%s %s\n", ok ? "saved" : "could not save", qPrintable(path));
  return ok;
}

std::string DateText(year_month_day d, int hour, int minute) {
  return std::to_string(static_cast<int>(d.year())) + "年"_gbk +
         std::to_string(static_cast<unsigned>(d.month())) + "月"_gbk +
         std::to_string(static_cast<unsigned>(d.day())) + "日"_gbk + std::to_string(hour) + "时"_gbk +
         std::to_string(minute) + "分"_gbk;
}

// A month of deliveries of three items, more towards the end.
void FillShop(ShopContext& shop) {
  const char* items[] = {"腾讯QQ币 10元 自动发货", "网易一卡通 50点", "游戏月卡"};
  const char* buyers[] = {"买家甲", "买家乙", "tb_小王", "快乐星球", "Alice88", "买家丙"};
  const sys_days today{LocalDate()};
  unsigned seed = 7;
  auto next = [&seed](unsigned n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  long long order = 1718000000100;
  for (int day = 29; day >= 0; --day) {
    const year_month_day date{today - days(day)};
    const int orders = static_cast<int>(next(4)) + (29 - day) / 6;
    for (int o = 0; o < orders; ++o) {
      const std::string item = Utf8ToGbkLossy(items[next(3)]);
      const std::string buyer = Utf8ToGbkLossy(buyers[next(6)]);
      const int quantity = 1 + static_cast<int>(next(3));
      const std::string number = std::to_string(order++);
      for (int c = 0; c < quantity; ++c) {
        const std::string card = "KM" + std::to_string(100000 + next(900000));
        AppendSentCard(shop, {item, number, buyer, quantity, card, "PW-" + std::to_string(next(10000)), "",
                              DateText(date, 8 + static_cast<int>(next(14)), static_cast<int>(next(60)))});
      }
      if (day == 0 && o == 0) UndeliveredOrders(shop).Mark(number, buyer, item);
      if (day == 2 && o == 1) UndeliveredOrders(shop).Mark(number, buyer, item);
    }
  }
  AppendItem(shop, {Utf8ToGbkLossy(items[0]), "", 0, true});
  for (int i = 0; i < 12; ++i)
    AppendStockCard(shop,
                    {Utf8ToGbkLossy(items[0]), "QB" + std::to_string(5000 + i), "P" + std::to_string(i), 0});
  AppendItem(shop, {Utf8ToGbkLossy(items[1]), "", 0, true});
}

}  // namespace

int main(int argc, char** argv) {
  setenv("AUTODELIVER_LOGIN_PROGRAM", AUTODELIVER_LOGIN_EXE, 0);
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: sent_cards_screenshots OUT_DIR\n");
    return 2;
  }
  app.setFont(QFont(QStringLiteral("WenQuanYi Micro Hei"), 9));
  const QString out = QString::fromLocal8Bit(argv[1]);
  QTemporaryDir dir;
  std::string error;
  if (!dir.isValid() || !CreateDataTables(dir.path().toStdString(), &error)) return 1;
  ShopContext shop(dir.path().toStdString());
  FillShop(shop);

  MainWindow window(shop);
  WindowPrompts prompts;
  WindowPages pages(window, prompts);
  window.show();
  window.CheckSignIn(QStringLiteral("http://127.0.0.1/my_taobao.htm"));
  auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("高级选择夹1"));
  auto* search = window.findChild<QLineEdit*>(QStringLiteral("已发搜索框"));
  auto* undelivered = window.findChild<QCheckBox*>(QStringLiteral("只看未送达"));
  auto* plotChooser = window.findChild<QComboBox*>(QStringLiteral("统计宝贝"));

  tabs->setCurrentIndex(1);
  window.findChild<QTableView*>(QStringLiteral("高级表格1"))->scrollToBottom();
  bool ok = Save(window, out + "/sent-cards-marks.png");
  search->setFocus();
  QTest::keyClicks(search, QStringLiteral("tb_"));
  ok = Save(window, out + "/sent-cards-search.png") && ok;
  search->clear();
  undelivered->click();
  ok = Save(window, out + "/sent-cards-undelivered.png") && ok;
  undelivered->click();

  tabs->setCurrentIndex(2);
  auto* chooser = window.findChild<QComboBox*>(QStringLiteral("组合框1"));
  chooser->setCurrentIndex(0);
  emit chooser->activated(0);
  ok = Save(window, out + "/card-stock-export.png") && ok;

  tabs->setCurrentIndex(3);
  ok = Save(window, out + "/deliveries-plot.png") && ok;
  plotChooser->setCurrentIndex(2);
  emit plotChooser->activated(2);
  ok = Save(window, out + "/deliveries-plot-item.png") && ok;
  return ok ? 0 : 1;
}
