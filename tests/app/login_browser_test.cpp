// The login browser: pop-ups refused, cookies mirrored into the program's
// cookie store, the sign-in against the marketplace imitation; and the
// window's message boxes.
#include "app/login_browser.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <atomic>
#include <cstdlib>
#include <filesystem>

#include "app/main_window.h"
#include "app/window_pages.h"
#include "app/window_prompts.h"
#include "app_test_support.h"
#include "http/browser_cookies.h"
#include "http/cookie_store.h"
#include "market/hosts.h"
#include "store/item_table.h"
#include "store/sent_table.h"
#include "store/shop_paths.h"
#include "store/table_schema.h"

namespace autodeliver {
namespace {

using testing_support::LoopbackServer;
using testing_support::WaitFor;

// Runs `script` in the browser's page and waits for its result.
QVariant RunScript(QWebEngineView* view, const QString& script) {
  QVariant result;
  bool done = false;
  view->page()->runJavaScript(script, [&](const QVariant& v) {
    result = v;
    done = true;
  });
  EXPECT_TRUE(WaitFor([&] { return done; }));
  return result;
}

bool LoadAndWait(MainWindow& window, const QUrl& url) {
  QSignalSpy loaded(window.LoginBrowser(), &QWebEngineView::loadFinished);
  window.OpenLoginPage(url);
  return loaded.wait(30000) && loaded.takeFirst().at(0).toBool();
}

TEST(LoginBrowser, NewWindowsAreRefused) {
  LoopbackServer server;
  std::atomic<int> popupRequests{0};
  server.server.Get("/", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("<html><body><a id=l target=_blank href=/popup>x</a></body></html>", "text/html");
  });
  server.server.Get("/popup", [&](const httplib::Request&, httplib::Response& res) {
    ++popupRequests;
    res.set_content("<html>popup</html>", "text/html");
  });
  server.server.Get("/after", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("<html>after</html>", "text/html");
  });
  server.Start();
  const std::string base = "http://" + server.HostPort();
  MainWindow window;
  window.show();
  ASSERT_TRUE(LoadAndWait(window, QUrl(QString::fromStdString(base + "/"))));
  const int windowsBefore = QApplication::topLevelWidgets().size();
  RunScript(window.LoginBrowser(), "window.open('/popup'); document.getElementById('l').click(); 1");
  // The page stays where it is, and no window opens.
  EXPECT_EQ(window.LoginBrowser()->url().path(), QStringLiteral("/"));
  ASSERT_TRUE(LoadAndWait(window, QUrl(QString::fromStdString(base + "/after"))));
  EXPECT_EQ(QApplication::topLevelWidgets().size(), windowsBefore);
  EXPECT_EQ(popupRequests.load(), 0);
}

// Cookies the browser stores reach the program's store, and leave it when
// the browser drops them.
TEST(LoginBrowser, CookiesAreMirroredIntoTheProgramsStore) {
  LoopbackServer server;
  server.server.Get("/set", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Set-Cookie", "mirror_a=one; Path=/");
    res.set_content("<html>set</html>", "text/html");
  });
  server.server.Get("/clear", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Set-Cookie", "mirror_a=; Path=/; Expires=Thu, 01 Jan 1970 00:00:00 GMT");
    res.set_content("<html>clear</html>", "text/html");
  });
  server.Start();
  const std::string base = "http://" + server.HostPort();
  MainWindow window;
  ASSERT_TRUE(LoadAndWait(window, QUrl(QString::fromStdString(base + "/set"))));
  ASSERT_TRUE(WaitFor([&] { return ReadBrowserCookies(base + "/") == "mirror_a=one"; }))
      << ReadBrowserCookies(base + "/");
  ASSERT_TRUE(LoadAndWait(window, QUrl(QString::fromStdString(base + "/clear"))));
  EXPECT_TRUE(WaitFor([&] { return ReadBrowserCookies(base + "/").empty(); }))
      << ReadBrowserCookies(base + "/");
}

// The whole sign-in against the marketplace imitation: the seller signs in
// in the browser, the window prepares its pages, and the login cookies are
// there for the program's own requests.
TEST(LoginBrowser, SignInAgainstTheMarketplaceImitation) {
  const std::string sim = std::string(AUTODELIVER_BINARY_DIR) + "/tools/market_sim/autodeliver-market-sim";
  ASSERT_TRUE(std::filesystem::exists(sim)) << sim;
  QProcess process;
  process.start(QString::fromStdString(sim), {QStringLiteral("--port"), QStringLiteral("0")});
  ASSERT_TRUE(process.waitForStarted(10000));
  ASSERT_TRUE(WaitFor([&] { return process.canReadLine(); }, 20000));
  const QString first = QString::fromUtf8(process.readLine()).trimmed();
  ASSERT_TRUE(first.startsWith(QStringLiteral("listening 127.0.0.1:"))) << first.toStdString();
  const std::string hostPort = first.mid(10).toStdString();
  for (const char* var : {"AUTODELIVER_LOGIN_HOST", "AUTODELIVER_MEMBER_HOST", "AUTODELIVER_LOGISTICS_HOST",
                          "AUTODELIVER_WEB_HOST", "AUTODELIVER_SERVICE_HOST"}) {
    setenv(var, hostPort.c_str(), 1);
  }
  setenv("AUTODELIVER_LOGIN_SCHEME", "http", 1);

  // A shop with two monitored items and one delivered card.
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ASSERT_TRUE(CreateDataTables(dir.path().toStdString()));
  SetProgramDir(dir.path().toStdString());
  ASSERT_TRUE(AppendItem({"点卡A"_gbk, "", 0, true}));
  ASSERT_TRUE(AppendItem({"点卡B"_gbk, "", 0, true}));
  ASSERT_TRUE(AppendSentCard({"点卡A"_gbk, "1001", "buyer", 1, "N1", "P1", "", "2012-11-20 10:00:00"}));

  MainWindow window;
  testing_support::FakePrompts prompts;
  WindowPages pages(window, prompts);
  auto* items = window.findChild<QTreeWidget*>(QStringLiteral("超级列表框1"));
  auto* chooser = window.findChild<QComboBox*>(QStringLiteral("组合框1"));
  auto* grid = window.findChild<QTableView*>(QStringLiteral("高级表格1"));
  EXPECT_EQ(items->topLevelItemCount(), 0);
  EXPECT_EQ(chooser->count(), 0);
  window.show();
  QSignalSpy signedIn(&window, &MainWindow::signedIn);
  ASSERT_TRUE(LoadAndWait(window, QUrl(QString::fromStdString(LoginPageUrl()))));
  EXPECT_FALSE(window.PagesPrepared());
  EXPECT_TRUE(ReadBrowserCookies(LoginCookieUrl()).find("cookie2=") == std::string::npos);

  RunScript(window.LoginBrowser(),
            "document.querySelector('[name=TPL_username]').value = '测试卖家';"
            "document.querySelector('[name=TPL_password]').value = 'sim123';"
            "document.querySelector('[name=TPL_username]').form.submit(); 1");
  ASSERT_TRUE(WaitFor([&] { return window.PagesPrepared(); }));
  EXPECT_EQ(signedIn.count(), 1);
  EXPECT_TRUE(window.LoginBrowser()->url().toString().contains(QStringLiteral("my_taobao")));
  auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("高级选择夹1"));
  EXPECT_EQ(tabs->tabText(0), QStringLiteral("店铺发货设置"));
  EXPECT_TRUE(tabs->isTabEnabled(1));
  EXPECT_TRUE(window.findChild<QWidget*>(QStringLiteral("图片框2"))->isHidden());
  // The three lists were filled from the tables.
  EXPECT_EQ(items->topLevelItemCount(), 2);
  EXPECT_EQ(chooser->count(), 2);
  ASSERT_NE(grid->model(), nullptr);
  EXPECT_EQ(grid->model()->rowCount(), 1);

  // The imitation's session cookie is what the program's requests will use.
  ASSERT_TRUE(
      WaitFor([&] { return ReadBrowserCookies(LoginCookieUrl()).find("cookie2=") != std::string::npos; }));
  const std::string cookies = ReadBrowserCookies(LoginCookieUrl());
  const size_t at = cookies.find("cookie2=");
  EXPECT_EQ(cookies.find_first_of("; ", at) == std::string::npos ? cookies.size() - at - 8
                                                                 : cookies.find_first_of("; ", at) - at - 8,
            32u)
      << cookies;
  process.terminate();
  process.waitForFinished(10000);
}

// The window's message boxes: application-modal, with the icon, buttons
// and caption of their kind; the answer is the button pressed.
TEST(WindowPrompts, BoxesShowIconButtonsAndCaptionOfTheirKind) {
  const struct {
    BoxKind kind;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton press;
    BoxAnswer answer;
  } cases[] = {
      {BoxKind::kError, QMessageBox::Critical, QMessageBox::Ok, QMessageBox::Ok, BoxAnswer::kOk},
      {BoxKind::kInformation, QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok, BoxAnswer::kOk},
      {BoxKind::kQuestion, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes,
       BoxAnswer::kYes},
      {BoxKind::kQuestion, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No,
       BoxAnswer::kNo},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    WindowPrompts prompts;
    bool seen = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (box == nullptr || !box->isVisible() || seen) continue;
        seen = true;
        EXPECT_EQ(box->windowTitle(), QStringLiteral("通知"));
        EXPECT_EQ(box->text(), QStringLiteral("第一行\n第二行"));
        EXPECT_EQ(box->icon(), c.icon);
        EXPECT_EQ(box->standardButtons(), c.buttons);
        EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
        EXPECT_EQ(box->parentWidget(), nullptr);
        box->button(c.press)->click();
      }
    });
    poll.start(20);
    QTimer bound;
    bound.setSingleShot(true);
    QObject::connect(&bound, &QTimer::timeout, [] {
      // Never hang: close whatever box is open.
      if (QWidget* w = QApplication::activeModalWidget()) w->close();
    });
    bound.start(20000);
    const BoxAnswer answer = prompts.ShowBox("第一行\r\n第二行"_gbk, "通知"_gbk, c.kind);
    EXPECT_TRUE(seen);
    EXPECT_EQ(answer, c.answer);
  }
}

}  // namespace
}  // namespace autodeliver

namespace autodeliver {
namespace {

// The test entry set the engine up as the program does: the browser never
// talks to anybody by itself, and as root its sandbox is off (Chromium
// refuses to start otherwise).
TEST(LoginBrowser, EngineEnvironmentKeepsBackgroundNetworkingOff) {
  const char* flagsText = std::getenv("QTWEBENGINE_CHROMIUM_FLAGS");
  ASSERT_NE(flagsText, nullptr);
  const std::string flags = flagsText;
  for (const char* flag :
       {"--disable-background-networking", "--disable-component-update", "--disable-sync"}) {
    EXPECT_NE(flags.find(flag), std::string::npos) << flag;
  }
  if (geteuid() == 0) {
    EXPECT_NE(flags.find("--no-sandbox"), std::string::npos);
    ASSERT_NE(std::getenv("QTWEBENGINE_DISABLE_SANDBOX"), nullptr);
    EXPECT_STREQ(std::getenv("QTWEBENGINE_DISABLE_SANDBOX"), "1");
  }
}

}  // namespace
}  // namespace autodeliver
