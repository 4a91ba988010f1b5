// autodeliver-demo: runs the seller's main job through the program's real
// window against the local imitations and prints every step; see
// demo_flow.h and the README's run section.
//
//   autodeliver-demo --transcript FILE [--screenshots DIR] [--market HOST:PORT]
//                    [--shop NAME] [--seller NICK] [--card-prefix TEXT]
//   autodeliver-demo --help
//
// The environment points the program at the imitations as for the program
// itself (AUTODELIVER_DIR, the host variables; the IM client imitation runs
// and is the aliim handler). The marketplace host defaults to
// AUTODELIVER_LOGIN_HOST. Exit code 0 when every order reached its expected
// fate, 1 otherwise, 2 on a usage error.
#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/application.h"
#include "demo_flow.h"
#include "market/hosts.h"
#include "store/shop_context.h"
#include "store/shop_folder.h"
#include "store/shop_paths.h"

namespace {

// The help text under this program's name (without an application object
// the parser knows no name to put in its usage line).
QString HelpText(const QCommandLineParser& parser) {
  const QString text = parser.helpText();
  return QStringLiteral("Usage: autodeliver-demo [options]") + text.mid(text.indexOf(QLatin1Char('\n')));
}

}  // namespace

int main(int argc, char** argv) {
  using namespace autodeliver;
  // Read before the application object exists, so that --help needs no
  // display.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Runs the seller's main job through the program's real window against the local imitations\n"
      "and prints every step. The environment points the program at the imitations (AUTODELIVER_DIR,\n"
      "the host variables; the IM client imitation runs and is the aliim handler).\n"
      "Exit status 0 when every order reached its expected fate, 1 otherwise, 2 for a usage error."));
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                QStringLiteral("Displays this help."));
  const QCommandLineOption transcript(QStringLiteral("transcript"),
                                      QStringLiteral("The IM client imitation's transcript (required)."),
                                      QStringLiteral("FILE"));
  const QCommandLineOption screenshots(QStringLiteral("screenshots"),
                                       QStringLiteral("Save a picture of the window after each step in DIR."),
                                       QStringLiteral("DIR"));
  const QCommandLineOption market(
      QStringLiteral("market"),
      QStringLiteral("The marketplace imitation (default: $AUTODELIVER_LOGIN_HOST)."),
      QStringLiteral("HOST:PORT"));
  const QCommandLineOption shop(QStringLiteral("shop"),
                                QStringLiteral("Run the shop NAME's folder, locked as the program locks it."),
                                QStringLiteral("NAME"));
  const QCommandLineOption seller(QStringLiteral("seller"),
                                  QStringLiteral("The seller account's nick (default 测试卖家)."),
                                  QStringLiteral("NICK"));
  const QCommandLineOption cardPrefix(
      QStringLiteral("card-prefix"),
      QStringLiteral("Put TEXT before every card number (but the online card's) and password."),
      QStringLiteral("TEXT"));
  parser.addOptions({help, transcript, screenshots, market, shop, seller, cardPrefix});
  if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty()) {
    const QString error =
        parser.positionalArguments().isEmpty()
            ? parser.errorText()
            : QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().first());
    std::fprintf(stderr, "autodeliver-demo: %s\n%s", qPrintable(error), qPrintable(HelpText(parser)));
    return 2;
  }
  if (parser.isSet(help)) {
    std::fputs(qPrintable(HelpText(parser)), stdout);
    return 0;
  }
  demo::DemoSettings settings;
  settings.transcriptPath = parser.value(transcript).toLocal8Bit().toStdString();
  settings.screenshotDir = parser.value(screenshots);
  settings.marketHost = parser.value(market).toLocal8Bit().toStdString();
  if (settings.marketHost.empty()) settings.marketHost = LoginHost();
  if (settings.transcriptPath.empty()) {
    std::fprintf(stderr, "autodeliver-demo: --transcript is needed to see what the buyers received\n");
    return 2;
  }

  if (parser.isSet(seller)) settings.sellerNick = parser.value(seller).toStdString();
  InstanceLock lock;
  if (parser.isSet(shop)) {
    const std::string name = parser.value(shop).toStdString();
    if (!IsValidShopName(name)) {
      std::fprintf(stderr, "autodeliver-demo: no valid shop name: %s\n", name.c_str());
      return 2;
    }
    SetShop(name);
    const DataFolderOpening opening = OpenDataFolder(lock);
    if (opening.status != DataFolderOpening::Status::kReady || !lock.held()) {
      std::fprintf(stderr, "autodeliver-demo: the shop's folder %s is in use or cannot be made ready\n",
                   opening.folder.c_str());
      return 1;
    }
  }
  demo::DemoScript script = demo::DefaultScript(settings.marketHost);
  const std::string prefix = parser.value(cardPrefix).toStdString();
  for (demo::DemoCard& card : script.cards) {
    if (card.number.rfind("http://", 0) != 0) card.number = prefix + card.number;
    card.password = prefix + card.password;
  }

  setenv("AUTODELIVER_LOGIN_PROGRAM", AUTODELIVER_LOGIN_EXE, 0);
  QApplication app(argc, argv);
  SetProgramFont();
  // The folder the rules pick (the shop chosen above, or AUTODELIVER_DIR).
  ShopContext shopContext(ProgramDir());
  demo::DemoFlow flow(shopContext, settings, [](const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  });
  const demo::DemoResult result = flow.Run(script);
  flow.Close();
  return result.AllAsExpected() ? 0 : 1;
}
