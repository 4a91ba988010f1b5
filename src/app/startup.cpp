// The start-up sequence of the main window.
#include "app/startup.h"

#include <QAbstractItemView>
#include <QFrame>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTableView>
#include <QUrl>

#include "app/layout_names.h"
#include "app/list_columns.h"
#include "app/main_window.h"
#include "app/row_colours.h"
#include "market/hosts.h"
#include "market/order_scan.h"
#include "pages/page_texts.h"
#include "service/service_checks.h"
#include "store/shop_context.h"
#include "text/gbk.h"
#include "version.h"

namespace autodeliver {

QString VersionText() {
  return QStringLiteral("%1 (Build %2 Release)")
      .arg(QLatin1String(kProgramVersion), QLatin1String(kReleaseDate));
}

QString CardImportHint() {
  return QString::fromStdString(GbkToUtf8Lossy(ReplaceText(CardImportPlaceholder(), "\r\n", "\n")));
}

bool RunStartupSequence(MainWindow& window, Prompts& prompts, const StartupOptions& options) {
  CheckNotice(prompts);
  if (!CheckUpdate(prompts, window.shop().ProgramDir())) return false;

  CompileOrderPatterns();

  QString title = window.windowTitle();
  title.replace(QStringLiteral("{版本号}"), VersionText(), Qt::CaseSensitive);
  window.setWindowTitle(title);

  window.OpenLoginPage(QUrl(QString::fromStdString(LoginPageUrl())));

  // Even rows take the attributes frame's background, odd rows the page
  // control's, both read now.
  const QColor even = window.findChild<QFrame*>(QString::fromUtf8(layout::kAttributesFrame))
                          ->palette()
                          .color(QPalette::Window);
  const QColor odd = window.findChild<QTabWidget*>(QString::fromUtf8(layout::kPageControl))
                         ->palette()
                         .color(QPalette::Window);
  for (const char* name : {layout::kItemsList, layout::kStockList}) {
    ColourListRows(*window.findChild<QAbstractItemView*>(QString::fromUtf8(name)), even, odd);
  }

  window.findChild<QPlainTextEdit*>(QString::fromUtf8(layout::kImportBox))->setPlainText(CardImportHint());

  WriteColumnHeader(*window.findChild<QTableView*>(QString::fromUtf8(layout::kSentCardsGrid)),
                    SentCardsGridColumns(window.shop()));

  const bool goOn = options.imClientLookup ? LocateImClient(prompts, *options.imClientLookup)
                                           : LocateImClient(window.shop(), prompts);
  return goOn;
}

bool ShowAndRunStartup(MainWindow& window, Prompts& prompts, const StartupOptions& options) {
  // Showing the window delivers its pending size change; held, it moves
  // nothing yet.
  window.HoldRelayout();
  window.show();
  if (!RunStartupSequence(window, prompts, options)) return false;
  window.ReleaseRelayout();
  return true;
}

}  // namespace autodeliver
