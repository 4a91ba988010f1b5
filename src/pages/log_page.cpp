// The log page; see log_page.h.
#include "pages/log_page.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <deque>
#include <mutex>

namespace autodeliver {

// The lines written since the page last took them, shared by the log's
// receiver (any thread) and the page (its own thread).
struct LogPage::Inbox {
  explicit Inbox(std::size_t bound) : bound(bound) {}

  const std::size_t bound;
  std::mutex mutex;
  std::deque<LogEntry> lines;  // guarded by mutex; oldest first
  bool callPosted = false;     // a queued TakeInbox is on its way; guarded by mutex
};

LogPage::LogPage(const LogPageControls& controls, int capacity, QObject* parent)
    : QObject(parent),
      filterBox_(controls.filterBox),
      countLabel_(controls.countLabel),
      view_(controls.logView),
      model_(new LogModel(capacity, this)),
      filter_(new LogFilterModel(model_, this)),
      inbox_(std::make_shared<Inbox>(static_cast<std::size_t>(model_->capacity()))) {
  view_->setModel(filter_);
  view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view_->verticalHeader()->setDefaultSectionSize(20);
  view_->verticalHeader()->hide();
  view_->horizontalHeader()->setStretchLastSection(true);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setWordWrap(false);
  view_->setAlternatingRowColors(true);
  // The line's own text, last, takes the rest of the width.
  for (int col = 0; col < LogModel::kText; ++col) view_->setColumnWidth(col, LogModel::ColumnWidth(col));
  filterBox_->setPlaceholderText(QStringLiteral("输入订单编号、买家旺旺或宝贝名称筛选"));
  filterBox_->setClearButtonEnabled(true);
  connect(filterBox_, &QLineEdit::textChanged, this, &LogPage::FilterChanged);
  if (controls.warningsOnlyBox) {
    connect(controls.warningsOnlyBox, &QCheckBox::toggled, this, &LogPage::ShowWarningsOnly);
  }
  connect(controls.settingsButton, &QPushButton::clicked, this, &LogPage::notificationSettingsRequested);
  connect(filter_, &QAbstractItemModel::rowsInserted, this, &LogPage::UpdateCount);
  connect(filter_, &QAbstractItemModel::rowsRemoved, this, &LogPage::UpdateCount);
  connect(filter_, &QAbstractItemModel::modelReset, this, &LogPage::UpdateCount);
  connect(filter_, &QAbstractItemModel::layoutChanged, this, &LogPage::UpdateCount);
  UpdateCount();
}

LogPage::~LogPage() { Detach(); }

void LogPage::Attach(DeliveryLog& log) {
  Detach();
  log_ = &log;
  std::shared_ptr<Inbox> inbox = inbox_;
  sinkId_ = log.AddLineSink([inbox, self = this](const DeliveryLogLine& line) {
    LogEntry entry = LogEntryOf(line);  // converted here, off the window's thread
    std::lock_guard<std::mutex> lock(inbox->mutex);
    inbox->lines.push_back(std::move(entry));
    if (inbox->lines.size() > inbox->bound) inbox->lines.pop_front();
    if (inbox->callPosted) return;
    inbox->callPosted = true;
    // The page is alive here: Detach removes this receiver before the page
    // goes, and a call still queued then is dropped with the page.
    QMetaObject::invokeMethod(self, &LogPage::TakeInbox, Qt::QueuedConnection);
  });
}

void LogPage::Detach() {
  if (log_ == nullptr) return;
  log_->RemoveLineSink(sinkId_);
  log_ = nullptr;
  sinkId_ = 0;
}

void LogPage::TakeInbox() {
  std::vector<LogEntry> lines;
  {
    std::lock_guard<std::mutex> lock(inbox_->mutex);
    inbox_->callPosted = false;
    lines.reserve(inbox_->lines.size());
    std::move(inbox_->lines.begin(), inbox_->lines.end(), std::back_inserter(lines));
    inbox_->lines.clear();
  }
  model_->Append(std::move(lines));
}

void LogPage::FilterChanged(const QString& text) {
  filter_->SetFilterText(text);
  UpdateCount();
}

void LogPage::ShowWarningsOnly(bool only) {
  filter_->SetWarningsOnly(only);
  UpdateCount();
}

QString LogPage::CountText() const {
  const int kept = model_->rowCount();
  QString text = !filter_->filtering()
                     ? QStringLiteral("共 %1 条").arg(kept)
                     : QStringLiteral("筛选出 %1 条 / 共 %2 条").arg(filter_->rowCount()).arg(kept);
  if (model_->linesReceived() > kept)
    text += QStringLiteral("（只显示最近 %1 条，更早的在日志文件中）").arg(kept);
  return text;
}

void LogPage::UpdateCount() {
  if (countLabel_) countLabel_->setText(CountText());
}

}  // namespace autodeliver
