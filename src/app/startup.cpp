// The start-up sequence of the main window.
#include "app/startup.h"

#include <QAbstractItemView>
#include <QFrame>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTableView>
#include <QUrl>

#include "app/list_columns.h"
#include "app/main_window.h"
#include "app/row_colours.h"
#include "market/hosts.h"
#include "market/order_scan.h"
#include "service/service_checks.h"
#include "version.h"

namespace autodeliver {

QString VersionText() {
  return QStringLiteral("%1 (Build %2 Release)")
      .arg(QLatin1String(kProgramVersion), QLatin1String(kReleaseDate));
}

QString CardImportHint() {
  return QStringLiteral(
      " → 在此处输入需要添加入库的卡密以及卡号\n格式：\n卡密 卡号\n卡密1 卡号1\n卡密2 卡密2\n"
      "注：就算没有卡密，也要填0");
}

bool RunStartupSequence(MainWindow& window, Prompts& prompts, const StartupOptions& options) {
  CheckNotice(prompts);
  if (!CheckUpdate(prompts)) return false;

  CompileOrderPatterns();

  QString title = window.windowTitle();
  title.replace(QStringLiteral("{版本号}"), VersionText(), Qt::CaseSensitive);
  window.setWindowTitle(title);

  window.OpenLoginPage(QUrl(QString::fromStdString(LoginPageUrl())));

  // Even rows take the attributes frame's background, odd rows the page
  // control's, both read now.
  const QColor even = window.findChild<QFrame*>(QStringLiteral("外形框3"))->palette().color(QPalette::Window);
  const QColor odd =
      window.findChild<QTabWidget*>(QStringLiteral("高级选择夹1"))->palette().color(QPalette::Window);
  for (const char* name : {"超级列表框1", "超级列表框2"}) {
    ColourListRows(*window.findChild<QAbstractItemView*>(QString::fromUtf8(name)), even, odd);
  }

  window.findChild<QPlainTextEdit*>(QStringLiteral("编辑框3"))->setPlainText(CardImportHint());

  WriteColumnHeader(*window.findChild<QTableView*>(QStringLiteral("高级表格1")), SentCardsGridColumns());

  const bool goOn =
      options.imClientLookup ? LocateImClient(prompts, *options.imClientLookup) : LocateImClient(prompts);
  return goOn;
}

}  // namespace autodeliver
