// The program's entry: makes the data folder ready and locks it for this
// copy of the program (store/shop_folder.h), sets up the browser engine and
// the font, builds the program (application.h), runs the start-up sequence
// and the event loop, and ends with exit code 0 when the window is closed
// (or with the code a start-up step asked for).
//
// "--help" and "--version" are answered on the standard output before
// anything else: no window, no display, no data folder. Every other
// argument goes on to Qt, which takes its own options (-platform, -style).
//
// A start that finds the data folder held by another copy does nothing with
// the folder: it asks that copy to bring its window to the front, says so in
// one line on the standard error, and ends with exit code 1. It needs no
// display for that. A data folder that cannot be made ready ends the start
// the same way, with a message box too.
//
// With --shop NAME the program runs that shop's own folder (its own tables,
// lock, log and browser profile). Without it, an installed program that
// finds shops besides the default one asks which to run (--choose-shop asks
// always, and lets the seller name a new shop). A new installed data folder
// is offered the import of an earlier installation's data as soon as the
// window is up, before the seller signs in.
#include <sys/stat.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDirIterator>
#include <QIcon>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <optional>

#include "app/application.h"
#include "app/instance_signal.h"
#include "app/shop_dialogs.h"
#include "app/shop_option.h"
#include "app/startup.h"
#include "store/shop_context.h"
#include "store/shop_folder.h"
#include "store/shop_paths.h"

namespace {

// Exit code of a start that was refused.
constexpr int kRefused = 1;

void PrintLine(const QString& line) {
  std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
  std::fflush(stderr);
}

// The program's icon in every size compiled in (packaging/).
QIcon ProgramIcon() {
  QIcon icon;
  QDirIterator it(QStringLiteral(":/icons"), {QStringLiteral("*.png")}, QDir::Files,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) icon.addFile(it.next());
  return icon;
}

void PrintOut(const QString& text) {
  std::fputs(text.toLocal8Bit().constData(), stdout);
  std::fflush(stdout);
}

// The exit code when the command line asked only for the help or the
// version, which are then printed; nullopt when the program is to start.
std::optional<int> AnswerCommandLine(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  QCommandLineParser parser;
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                QStringLiteral("显示这段帮助并退出"));
  const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                   QStringLiteral("显示版本并退出"));
  parser.addOption(help);
  parser.addOption(version);
  // Qt's own options are not known here and pass on untouched. The help is
  // written here, not by the parser, whose words would need a running
  // application for their translation.
  parser.parse(arguments);
  if (parser.isSet(help)) {
    PrintOut(
        QStringLiteral("用法：autodeliver [选项]\n"
                       "自动发货系统：无人值守地为虚拟商品店铺的订单发送卡密。\n"
                       "不带选项时打开主窗口（需要 X11 显示）。\n\n"
                       "选项：\n"
                       "  -h, --help          显示这段帮助并退出\n"
                       "  -v, --version       显示版本并退出\n"
                       "  --shop NAME         使用店铺 NAME 的数据文件夹\n"
                       "                      （$XDG_DATA_HOME/autodeliver/shops/NAME）\n"
                       "  --choose-shop       启动时选择店铺（也可新建）\n\n"
                       "数据文件夹：$AUTODELIVER_DIR，否则 $XDG_DATA_HOME/autodeliver。\n"
                       "另见 man autodeliver。\n"));
    return 0;
  }
  if (parser.isSet(version)) {
    PrintOut(QStringLiteral("autodeliver %1\n").arg(autodeliver::VersionText()));
    return 0;
  }
  return std::nullopt;
}

int HandOverToHolder(int& argc, char** argv, const autodeliver::DataFolderOpening& opening) {
  std::optional<QCoreApplication> app;
  if (!QCoreApplication::instance()) app.emplace(argc, argv);
  const QString folder = QString::fromStdString(opening.folder);
  const QString holder =
      opening.holderPid > 0 ? QStringLiteral("（进程 %1）").arg(opening.holderPid) : QString();
  if (autodeliver::KnockAtHolder(folder, 2000)) {
    PrintLine(
        QStringLiteral("autodeliver：另一个副本%1正在使用数据文件夹 %2，已把它的窗口提到前面；本次启动退出。")
            .arg(holder, folder));
  } else {
    PrintLine(
        QStringLiteral("autodeliver：另一个副本%1正在使用数据文件夹 %2；本次启动退出。").arg(holder, folder));
  }
  return kRefused;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace autodeliver;
  // Everything the program creates (tables rewritten by a purge, the
  // journals, the delivery log, update.ini) holds or lies beside card
  // passwords: readable by the seller's own account only.
  ::umask(077);
  QCoreApplication::setApplicationName(QStringLiteral("autodeliver"));
  if (const std::optional<int> answered = AnswerCommandLine(argc, argv)) return *answered;
  const ShopOption shop = ParseShopOption(argc, argv);
  if (!shop.error.empty()) {
    PrintLine(QStringLiteral("autodeliver：") + QString::fromStdString(shop.error));
    return 2;
  }
  SetShop(shop.name);
  std::unique_ptr<QApplication> app;
  auto makeApp = [&] {
    app = std::make_unique<QApplication>(argc, argv);
    InstallQtChinese();
  };
  if (shop.choose || (shop.name.empty() && CurrentProgramDirSource() == ProgramDirSource::kInstalled &&
                      !ListShops().empty())) {
    makeApp();
    const std::optional<std::string> chosen = AskForShop(ListShops());
    if (!chosen) return 0;
    SetShop(*chosen);
  }
  InstanceLock lock;
  const DataFolderOpening opening = OpenDataFolder(lock);
  if (opening.status == DataFolderOpening::Status::kInUse) return HandOverToHolder(argc, argv, opening);

  if (!app) makeApp();
  QGuiApplication::setDesktopFileName(QStringLiteral(AUTODELIVER_APP_ID));
  QApplication::setWindowIcon(ProgramIcon());
  const QString folder = QString::fromStdString(opening.folder);
  if (opening.status == DataFolderOpening::Status::kFailed) {
    const QString text =
        QStringLiteral("无法准备数据文件夹 %1：%2").arg(folder, QString::fromStdString(opening.problem));
    PrintLine(QStringLiteral("autodeliver：") + text);
    QMessageBox::critical(nullptr, QStringLiteral("错误"), text);
    return kRefused;
  }
  if (!opening.problem.empty()) {
    PrintLine(QStringLiteral("autodeliver：无法锁定数据文件夹（%1），未防止另一个副本同时使用它。")
                  .arg(QString::fromStdString(opening.problem)));
  }
  SetProgramFont();
  // The one context of the shop's folder, for everything the program does
  // with its tables; it outlives the program's parts below.
  ShopContext shopContext(ProgramDir());
  Application program(shopContext);
  // The shop in the title, and so in the tray's tooltip and the task bar.
  if (!CurrentShop().empty())
    program.window().setWindowTitle(program.window().windowTitle() + QStringLiteral(" - 店铺：") +
                                    QString::fromStdString(CurrentShop()));
  else if (!ListShops().empty())
    program.window().setWindowTitle(program.window().windowTitle() + QStringLiteral(" - 默认店铺"));
  InstanceServer server;
  if (lock.held()) {
    QObject::connect(&server, &InstanceServer::showRequested, &program.window(), [&program] {
      QWidget& w = program.window();
      w.setWindowState((w.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
      w.show();
      w.raise();
      w.activateWindow();
    });
    server.Listen(folder);
  }
  if (!program.Start()) return program.ExitCode();
  // Asked over the window, before the seller can sign in (the question is
  // modal): the lists are filled at the sign-in, and the import keeps the IM
  // client's path the start-up just found.
  if (opening.fresh && lock.held())
    QTimer::singleShot(0, &program.window(),
                       [&shopContext, folder = opening.folder] { OfferOldDataImport(shopContext, folder); });
  return app->exec();
}
