// The way a message takes to the IM client that the stored client path
// names: a native program is started here and its chat window reached
// through X11; a client under Wine ("wine:<prefix>|<program>",
// wine_client.h) is started and its chat window reached through the Win32
// helper inside its prefix. Either way SendImMessage does the walk, with
// its steps, bounds and outcome.
//
// The helper of a Wine client is kept from one message to the next, so
// Wine's start is paid once per session: it lives until the stored client
// changes, the helper fails (it missed a bound or ended; the next message
// starts a new one) or EndSession.
//
// Thread safety: Send and EndSession may be called from any thread; one
// message goes out at a time.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "base/mutex.h"
#include "im/im_sender.h"

namespace autodeliver {

class WineWindowSystem;

// The client the stored path names, for the seller (GBK): its program path,
// or the Wine prefix and the program in it.
std::string ImClientDescription(const std::string& storedPath);

class ImChannel {
 public:
  // `nativeWindows` serves a native client (nullptr: an X11 connection per
  // message); not owned, it must outlive the channel.
  explicit ImChannel(WindowSystem* nativeWindows = nullptr);
  ~ImChannel();
  ImChannel(const ImChannel&) = delete;
  ImChannel& operator=(const ImChannel&) = delete;

  // A line for the seller (GBK) when a Wine helper starts, cannot start or
  // stops answering; called on the sending thread.
  using Note = std::function<void(const std::string& gbk)>;
  void SetNote(Note note);

  // Sends `message` from `sellerNick` to `buyerNick` through the client
  // `storedPath` names; the result of SendImMessage, false as well when the
  // Wine helper cannot be started.
  bool Send(const std::string& storedPath, const std::string& sellerNick, const std::string& buyerNick,
            const std::string& message, const ImSendBounds& bounds);

  // Looks at the client `storedPath` names without sending anything. A
  // native client is asked of its window system; a Wine client is present
  // while its helper answers a ping, absent when a helper that ran stopped
  // answering, and unknown before a helper was started (a message that takes
  // no new card then finds out).
  ClientPresence ProbeClient(const std::string& storedPath, const ImSendBounds& bounds);

  // Ends the Wine helper, if one runs.
  void EndSession();

 private:
  bool SendThroughWine(const std::string& storedPath, const std::string& sellerNick,
                       const std::string& buyerNick, const std::string& message, const ImSendBounds& bounds)
      AD_REQUIRES(mutex_);
  void Tell(const std::string& gbk) AD_REQUIRES(mutex_);

  WindowSystem* nativeWindows_;
  Mutex mutex_;  // one message at a time
  Note note_ AD_GUARDED_BY(mutex_);
  std::unique_ptr<WineWindowSystem> wine_ AD_GUARDED_BY(mutex_);
  std::string wineKey_ AD_GUARDED_BY(mutex_);  // the prefix and helper wine_ serves
};

}  // namespace autodeliver
