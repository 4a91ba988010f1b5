// The Qt message and input boxes of the pages; see page_dialogs.h.
#include "pages/page_dialogs.h"

#include <QInputDialog>
#include <QMessageBox>
#include <QString>

#include "text/gbk.h"

namespace autodeliver {

namespace {

QString ToQ(const std::string& gbk) { return QString::fromStdString(GbkToUtf8Lossy(gbk)); }

}  // namespace

BoxAnswer ShowMessageBox(const std::string& text, const std::string& caption, BoxKind kind) {
  QMessageBox box;
  box.setWindowModality(Qt::ApplicationModal);
  box.setWindowTitle(ToQ(caption));
  // Line ends arrive as CR LF.
  box.setText(ToQ(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
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

BoxAnswer QtPageDialogs::ShowBox(const std::string& text, const std::string& caption, BoxKind kind) {
  return ShowMessageBox(text, caption, kind);
}

std::optional<std::string> QtPageDialogs::AskText(const std::string& prompt, const std::string& caption) {
  bool ok = false;
  const QString typed =
      QInputDialog::getText(nullptr, ToQ(caption), ToQ(prompt), QLineEdit::Normal, QString(), &ok);
  if (!ok) return std::nullopt;
  return Utf8ToGbkLossy(typed.toStdString());
}

}  // namespace autodeliver
