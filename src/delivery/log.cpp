// The delivery log; see log.h.
#include "delivery/log.h"

#include <spdlog/logger.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <set>
#include <string_view>
#include <utility>

#include "delivery/wording.h"
#include "store/shop_context.h"

namespace autodeliver {
namespace {

DeliveryLog::Options OptionsAt(std::string path) {
  DeliveryLog::Options options;
  options.path = std::move(path);
  return options;
}

const char* LevelTag(LineLevel level) { return level == LineLevel::kWarning ? "[警告] " : "[信息] "; }

}  // namespace

std::string DeliveryLogPath(const ShopContext& shop) { return shop.DataDir() + "/logs/delivery.log"; }

DeliveryLog::DeliveryLog(const ShopContext& shop) : DeliveryLog(OptionsAt(DeliveryLogPath(shop))) {}

DeliveryLog::DeliveryLog(const Options& options)
    : path_(options.path), failures_(std::make_shared<std::atomic<int>>(0)) {
  clock_ = options.clock;
  // Only the log's own folder is made: a data folder that is missing stays
  // missing (the program's start-up reports it), and the log is then off.
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::path(path_).parent_path();
  const std::filesystem::path above = folder.parent_path();
  if (!above.empty() && !std::filesystem::is_directory(above, error)) return;
  // The log names orders and buyers: its folder is the seller's alone.
  ::mkdir(folder.c_str(), 0700);
  try {
    auto sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
        path_, options.maxFileBytes < 1024 ? 1024 : options.maxFileBytes, options.filesKept);
    auto logger = std::make_shared<spdlog::logger>("delivery", std::move(sink));
    // The time stamp, then the line as worded (level tag included).
    logger->set_formatter(std::make_unique<spdlog::pattern_formatter>("%Y-%m-%d %H:%M:%S.%e %v"));
    logger->set_level(spdlog::level::info);
    logger->flush_on(spdlog::level::info);
    std::weak_ptr<std::atomic<int>> failures = failures_;
    logger->set_error_handler([failures](const std::string&) {
      if (auto count = failures.lock()) ++*count;
    });
    logger_ = std::move(logger);
  } catch (const std::exception&) {
    logger_.reset();  // the file cannot be opened; the receivers still get every line
  }
}

DeliveryLog::~DeliveryLog() {
  {
    MutexLock lock(cycleMutex_);
    if (idleCycles_ > 0) WriteIdleSummary();
  }
  Flush();
}

std::chrono::system_clock::time_point DeliveryLog::Now() const {
  return clock_ ? clock_() : std::chrono::system_clock::now();
}

int DeliveryLog::writeFailures() const { return failures_->load(); }

int DeliveryLog::AddLineSink(LineSink sink) {
  MutexLock lock(mutex_);
  const int id = nextSinkId_++;
  sinks_.emplace_back(id, std::move(sink));
  return id;
}

void DeliveryLog::RemoveLineSink(int id) {
  MutexLock lock(mutex_);
  std::erase_if(sinks_, [id](const auto& entry) { return entry.first == id; });
}

void DeliveryLog::Write(LineLevel level, const std::string& text, const std::string& orderNumber) {
  DeliveryLogLine line;
  line.level = level;
  line.text = text;
  line.orderNumber = orderNumber;
  WriteLine(std::move(line));
}

void DeliveryLog::WriteAbout(const WordedLine& worded, const PendingOrder& order, std::string reason) {
  DeliveryLogLine line;
  line.level = worded.level;
  line.text = worded.text;
  line.orderNumber = order.orderNumber;
  line.buyerNick = order.buyerNick;
  line.itemTitle = order.itemTitle;
  line.reason = std::move(reason);
  WriteLine(std::move(line));
}

void DeliveryLog::WriteLine(DeliveryLogLine line) {
  if (line.at == std::chrono::system_clock::time_point()) line.at = Now();
  line.text = OneLine(line.text);
  const LineLevel level = line.level;
  MutexLock lock(mutex_);
  if (logger_) {
    const std::string written = LevelTag(level) + line.text;
    try {
      logger_->log(line.at, spdlog::source_loc{}, spdlog::level::info,
                   spdlog::string_view_t(written.data(), written.size()));
    } catch (const std::exception&) {
      ++*failures_;
    }
  }
  for (const auto& [id, sink] : sinks_) sink(line);
}

void DeliveryLog::Write(const WordedLine& line, const std::string& orderNumber) {
  Write(line.level, line.text, orderNumber);
}

void DeliveryLog::Flush() {
  MutexLock lock(mutex_);
  if (!logger_) return;
  try {
    logger_->flush();
  } catch (const std::exception&) {
    ++*failures_;
  }
}

void DeliveryLog::OpenCycleLines(const PendingOrder* about) {
  if (!cycleOpen_) return;
  if (!cycleToldAny_) {
    cycleToldAny_ = true;
    if (idleCycles_ > 0) WriteIdleSummary();
    DeliveryLogLine start;
    start.at = cycleStartedAt_;
    start.text = WordCycleStarted().text;
    WriteLine(std::move(start));
    if (scanLine_) Write(*scanLine_);
  }
  if (about != nullptr && seen_ && seen_->orderNumber == about->orderNumber)
    WriteAbout(WordOrderSeen(*seen_), *seen_);
  seen_.reset();
}

void DeliveryLog::WriteIdleSummary() {
  const std::time_t since = std::chrono::system_clock::to_time_t(idleSince_);
  std::tm local{};
  localtime_r(&since, &local);
  char clock[16];
  std::strftime(clock, sizeof clock, "%H:%M", &local);
  std::string text = std::string(clock) + " 起空闲 " + std::to_string(idleCycles_) +
                     " 轮：没有要发货的订单，最近一轮列出 " + std::to_string(idleListed_) + " 笔";
  if (idleUnmatched_ > 0) text += "（" + std::to_string(idleUnmatched_) + " 笔未匹配监控宝贝）";
  idleCycles_ = 0;
  Write(LineLevel::kInfo, text);
}

bool DeliveryLog::KnownBefore(const PendingOrder& order, int reason) {
  auto [it, added] = reasonOf_.try_emplace(order.orderNumber, reason);
  if (added) return false;
  if (it->second == reason) return true;
  it->second = reason;
  return false;
}

void DeliveryLog::CycleStarted() {
  MutexLock lock(cycleMutex_);
  cycleOpen_ = true;
  cycleToldAny_ = false;
  cycleStartedAt_ = Now();
  scanLine_.reset();
  seen_.reset();
  cycleUnmatched_ = 0;
}

void DeliveryLog::OrdersScanned(const OrderScan& scan) {
  MutexLock lock(cycleMutex_);
  if (!cycleOpen_) return Write(WordOrdersScanned(scan));
  if (scan.outcome != ScanOutcome::kListed) {
    OpenCycleLines();
    return Write(WordOrdersScanned(scan));
  }
  scanLine_ = WordOrdersScanned(scan);
  // An order that left the list is forgotten: should it come back, it is
  // told again.
  std::set<std::string_view> listed;
  for (const PendingOrder& order : scan.orders) listed.insert(order.orderNumber);
  std::erase_if(reasonOf_, [&](const auto& entry) { return !listed.contains(entry.first); });
}

void DeliveryLog::OrderSeen(const PendingOrder& order) {
  MutexLock lock(cycleMutex_);
  if (!cycleOpen_) return WriteAbout(WordOrderSeen(order), order);
  seen_ = order;
}

void DeliveryLog::OrderSkipped(const PendingOrder& order, SkipReason reason) {
  MutexLock lock(cycleMutex_);
  if (reason == SkipReason::kNotMonitored) ++cycleUnmatched_;
  if (cycleOpen_ && KnownBefore(order, static_cast<int>(reason))) {
    seen_.reset();
    return;
  }
  OpenCycleLines(&order);
  WriteAbout(WordOrderSkipped(order, reason), order, ReasonText(reason));
}

// The rules say whether a hold is news (told once per order and reason);
// one that is opens the cycle's lines like any other order told.
void DeliveryLog::OrderHeld(const PendingOrder& order, HoldReason reason, bool news) {
  MutexLock lock(cycleMutex_);
  if (!news) {
    seen_.reset();
    return;
  }
  OpenCycleLines(&order);
  WriteAbout(WordOrderHeld(order, reason), order, ReasonText(reason));
}
void DeliveryLog::OrderWaiting(const PendingOrder& order, WaitReason reason, int stockLeft) {
  MutexLock lock(cycleMutex_);
  if (cycleOpen_ && KnownBefore(order, 100 + static_cast<int>(reason))) {
    seen_.reset();
    return;
  }
  OpenCycleLines(&order);
  WriteAbout(WordOrderWaiting(order, reason, stockLeft), order, ReasonText(reason));
}

void DeliveryLog::OrderNotWritten(const PendingOrder& order, const Status& cause) {
  MutexLock lock(cycleMutex_);
  if (cycleOpen_ && KnownBefore(order, 300 + static_cast<int>(cause.code()) * 1000 + cause.error())) {
    seen_.reset();
    return;
  }
  OpenCycleLines(&order);
  WriteAbout(WordOrderNotWritten(order, cause), order, ReasonText(cause));
}

void DeliveryLog::CardsDelivered(const PendingOrder& order, const std::vector<DeliveredCard>& cards) {
  MutexLock lock(cycleMutex_);
  OpenCycleLines(&order);
  reasonOf_.erase(order.orderNumber);
  WriteAbout(WordCardsDelivered(order, cards), order);
}

void DeliveryLog::StockAfterDelivery(const PendingOrder& order, int cardsLeft) {
  MutexLock lock(cycleMutex_);
  OpenCycleLines(&order);
  WriteAbout(WordStockAfterDelivery(order, cardsLeft), order);
}

void DeliveryLog::MessageHanded(const PendingOrder& order, bool handed) {
  MutexLock lock(cycleMutex_);
  OpenCycleLines(&order);
  WriteAbout(WordMessageHanded(order, handed), order, handed ? std::string() : "旺旺没有收下卡密消息");
}

void DeliveryLog::OrderRecovered(const PendingOrder& order, RecoveryAction action, bool ok,
                                 const Status& cause) {
  MutexLock lock(cycleMutex_);
  OpenCycleLines(&order);
  Write(WordOrderRecovered(order, action, ok, cause), order.orderNumber);
}

void DeliveryLog::OrderConsigned(const PendingOrder& order, bool answered) {
  MutexLock lock(cycleMutex_);
  OpenCycleLines(&order);
  WriteAbout(WordOrderConsigned(order, answered), order, answered ? std::string() : "提交发货没有应答");
}

void DeliveryLog::LoginStateChanged(bool looksExpired) {
  MutexLock lock(cycleMutex_);
  OpenCycleLines();
  Write(WordLoginStateChanged(looksExpired));
}

void DeliveryLog::CycleEnded(const CycleResult& result) {
  MutexLock lock(cycleMutex_);
  if (!cycleOpen_) return Write(WordCycleEnded(result));
  const bool tell = cycleToldAny_ || result.ordersDelivered > 0 || result.ordersConsigned > 0 ||
                    result.endedAtImFailure || result.loginLooksExpired || result.stopped ||
                    !result.notWritten.ok() || result.scanOutcome != ScanOutcome::kListed;
  if (tell) {
    OpenCycleLines();
    Write(WordCycleEnded(result));
  } else {
    if (idleCycles_ == 0) idleSince_ = cycleStartedAt_;
    ++idleCycles_;
    idleListed_ = result.ordersListed;
    idleUnmatched_ = cycleUnmatched_;
    if (Now() - idleSince_ >= std::chrono::hours(1)) WriteIdleSummary();
  }
  cycleOpen_ = false;
  seen_.reset();
  scanLine_.reset();
}

void DeliveryLog::OrderResent(const ResendResult& result) {
  for (const WordedLine& line : WordOrderResent(result)) Write(line, result.order.orderNumber);
}

}  // namespace autodeliver
