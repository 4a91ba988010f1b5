// What the settings dialogs build alike; see settings_form.h.
#include "pages/settings_form.h"

#include <QBoxLayout>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>

#include "delivery/wording.h"

namespace autodeliver {

QLabel* AddFailureLine(QWidget* dialog, QBoxLayout* layout, const QString& text) {
  auto* line = new QLabel(text, dialog);
  line->setStyleSheet(QStringLiteral("color: #b01e1e;"));
  line->hide();
  layout->addWidget(line);
  return line;
}

void ShowFailure(QLabel* line, const QString& text, const Status& stored) {
  if (stored.ok()) {
    line->hide();
    return;
  }
  line->setText(text + QLatin1Char('\n') + QString::fromStdString(CauseSentence(stored)));
  line->show();
}

void AddOkAndCancel(QDialog* dialog, QBoxLayout* layout) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  layout->addWidget(buttons);
}

}  // namespace autodeliver
