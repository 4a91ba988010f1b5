// The IM client sender; see message_sender.h.
#include "delivery/message_sender.h"

#include "im/im_sender.h"

namespace autodeliver {

bool ImMessageSender::Send(const std::string& sellerNick, const std::string& buyerNick,
                           const std::string& message) {
  return SendImMessage(sellerNick, buyerNick, message);
}

}  // namespace autodeliver
