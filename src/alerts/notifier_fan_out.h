// Hands each notification to several notifiers in turn: the program tells
// the desktop (delivery/desktop_notifier.h) and the seller's alert channels
// (alert_sender.h) the same news, behind the one notifier that the
// notification policy is given.
//
// Thread safety: Notify may be called from any thread; the notifiers are
// fixed at construction and must outlive the fan-out's last Notify.
#pragma once

#include <initializer_list>
#include <vector>

#include "delivery/notifier.h"

namespace autodeliver {

class NotifierFanOut final : public Notifier {
 public:
  NotifierFanOut(std::initializer_list<Notifier*> notifiers) : notifiers_(notifiers) {}

  void Notify(const Notification& notification) override {
    for (Notifier* n : notifiers_) {
      if (n != nullptr) n->Notify(notification);
    }
  }

 private:
  const std::vector<Notifier*> notifiers_;
};

}  // namespace autodeliver
