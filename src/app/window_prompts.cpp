// Message boxes, input boxes, the default browser and the end of the
// program with Qt.
#include "app/window_prompts.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QUrl>

#include "text/gbk.h"

namespace autodeliver {

namespace {

QString FromGbk(const std::string& text) { return QString::fromStdString(GbkToUtf8Lossy(text)); }

}  // namespace

BoxAnswer WindowPrompts::ShowBox(const std::string& text, const std::string& caption, BoxKind kind) {
  QMessageBox box;
  box.setWindowModality(Qt::ApplicationModal);
  box.setWindowTitle(FromGbk(caption));
  // Line ends arrive as CR LF.
  box.setText(FromGbk(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  switch (kind) {
    case BoxKind::kError:
      box.setIcon(QMessageBox::Critical);
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case BoxKind::kInformation:
      box.setIcon(QMessageBox::Information);
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case BoxKind::kQuestion:
      box.setIcon(QMessageBox::Question);
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box.setDefaultButton(QMessageBox::Yes);
      break;
  }
  const int answer = box.exec();
  if (kind != BoxKind::kQuestion) return BoxAnswer::kOk;
  return answer == QMessageBox::Yes ? BoxAnswer::kYes : BoxAnswer::kNo;
}

std::optional<std::string> WindowPrompts::AskText(const std::string& prompt, const std::string& caption) {
  bool ok = false;
  const QString typed =
      QInputDialog::getText(nullptr, FromGbk(caption), FromGbk(prompt), QLineEdit::Normal, QString(), &ok);
  if (!ok) return std::nullopt;
  return Utf8ToGbkLossy(typed.toStdString());
}

std::optional<std::string> WindowPrompts::AskOpenFile(const std::string& caption, const std::string& filter) {
  const QString path = QFileDialog::getOpenFileName(nullptr, FromGbk(caption), QString(), FromGbk(filter));
  if (path.isEmpty()) return std::nullopt;
  return QFile::encodeName(path).toStdString();
}

void WindowPrompts::OpenPage(const std::string& url) { QDesktopServices::openUrl(QUrl(FromGbk(url))); }

void WindowPrompts::EndProgram(int exitCode) {
  ended_ = true;
  exitCode_ = exitCode;
  QCoreApplication::exit(exitCode);
}

}  // namespace autodeliver
