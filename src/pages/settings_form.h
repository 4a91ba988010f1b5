// What the settings dialogs (the desktop notifications', the phone alerts',
// the order rules') build alike: a set of on/off switches kept by kind, the
// red line that says the settings could not be stored, and the "确定" /
// "取消" buttons.
//
// Switches<Kind> makes one check box per kind, wherever the dialog places
// it (a column of them, or one per tab), ticks them from the stored
// settings and hands back what the seller changed, so that a switch left
// as it is needs no write.
//
// Thread safety: Qt widgets; GUI thread only.
#pragma once

#include <QCheckBox>
#include <QString>
#include <functional>
#include <map>

#include "io/status.h"

class QBoxLayout;
class QDialog;
class QLabel;

namespace autodeliver {

template <typename Kind>
class Switches {
 public:
  // A new switch for `kind` with `caption`, in `parent` (the caller lays it
  // out); `name`, when given, is its object name (the tests find it by
  // that).
  QCheckBox* Add(Kind kind, const QString& caption, QWidget* parent, const QString& name = {}) {
    auto* box = new QCheckBox(caption, parent);
    if (!name.isEmpty()) box->setObjectName(name);
    boxes_[kind] = box;
    return box;
  }

  QCheckBox* at(Kind kind) const { return boxes_.at(kind); }
  bool On(Kind kind) const { return boxes_.at(kind)->isChecked(); }

  // Ticks each switch as `stored` says.
  void Show(const std::function<bool(Kind)>& stored) {
    for (const auto& [kind, box] : boxes_) box->setChecked(stored(kind));
  }

  // Calls `store` for each switch whose tick differs from `stored`; the
  // cause of the first of those calls that failed (the others are still
  // made), ok when none did.
  Status StoreChanged(const std::function<bool(Kind)>& stored,
                      const std::function<Status(Kind, bool)>& store) const {
    Status first;
    for (const auto& [kind, box] : boxes_) {
      if (box->isChecked() == stored(kind)) continue;
      Status s = store(kind, box->isChecked());
      if (first.ok() && !s.ok()) first = std::move(s);
    }
    return first;
  }

 private:
  std::map<Kind, QCheckBox*> boxes_;
};

// The line saying that the settings could not be stored: red, hidden until
// a store fails; added to the end of `layout`.
QLabel* AddFailureLine(QWidget* dialog, QBoxLayout* layout, const QString& text);
// Shows `line` when `stored` failed, with `text` and the cause in the words
// the delivery uses for it; hides it when `stored` is ok.
void ShowFailure(QLabel* line, const QString& text, const Status& stored);

// "确定" and "取消", wired to the dialog's accept() and reject(); added to
// the end of `layout`.
void AddOkAndCancel(QDialog* dialog, QBoxLayout* layout);

}  // namespace autodeliver
