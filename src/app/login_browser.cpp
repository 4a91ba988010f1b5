// The login browser on QtWebEngine, and the feed of its cookies into the
// program's cookie store.
#include "app/login_browser.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QNetworkCookie>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <cstdlib>
#include <string_view>

#include "http/cookie_store.h"

namespace autodeliver {

bool IsSignInAddress(const std::string& address) {
  return address.find("quicklogin") != std::string::npos || address.find("my_taobao") != std::string::npos;
}

void PrepareWebEngineEnvironment() {
  std::string flags;
  if (const char* existing = std::getenv("QTWEBENGINE_CHROMIUM_FLAGS")) flags = existing;
  for (const char* flag :
       {"--disable-background-networking", "--disable-component-update", "--disable-sync", "--disable-gpu",
        "--no-first-run", "--disable-domain-reliability", "--metrics-recording-only"}) {
    if (flags.find(flag) == std::string::npos) {
      if (!flags.empty()) flags += ' ';
      flags += flag;
    }
  }
  if (geteuid() == 0) {
    setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
    if (flags.find("--no-sandbox") == std::string::npos) flags += " --no-sandbox";
  }
  setenv("QTWEBENGINE_CHROMIUM_FLAGS", flags.c_str(), 1);
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

namespace {

// A page that never opens a new window: pop-ups and target=_blank links
// are refused.
class LoginPage : public QWebEnginePage {
 public:
  LoginPage(QWebEngineProfile* profile, QObject* parent) : QWebEnginePage(profile, parent) {}

 protected:
  QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }
};

BrowserCookie ToBrowserCookie(const QNetworkCookie& cookie) {
  BrowserCookie result;
  result.name = cookie.name().toStdString();
  result.value = cookie.value().toStdString();
  result.domain = cookie.domain().toStdString();
  result.path = cookie.path().toStdString();
  result.secure = cookie.isSecure();
  result.httpOnly = cookie.isHttpOnly();
  if (!cookie.isSessionCookie()) result.expiresUnix = cookie.expirationDate().toSecsSinceEpoch();
  return result;
}

}  // namespace

QWebEngineView* CreateLoginBrowser(QWidget* holder, QObject* profileOwner) {
  CookieFeed feed;
  feed.added = [](const BrowserCookie& cookie) { CookieStore::Global().Put(cookie); };
  feed.removed = [](const BrowserCookie& cookie) {
    CookieStore::Global().Remove(cookie.domain, cookie.path, cookie.name);
  };
  return CreateLoginBrowser(holder, profileOwner, std::move(feed));
}

QWebEngineView* CreateLoginBrowser(QWidget* holder, QObject* profileOwner, CookieFeed feed) {
  // A profile without a storage name is private: cookies, cache and
  // history live in memory and end with the process.
  auto* profile = new QWebEngineProfile(profileOwner);
  profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
  profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
  QWebEngineCookieStore* cookies = profile->cookieStore();
  QObject::connect(cookies, &QWebEngineCookieStore::cookieAdded, profile,
                   [added = std::move(feed.added)](const QNetworkCookie& cookie) {
                     if (added) added(ToBrowserCookie(cookie));
                   });
  QObject::connect(cookies, &QWebEngineCookieStore::cookieRemoved, profile,
                   [removed = std::move(feed.removed)](const QNetworkCookie& cookie) {
                     if (removed) removed(ToBrowserCookie(cookie));
                   });

  auto* view = new QWebEngineView(holder);
  view->setPage(new LoginPage(profile, view));
  return view;
}

}  // namespace autodeliver
