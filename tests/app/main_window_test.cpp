// The main window's layout, re-layout, sign-in check and close.
#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <ostream>

#include "app/layout_places.h"
#include "app/layout_widgets.h"
#include "app/login_browser.h"
#include "app_test_support.h"
#include "support/shop_folder.h"

// Rectangles in failures as "x,y width x height", not as bytes.
void PrintTo(const QRect& r, std::ostream* os) {
  *os << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
}

namespace autodeliver {
namespace {

using testing_support::WaitFor;

QWidget* Find(const MainWindow& window, const char* name) {
  return window.findChild<QWidget*>(QString::fromUtf8(name));
}

QRect PlaceRect(const layout::Place& place) { return QRect(place.x, place.y, place.width, place.height); }

// The text a control shows, whatever its kind.
QString TextOf(QWidget* w) {
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
  if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
  if (auto* p = qobject_cast<QPlainTextEdit*>(w)) return p->toPlainText();
  return {};
}

struct ControlCase {
  const char* name;
  const char* kind;    // class the control must be (or inherit)
  const char* parent;  // layout name of the parent, or "page0".."page4", or "window"
  const char* text;    // nullptr: not checked
  bool enabled = true;
};

// Every control of the layout that has a position, with its kind, parent,
// design-time text and enabled state; its position is the layout table's
// (layout_places.h).
const ControlCase kControls[] = {
    {"图片框1", "QLabel", "window", nullptr},
    {"高级选择夹1", "QTabWidget", "window", nullptr},
    {"标签2", "QLabel", "page0",
     "★ 注意：添加到列表的商品名称必须与您店铺中的商品名称完全一致，否则将不能正常发货"},
    {"外形框6", "QFrame", "page0", nullptr},
    {"标签3", "QLabel", "外形框6", "商品名称："},
    {"外形框5", "QFrame", "page0", nullptr},
    {"编辑框1", "QLineEdit", "外形框5", " → 在此处输入需要添加监视的商品名称"},
    {"外形框4", "QFrame", "page0", nullptr},
    {"超级按钮1", "QPushButton", "外形框4", "添加到列表"},
    {"外形框2", "QFrame", "page0", nullptr},
    {"超级列表框1", "QTreeWidget", "外形框2", nullptr},
    {"外形框7", "QFrame", "page0", nullptr},
    {"超级按钮2", "QPushButton", "外形框7", "更改名称"},
    {"外形框8", "QFrame", "page0", nullptr},
    {"超级按钮3", "QPushButton", "外形框8", "删除商品"},
    {"标签1", "QLabel", "page0", nullptr},
    {"外形框3", "QFrame", "page0", nullptr},
    {"外形框9", "QFrame", "外形框3", nullptr},
    {"标签6", "QLabel", "外形框9", " 宝贝属性设置"},
    {"标签5", "QLabel", "外形框3", "宝贝备注：\n\n\n限拍数量：\n\n\n需要卡密："},
    {"宝贝备注", "QLineEdit", "外形框3", ""},
    {"限拍数量", "QLineEdit", "外形框3", ""},
    {"选择框1", "QCheckBox", "外形框3", ""},
    {"外形框10", "QFrame", "page0", nullptr},
    {"外形框11", "QFrame", "外形框10", nullptr},
    {"标签4", "QLabel", "外形框11", " 自动发货设置"},
    {"标签7", "QLabel", "外形框10", "订单扫描间隔(秒)："},
    {"编辑框2", "QLineEdit", "外形框10", "", false},
    {"选择框2", "QCheckBox", "外形框10", "开启自动发货"},
    {"登录桌面时启动", "QCheckBox", "外形框10", "登录桌面时启动"},
    {"分组框1", "QGroupBox", "外形框10", "状态"},
    {"标签8", "QLabel", "分组框1", "未开启自动发货功能"},
    {"外形框12", "QFrame", "外形框10", nullptr},
    {"超级按钮4", "QPushButton", "外形框12", "设置"},
    {"图片框2", "QFrame", "page0", nullptr},
    {"互联网浏览器1", "autodeliver::LoginBrowserHost", "图片框2", nullptr},
    {"已发搜索框", "QLineEdit", "page1", ""},
    {"只看未送达", "QCheckBox", "page1", "只看未送达"},
    {"已发条数", "QLabel", "page1", nullptr},
    {"补发未送达框", "QFrame", "page1", nullptr},
    {"补发全部未送达", "QPushButton", "补发未送达框", "补发全部未送达"},
    {"重新发送框", "QFrame", "page1", nullptr},
    {"重新发送", "QPushButton", "重新发送框", "重新发送"},
    {"导出已发框", "QFrame", "page1", nullptr},
    {"导出已发", "QPushButton", "导出已发框", "导出…"},
    {"外形框1", "QFrame", "page1", nullptr},
    {"高级表格1", "QTableView", "外形框1", nullptr},
    {"已发提示", "QLabel", "page1", ""},
    {"标签9", "QLabel", "page2", "发货宝贝："},
    {"组合框1", "QComboBox", "page2", nullptr},
    {"外形框17", "QFrame", "page2", nullptr},
    {"外形框19", "QFrame", "外形框17", nullptr},
    {"标签11", "QLabel", "外形框19", " 卡密入库设置"},
    {"编辑框3", "QPlainTextEdit", "外形框17", ""},
    {"外形框21", "QFrame", "外形框17", nullptr},
    {"超级按钮8", "QPushButton", "外形框21", "增加入库"},
    {"外形框13", "QFrame", "page2", nullptr},
    {"外形框20", "QFrame", "外形框13", nullptr},
    {"标签10", "QLabel", "外形框20", " 库存卡密管理"},
    {"超级列表框2", "QTreeView", "外形框13", nullptr},
    {"外形框18", "QFrame", "外形框13", nullptr},
    {"超级按钮9", "QPushButton", "外形框18", "删除库存"},
    {"外形框15", "QFrame", "外形框13", nullptr},
    {"超级按钮6", "QPushButton", "外形框15", "修改卡号"},
    {"外形框16", "QFrame", "外形框13", nullptr},
    {"超级按钮7", "QPushButton", "外形框16", "修改卡密"},
    {"导出库存", "QPushButton", "外形框13", "导出…"},
    {"标签统计宝贝", "QLabel", "page3", "宝贝："},
    {"统计宝贝", "QComboBox", "page3", nullptr},
    {"统计合计", "QLabel", "page3", nullptr},
    {"发货统计框", "QFrame", "page3", nullptr},
    {"发货统计图", "QChartView", "发货统计框", nullptr},
};

TEST(MainWindowLayout, EveryControlHasItsKindParentPositionTextAndState) {
  testing::ShopFolder shop(false);    // a window touching no table
  MainWindow window(shop.context());  // not shown: the design-time layout, before any re-layout
  auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("高级选择夹1"));
  ASSERT_NE(tabs, nullptr);
  for (const ControlCase& c : kControls) {
    SCOPED_TRACE(c.name);
    QWidget* w = Find(window, c.name);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->inherits(c.kind)) << w->metaObject()->className();
    const QString parent = QString::fromUtf8(c.parent);
    if (parent == "window") {
      EXPECT_EQ(w->parentWidget(), &window);
    } else if (parent.startsWith("page")) {
      EXPECT_EQ(w->parentWidget(), tabs->widget(parent.mid(4).toInt()));
    } else {
      EXPECT_EQ(w->parentWidget(), Find(window, c.parent));
    }
    const layout::Place* place = layout::FindPlace(c.name);
    ASSERT_NE(place, nullptr) << "no place in the layout table";
    EXPECT_EQ(w->geometry(), PlaceRect(*place));
    if (c.text != nullptr) {
      EXPECT_EQ(TextOf(w), QString::fromUtf8(c.text));
    }
    EXPECT_EQ(w->isEnabledTo(w->parentWidget()), c.enabled);  // its own state
    EXPECT_FALSE(w->isHidden());
  }
  EXPECT_TRUE(TextOf(Find(window, "标签1")).startsWith(" ★ 欢迎各位卖家一起完善“自动发货系统”,论坛:http://"));
}

// The window places every control where the layout table says, once: no
// control is moved after it is placed, and no name is taken twice.
TEST(MainWindowLayout, EveryControlSitsWhereTheLayoutTablePlacesIt) {
  testing::ShopFolder shop(false);    // a window touching no table
  MainWindow window(shop.context());  // not shown: the design-time layout
  for (const layout::Place& place : layout::kPlaces) {
    SCOPED_TRACE(place.name);
    const QList<QWidget*> found = window.findChildren<QWidget*>(QString::fromUtf8(place.name));
    ASSERT_EQ(found.size(), 1);
    EXPECT_EQ(found.front()->geometry(), PlaceRect(place));
  }
  // A few rectangles of the design, spelled out here, so that a wrong entry
  // in the table is caught too.
  const struct {
    const char* name;
    QRect geometry;
  } kAnchors[] = {
      {"图片框1", {0, 0, 808, 104}},
      {"高级选择夹1", {0, 104, 794, 414}},
      {"编辑框1", {1, 1, 390, 20}},
      {"超级列表框1", {1, 1, 549, 285}},
      {"外形框10", {564, 221, 223, 181}},
      {"高级表格1", {1, 1, 790, 336}},
      {"标签11", {1, 1, 426, 20}},
      {"超级列表框2", {1, 22, 351, 320}},
      {"互联网浏览器1", {-64, -64, 1008, 904}},
      {"发货统计图", {1, 1, 790, 350}},
  };
  for (const auto& anchor : kAnchors) {
    SCOPED_TRACE(anchor.name);
    QWidget* w = Find(window, anchor.name);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->geometry(), anchor.geometry);
  }
}

TEST(MainWindowLayout, WindowPagesListsAndTimerAsDesigned) {
  testing::ShopFolder shop(false);  // a window touching no table
  MainWindow window(shop.context());
  EXPECT_EQ(window.windowTitle(), QStringLiteral("自动发货系统 - {版本号}"));
  // The design's client area of 794 x 518, and the status line under it.
  EXPECT_EQ(window.size(), QSize(794, 518 + MainWindow::kStatusLineHeight));

  auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("高级选择夹1"));
  ASSERT_EQ(tabs->count(), 5);
  EXPECT_EQ(tabs->tabText(4), QStringLiteral("运行日志"));
  EXPECT_TRUE(tabs->isTabEnabled(4));
  EXPECT_EQ(tabs->tabText(0), QStringLiteral("登陆淘宝帐号(支持旺旺在线一键登录)"));
  EXPECT_EQ(tabs->tabText(1), QStringLiteral("已发卡密"));
  EXPECT_EQ(tabs->tabText(2), QStringLiteral("卡密管理"));
  EXPECT_EQ(tabs->tabText(3), QStringLiteral("发货统计"));
  EXPECT_TRUE(tabs->isTabEnabled(0));
  EXPECT_FALSE(tabs->isTabEnabled(1));
  EXPECT_TRUE(tabs->isTabEnabled(2));
  EXPECT_FALSE(tabs->isTabEnabled(3));
  EXPECT_EQ(tabs->currentIndex(), 0);
  // The disabled caption is drawn grey.
  auto* bar = tabs->findChild<QTabBar*>();
  EXPECT_EQ(bar->palette().color(QPalette::Disabled, QPalette::WindowText), QColor(0x80, 0x80, 0x80));

  auto* items = window.findChild<QTreeWidget*>(QStringLiteral("超级列表框1"));
  ASSERT_EQ(items->columnCount(), 2);
  EXPECT_EQ(items->headerItem()->text(0), QStringLiteral("自动发货商品名称(勾选后将自动发货)"));
  EXPECT_EQ(items->headerItem()->text(1), QStringLiteral("监视状态"));
  EXPECT_EQ(items->columnWidth(0), 435);
  EXPECT_EQ(items->columnWidth(1), 90);
  EXPECT_EQ(items->palette().color(QPalette::Base), ColorRef(0xF7F0EA));

  // The pages set the models of the two big views.
  EXPECT_EQ(window.findChild<QTreeView*>(QStringLiteral("超级列表框2"))->model(), nullptr);
  auto* grid = window.findChild<QTableView*>(QStringLiteral("高级表格1"));
  EXPECT_EQ(grid->model(), nullptr);
  EXPECT_EQ(grid->verticalHeader()->defaultSectionSize(), 22);
  EXPECT_EQ(grid->horizontalHeader()->defaultSectionSize(), 60);
  EXPECT_EQ(grid->palette().color(QPalette::Base), ColorRef(0xF6EFE8));

  EXPECT_FALSE(window.findChild<QComboBox*>(QStringLiteral("组合框1"))->isEditable());
  auto* timer = window.findChild<QTimer*>(QStringLiteral("自动发货时钟"));
  ASSERT_NE(timer, nullptr);
  EXPECT_FALSE(timer->isActive());
  EXPECT_EQ(timer->parent(), Find(window, "外形框2"));

  // Placeholder colours and the frames' colours.
  EXPECT_EQ(window.findChild<QLineEdit*>(QStringLiteral("编辑框1"))->palette().color(QPalette::Text),
            ColorRef(0xC0C0C0));
  auto* import = window.findChild<QPlainTextEdit*>(QStringLiteral("编辑框3"));
  EXPECT_EQ(import->palette().color(QPalette::Text), ColorRef(0xC0C0C0));
  EXPECT_EQ(import->palette().color(QPalette::Base), ColorRef(0xF7F0EA));
  auto* attributes = window.findChild<ShapeBox*>(QStringLiteral("外形框3"));
  ASSERT_NE(attributes, nullptr);
  EXPECT_EQ(attributes->palette().color(QPalette::Window), ColorRef(0xF7F0EA));
  EXPECT_EQ(attributes->BorderColour(), ColorRef(0xDCC5AB));
  EXPECT_EQ(Find(window, "图片框1")->palette().color(QPalette::Window), ColorRef(0xFDB313));
  auto* banner = window.findChild<QLabel*>(QStringLiteral("图片框1"));
  EXPECT_EQ(banner->pixmap().size(), QSize(808, 104));
}

// The banner's texts are white on the banner's blues. At the window's
// design size the client area shows the first 794 pixels of the 808-pixel
// picture; no text may reach into the last few of them, let alone beyond.
TEST(MainWindowLayout, BannerTextsStayInsideTheVisibleWidth) {
  testing::ShopFolder shop(false);  // a window touching no table
  MainWindow window(shop.context());
  window.show();
  ASSERT_TRUE(WaitFor([&] { return window.isVisible(); }));
  auto* banner = window.findChild<QLabel*>(QStringLiteral("图片框1"));
  const QImage picture = banner->pixmap().toImage();
  ASSERT_EQ(picture.size(), QSize(808, 104));
  const int visible = banner->width();
  ASSERT_EQ(visible, 794);
  int rightmost = -1;
  for (int y = 0; y < picture.height(); ++y) {
    for (int x = 0; x < picture.width(); ++x) {
      const QColor c = picture.pixelColor(x, y);
      if (c.red() > 200 && c.green() > 200 && c.blue() > 200) rightmost = std::max(rightmost, x);
    }
  }
  // The three steps stand at the right end.
  EXPECT_GT(rightmost, visible * 3 / 4);
  EXPECT_LT(rightmost, visible - 8);
}

// The page captions must not cover the controls at the top of a page: a
// page spans the whole page control, and the caption strip ends above 27.
TEST(MainWindowLayout, PagesStartAtThePageControlsTopEdge) {
  testing::ShopFolder shop(false);  // a window touching no table
  MainWindow window(shop.context());
  window.show();
  auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("高级选择夹1"));
  for (int i = 0; i < tabs->count(); ++i) EXPECT_EQ(tabs->widget(i)->mapTo(tabs, QPoint(0, 0)), QPoint(0, 0));
  EXPECT_LE(tabs->findChild<QTabBar*>()->geometry().bottom(), 26);
}

void ExpectLaidOut(MainWindow& window) {
  const int w = window.width(), h = window.height();
  auto* banner = Find(window, "图片框1");
  auto* tabs = Find(window, "高级选择夹1");
  EXPECT_EQ(banner->geometry(), QRect(0, 0, w, 104));
  // The status line keeps the bottom strip, the page control the rest.
  const int statusTop = std::max(104, h - MainWindow::kStatusLineHeight);
  EXPECT_EQ(Find(window, "外形框状态栏")->geometry(), QRect(0, statusTop, w, MainWindow::kStatusLineHeight));
  EXPECT_EQ(tabs->geometry(), QRect(0, 104, w, statusTop - 104));
  EXPECT_EQ(Find(window, "图片框2")->geometry(),
            QRect(1, 27, std::max(0, tabs->width() - 2), std::max(0, tabs->height() - 28)));
  // The browser keeps its place inside the holder.
  EXPECT_EQ(Find(window, "互联网浏览器1")->geometry(), QRect(-64, -64, 1008, 904));
}

TEST(MainWindowLayout, RelayoutFollowsEverySizeChange) {
  testing::ShopFolder shop(false);  // a window touching no table
  MainWindow window(shop.context());
  window.show();
  ASSERT_TRUE(WaitFor([&] { return window.isVisible(); }));
  // The first size change brings the holder over page 0.
  ExpectLaidOut(window);
  EXPECT_EQ(Find(window, "图片框2")->geometry(), QRect(1, 27, 792, 386));
  for (QSize size : {QSize(1000, 700), QSize(640, 400), QSize(300, 80)}) {
    SCOPED_TRACE(size.width());
    window.resize(size);
    ASSERT_TRUE(WaitFor([&] { return window.size() == size; }));
    ExpectLaidOut(window);
  }
}

TEST(MainWindowSignIn, AddressMarkersAreCaseSensitiveAnywhere) {
  const struct {
    const char* address;
    bool signedIn;
  } cases[] = {
      {"https://login.example/member/quicklogin.htm", true},
      {"http://i.example/my_taobao.htm", true},
      {"http://i.example/page?next=my_taobao&x=1", true},
      {"http://i.example/a#quicklogin", true},
      {"https://login.example/member/QuickLogin.htm", false},
      {"http://i.example/MY_TAOBAO.htm", false},
      {"http://i.example/my-taobao.htm", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSignInAddress(c.address), c.signedIn) << c.address;
}

TEST(MainWindowSignIn, FirstSignInPreparesThePagesOnceAndEverySignInHidesTheBrowser) {
  testing::ShopFolder shop(false);  // a window touching no table
  MainWindow window(shop.context());
  window.show();
  QSignalSpy prepared(&window, &MainWindow::signedIn);
  auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("高级选择夹1"));
  auto* holder = Find(window, "图片框2");
  tabs->setCurrentIndex(2);

  window.CheckSignIn(QStringLiteral("http://127.0.0.1/member/login.jhtml"));
  EXPECT_EQ(prepared.count(), 0);
  EXPECT_FALSE(holder->isHidden());
  EXPECT_FALSE(window.PagesPrepared());
  EXPECT_FALSE(tabs->isTabEnabled(1));
  EXPECT_FALSE(tabs->isTabEnabled(3));

  window.CheckSignIn(QStringLiteral("http://127.0.0.1/my_taobao.htm"));
  EXPECT_EQ(prepared.count(), 1);
  EXPECT_TRUE(window.PagesPrepared());
  EXPECT_TRUE(holder->isHidden());
  EXPECT_EQ(tabs->tabText(0), QStringLiteral("店铺发货设置"));
  EXPECT_TRUE(tabs->isTabEnabled(1));
  EXPECT_TRUE(tabs->isTabEnabled(3));
  EXPECT_EQ(tabs->currentIndex(), 2);  // the sign-in does not switch pages

  // A later signed-in navigation hides the holder again, nothing more.
  holder->show();
  tabs->setTabText(0, QStringLiteral("x"));
  window.CheckSignIn(QStringLiteral("https://127.0.0.1/quicklogin"));
  EXPECT_EQ(prepared.count(), 1);
  EXPECT_TRUE(holder->isHidden());
  EXPECT_EQ(tabs->tabText(0), QStringLiteral("x"));

  // Resizing moves the holder but does not bring it back.
  window.resize(900, 600);
  ASSERT_TRUE(WaitFor([&] { return window.size() == QSize(900, 600); }));
  EXPECT_EQ(holder->geometry(), QRect(1, 27, 898, 600 - 104 - MainWindow::kStatusLineHeight - 28));
  EXPECT_TRUE(holder->isHidden());
}

TEST(MainWindowSignIn, DisabledPageCannotBeOpenedBeforeSignIn) {
  testing::ShopFolder shop(false);  // a window touching no table
  MainWindow window(shop.context());
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("高级选择夹1"));
  auto* bar = tabs->findChild<QTabBar*>();
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
  EXPECT_EQ(tabs->currentIndex(), 0);
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(2).center());
  EXPECT_EQ(tabs->currentIndex(), 2);
  window.CheckSignIn(QStringLiteral("http://127.0.0.1/my_taobao.htm"));
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
  EXPECT_EQ(tabs->currentIndex(), 1);
}

TEST(MainWindowLifecycle, ClosingIsNeverRefused) {
  testing::ShopFolder shop(false);  // a window touching no table
  MainWindow window(shop.context());
  window.show();
  QSignalSpy closing(&window, &MainWindow::closing);
  EXPECT_TRUE(window.close());
  EXPECT_EQ(closing.count(), 1);
  EXPECT_FALSE(window.isVisible());
}

TEST(MainWindowLifecycle, DestroyedBrowserStaysGone) {
  testing::ShopFolder shop(false);  // a window touching no table
  MainWindow window(shop.context());
  window.show();
  ASSERT_NE(window.LoginBrowser(), nullptr);
  window.DestroyLoginBrowser();
  EXPECT_EQ(window.LoginBrowser(), nullptr);
  ASSERT_TRUE(WaitFor([&] { return window.findChild<LoginBrowserHost*>() == nullptr; }));
  // Later loads and re-layouts do nothing to it.
  window.OpenLoginPage(QUrl(QStringLiteral("http://127.0.0.1:1/")));
  window.resize(700, 500);
  EXPECT_EQ(window.findChild<LoginBrowserHost*>(), nullptr);
  EXPECT_NE(Find(window, "图片框2"), nullptr);
}

}  // namespace
}  // namespace autodeliver
