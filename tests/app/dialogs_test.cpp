// The program's dialogs in Chinese: Qt's own translation loaded as the
// program loads it, the message boxes' buttons and the rename box as the
// window's prompts show them.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/application.h"
#include "app/window_prompts.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

// The texts of the buttons of the modal dialog that `show` opens, which is
// then closed with the button whose text starts with `closeWith`.
template <typename Dialog>
QStringList ButtonsOfModal(const std::function<void()>& show, const QString& closeWith,
                           Dialog** seen = nullptr) {
  QStringList texts;
  bool found = false;
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || found) return;
    found = true;
    if (seen) *seen = dialog;
    QAbstractButton* closer = nullptr;
    for (QAbstractButton* b : dialog->template findChildren<QAbstractButton*>()) {
      if (!b->isVisible() || b->text().isEmpty()) continue;
      texts << b->text();
      if (b->text().startsWith(closeWith)) closer = b;
    }
    if (closer) {
      closer->click();
    } else {
      dialog->reject();
    }
  });
  poll.start();
  show();
  return texts;
}

TEST(DialogsTest, QtsOwnDialogsAndTheProgramsBoxesSpeakChinese) {
  ASSERT_TRUE(InstallQtChinese()) << "qtbase_zh_CN missing: install qt6-translations-l10n";

  // Qt's standard buttons and its file dialog.
  QDialogButtonBox standard(QDialogButtonBox::Open | QDialogButtonBox::Cancel | QDialogButtonBox::Yes |
                            QDialogButtonBox::No);
  EXPECT_TRUE(standard.button(QDialogButtonBox::Open)->text().startsWith(QStringLiteral("打开")));
  EXPECT_TRUE(standard.button(QDialogButtonBox::Cancel)->text().startsWith(QStringLiteral("取消")));
  EXPECT_TRUE(standard.button(QDialogButtonBox::Yes)->text().startsWith(QStringLiteral("是")));
  QFileDialog files(nullptr, QStringLiteral("选择卡密文件"));
  files.setOption(QFileDialog::DontUseNativeDialog);
  files.setFileMode(QFileDialog::ExistingFile);
  auto* lookIn = files.findChild<QLabel*>(QStringLiteral("lookInLabel"));
  ASSERT_NE(lookIn, nullptr);
  EXPECT_FALSE(lookIn->text().contains(QStringLiteral("Look in"))) << lookIn->text().toStdString();
  auto* fileName = files.findChild<QLabel*>(QStringLiteral("fileNameLabel"));
  ASSERT_NE(fileName, nullptr);
  EXPECT_FALSE(fileName->text().contains(QStringLiteral("File name"))) << fileName->text().toStdString();

  // The program's message boxes, one per kind, and the rename box.
  WindowPrompts prompts;
  struct Case {
    BoxKind kind;
    QStringList buttons;
    BoxAnswer answer;
  };
  for (const Case& c :
       {Case{BoxKind::kQuestion, {QStringLiteral("是(&Y)"), QStringLiteral("否(&N)")}, BoxAnswer::kNo},
        Case{BoxKind::kError, {QStringLiteral("确定")}, BoxAnswer::kOk}}) {
    BoxAnswer answer = BoxAnswer::kYes;
    const QStringList shown = ButtonsOfModal<QMessageBox>(
        [&] { answer = prompts.ShowBox("确定删除 2 张卡密？"_gbk, "删除库存"_gbk, c.kind); },
        QStringLiteral("否"));
    for (const QString& button : c.buttons)
      EXPECT_TRUE(shown.contains(button)) << shown.join(u' ').toStdString();
    EXPECT_EQ(answer, c.answer);
  }
  std::optional<std::string> typed;
  QInputDialog* box = nullptr;
  const QStringList shown = ButtonsOfModal<QInputDialog>(
      [&] { typed = prompts.AskText("A - 请输入新的宝贝名称"_gbk, "宝贝名称修改"_gbk, "点卡10元"_gbk); },
      QStringLiteral("确定"), &box);
  EXPECT_TRUE(shown.contains(QStringLiteral("确定")));
  EXPECT_TRUE(shown.contains(QStringLiteral("取消")));
  // Accepted untouched: the current name comes back.
  ASSERT_TRUE(typed.has_value());
  EXPECT_EQ(*typed, "点卡10元"_gbk);
}

}  // namespace
}  // namespace autodeliver
