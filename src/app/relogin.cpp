// A new sign-in after the login expired; see relogin.h.
#include "app/relogin.h"

#include <QFrame>
#include <QTabWidget>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>
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
  // The page goes before its profile.
  delete view_.data();
  delete closing_.data();
  delete profile_.data();
}

bool ReLogin::running() const { return !view_.isNull() && !done_; }

QWebEngineView* ReLogin::browser() const { return running() ? view_.data() : nullptr; }

void ReLogin::Start(const QUrl& url) {
  auto* holder = window_.findChild<QFrame*>(QString::fromUtf8(layout::kBrowserHolder));
  auto* tabs = window_.findChild<QTabWidget*>(QString::fromUtf8(layout::kPageControl));
  if (!running()) {
    // The first browser's login is the one that expired.
    window_.DestroyLoginBrowser();
    // The previous new browser is gone by now; its profile may go too.
    if (profile_) {
      profile_->cookieStore()->disconnect(profile_.data());
      profile_->deleteLater();
    }
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
    QWebEngineView* view = CreateLoginBrowser(holder, this, std::move(feed));
    view->setObjectName(QString::fromUtf8(layout::kReLoginBrowser));
    view->setGeometry(-64, -64, 1008, 904);
    profile_ = view->page()->profile();
    view_ = view;
    connect(view, &QWebEngineView::loadFinished, this, &ReLogin::PageLoaded);
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
  view_->hide();
  view_->deleteLater();  // possibly inside its own signal
  closing_ = view_;
  view_ = nullptr;
  if (profile_) profile_->clearHttpCache();
}

}  // namespace autodeliver
