// The expired-login decision; see login_watch.h.
#include "delivery/login_watch.h"

namespace autodeliver {

LoginWatch::Change LoginWatch::AfterCycle(LoginSign sign) {
  switch (sign) {
    case LoginSign::kNone:
      return Change::kNone;
    case LoginSign::kSignedIn:
      signedOutRun_ = 0;
      if (!expired_) return Change::kNone;
      expired_ = false;
      return Change::kRestored;
    case LoginSign::kSignedOut:
      if (signedOutRun_ < kCyclesInARow) ++signedOutRun_;
      if (expired_ || signedOutRun_ < kCyclesInARow) return Change::kNone;
      expired_ = true;
      return Change::kExpired;
  }
  return Change::kNone;
}

}  // namespace autodeliver
