// The log page "运行日志": the delivery log's recent lines, newest first, in
// a table with a filter box for an order number, a buyer or an item, the
// tick "只看警告", and a line that counts what is shown.
//
// The lines come from the delivery log (Attach): its line receiver runs on
// the thread that wrote the line (the delivery thread), turns the line into
// display text there and puts it into an inbox; the first line of a batch
// posts one queued call to the page's thread, which takes the whole inbox
// into the model at once. A burst of lines therefore costs the window one
// model update, not one per line, and the window's thread never waits for
// the delivery thread. The inbox holds at most the model's capacity: when
// the window falls behind, lines that would leave the ring anyway are
// dropped in the inbox already.
//
// Thread safety: lives on the window's thread and is used there; only the
// receiver it gives the log runs elsewhere. Detach (or the destructor)
// removes the receiver; a call already posted is dropped with the page.
#pragma once

#include <QObject>
#include <QPointer>
#include <memory>

#include "pages/log_model.h"
#include "pages/page_controls.h"

namespace autodeliver {

class LogPage : public QObject {
  Q_OBJECT

 public:
  // Binds the page to `controls` (all set); `capacity` lines are kept.
  explicit LogPage(const LogPageControls& controls, int capacity = LogModel::kDefaultCapacity,
                   QObject* parent = nullptr);
  ~LogPage() override;

  // Receives every line `log` writes from now on; `log` must outlive the
  // page or be detached first. A page is attached to one log at a time.
  void Attach(DeliveryLog& log);
  void Detach();

  // Takes the lines waiting in the inbox into the model now (the queued call
  // does this by itself; tests and the benchmark call it directly).
  void TakeInbox();

  // The filter box's text changed.
  void FilterChanged(const QString& text);
  // "只看警告" was ticked or unticked.
  void ShowWarningsOnly(bool only);

  LogModel& model() { return *model_; }
  LogFilterModel& filter() { return *filter_; }
  // The count line under the filter box.
  QString CountText() const;

 signals:
  // "通知设置" was pressed.
  void notificationSettingsRequested();

 private:
  struct Inbox;

  void UpdateCount();

  QPointer<QLineEdit> filterBox_;
  QPointer<QLabel> countLabel_;
  QPointer<QTableView> view_;
  LogModel* model_;
  LogFilterModel* filter_;
  std::shared_ptr<Inbox> inbox_;
  DeliveryLog* log_ = nullptr;
  int sinkId_ = 0;
};

}  // namespace autodeliver
