// Message boxes, the default browser and the end of the program with Qt.
#include "app/window_prompts.h"

#include <QApplication>
#include <QDesktopServices>
#include <QUrl>

#include "pages/page_dialogs.h"
#include "text/gbk.h"

namespace autodeliver {

namespace {

QString FromGbk(const std::string& text) { return QString::fromStdString(GbkToUtf8Lossy(text)); }

}  // namespace

BoxAnswer WindowPrompts::ShowBox(const std::string& text, const std::string& caption, BoxKind kind) {
  return ShowMessageBox(text, caption, kind);
}

void WindowPrompts::OpenPage(const std::string& url) { QDesktopServices::openUrl(QUrl(FromGbk(url))); }

void WindowPrompts::EndProgram(int exitCode) {
  ended_ = true;
  exitCode_ = exitCode;
  QCoreApplication::exit(exitCode);
}

}  // namespace autodeliver
