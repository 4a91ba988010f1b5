// The choice of the native or the Wine channel, and the Wine helper kept for
// the session; see im_channel.h.
#include "im/im_channel.h"

#include "im/wine_client.h"
#include "im/wine_window_system.h"
#include "text/gbk.h"

namespace autodeliver {

std::string ImClientDescription(const std::string& storedPath) {
  if (std::optional<WineClient> wine = ParseWineClientPath(storedPath)) {
    return "旺旺客户端：Wine 前缀 "_gbk + wine->prefix + " 中的 "_gbk + wine->program;
  }
  if (storedPath.empty()) return "旺旺客户端：没有程序路径，消息发不出去"_gbk;
  return "旺旺客户端："_gbk + storedPath;
}

ImChannel::ImChannel(WindowSystem* nativeWindows) : nativeWindows_(nativeWindows) {}

ImChannel::~ImChannel() = default;

void ImChannel::SetNote(Note note) {
  MutexLock lock(mutex_);
  note_ = std::move(note);
}

void ImChannel::Tell(const std::string& gbk) {
  if (note_) note_(gbk);
}

void ImChannel::EndSession() {
  MutexLock lock(mutex_);
  wine_.reset();
  wineKey_.clear();
}

bool ImChannel::Send(const std::string& storedPath, const std::string& sellerNick,
                     const std::string& buyerNick, const std::string& message, const ImSendBounds& bounds) {
  MutexLock lock(mutex_);
  if (ParseWineClientPath(storedPath))
    return SendThroughWine(storedPath, sellerNick, buyerNick, message, bounds);
  // A native client: a helper of an earlier Wine client is no longer needed.
  wine_.reset();
  wineKey_.clear();
  ImSendOptions options(storedPath);
  options.bounds = bounds;
  options.windows = nativeWindows_;
  return SendImMessage(sellerNick, buyerNick, message, options);
}

ClientPresence ImChannel::ProbeClient(const std::string& storedPath, const ImSendBounds& bounds) {
  if (ParseWineClientPath(storedPath)) {
    MutexLock lock(mutex_);
    if (!wine_) return ClientPresence::kUnknown;
    if (wine_->Alive() && wine_->Ping()) return ClientPresence::kPresent;
    Tell("旺旺（Wine）：助手程序没有应答，已结束；下一条消息重新启动它"_gbk);
    wine_.reset();
    wineKey_.clear();
    return ClientPresence::kAbsent;
  }
  if (nativeWindows_ != nullptr) return nativeWindows_->ProbeClient(storedPath);
  const std::unique_ptr<WindowSystem> windows = OpenX11WindowSystem(nullptr, bounds.handledWait);
  return windows ? windows->ProbeClient(storedPath) : ClientPresence::kAbsent;
}

bool ImChannel::SendThroughWine(const std::string& storedPath, const std::string& sellerNick,
                                const std::string& buyerNick, const std::string& message,
                                const ImSendBounds& bounds) {
  const WineClient client = *ParseWineClientPath(storedPath);
  const std::optional<std::string> prefix = GbkToUtf8(client.prefix);
  if (!prefix) return false;
  // The helper's bitness follows the client's program file; one that cannot
  // be read is taken for 64-bit.
  const std::optional<std::string> program = MapWindowsPath(*prefix, client.program);
  const int bits = program ? PeBits(*program) : 0;
  std::optional<WineHelperLaunch> launch = WineHelperFor(*prefix, bits);
  if (!launch) {
    Tell("旺旺（Wine）：找不到 "_gbk + (bits == 32 ? "32" : "64") + " 位的助手程序，消息没有发出"_gbk);
    return false;
  }
  launch->startWait = bounds.helperStartWait;
  launch->handledWait = bounds.handledWait;
  const std::string key = launch->prefix + "|" + launch->helper;
  if (wine_ && (key != wineKey_ || !wine_->Alive())) wine_.reset();
  if (!wine_) {
    wine_ = WineWindowSystem::Start(*launch);
    if (!wine_) {
      Tell("旺旺（Wine）：助手程序没有在前缀 "_gbk + client.prefix + " 中启动，消息没有发出"_gbk);
      return false;
    }
    wineKey_ = key;
    Tell("旺旺（Wine）：已在前缀 "_gbk + client.prefix + " 中启动 "_gbk + std::to_string(wine_->bits()) +
         " 位助手程序"_gbk);
  }
  ImSendOptions options(client.program);
  options.bounds = bounds;
  options.windows = wine_.get();
  options.starter = wine_.get();
  const bool sent = SendImMessage(sellerNick, buyerNick, message, options);
  if (!wine_->Alive()) {
    Tell("旺旺（Wine）：助手程序没有应答，已结束；下一条消息重新启动它"_gbk);
    wine_.reset();
    wineKey_.clear();
  }
  return sent;
}

}  // namespace autodeliver
