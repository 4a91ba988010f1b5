// How the delivery cycle hands a message to the buyer: an interface, so the
// cycle can be run with a fake in tests; the real one sends through the
// seller's IM client.
//
// Thread safety: Send is called from the delivery thread only.
#pragma once

#include <string>

#include "im/im_sender.h"

namespace autodeliver {

class MessageSender {
 public:
  virtual ~MessageSender() = default;
  // Sends `message` from the seller to the buyer (nicks and message GBK).
  // True when the message was handed to the chat window.
  virtual bool Send(const std::string& sellerNick, const std::string& buyerNick,
                    const std::string& message) = 0;
};

// The sender that goes through the seller's IM client. A nick that cannot
// reach the client intact (delivery/chat_address.h) is never put on its
// command line: Send refuses it without starting anything.
class ImMessageSender final : public MessageSender {
 public:
  // `options` are handed to SendImMessage (tests point them at fakes); the
  // default reads the client's path from the settings and uses X11.
  explicit ImMessageSender(ImSendOptions options = {}) : options_(std::move(options)) {}
  bool Send(const std::string& sellerNick, const std::string& buyerNick, const std::string& message) override;

 private:
  ImSendOptions options_;
};

}  // namespace autodeliver
