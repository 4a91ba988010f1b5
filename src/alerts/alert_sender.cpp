// The alert queue and its thread; see alert_sender.h.
#include "alerts/alert_sender.h"

namespace autodeliver {

const char* AlertKindCode(NotificationKind kind) {
  switch (kind) {
    case NotificationKind::kImFailed:
      return "im_failed";
    case NotificationKind::kWaitingForStock:
      return "waiting_for_stock";
    case NotificationKind::kStockWarning:
      return "stock_warning";
    case NotificationKind::kPageUnpaired:
      return "page_unpaired";
    case NotificationKind::kLoginExpired:
      return "login_expired";
    case NotificationKind::kOrderHeld:
      return "order_held";
  }
  return "other";
}

AlertSender::AlertSender(Hooks hooks) : hooks_(std::move(hooks)) {
  if (!hooks_.settings) hooks_.settings = [] { return AlertSettings(); };
  if (!hooks_.now) hooks_.now = [] { return std::time(nullptr); };
  if (!hooks_.send) {
    hooks_.send = [this](const AlertChannel& channel, const Alert& alert) {
      return SendThroughChannel(channel, alert, &cancel_);
    };
  }
  if (!hooks_.wait) {
    hooks_.wait = [this](std::chrono::milliseconds pause, const std::function<bool()>& stop) {
      MutexLock lock(mutex_);
      wake_.wait_for(lock, pause, stop);
    };
  }
}

AlertSender::~AlertSender() {
  std::thread thread;
  {
    MutexLock lock(mutex_);
    stopping_ = true;
    cancel_ = true;
    dropped_ += static_cast<int>(queue_.size());
    queue_.clear();
    // No alert starts the thread once stopping_ is set.
    thread = std::move(thread_);
  }
  wake_.notify_all();
  if (thread.joinable()) thread.join();
}

void AlertSender::Notify(const Notification& n) {
  Alert alert;
  alert.kind = AlertKindCode(n.kind);
  alert.subject = n.subject;
  alert.title = n.summary;
  alert.text = n.body;
  alert.at = hooks_.now();
  {
    MutexLock lock(mutex_);
    if (stopping_) return;
    const auto key = std::make_pair(alert.kind, alert.subject);
    auto last = lastSent_.find(key);
    if (last != lastSent_.end() && alert.at >= last->second && alert.at - last->second < repeatSeconds_) {
      ++heldBack_;
      return;
    }
    if (queue_.size() >= kQueueBound) {
      ++dropped_;
      return;
    }
    lastSent_[key] = alert.at;
    queue_.emplace_back(std::move(alert), true);
    if (!thread_.joinable()) thread_ = std::thread(&AlertSender::Run, this);
  }
  wake_.notify_all();
}

bool AlertSender::Send(Alert alert) {
  if (alert.at == 0) alert.at = hooks_.now();
  {
    MutexLock lock(mutex_);
    if (stopping_ || queue_.size() >= kQueueBound) {
      ++dropped_;
      return false;
    }
    queue_.emplace_back(std::move(alert), false);
    if (!thread_.joinable()) thread_ = std::thread(&AlertSender::Run, this);
  }
  wake_.notify_all();
  return true;
}

bool AlertSender::WaitIdle(std::chrono::milliseconds bound) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  MutexLock lock(mutex_);
  while (!queue_.empty() || busy_) {
    if (idle_.wait_until(lock, deadline) == std::cv_status::timeout) return queue_.empty() && !busy_;
  }
  return true;
}

int AlertSender::delivered() const {
  MutexLock lock(mutex_);
  return delivered_;
}
int AlertSender::givenUp() const {
  MutexLock lock(mutex_);
  return givenUp_;
}
int AlertSender::dropped() const {
  MutexLock lock(mutex_);
  return dropped_;
}
int AlertSender::heldBack() const {
  MutexLock lock(mutex_);
  return heldBack_;
}

void AlertSender::Log(const std::string& line) {
  if (hooks_.log) hooks_.log(line);
}

void AlertSender::Run() {
  MutexLock lock(mutex_);
  for (;;) {
    while (!stopping_ && queue_.empty()) wake_.wait(lock);
    if (stopping_) break;
    Alert alert = std::move(queue_.front().first);
    queue_.pop_front();
    busy_ = true;
    lock.unlock();
    const AlertSettings settings = hooks_.settings();
    if (alert.shop.empty()) alert.shop = settings.shopName.empty() ? "（未填写店铺名称）" : settings.shopName;
    Deliver(alert, settings);
    lock.lock();
    repeatSeconds_ = static_cast<std::time_t>(settings.repeatMinutes) * 60;
    busy_ = false;
    if (queue_.empty()) idle_.notify_all();
  }
  busy_ = false;
  idle_.notify_all();
}

void AlertSender::Deliver(const Alert& alert, const AlertSettings& settings) {
  const std::set<AlertChannelKind> failingBefore = failing_;
  auto stop = [this] { return cancel_.load(); };
  for (const AlertChannel& channel : settings.channels) {
    if (!channel.Usable()) continue;
    ChannelAnswer answer;
    for (std::size_t attempt = 0;; ++attempt) {
      answer = hooks_.send(channel, alert);
      if (answer.ok || attempt == std::size(kBackOff)) break;
      {
        MutexLock lock(mutex_);
        if (stopping_) break;
      }
      hooks_.wait(std::chrono::duration_cast<std::chrono::milliseconds>(kBackOff[attempt]), stop);
      MutexLock lock(mutex_);
      if (stopping_) break;
    }
    {
      MutexLock lock(mutex_);
      // Abandoned at shutdown: neither a failure of the channel nor news.
      if (stopping_ && !answer.ok) return;
      ++(answer.ok ? delivered_ : givenUp_);
    }
    const std::string caption = AlertChannelCaption(channel.kind);
    if (answer.ok) {
      if (failing_.erase(channel.kind) > 0) Log("手机提醒渠道“" + caption + "”已恢复发送");
      continue;
    }
    Log("手机提醒“" + alert.title + "”没能经“" + caption + "”发出（已重试 " +
        std::to_string(std::size(kBackOff)) + " 次）：" + WithoutSecrets(answer.detail, channel.Secrets()));
    failing_.insert(channel.kind);
  }
  if (failing_ == failingBefore || !hooks_.trouble) return;
  std::string names;
  for (AlertChannelKind kind : failing_)
    names += (names.empty() ? "" : "、") + std::string(AlertChannelCaption(kind));
  hooks_.trouble(names);
}

}  // namespace autodeliver
