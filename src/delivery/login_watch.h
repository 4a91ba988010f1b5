// The decision "the login looks expired", taken from what the delivery
// cycles already see. A cycle gives one sign: signed out when the order page
// came back as the marketplace's sign-in page or the seller's profile page
// came back without the nick; signed in when the order page could be read
// (or the nick was read) and nothing pointed the other way; no sign when
// nothing was answered (a network failure says nothing about the login).
//
// The login looks expired after two cycles in a row with a signed-out sign;
// a cycle without a sign neither counts nor breaks the run. The decision is
// announced once (kExpired) and stays until a cycle shows the login working
// again (kRestored), for example after the seller signed in anew.
//
// Thread safety: none; the delivery cycles use it one after another.
#pragma once

namespace autodeliver {

enum class LoginSign { kNone, kSignedIn, kSignedOut };

class LoginWatch {
 public:
  enum class Change { kNone, kExpired, kRestored };

  // The number of signed-out cycles in a row that make the login expired.
  static constexpr int kCyclesInARow = 2;

  // Takes the sign of a cycle that ended; tells whether the decision changed.
  Change AfterCycle(LoginSign sign);

  bool LooksExpired() const { return expired_; }

 private:
  int signedOutRun_ = 0;
  bool expired_ = false;
};

}  // namespace autodeliver
