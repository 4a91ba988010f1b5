// The delivery events in the program's words; see wording.h.
#include "delivery/wording.h"

#include <cstdio>

#include "text/gbk.h"

namespace autodeliver {
namespace {

// The byte offsets where the GBK characters of `text` begin.
std::vector<std::size_t> CharacterStarts(std::string_view text) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < text.size();) {
    starts.push_back(i);
    i += (IsGbkLeadByte(static_cast<unsigned char>(text[i])) && i + 1 < text.size()) ? 2 : 1;
  }
  return starts;
}

std::string CountText(int number) { return std::to_string(number); }

// "订单 <number>（买家 <nick>）："
std::string About(const PendingOrder& order) {
  return "订单 " + LineText(order.orderNumber) + "（买家 " + LineText(order.buyerNick) + "）：";
}

WordedLine Info(std::string text) { return {LineLevel::kInfo, std::move(text)}; }
WordedLine Warning(std::string text) { return {LineLevel::kWarning, std::move(text)}; }

}  // namespace

std::string ShortCardNumber(std::string_view cardNumber) {
  const std::vector<std::size_t> starts = CharacterStarts(cardNumber);
  const std::size_t count = starts.size();
  std::size_t head = 0, tail = 0;
  if (count > 6) {
    head = 4, tail = 2;
  } else if (count > 2) {
    head = 1, tail = 1;
  }
  const std::string_view first = cardNumber.substr(0, head < count ? starts[head] : cardNumber.size());
  const std::string_view last = tail == 0 ? std::string_view() : cardNumber.substr(starts[count - tail]);
  return LineText(first) + "…" + LineText(last);
}

std::string OneLine(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (const char c : utf8) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", b);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out;
}

std::string LineText(std::string_view gbk) { return OneLine(GbkToUtf8Lossy(gbk)); }

std::string PatternCountsText(const OrderPatternCounts& c) {
  return "宝贝标题 " + CountText(c.itemTitles) + " 处，买家旺旺 " + CountText(c.buyerNicks) +
         " 处，订单编号 " + CountText(c.orderNumbers) + " 处，购买数量 " + CountText(c.quantities) +
         " 处，发货链接 " + CountText(c.orderIds) + " 处";
}

std::string ReasonText(SkipReason reason) {
  switch (reason) {
    case SkipReason::kAlreadyDelivered:
      return "已发过卡密";
    case SkipReason::kNotMonitored:
      return "宝贝不在监控列表中";
  }
  return "原因不明";
}

std::string ReasonText(WaitReason reason) {
  switch (reason) {
    case WaitReason::kSellerNickUnreadable:
      return "读不到卖家旺旺名";
    case WaitReason::kQuantityNotPositive:
      return "购买数量不是正数";
    case WaitReason::kStockShort:
      return "库存不足，等待补货";
    case WaitReason::kOnlineCardFailed:
      return "在线卡密取卡失败";
    case WaitReason::kStockChanged:
      return "备卡时库存有变动";
    case WaitReason::kRecordFailed:
      return "卡密无法取出并记录";
    case WaitReason::kBuyerNickUnpassable:
      return "买家旺旺名含有无法传递的字符";
    case WaitReason::kSellerNickUnpassable:
      return "卖家旺旺名含有无法传递的字符";
    case WaitReason::kNotWritten:
      return "卡密无法写入磁盘";
    case WaitReason::kValueTooLong:
      return "订单的文字超出已发卡密表的字段宽度";
    case WaitReason::kImNotAnswering:
      return "阿里旺旺未响应";
    case WaitReason::kRetriesUsedUp:
      return "多次补发未成功";
  }
  return "原因不明";
}

WordedLine WordCycleStarted() { return Info("开始一轮发货：扫描等待发货的订单"); }

WordedLine WordOrdersScanned(const OrderScan& scan) {
  switch (scan.outcome) {
    case ScanOutcome::kListed:
      if (scan.ordersNotRead > 0) {
        // The page listed more orders than one scan holds in memory: the
        // first ones are delivered now, the rest once they have moved up.
        return Warning("订单页列出的订单过多：本轮读取前 " + CountText(static_cast<int>(scan.orders.size())) +
                       " 笔，其余 " + CountText(scan.ordersNotRead) + " 笔留待下一轮");
      }
      return Info("订单页列出 " + CountText(static_cast<int>(scan.orders.size())) + " 笔等待发货的订单");
    case ScanOutcome::kUnpaired: {
      const OrderPatternCounts& c = scan.counts;
      return Warning("订单页面无法解析：订单信息无法一一配对（" + PatternCountsText(c) + "），本轮不发货");
    }
    case ScanOutcome::kSignInPage:
      return Warning("订单页打开的是登录页面，淘宝登录可能已失效");
    case ScanOutcome::kNoAnswer:
      return Warning("订单页没有应答（网络不通或超时），本轮不发货");
  }
  return Warning("订单页情况不明");
}

WordedLine WordOrderSeen(const PendingOrder& order) {
  return Info(About(order) + "宝贝“" + LineText(order.itemTitle) + "” × " + CountText(order.quantity));
}

WordedLine WordOrderSkipped(const PendingOrder& order, SkipReason reason) {
  switch (reason) {
    case SkipReason::kAlreadyDelivered:
      return Info(About(order) + "已发过卡密，跳过");
    case SkipReason::kNotMonitored:
      return Info(About(order) + "宝贝“" + LineText(order.itemTitle) + "”不在监控列表中，跳过");
  }
  return Info(About(order) + "跳过");
}

std::string ReasonText(HoldReason reason) {
  switch (reason) {
    case HoldReason::kBlacklisted:
      return "买家在黑名单中";
    case HoldReason::kRefused:
      return "已拒绝，留待在淘宝处理";
    case HoldReason::kOverLimit:
      return "超过限拍件数";
    case HoldReason::kAwaitingApproval:
      return "待确认";
    case HoldReason::kQuietHours:
      return "免打扰时段，暂停发货";
    case HoldReason::kDelayed:
      return "延迟发货，等待时间未到";
  }
  return "原因不明";
}

WordedLine WordOrderHeld(const PendingOrder& order, HoldReason reason) {
  std::string text = About(order) + "宝贝“" + LineText(order.itemTitle) + "” × " +
                     std::to_string(order.quantity) + "，" + ReasonText(reason);
  switch (reason) {
    case HoldReason::kBlacklisted:
      text += "，不发货";
      break;
    case HoldReason::kRefused:
      text += "，本程序不会发货";
      break;
    case HoldReason::kOverLimit:
    case HoldReason::kAwaitingApproval:
      text += "，请在“发货规则”中同意或拒绝";
      break;
    case HoldReason::kQuietHours:
    case HoldReason::kDelayed:
      text += "，稍后自动发货";
      break;
  }
  const LineLevel level = reason == HoldReason::kQuietHours || reason == HoldReason::kDelayed
                              ? LineLevel::kInfo
                              : LineLevel::kWarning;
  return {level, text};
}

WordedLine WordOrderWaiting(const PendingOrder& order, WaitReason reason, int stockLeft) {
  std::string text = About(order);
  switch (reason) {
    case WaitReason::kSellerNickUnreadable:
      text += "读不到卖家旺旺名，无法联系买家，暂不发货，等下一轮";
      break;
    case WaitReason::kQuantityNotPositive:
      text += "购买数量为 " + CountText(order.quantity) + "，不发货";
      break;
    case WaitReason::kStockShort:
      text += "库存不足（库存 " + CountText(stockLeft) + " 张，需要 " + CountText(order.quantity) +
              " 张），等待补货";
      break;
    case WaitReason::kOnlineCardFailed:
      text += "在线卡密取卡失败，卡密留在库存中，等下一轮";
      break;
    case WaitReason::kStockChanged:
      text += "备卡时库存有变动，等下一轮";
      break;
    case WaitReason::kRecordFailed:
      text += "卡密无法取出并记入已发卡密，等下一轮";
      break;
    case WaitReason::kBuyerNickUnpassable:
      text += "买家旺旺名含有无法传递的字符，无法用旺旺发送，不取卡，请手工处理";
      break;
    case WaitReason::kSellerNickUnpassable:
      text += "卖家旺旺名含有无法传递的字符，无法用旺旺发送，不取卡";
      break;
    case WaitReason::kNotWritten:
      text += "卡密无法写入磁盘，不发送";
      break;
    case WaitReason::kValueTooLong:
      text += "订单编号、买家旺旺或宝贝名称超出已发卡密表的字段宽度，无法记录，不取卡，请手工处理";
      break;
    case WaitReason::kImNotAnswering:
      text += "阿里旺旺未响应，不取卡，等旺旺恢复后再发";
      break;
    case WaitReason::kRetriesUsedUp:
      text += "未送达的卡密多次补发未成功，不再自动补发，请在已发卡密页手工补发";
      break;
  }
  return Warning(std::move(text));
}

std::string CauseText(const Status& cause) {
  const std::string file = OneLine(cause.path());
  const std::string at = file.empty() ? std::string() : "（" + file + "）";
  if (cause.IsPermissionDenied()) return "没有写入权限" + at;
  switch (cause.code()) {
    case Status::Code::kOk:
      return "正常";
    case Status::Code::kDiskFull:
      return "磁盘已满";
    case Status::Code::kIoError:
      return "读写文件出错（" + (file.empty() ? std::string() : file + "，") + "错误号 " +
             std::to_string(cause.error()) + "）";
    case Status::Code::kBusy:
      return "数据文件被其他程序占用" + at;
    case Status::Code::kCorrupt:
      return "数据文件已损坏" + at;
    case Status::Code::kNotFound:
      return "找不到数据文件" + at;
    case Status::Code::kTooLong:
      return "内容超出字段宽度" + at;
  }
  return "原因不明";
}

std::string ShortCauseText(const Status& cause) {
  const std::string& path = cause.path();
  const std::size_t slash = path.rfind('/');
  const std::string name = OneLine(slash == std::string::npos ? path : path.substr(slash + 1));
  if (cause.IsPermissionDenied()) return "没有写入权限";
  switch (cause.code()) {
    case Status::Code::kDiskFull:
      return "磁盘已满";
    case Status::Code::kIoError:
      return name.empty() ? std::string("读写文件出错") : "读写 " + name + " 出错";
    case Status::Code::kBusy:
      return "数据文件被占用";
    case Status::Code::kCorrupt:
      return "数据文件已损坏";
    case Status::Code::kNotFound:
      return "找不到数据文件";
    case Status::Code::kOk:
    case Status::Code::kTooLong:
      break;
  }
  return "卡密无法写入磁盘";
}

std::string CauseSummary(const Status& cause) {
  if (cause.IsDiskFull()) return "磁盘已满";
  if (cause.IsPermissionDenied()) return "没有写入权限";
  if (cause.IsIoError()) return "磁盘读写出错";
  return "卡密无法记录";
}

std::string CauseAdvice(const Status& cause) {
  if (cause.IsDiskFull()) return "请腾出磁盘空间";
  if (cause.IsPermissionDenied()) return "请检查数据文件夹的写入权限";
  if (cause.IsIoError()) return "请检查磁盘";
  if (cause.code() == Status::Code::kBusy) return "请关闭占用数据文件的程序";
  return "请检查数据文件";
}

std::string CauseSentence(const Status& cause) { return CauseText(cause) + "，" + CauseAdvice(cause) + "。"; }

std::string ReasonText(const Status& cause) { return "卡密无法记录：" + CauseText(cause); }

WordedLine WordOrderNotWritten(const PendingOrder& order, const Status& cause) {
  return Warning(About(order) + CauseText(cause) + "，卡密无法记入已发卡密，不发送，" + CauseAdvice(cause));
}

WordedLine WordCardsDelivered(const PendingOrder& order, const std::vector<DeliveredCard>& cards) {
  std::string numbers;
  for (const DeliveredCard& card : cards)
    numbers += (numbers.empty() ? "" : "、") + ShortCardNumber(card.cardNumber);
  return Info(About(order) + "从库存取出 " + CountText(static_cast<int>(cards.size())) +
              " 张卡密并记入已发卡密（卡号 " + numbers + "）");
}

WordedLine WordOrderRecovered(const PendingOrder& order, RecoveryAction action, bool ok,
                              const Status& cause) {
  const std::string about = About(order) + "上次发货中断，";
  // A failed file step names its cause first and ends with what to do, as
  // an order not written does; without a known cause it says only what
  // failed.
  const std::string because = cause.ok() ? std::string() : CauseText(cause) + "，";
  const std::string advice = cause.ok() ? std::string() : "，" + CauseAdvice(cause);
  switch (action) {
    case RecoveryAction::kRecordsCompleted:
      return ok ? Info(about + "已按原定卡密补记入已发卡密并从库存取出")
                : Warning(about + because + "原定卡密补记失败，下一轮再试，不发送" + advice);
    case RecoveryAction::kPlanDropped:
      return Info(about + "卡密尚未取出，原定卡密留在库存中");
    case RecoveryAction::kResent:
      return ok ? Warning(about + "已用同样的卡密重新发送给买家（买家可能收到两次同样的消息）")
                : Warning(about + "重发消息未能交给旺旺，已标记为未送达，请补发");
    case RecoveryAction::kConsignRetried:
      return ok ? Info(about + "消息已送出，已补做发货，不再发消息")
                : Warning(about + "补做发货无应答，下一轮再试，不再发消息");
    case RecoveryAction::kFoundConsigned:
      return Info(about + "订单已不在等待发货列表中，视为已发货");
    case RecoveryAction::kMarkedForSeller:
      return ok ? Warning(about + "无法自动处理，已标记为未送达，请人工核对")
                : Warning(about + "无法自动处理，" + because + "未能标记为未送达，下一轮再试，请人工核对" +
                          advice);
  }
  return Warning(about + "已处理");
}

WordedLine WordStockAfterDelivery(const PendingOrder& order, int cardsLeft) {
  return Info(About(order) + "宝贝“" + LineText(order.itemTitle) + "”库存还剩 " + CountText(cardsLeft) +
              " 张");
}

WordedLine WordMessageHanded(const PendingOrder& order, bool handed) {
  if (handed) return Info(About(order) + "卡密消息已交给旺旺发给买家");
  return Warning(About(order) +
                 "卡密消息没能交给旺旺，买家没有收到卡密，订单记为未送达（卡密已记入已发卡密，待补发）；"
                 "本轮发货到此为止");
}

WordedLine WordOrderConsigned(const PendingOrder& order, bool answered) {
  if (answered) return Info(About(order) + "已向淘宝提交发货（无需物流）");
  return Warning(About(order) + "提交发货没有应答，下一轮看订单是否还在等待发货");
}

WordedLine WordLoginStateChanged(bool looksExpired) {
  if (looksExpired)
    return Warning("淘宝登录似乎已失效（连续两轮看到登录页面或读不到卖家旺旺名），请重新登录");
  return Info("淘宝登录恢复正常");
}

WordedLine WordCycleEnded(const CycleResult& r) {
  std::string text = "本轮结束：列出 " + CountText(r.ordersListed) + " 笔，发货 " +
                     CountText(r.ordersDelivered) + " 笔，提交发货 " + CountText(r.ordersConsigned) +
                     " 笔，等待 " + CountText(r.ordersWaiting) + " 笔，跳过 " + CountText(r.ordersSkipped) +
                     " 笔";
  if (r.endedAtImFailure) text += "；旺旺没有收下消息，本轮提前结束";
  if (r.stopped) text += "；按要求停止";
  if (r.loginLooksExpired) text += "；淘宝登录似乎已失效";
  return r.endedAtImFailure || r.loginLooksExpired ? Warning(std::move(text)) : Info(std::move(text));
}

std::vector<WordedLine> WordOrderResent(const ResendResult& r) {
  const std::string about = r.order.buyerNick.empty() && r.cards.empty()
                                ? "订单 " + LineText(r.order.orderNumber) + "："
                                : About(r.order);
  switch (r.outcome) {
    case ResendOutcome::kNoRecordedCards:
      return {Warning(about + "已发卡密中没有这笔订单的卡密，无法重新发送")};
    case ResendOutcome::kSellerNickUnreadable:
      return {Warning(about + "读不到卖家旺旺名，无法联系买家，没有重新发送")};
    case ResendOutcome::kNotHanded:
      return {Warning(about + "重新发送的卡密消息没能交给旺旺，买家仍未收到" +
                      (r.wasMarked ? "，订单仍记为未送达" : std::string()))};
    case ResendOutcome::kResent:
      break;
  }
  std::string numbers;
  for (const DeliveredCard& card : r.cards)
    numbers += (numbers.empty() ? "" : "、") + ShortCardNumber(card.cardNumber);
  std::vector<WordedLine> lines = {Info(about + "已把记录中的 " +
                                        CountText(static_cast<int>(r.cards.size())) +
                                        " 张卡密重新交给旺旺发给买家（卡号 " + numbers + "），未动用库存")};
  std::string listing;
  bool warn = false;
  if (r.stillListed) {
    warn = !r.consignAnswered;
    listing = r.consignAnswered ? "订单仍在等待发货，已向淘宝提交发货（无需物流）"
                                : "订单仍在等待发货，但提交发货没有应答，请到淘宝卖家中心查看";
  } else if (r.listing == ScanOutcome::kListed) {
    listing = "订单已不在等待发货列表中，无需再提交发货";
  } else {
    warn = true;
    listing = "读不到等待发货的订单列表，无法确认是否还需提交发货，请到淘宝卖家中心查看";
  }
  if (r.markCleared) listing += "；已清除未送达标记";
  lines.push_back(warn ? Warning(about + listing) : Info(about + listing));
  return lines;
}

}  // namespace autodeliver
