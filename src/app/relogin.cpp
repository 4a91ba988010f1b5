// A new sign-in after the login expired; see relogin.h.
#include "app/relogin.h"

#include <QFrame>
#include <QTabWidget>
#include <algorithm>

#include "app/layout_names.h"
#include "app/login_browser.h"
#include "app/main_window.h"
#include "market/hosts.h"

namespace autodeliver {
namespace {

bool SameCookie(const BrowserCookie& a, const BrowserCookie& b) {
  return a.domain == b.domain && a.path == b.path && a.name == b.name;
}

}  // namespace

ReLogin::ReLogin(MainWindow& window, QObject* parent) : QObject(parent), window_(window) {}

ReLogin::~ReLogin() {
  // Their cookie feeds call back here.
  delete view_.data();
  delete closing_.data();
}

bool ReLogin::running() const { return !view_.isNull() && !done_; }

LoginBrowserHost* ReLogin::browser() const { return running() ? view_.data() : nullptr; }

void ReLogin::Start(const QUrl& url) {
  auto* holder = window_.findChild<QFrame*>(QString::fromUtf8(layout::kBrowserHolder));
  auto* tabs = window_.findChild<QTabWidget*>(QString::fromUtf8(layout::kPageControl));
  if (!running()) {
    // The first browser's login is the one that expired.
    window_.DestroyLoginBrowser();
    collected_.clear();
    done_ = false;
    CookieFeed feed;
    feed.added = [this](const BrowserCookie& cookie) {
      if (done_) {
        CookieStore::Global().Put(cookie);  // a late cookie of the new login
        return;
      }
      auto same = std::find_if(collected_.begin(), collected_.end(),
                               [&](const BrowserCookie& c) { return SameCookie(c, cookie); });
      if (same != collected_.end()) {
        *same = cookie;
      } else {
        collected_.push_back(cookie);
      }
    };
    feed.removed = [this](const BrowserCookie& cookie) {
      if (done_) {
        CookieStore::Global().Remove(cookie.domain, cookie.path, cookie.name);
        return;
      }
      std::erase_if(collected_, [&](const BrowserCookie& c) { return SameCookie(c, cookie); });
    };
    auto* view = new LoginBrowserHost(holder, std::move(feed), window_.LoginProfileFolder());
    view->setObjectName(QString::fromUtf8(layout::kReLoginBrowser));
    view->setGeometry(-64, -64, 1008, 904);
    view_ = view;
    connect(view, &LoginBrowserHost::loadFinished, this, &ReLogin::PageLoaded);
    connect(view, &LoginBrowserHost::failed, &window_, &MainWindow::loginBrowserFailed);
    view->load(url.isEmpty() ? QUrl(QString::fromStdString(LoginPageUrl())) : url);
    view->show();
    emit runningChanged(true);
  }
  holder->show();
  holder->raise();
  tabs->setCurrentIndex(0);
}

void ReLogin::Cancel() {
  if (!running()) return;
  window_.findChild<QFrame*>(QString::fromUtf8(layout::kBrowserHolder))->hide();
  CloseBrowser();
  emit runningChanged(false);
}

void ReLogin::PageLoaded() {
  if (!running()) return;
  const QString address = view_->url().toString(QUrl::FullyEncoded);
  if (!IsSignInAddress(address.toStdString())) return;
  // The new login's cookies replace the old ones at once; cookies the
  // browser reports later go straight to the store.
  CookieStore::Global().ReplaceAll(collected_);
  collected_.clear();
  done_ = true;
  window_.CheckSignIn(address);
  CloseBrowser();
  emit runningChanged(false);
  emit signedInAgain();
}

void ReLogin::CloseBrowser() {
  if (!view_) return;
  LoginBrowserHost* view = view_.data();
  view_ = nullptr;
  view->hide();
  if (done_ && view->running()) {
    // It ends by itself once its last cookies are told, which go straight
    // to the store.
    connect(view, &LoginBrowserHost::ended, view, &QObject::deleteLater);
    delete closing_.data();
    closing_ = view;
    return;
  }
  view->deleteLater();  // possibly inside its own signal
}

}  // namespace autodeliver
