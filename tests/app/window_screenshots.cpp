// A developer's tool, not a test: shows the main window against the
// marketplace imitation (hosts from the environment), signs in through the
// login browser and saves pictures of the screen before and after the
// sign-in into the folder given as the only argument.
//
//   window_screenshots OUT_DIR     (under Xvfb, with AUTODELIVER_* set)
//   window_screenshots --help
#include <QApplication>
#include <QCommandLineParser>
#include <QFont>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QScreen>
#include <QTabWidget>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <cstdio>

#include "app/login_browser.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "app/window_pages.h"
#include "app/window_prompts.h"
#include "app_test_support.h"
#include "market/hosts.h"

using namespace autodeliver;
using testing_support::FakePrompts;
using testing_support::WaitFor;

namespace {

bool Save(const QString& path) {
  QTest::qWait(300);  // let the compositor catch up before the picture
  return QGuiApplication::primaryScreen()->grabWindow(0).save(path);
}

}  // namespace

int main(int argc, char** argv) {
  PrepareWebEngineEnvironment();
  QApplication app(argc, argv);
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Shows the main window against the marketplace imitation (hosts from the environment),\n"
                     "signs in and saves before-sign-in.png and after-sign-in.png into OUT_DIR.\n"
                     "Exit status 2 for a usage error, 1 when a step did not finish."));
  const QCommandLineOption help = parser.addHelpOption();
  parser.addPositionalArgument(QStringLiteral("OUT_DIR"), QStringLiteral("Where the pictures go."));
  if (!parser.parse(app.arguments())) {
    std::fprintf(stderr, "%s\n%s", qPrintable(parser.errorText()), qPrintable(parser.helpText()));
    return 2;
  }
  if (parser.isSet(help)) {
    std::fputs(qPrintable(parser.helpText()), stdout);
    return 0;
  }
  if (parser.positionalArguments().size() != 1) {
    std::fputs(qPrintable(parser.helpText()), stderr);
    return 2;
  }
  app.setFont(QFont(QStringLiteral("WenQuanYi Micro Hei"), 9));
  const QString out = parser.positionalArguments().first();

  MainWindow window;
  WindowPrompts pagePrompts(&window);
  WindowPages pages(window, pagePrompts);
  FakePrompts prompts;
  StartupOptions options;
  options.imClientLookup = ImClientLookup{[] { return std::string("/bin/sh"); }, [](const std::string&) {},
                                          [] { return std::optional<std::string>(); }};
  if (!ShowAndRunStartup(window, prompts, options)) return 1;
  QWebEngineView* browser = window.LoginBrowser();
  bool loaded = false;
  QObject::connect(browser, &QWebEngineView::loadFinished, [&](bool ok) { loaded = ok; });
  if (!WaitFor([&] { return loaded; })) return 1;
  Save(out + "/before-sign-in.png");

  browser->page()->runJavaScript(
      "document.querySelector('[name=TPL_username]').value = '测试卖家';"
      "document.querySelector('[name=TPL_password]').value = 'sim123';"
      "document.querySelector('[name=TPL_username]').form.submit();");
  if (!WaitFor([&] { return window.PagesPrepared(); })) return 1;
  // Two monitored items, so that the list shows its rows.
  auto* name = window.findChild<QLineEdit*>(QStringLiteral("编辑框1"));
  for (const char* item : {"腾讯QQ币 10元 自动发货", "网易一卡通 50点"}) {
    name->setText(QString::fromUtf8(item));
    pages.items.AddItem();
  }
  Save(out + "/after-sign-in.png");
  auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("高级选择夹1"));
  tabs->setCurrentIndex(1);
  Save(out + "/sent-cards-page.png");
  tabs->setCurrentIndex(2);
  Save(out + "/card-stock-page.png");
  for (const auto& box : prompts.boxes) std::printf("box: %s | %s\n", box.caption.c_str(), box.text.c_str());
  return 0;
}
