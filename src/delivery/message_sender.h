// How the delivery cycle hands a message to the buyer: an interface, so the
// cycle can be run with a fake in tests; the real one sends through the
// seller's IM client.
//
// Thread safety: Send is called from the delivery thread only.
#pragma once

#include <string>

namespace autodeliver {

class MessageSender {
 public:
  virtual ~MessageSender() = default;
  // Sends `message` from the seller to the buyer (nicks and message GBK).
  // True when the message was handed to the chat window.
  virtual bool Send(const std::string& sellerNick, const std::string& buyerNick,
                    const std::string& message) = 0;
};

// The sender that goes through the seller's IM client.
class ImMessageSender final : public MessageSender {
 public:
  bool Send(const std::string& sellerNick, const std::string& buyerNick, const std::string& message) override;
};

}  // namespace autodeliver
