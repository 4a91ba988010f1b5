// "重新登录": a new login browser on page 0 for a login that expired. The
// first login browser may be gone by then (the first "设置" destroys it), so
// a new one is made in the browser holder (a new login browser process, on
// the window's profile: a private one, or the kept one) and opens the
// login page. Its finished sign-in is recognised by the same
// markers as the first one (IsSignInAddress) and runs the window's login
// check (MainWindow::CheckSignIn, which hides the holder again); the
// cookies the new browser collected then replace every cookie of the
// program's store in one step, so the delivery's next requests carry the
// new login and nothing of the old one. Until then the old cookies stay in
// use, and the delivery keeps its timer all along.
//
// The browser is destroyed once the sign-in is recognised, or when the
// seller gives up (Cancel). A first login browser still open when a re-login
// starts is destroyed: its login is the one that expired. A browser that
// fails (login_browser.h) stays in place with its note and can be started
// again; the old cookies stay in use meanwhile.
//
// Thread safety: GUI thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <vector>

#include "http/cookie_store.h"

namespace autodeliver {

class LoginBrowserHost;
class MainWindow;

class ReLogin : public QObject {
  Q_OBJECT

 public:
  // `window` must outlive this object.
  explicit ReLogin(MainWindow& window, QObject* parent = nullptr);
  ~ReLogin() override;

  // Opens the new login browser on page 0 at `url` (the marketplace's login
  // page when empty) and shows page 0. While one is open, shows it again.
  void Start(const QUrl& url = QUrl());
  // Closes the new login browser without a sign-in; the old cookies stay.
  void Cancel();

  bool running() const;
  // The new login browser while it is open; null otherwise.
  LoginBrowserHost* browser() const;

 signals:
  // The seller signed in in the new browser; the cookies were replaced.
  void signedInAgain();
  // A new login browser opened or closed.
  void runningChanged(bool running);

 private:
  void PageLoaded();
  void CloseBrowser();

  MainWindow& window_;
  QPointer<LoginBrowserHost> view_;
  QPointer<LoginBrowserHost> closing_;    // signed in, telling its last cookies
  std::vector<BrowserCookie> collected_;  // the new browser's cookies until the sign-in
  bool done_ = false;                     // the sign-in was recognised; cookies go to the store
};

}  // namespace autodeliver
