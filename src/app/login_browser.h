// The login browser as the window shows it: a place on page 0 (inside the
// browser holder) where the window of the login browser process
// (autodeliver-login, login_pipe.h) is taken in as a foreign window, so
// that the program itself never loads the web engine. The host starts the
// child when a page is first asked for, embeds its window as soon as the
// child names it and shows it; until then, and after the child ended, the
// place stays empty. What the browser shows (its address, every completed
// navigation) and every cookie it stores or drops reach the program over
// the pipe.
//
// The child ends by itself once the sign-in is recognised; its memory goes
// with it. A child that ends before that (a crash, killed) or stops
// answering (no answer within the hang bound; it is then killed) is a
// failure: the place says "登录窗口意外关闭" with a button that starts a new
// child on the same page, and failed() tells the window.
//
// Thread safety: GUI thread only, except IsSignInAddress (pure).
#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QPointer>
#include <QProcess>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "app/login_pipe.h"
#include "http/cookie_store.h"

class QLabel;
class QPushButton;

namespace autodeliver {

// Whether a browser address shows a finished sign-in: it holds "quicklogin"
// or "my_taobao", anywhere, in exactly that letter case.
bool IsSignInAddress(const std::string& address);

// Where a login browser's cookies go: every cookie its pages store
// (added) and drop (removed), as the browser reports them.
struct CookieFeed {
  std::function<void(const BrowserCookie&)> added;
  std::function<void(const BrowserCookie&)> removed;
};

// The cookie feed into the program's cookie store.
CookieFeed ProgramCookieFeed();

// The cookie of one raw Set-Cookie form as the browser's cookie store
// writes it (the pipe's "cookie" field); none when it holds no cookie.
std::optional<BrowserCookie> CookieFromRawForm(const QByteArray& raw);

class LoginBrowserHost : public QWidget {
  Q_OBJECT

 public:
  // How long the child may take to name its window, and to answer a ping,
  // before it counts as hung.
  static constexpr int kStartBoundMs = 60000;
  static constexpr int kAnswerBoundMs = 20000;

  // `profileFolder`: where the child keeps its profile; empty for a
  // private one.
  LoginBrowserHost(QWidget* parent, CookieFeed feed, QString profileFolder = {});
  ~LoginBrowserHost() override;

  // The login browser program: $AUTODELIVER_LOGIN_PROGRAM when set, else
  // autodeliver-login beside the program.
  static QString ProgramPath();

  // Shows `url` (no headers, no post data); starts the child when none
  // runs.
  void load(const QUrl& url);
  // The address shown, as the child last told it; empty before.
  QUrl url() const { return url_; }
  // Runs `script` in the page; `done` gets its value (null when the child
  // ended first). For the program's own drivers (tests, the demo).
  void RunScript(const QString& script, std::function<void(const QJsonValue&)> done = {});

  // A child runs (started, not yet ended).
  bool running() const;
  // Its window is taken in.
  bool embedded() const { return container_ != nullptr; }
  // The child's native window while it is taken in; 0 otherwise.
  WId childWindow() const { return container_ != nullptr ? childWindow_ : 0; }
  // The child's process id; 0 when none runs.
  qint64 processId() const;
  // The child ended after a recognised sign-in.
  bool signedIn() const { return signedIn_; }
  // The last failure's text; empty while none.
  QString failure() const { return failure_; }

  // Starts a new child on the page last asked for (after a failure).
  void Restart();
  // The profile folder of the children started from now on (empty: a
  // private profile).
  void SetProfileFolder(const QString& folder) { profileFolder_ = folder; }
  const QString& profileFolder() const { return profileFolder_; }
  // Tests shorten the hang bounds.
  void SetBounds(int startMs, int answerMs);

 signals:
  void urlChanged(const QUrl& url);
  void loadFinished(bool ok);
  // The child's window was taken in and shown.
  void windowEmbedded();
  // The child ended early or hung; `reason` says which.
  void failed(const QString& reason);
  // The child's process ended, for whatever reason.
  void ended();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  // A click on the program's own controls takes the keyboard back from the
  // browser's window.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void StartChild();
  void Send(const QByteArray& word, std::initializer_list<QByteArray> fields = {});
  void ReadChild();
  void Message(const login_pipe::Message& m);
  void Embed(WId id);
  void ChildEnded();
  void CheckAnswers();
  void Fail(const QString& reason);
  // Ends the child (asked to quit, or killed) without waiting for it.
  void DropChild(bool kill = false);

  CookieFeed feed_;
  QString profileFolder_;
  QPointer<QProcess> child_;
  login_pipe::LineReader reader_;
  QPointer<QWidget> container_;
  WId childWindow_ = 0;
  QUrl asked_;  // the page last asked for
  QUrl url_;
  QTimer watch_;           // pings the child and checks its answers
  qint64 lastAnswer_ = 0;  // ms since the epoch of the child's last line
  qint64 started_ = 0;
  int startBoundMs_ = kStartBoundMs;
  int answerBoundMs_ = kAnswerBoundMs;
  quint64 nextPing_ = 0;
  quint64 nextScript_ = 0;
  std::map<QByteArray, std::function<void(const QJsonValue&)>> scripts_;
  bool signedIn_ = false;
  bool quitting_ = false;
  QString failure_;
  QWidget* failurePanel_ = nullptr;
  QLabel* failureText_ = nullptr;
};

}  // namespace autodeliver
