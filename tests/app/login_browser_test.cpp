// The login browser, a process of its own embedded in the window: its
// pipe, pop-ups refused, cookies mirrored into the program's cookie store,
// the sign-in against the marketplace imitation with the browser's window
// in its rectangle, a child that crashes or hangs during the sign-in, a
// child still ending when the program ends; and the window's message boxes.
#include "app/login_browser.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QMessageBox>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>
#include <cstdlib>
#include <filesystem>

#include "app/login_pipe.h"
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
#include "support/shop_folder.h"
#include "x_windows.h"

namespace autodeliver {
namespace {

using testing_support::LoopbackServer;
using testing_support::WaitFor;

// Runs `script` in the login browser's page and waits for its value.
QJsonValue RunScript(LoginBrowserHost* browser, const QString& script) {
  QJsonValue result;
  bool done = false;
  browser->RunScript(script, [&](const QJsonValue& v) {
    result = v;
    done = true;
  });
  EXPECT_TRUE(WaitFor([&] { return done; }));
  return result;
}

bool LoadAndWait(MainWindow& window, const QUrl& url) {
  QSignalSpy loaded(window.LoginBrowser(), &LoginBrowserHost::loadFinished);
  window.OpenLoginPage(url);
  return loaded.wait(60000) && loaded.takeFirst().at(0).toBool();
}

TEST(LoginPipe, FieldsOfAnyBytesSurviveALineAndBrokenLinesAreRefused) {
  const QByteArray bytes("a b\n\0\xff;=", 10);
  const QByteArray line = login_pipe::Line("cookie", {"+", bytes, ""});
  ASSERT_TRUE(line.endsWith('\n'));
  EXPECT_EQ(line.count('\n'), 1);
  const auto m = login_pipe::Parse(line.chopped(1));
  ASSERT_TRUE(m);
  EXPECT_EQ(m->word, "cookie");
  ASSERT_EQ(m->fields.size(), 3);
  EXPECT_EQ(m->fields[1], bytes);
  EXPECT_TRUE(m->fields[2].isEmpty());
  for (const char* broken : {"", " load", "load %%%", "url aGVsbG8=!"}) {
    EXPECT_FALSE(login_pipe::Parse(broken)) << broken;
  }

  // Lines come whole whatever the pieces they arrive in.
  login_pipe::LineReader reader;
  ASSERT_TRUE(reader.Append("pong MQ"));
  EXPECT_FALSE(reader.Next());
  ASSERT_TRUE(reader.Append("==\nurl eA==\npi"));
  EXPECT_EQ(reader.Next(), QByteArray("pong MQ=="));
  EXPECT_EQ(reader.Next(), QByteArray("url eA=="));
  EXPECT_FALSE(reader.Next());
  // A line beyond the bound is a broken peer, for good.
  EXPECT_FALSE(reader.Append(QByteArray(login_pipe::LineReader::kMaxLine + 1, 'x')));
  EXPECT_FALSE(reader.Append("\nquit\n"));
  EXPECT_FALSE(reader.Next());
}

TEST(LoginPipe, CookiesComeBackFromTheBrowserStoresRawForm) {
  const struct {
    const char* raw;
    const char* name;
    const char* value;
    const char* domain;
    bool secure;
    std::optional<std::int64_t> expires;
  } cases[] = {
      {"cookie2=abc; domain=127.0.0.1; path=/", "cookie2", "abc", "127.0.0.1", false, std::nullopt},
      {"t=1; secure; HttpOnly; expires=Fri, 01-Jan-2038 00:00:00 GMT; domain=.taobao.com; path=/member", "t",
       "1", ".taobao.com", true, 2145916800},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.raw);
    const std::optional<BrowserCookie> cookie = CookieFromRawForm(c.raw);
    ASSERT_TRUE(cookie);
    EXPECT_EQ(cookie->name, c.name);
    EXPECT_EQ(cookie->value, c.value);
    EXPECT_EQ(cookie->domain, c.domain);
    EXPECT_EQ(cookie->secure, c.secure);
    EXPECT_EQ(cookie->expiresUnix, c.expires);
  }
  EXPECT_FALSE(CookieFromRawForm(""));
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
  testing::ShopFolder shop(false);  // a window touching no table
  MainWindow window(shop.context());
  window.show();
  ASSERT_TRUE(LoadAndWait(window, QUrl(QString::fromStdString(base + "/"))));
  const auto before = testing_support::ViewableTopLevels();
  RunScript(window.LoginBrowser(), "window.open('/popup'); document.getElementById('l').click(); 1");
  // The page stays where it is, and no window opens.
  EXPECT_EQ(window.LoginBrowser()->url().path(), QStringLiteral("/"));
  ASSERT_TRUE(LoadAndWait(window, QUrl(QString::fromStdString(base + "/after"))));
  EXPECT_EQ(testing_support::ViewableTopLevels(), before);
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
  testing::ShopFolder shop(false);  // a window touching no table
  MainWindow window(shop.context());
  ASSERT_TRUE(LoadAndWait(window, QUrl(QString::fromStdString(base + "/set"))));
  ASSERT_TRUE(WaitFor([&] { return ReadBrowserCookies(base + "/") == "mirror_a=one"; }))
      << ReadBrowserCookies(base + "/");
  ASSERT_TRUE(LoadAndWait(window, QUrl(QString::fromStdString(base + "/clear"))));
  EXPECT_TRUE(WaitFor([&] { return ReadBrowserCookies(base + "/").empty(); }))
      << ReadBrowserCookies(base + "/");
}

// The marketplace imitation on a free port, with the program pointed at it.
class MarketSimProcess {
 public:
  MarketSimProcess() {
    const std::string sim = std::string(AUTODELIVER_BINARY_DIR) + "/tools/market_sim/autodeliver-market-sim";
    process_.start(QString::fromStdString(sim), {QStringLiteral("--port"), QStringLiteral("0")});
    if (!process_.waitForStarted(10000) || !WaitFor([&] { return process_.canReadLine(); }, 20000)) return;
    const QString first = QString::fromUtf8(process_.readLine()).trimmed();
    if (!first.startsWith(QStringLiteral("listening 127.0.0.1:"))) return;
    hostPort = first.mid(10).toStdString();
    for (const char* var : {"AUTODELIVER_LOGIN_HOST", "AUTODELIVER_MEMBER_HOST", "AUTODELIVER_LOGISTICS_HOST",
                            "AUTODELIVER_WEB_HOST", "AUTODELIVER_SERVICE_HOST"}) {
      setenv(var, hostPort.c_str(), 1);
    }
    setenv("AUTODELIVER_LOGIN_SCHEME", "http", 1);
  }
  ~MarketSimProcess() {
    process_.terminate();
    process_.waitForFinished(10000);
  }
  bool ok() const { return !hostPort.empty(); }
  std::string hostPort;

 private:
  QProcess process_;
};

void FillSignInForm(LoginBrowserHost* browser) {
  browser->RunScript(
      "document.querySelector('[name=TPL_username]').value = '测试卖家';"
      "document.querySelector('[name=TPL_password]').value = 'sim123';"
      "document.querySelector('[name=TPL_username]').form.submit(); 1");
}

// The whole sign-in against the marketplace imitation: the browser's
// window sits in its rectangle on page 0, the seller signs in there, the
// window prepares its pages, the login cookies are there for the program's
// own requests, and the browser process ends.
TEST(LoginBrowser, SignInAgainstTheMarketplaceImitation) {
  MarketSimProcess sim;
  ASSERT_TRUE(sim.ok());

  // A shop with two monitored items and one delivered card.
  testing::ShopFolder folder;
  ASSERT_TRUE(folder.ok()) << folder.error();
  ShopContext& shop = folder.context();
  ASSERT_TRUE(AppendItem(shop, {"点卡A"_gbk, "", 0, true}));
  ASSERT_TRUE(AppendItem(shop, {"点卡B"_gbk, "", 0, true}));
  ASSERT_TRUE(AppendSentCard(shop, {"点卡A"_gbk, "1001", "buyer", 1, "N1", "P1", "", "2012-11-20 10:00:00"}));

  MainWindow window(shop);
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

  // The browser's window is in the main window, at the browser's
  // rectangle inside the holder, and shown.
  LoginBrowserHost* browser = window.LoginBrowser();
  auto* holder = window.findChild<QFrame*>(QStringLiteral("图片框2"));
  EXPECT_EQ(browser->parentWidget(), holder);
  EXPECT_EQ(browser->geometry(), QRect(-64, -64, 1008, 904));
  ASSERT_TRUE(browser->embedded());
  if (QGuiApplication::platformName() == QStringLiteral("xcb")) {
    const QPoint at = browser->mapTo(&window, QPoint(0, 0));
    std::optional<testing_support::PlaceInAncestor> place;
    ASSERT_TRUE(WaitFor([&] {
      place = testing_support::PlaceIn(browser->childWindow(), window.winId());
      return place && place->viewable && place->width == 1008;
    })) << (place ? place->width : -1)
        << "x" << (place ? place->height : -1);
    EXPECT_EQ(QRect(place->x, place->y, place->width, place->height), QRect(at, QSize(1008, 904)));
  }

  FillSignInForm(browser);
  ASSERT_TRUE(WaitFor([&] { return window.PagesPrepared(); }));
  EXPECT_EQ(signedIn.count(), 1);
  EXPECT_TRUE(browser->url().toString().contains(QStringLiteral("my_taobao")));
  auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("高级选择夹1"));
  EXPECT_EQ(tabs->tabText(0), QStringLiteral("店铺发货设置"));
  EXPECT_TRUE(tabs->isTabEnabled(1));
  EXPECT_TRUE(holder->isHidden());
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
  // Its work done, the browser process ends by itself, and that is no
  // failure.
  ASSERT_TRUE(WaitFor([&] { return !browser->running(); }));
  EXPECT_TRUE(browser->signedIn());
  EXPECT_TRUE(browser->failure().isEmpty());
}

// The browser process killed during the sign-in, or hanging: the window
// stays, says so in the browser's place and in its signal, and a new
// browser started from there signs in.
TEST(LoginBrowser, ABrowserThatDiesOrHangsDuringSignInIsToldAndStartedAgain) {
  MarketSimProcess sim;
  ASSERT_TRUE(sim.ok());
  CookieStore::Global().Clear();
  for (const int signal : {SIGKILL, SIGSTOP}) {
    SCOPED_TRACE(signal);
    testing::ShopFolder shop(false);  // a window touching no table
    MainWindow window(shop.context());
    window.show();
    LoginBrowserHost* browser = window.LoginBrowser();
    // A stopped child answers no ping: it counts as hung after the bound.
    browser->SetBounds(60000, 1500);
    QSignalSpy failed(&window, &MainWindow::loginBrowserFailed);
    ASSERT_TRUE(LoadAndWait(window, QUrl(QString::fromStdString(LoginPageUrl()))));
    const qint64 first = browser->processId();
    ASSERT_GT(first, 0);
    // The seller has typed and is about to sign in.
    RunScript(browser, "document.querySelector('[name=TPL_username]').value = '测试卖家'; 1");
    ASSERT_EQ(::kill(static_cast<pid_t>(first), signal), 0);

    ASSERT_TRUE(WaitFor([&] { return failed.count() == 1; }));
    EXPECT_TRUE(failed.at(0).at(0).toString().startsWith(QStringLiteral("登录窗口意外关闭")));
    EXPECT_FALSE(browser->running());
    EXPECT_FALSE(browser->embedded());
    // The killed process is gone (reaped), the hung one too.
    ASSERT_TRUE(WaitFor([&] { return ::kill(static_cast<pid_t>(first), 0) != 0; }));
    auto* again = browser->findChild<QPushButton*>(QStringLiteral("重新打开登录窗口"));
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(again->isVisibleTo(browser));
    EXPECT_FALSE(window.PagesPrepared());

    // "重新打开登录窗口": a new browser on the login page, and the sign-in.
    QSignalSpy loaded(browser, &LoginBrowserHost::loadFinished);
    again->click();
    ASSERT_TRUE(loaded.wait(60000));
    EXPECT_NE(browser->processId(), first);
    EXPECT_FALSE(again->isVisibleTo(browser));
    FillSignInForm(browser);
    ASSERT_TRUE(WaitFor([&] { return window.PagesPrepared(); }));
    ASSERT_TRUE(
        WaitFor([&] { return ReadBrowserCookies(LoginCookieUrl()).find("cookie2=") != std::string::npos; }));
    EXPECT_EQ(failed.count(), 1);
    CookieStore::Global().Clear();
  }
}

// The program ends while its login browser is still ending: the browser is
// given its time to end (a kept profile being written out), killed when it
// takes too long, and waited for. Nothing complains on the standard error
// and no browser process is left.
TEST(LoginBrowser, AtTheProgramsEndABrowserStillEndingIsWaitedForThenKilled) {
  struct Case {
    const char* what;
    const char* script;
    bool endsByItself;
  };
  const Case cases[] = {
      {"ends a second after it is asked to",
       "#!/bin/sh\n"
       "while IFS= read -r line; do case \"$line\" in quit*) break ;; esac; done\n"
       "sleep 1\n"
       "echo ended > \"$STAND_IN_MARKER\"\n",
       true},
      {"never ends by itself", "#!/bin/sh\nexec sleep 120\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString standIn = dir.filePath(QStringLiteral("login-stand-in"));
    const QString marker = dir.filePath(QStringLiteral("ended"));
    {
      QFile file(standIn);
      ASSERT_TRUE(file.open(QIODevice::WriteOnly));
      file.write(c.script);
      file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("AUTODELIVER_LOGIN_PROGRAM"), standIn);
    env.insert(QStringLiteral("STAND_IN_MARKER"), marker);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(LOGIN_EXIT_PROBE), {});
    ASSERT_TRUE(program.waitForFinished(60000));
    const QString err = QString::fromLocal8Bit(program.readAllStandardError());
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0) << err.toStdString();
    EXPECT_FALSE(err.contains(QStringLiteral("QProcess"))) << err.toStdString();
    const qint64 child = program.readAllStandardOutput().trimmed().toLongLong();
    ASSERT_GT(child, 0);
    EXPECT_NE(::kill(static_cast<pid_t>(child), 0), 0) << "the browser outlived the program";
    EXPECT_EQ(QFile::exists(marker), c.endsByItself) << "a browser that ends in time is not killed";
  }
}

// The browser process runs with the engine's background traffic off, and
// as root without the sandbox that Chromium refuses to start with there.
TEST(LoginBrowser, BrowserProcessKeepsBackgroundNetworkingOff) {
  LoopbackServer server;
  server.server.Get("/", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("<html>x</html>", "text/html");
  });
  server.Start();
  testing::ShopFolder shop(false);  // a window touching no table
  MainWindow window(shop.context());
  ASSERT_TRUE(LoadAndWait(window, QUrl(QString::fromStdString("http://" + server.HostPort() + "/"))));
  // The engine's own processes are started with the environment the
  // browser process set for them.
  const qint64 child = window.LoginBrowser()->processId();
  QByteArray environment;
  ASSERT_TRUE(WaitFor([&] {
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
      QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
      if (!stat.open(QIODevice::ReadOnly)) continue;
      const QByteArray text = stat.readAll();
      const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
      if (fields.size() < 2 || fields[1].toLongLong() != child) continue;
      QFile environ(QStringLiteral("/proc/%1/environ").arg(entry));
      if (environ.open(QIODevice::ReadOnly)) environment = environ.readAll();
      return !environment.isEmpty();
    }
    return false;
  }));
  const QList<QByteArray> vars = environment.split('\0');
  QByteArray flags;
  bool sandboxOff = false;
  for (const QByteArray& var : vars) {
    if (var.startsWith("QTWEBENGINE_CHROMIUM_FLAGS=")) flags = var;
    if (var == "QTWEBENGINE_DISABLE_SANDBOX=1") sandboxOff = true;
  }
  for (const char* flag :
       {"--disable-background-networking", "--disable-component-update", "--disable-sync"}) {
    EXPECT_TRUE(flags.contains(flag)) << flag;
  }
  if (geteuid() == 0) {
    EXPECT_TRUE(flags.contains("--no-sandbox"));
    EXPECT_TRUE(sandboxOff);
  }
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
