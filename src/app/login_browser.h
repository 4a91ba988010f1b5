// The embedded login browser: a Chromium view whose page refuses every new
// window, on a private profile of its own (nothing is kept between runs),
// with every cookie it stores or drops mirrored into the program's cookie
// store, where the program's own requests and ReadBrowserCookies find them.
//
// Thread safety: GUI thread only, except IsSignInAddress (pure).
#pragma once

#include <functional>
#include <string>

#include "http/cookie_store.h"

class QObject;
class QWebEngineView;
class QWidget;

namespace autodeliver {

// Whether a browser address shows a finished sign-in: it holds "quicklogin"
// or "my_taobao", anywhere, in exactly that letter case.
bool IsSignInAddress(const std::string& address);

// Sets up the browser engine's process environment; must run before the
// QApplication is created. Chromium's sandbox is turned off when running as
// root (it refuses to start otherwise), and its background networking,
// component updates and sync stay off, so the program talks to nobody the
// seller did not ask for.
void PrepareWebEngineEnvironment();

// Where a login browser's cookies go: every cookie its pages store
// (added) and drop (removed), as the browser reports them.
struct CookieFeed {
  std::function<void(const BrowserCookie&)> added;
  std::function<void(const BrowserCookie&)> removed;
};

// Creates the login browser as a child of `holder`. Its profile is a child
// of `profileOwner`, which must outlive the view. Its cookies go to the
// program's cookie store.
QWebEngineView* CreateLoginBrowser(QWidget* holder, QObject* profileOwner);
// The same, with its cookies handed to `feed` (a new sign-in collects them
// first and replaces the store's at once, relogin.h).
QWebEngineView* CreateLoginBrowser(QWidget* holder, QObject* profileOwner, CookieFeed feed);

}  // namespace autodeliver
