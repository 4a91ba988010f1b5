// The delivery log; see log.h.
#include "delivery/log.h"

#include <spdlog/logger.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>

#include "delivery/wording.h"
#include "store/shop_paths.h"

namespace autodeliver {
namespace {

const char* LevelTag(LineLevel level) { return level == LineLevel::kWarning ? "[警告] " : "[信息] "; }

}  // namespace

std::string DeliveryLogPath() { return DataDir() + "/logs/delivery.log"; }

DeliveryLog::DeliveryLog() : DeliveryLog(Options()) {}

DeliveryLog::DeliveryLog(const Options& options)
    : path_(options.path), failures_(std::make_shared<std::atomic<int>>(0)) {
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

DeliveryLog::~DeliveryLog() { Flush(); }

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
  line.at = std::chrono::system_clock::now();
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

void DeliveryLog::CycleStarted() { Write(WordCycleStarted()); }
void DeliveryLog::OrdersScanned(const OrderScan& scan) { Write(WordOrdersScanned(scan)); }
void DeliveryLog::OrderSeen(const PendingOrder& order) { WriteAbout(WordOrderSeen(order), order); }
void DeliveryLog::OrderSkipped(const PendingOrder& order, SkipReason reason) {
  WriteAbout(WordOrderSkipped(order, reason), order, ReasonText(reason));
}
void DeliveryLog::OrderWaiting(const PendingOrder& order, WaitReason reason, int stockLeft) {
  WriteAbout(WordOrderWaiting(order, reason, stockLeft), order, ReasonText(reason));
}
void DeliveryLog::CardsDelivered(const PendingOrder& order, const std::vector<DeliveredCard>& cards) {
  WriteAbout(WordCardsDelivered(order, cards), order);
}
void DeliveryLog::StockAfterDelivery(const PendingOrder& order, int cardsLeft) {
  WriteAbout(WordStockAfterDelivery(order, cardsLeft), order);
}
void DeliveryLog::MessageHanded(const PendingOrder& order, bool handed) {
  WriteAbout(WordMessageHanded(order, handed), order, handed ? std::string() : "旺旺没有收下卡密消息");
}
void DeliveryLog::OrderRecovered(const PendingOrder& order, RecoveryAction action, bool ok) {
  Write(WordOrderRecovered(order, action, ok), order.orderNumber);
}
void DeliveryLog::OrderConsigned(const PendingOrder& order, bool answered) {
  WriteAbout(WordOrderConsigned(order, answered), order, answered ? std::string() : "提交发货没有应答");
}
void DeliveryLog::LoginStateChanged(bool looksExpired) { Write(WordLoginStateChanged(looksExpired)); }
void DeliveryLog::CycleEnded(const CycleResult& result) { Write(WordCycleEnded(result)); }
void DeliveryLog::OrderResent(const ResendResult& result) {
  for (const WordedLine& line : WordOrderResent(result)) Write(line, result.order.orderNumber);
}

}  // namespace autodeliver
