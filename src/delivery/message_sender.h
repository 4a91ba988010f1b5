// How the delivery cycle hands a message to the buyer: an interface, so the
// cycle can be run with a fake in tests; the real one sends through the
// seller's IM client.
//
// Thread safety: Send is called from the delivery thread only.
#pragma once

#include <string>

#include "im/im_channel.h"
#include "im/im_sender.h"

namespace autodeliver {

class ShopContext;

class MessageSender {
 public:
  virtual ~MessageSender() = default;
  // Sends `message` from the seller to the buyer (nicks and message GBK).
  // True when the message was handed to the chat window.
  virtual bool Send(const std::string& sellerNick, const std::string& buyerNick,
                    const std::string& message) = 0;
  // Whether the IM client is there to take a message, found without
  // sending anything. kUnknown when this sender cannot tell.
  virtual ClientPresence ProbeClient() { return ClientPresence::kUnknown; }
};

// The sender that goes through the seller's IM client. The client's program
// path is the setting "阿里旺旺核心文件路径", read anew for every message, so
// a path stored while the program runs is used from the next message on; a
// path of a client under Wine takes the Wine channel (im/im_channel.h), whose
// helper is kept from one message to the next. A nick that cannot reach the
// client intact (delivery/chat_address.h) is never put on its command line:
// Send refuses it without starting anything.
class ImMessageSender final : public MessageSender {
 public:
  // The client at the program path the shop's settings hold.
  explicit ImMessageSender(ShopContext& shop) : shop_(shop) {}
  // Other bounds and another window system for a native client (not owned;
  // it must outlive the sender, and is used from the delivery thread only);
  // for tests.
  ImMessageSender(ShopContext& shop, const ImSendBounds& bounds, WindowSystem* windows)
      : shop_(shop), bounds_(bounds), channel_(windows) {}

  bool Send(const std::string& sellerNick, const std::string& buyerNick, const std::string& message) override;
  // Asks the window system (the one handed in, or a new X11 connection)
  // about the client at the stored program path; a display that cannot be
  // opened means the client is away.
  ClientPresence ProbeClient() override;

  // The channel, to hear its notes or end its Wine session.
  ImChannel& channel() { return channel_; }

 private:
  ShopContext& shop_;
  ImSendBounds bounds_;
  ImChannel channel_;  // its native window system: nullptr, an X11 connection per message
};

}  // namespace autodeliver
