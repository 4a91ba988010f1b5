// The start-up sequence against a loopback imitation of the maker's service
// and the login page, with scripted answers to its prompts.
#include "app/startup.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <algorithm>
#include <cstdlib>

#include "app/layout_widgets.h"
#include "app/list_columns.h"
#include "app/login_browser.h"
#include "app/main_window.h"
#include "app/window_prompts.h"
#include "app_test_support.h"
#include "market/hosts.h"
#include "store/shop_context.h"
#include "store/shop_paths.h"
#include "x_windows.h"

namespace autodeliver {
namespace {

using testing_support::FakePrompts;
using testing_support::LoopbackServer;
using testing_support::WaitFor;

// The maker's service and the login page on one loopback server; the
// update answer is set per test.
class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    server_.server.Get("/plugin.php", [this](const httplib::Request& req, httplib::Response& res) {
      const std::string id = req.get_param_value("id");
      if (id == "network_ver:msg") res.set_content(notice, "text/html; charset=utf-8");
      if (id == "network_ver:updata") res.set_content(update, "text/html; charset=utf-8");
    });
    server_.server.Get("/", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("<html><body>login</body></html>", "text/html");
    });
    server_.Start();
    setenv("AUTODELIVER_SERVICE_HOST", server_.HostPort().c_str(), 1);
    setenv("AUTODELIVER_LOGIN_HOST", server_.HostPort().c_str(), 1);
    setenv("AUTODELIVER_LOGIN_SCHEME", "http", 1);
    // The IM client is found through a stored path that names a file.
    options.imClientLookup = ImClientLookup{[] { return std::string("/bin/sh"); },
                                            [this](const std::string& p) { stored.push_back(p); },
                                            [] { return std::optional<std::string>(); },
                                            {}};
  }

  std::string notice = "[check]no_msg[check][msg]nothing[msg]";
  std::string update = "[msg][update]<br />ver=1.0.0.1007<br />gx=none[msg]";
  StartupOptions options;
  std::vector<std::string> stored;
  QTemporaryDir dir_;
  ShopContext shop_{dir_.path().toStdString()};  // update.ini is written into its folder
  LoopbackServer server_;
};

TEST_F(StartupTest, RunsEveryStepWhenNothingEndsTheProgram) {
  notice = "[check]1[check][msg]第一行\\n第二行<br />[msg]";
  MainWindow window(shop_);
  window.show();
  FakePrompts prompts;
  QString titleAtNotice;
  prompts.onBox = [&] { titleAtNotice = window.windowTitle(); };

  ASSERT_TRUE(RunStartupSequence(window, prompts, options));

  // The notice came first, before the title changed.
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].caption, "通知");
  EXPECT_EQ(prompts.boxes[0].kind, BoxKind::kInformation);
  EXPECT_EQ(prompts.boxes[0].text, "第一行\r\n第二行<br />");
  EXPECT_EQ(titleAtNotice, MainWindow::DesignTitle());
  EXPECT_TRUE(prompts.endedWith.empty());

  EXPECT_EQ(window.windowTitle(), QStringLiteral("自动发货系统 - 1.0.0.1007 (Build 2012-11-20 Release)"));

  const QUrl login(QString::fromStdString("http://" + server_.HostPort() + "/"));
  ASSERT_TRUE(WaitFor([&] { return window.LoginBrowser()->url() == login; }));

  // Both lists alternate between the attributes frame's and the page
  // control's backgrounds; the grid is left to its own colours.
  for (const char* name : {"超级列表框1", "超级列表框2"}) {
    SCOPED_TRACE(name);
    auto* list = window.findChild<QAbstractItemView*>(QString::fromUtf8(name));
    EXPECT_TRUE(list->alternatingRowColors());
    EXPECT_EQ(list->palette().color(QPalette::Base), ColorRef(0xF7F0EA));
    EXPECT_EQ(list->palette().color(QPalette::AlternateBase), ColorRef(0xFFFFFF));
    EXPECT_EQ(list->palette().color(QPalette::Text), QColor(Qt::black));
  }
  auto* grid = window.findChild<QTableView*>(QStringLiteral("高级表格1"));
  EXPECT_FALSE(grid->alternatingRowColors());

  EXPECT_EQ(window.findChild<QPlainTextEdit*>(QStringLiteral("编辑框3"))->toPlainText(),
            QStringLiteral(" → 在此处输入需要添加入库的卡密以及卡号\n格式：\n卡密 卡号\n卡密1 卡号1\n"
                           "卡密2 卡密2\n注：就算没有卡密，也要填0"));

  const QStringList texts = {"宝贝名称", "订单编号", "买家旺旺", "购买数量",
                             "已发卡号", "已发卡密", "已发备注", "发货时间"};
  const int widths[] = {140, 200, 90, 90, 200, 200, 200, 200};
  ASSERT_NE(grid->model(), nullptr);
  ASSERT_EQ(grid->model()->columnCount(), 8);
  EXPECT_EQ(grid->model()->rowCount(), 0);
  for (int c = 0; c < 8; ++c) {
    EXPECT_EQ(grid->model()->headerData(c, Qt::Horizontal).toString(), texts[c]);
    EXPECT_EQ(grid->columnWidth(c), widths[c]);
  }
  // The stored path named a file: nothing was written.
  EXPECT_TRUE(stored.empty());
  EXPECT_FALSE(window.PagesPrepared());
}

TEST_F(StartupTest, TitlePlaceholderIsReplacedWhereverItStands) {
  const struct {
    const char* before;
    const char* after;
  } cases[] = {
      {"自动发货系统 - {版本号}", "自动发货系统 - 1.0.0.1007 (Build 2012-11-20 Release)"},
      {"{版本号}/{版本号}", "1.0.0.1007 (Build 2012-11-20 Release)/1.0.0.1007 (Build 2012-11-20 Release)"},
      {"无版本号", "无版本号"},
  };
  for (const auto& c : cases) {
    MainWindow window(shop_);
    window.setWindowTitle(QString::fromUtf8(c.before));
    FakePrompts prompts;
    ASSERT_TRUE(RunStartupSequence(window, prompts, options));
    EXPECT_EQ(window.windowTitle(), QString::fromUtf8(c.after));
  }
}

// The update prompt: Yes opens the forum page and ends the program before
// any later step; No lets start-up go on.
TEST_F(StartupTest, UpdatePromptYesEndsTheProgramNoGoesOn) {
  update = "[msg][update]<br />ver=1.0.0.0999<br />gx=修复了\\n两个问题[msg]";
  for (BoxAnswer answer : {BoxAnswer::kYes, BoxAnswer::kNo}) {
    const bool yes = answer == BoxAnswer::kYes;
    SCOPED_TRACE(yes ? "Yes" : "No");
    MainWindow window(shop_);
    FakePrompts prompts;
    prompts.answers = {answer};
    const bool goOn = RunStartupSequence(window, prompts, options);
    EXPECT_EQ(goOn, !yes);

    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].caption, "检测更新");
    EXPECT_EQ(prompts.boxes[0].kind, BoxKind::kQuestion);
    EXPECT_EQ(prompts.boxes[0].text,
              "发现新版本1.0.0.0999\r\n\r\n修复了\r\n两个问题\r\n\r\n是否立即在线更新\r\n"
              "注:如果不更新继续使用版本可能会导致未知错误");
    const std::string forum = "http://" + server_.HostPort() + "/thread-51-1-1.html";
    if (yes) {
      EXPECT_EQ(prompts.endedWith, std::vector<int>{0});
      EXPECT_EQ(prompts.pages, std::vector<std::string>{forum});
      // Nothing after the update check ran.
      EXPECT_EQ(window.windowTitle(), MainWindow::DesignTitle());
      EXPECT_TRUE(window.LoginBrowser()->url().isEmpty());
      EXPECT_TRUE(window.findChild<QPlainTextEdit*>(QStringLiteral("编辑框3"))->toPlainText().isEmpty());
      EXPECT_EQ(window.findChild<QTableView*>(QStringLiteral("高级表格1"))->model(), nullptr);
    } else {
      EXPECT_TRUE(prompts.endedWith.empty());
      EXPECT_TRUE(prompts.pages.empty());
      EXPECT_NE(window.windowTitle(), MainWindow::DesignTitle());
      EXPECT_FALSE(window.findChild<QPlainTextEdit*>(QStringLiteral("编辑框3"))->toPlainText().isEmpty());
    }
  }
}

TEST_F(StartupTest, MissingImClientEndsTheProgramAfterTheMessageAndDownloadPage) {
  setenv("AUTODELIVER_WEB_HOST", server_.HostPort().c_str(), 1);
  options.imClientLookup->storedPath = [] { return std::string("/nonexistent/AliIM.exe"); };
  MainWindow window(shop_);
  FakePrompts prompts;
  EXPECT_FALSE(RunStartupSequence(window, prompts, options));
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].text, "您如果需要使用自动发货功能，请先安装 阿里旺旺(卖家版)");
  EXPECT_EQ(prompts.boxes[0].caption, "错误");
  EXPECT_EQ(prompts.boxes[0].kind, BoxKind::kError);
  EXPECT_EQ(prompts.pages, std::vector<std::string>{"http://" + server_.HostPort() +
                                                    "/go/chn/aliwangwang/index.php?spm=0.0.0.51.LfwhjZ"});
  EXPECT_EQ(prompts.endedWith, std::vector<int>{0});
  EXPECT_TRUE(stored.empty());
}

// The part of `widget` that its ancestors leave in sight, in the
// coordinates of `window`.
QRect SeenPart(QWidget& widget, QWidget& window) {
  QRect seen(widget.mapTo(&window, QPoint(0, 0)), widget.size());
  for (QWidget* p = widget.parentWidget(); p != nullptr && p != &window; p = p->parentWidget()) {
    seen &= QRect(p->mapTo(&window, QPoint(0, 0)), p->size());
  }
  return seen & window.rect();
}

// Start-up as the program runs it: the window is shown and the sequence
// runs with the re-layout held back. The browser holder stays below the
// visible area while any start-up box is up, a size change made meanwhile
// is laid out once the sequence has returned, and a sequence that ends the
// program leaves the holder where it was.
TEST_F(StartupTest, LoginPageComesOnlyOnceTheSequenceHasReturned) {
  notice = "[check]1[check][msg]通知正文[msg]";
  update = "[msg][update]<br />ver=1.0.0.1008<br />gx=新版[msg]";
  for (const bool clientMissing : {false, true}) {
    SCOPED_TRACE(clientMissing ? "IM client missing" : "IM client found");
    if (clientMissing)
      options.imClientLookup->storedPath = [] { return std::string("/nonexistent/AliIM.exe"); };
    MainWindow window(shop_);
    auto* holder = window.findChild<QFrame*>(QStringLiteral("图片框2"));
    FakePrompts prompts;
    prompts.answers = {BoxAnswer::kNo};
    std::vector<std::string> captionsWithHolderOutOfSight;
    prompts.onBox = [&] {
      EXPECT_TRUE(window.isVisible());
      if (holder->geometry().top() == 1000 && SeenPart(*holder, window).isEmpty())
        captionsWithHolderOutOfSight.push_back(prompts.boxes.back().caption);
      if (prompts.boxes.size() == 1) window.resize(900, 600);
    };

    const bool goOn = ShowAndRunStartup(window, prompts, options);

    EXPECT_EQ(goOn, !clientMissing);
    std::vector<std::string> captions;
    for (const auto& box : prompts.boxes) captions.push_back(box.caption);
    const std::vector<std::string> expected = clientMissing
                                                  ? std::vector<std::string>{"通知", "检测更新", "错误"}
                                                  : std::vector<std::string>{"通知", "检测更新"};
    EXPECT_EQ(captions, expected);
    EXPECT_EQ(captionsWithHolderOutOfSight, expected);
    ASSERT_TRUE(WaitFor([&] { return window.size() == QSize(900, 600); }));
    if (clientMissing) {
      EXPECT_EQ(holder->geometry().top(), 1000);
    } else {
      // The page control ends above the status line.
      const int pages = 600 - 104 - MainWindow::kStatusLineHeight;
      EXPECT_EQ(window.findChild<QWidget*>(QStringLiteral("高级选择夹1"))->geometry(),
                QRect(0, 104, 900, pages));
      EXPECT_EQ(holder->geometry(), QRect(1, 27, 898, pages - 28));
      EXPECT_TRUE(holder->isVisible());
      EXPECT_EQ(SeenPart(*holder, window), QRect(1, 104 + 27, 898, pages - 28));
    }
  }
}

// Window prompts as the program has them (the boxes stand over the main
// window); the pages they would open in the browser and the end of the
// program are only noted (a real end would stop every later event loop of
// the test process). While a box is up, `whileUp` runs with it.
class OwnedPrompts : public WindowPrompts {
 public:
  using WindowPrompts::WindowPrompts;
  BoxAnswer ShowBox(const std::string& text, const std::string& caption, BoxKind kind) override {
    QTimer::singleShot(0, qApp, [this] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (box != nullptr && box->isVisible()) return whileUp(*box);
      }
      ADD_FAILURE() << "no box is up";
    });
    return WindowPrompts::ShowBox(text, caption, kind);
  }
  void OpenPage(const std::string& url) override { pages.push_back(url); }
  void EndProgram(int exitCode) override { endedWith.push_back(exitCode); }

  std::function<void(QMessageBox&)> whileUp;
  std::vector<std::string> pages;
  std::vector<int> endedWith;
};

// Under an X server without a window manager, every start-up box stands
// above the main window, holds the input focus and names the main window's
// native window as its transient parent, also once the login browser's
// window was taken into the main window while a box was up.
TEST_F(StartupTest, StartupBoxesStandAboveTheMainWindowAndHoldTheFocus) {
  if (QGuiApplication::platformName() != QStringLiteral("xcb")) GTEST_SKIP() << "needs an X server";
  notice = "[check]1[check][msg]通知正文[msg]";
  update = "[msg][update]<br />ver=1.0.0.1008<br />gx=新版[msg]";
  options.imClientLookup->storedPath = [] { return std::string("/nonexistent/AliIM.exe"); };
  MainWindow window(shop_);
  OwnedPrompts prompts(&window);
  struct Seen {
    QString caption;
    bool above = false, focused = false, transientForWindow = false;
  };
  std::vector<Seen> seen;
  prompts.whileUp = [&](QMessageBox& box) {
    Seen s{box.windowTitle()};
    // The login browser runs from the login page on (the last box): once
    // its window is taken in, the main window has the native window it
    // keeps.
    if (window.LoginBrowser()->running()) {
      EXPECT_TRUE(WaitFor([&] { return window.LoginBrowser()->embedded(); }));
    }
    const auto boxId = static_cast<unsigned long>(box.winId());
    WaitFor(
        [&] {
          const auto mainId = static_cast<unsigned long>(window.internalWinId());
          const auto stack = testing_support::ViewableTopLevels().value_or(std::vector<unsigned long>());
          const auto boxAt = std::find(stack.begin(), stack.end(), boxId);
          const auto mainAt = std::find(stack.begin(), stack.end(), mainId);
          s.above = boxAt != stack.end() && mainAt != stack.end() && boxAt > mainAt;
          s.focused = testing_support::InputFocusWindow() == boxId;
          s.transientForWindow = testing_support::TransientFor(boxId) == mainId;
          return s.above && s.focused && s.transientForWindow;
        },
        5000);
    seen.push_back(s);
    box.button(box.standardButtons() & QMessageBox::No ? QMessageBox::No : QMessageBox::Ok)->click();
  };
  QTimer bound;
  bound.setSingleShot(true);
  QObject::connect(&bound, &QTimer::timeout, [] {
    // Never hang: close whatever box is open.
    if (QWidget* w = QApplication::activeModalWidget()) w->close();
  });
  bound.start(90000);

  EXPECT_FALSE(ShowAndRunStartup(window, prompts, options));

  ASSERT_EQ(seen.size(), 3u);
  const char* captions[] = {"通知", "检测更新", "错误"};
  for (std::size_t i = 0; i < seen.size(); ++i) {
    SCOPED_TRACE(captions[i]);
    EXPECT_EQ(seen[i].caption, QString::fromUtf8(captions[i]));
    EXPECT_TRUE(seen[i].above);
    EXPECT_TRUE(seen[i].focused);
    EXPECT_TRUE(seen[i].transientForWindow);
  }
  EXPECT_EQ(prompts.pages.size(), 1u);
  EXPECT_EQ(prompts.endedWith, std::vector<int>{0});
}

}  // namespace
}  // namespace autodeliver
