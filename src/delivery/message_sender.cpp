// The IM client sender; see message_sender.h.
#include "delivery/message_sender.h"

#include "delivery/chat_address.h"
#include "store/settings.h"

namespace autodeliver {

bool ImMessageSender::Send(const std::string& sellerNick, const std::string& buyerNick,
                           const std::string& message) {
  if (!IsPassableChatNick(sellerNick) || !IsPassableChatNick(buyerNick)) return false;
  return channel_.Send(GetSetting(shop_, ImClientPathSetting()), sellerNick, buyerNick, message, bounds_);
}

ClientPresence ImMessageSender::ProbeClient() {
  return channel_.ProbeClient(GetSetting(shop_, ImClientPathSetting()), bounds_);
}

}  // namespace autodeliver
