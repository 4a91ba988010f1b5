// autodeliver-login: the program's login browser as a process of its own,
// the only part of the program that loads the web engine. The program
// starts it when the login page is to be shown, takes its window into the
// first page, and hears over the pipe (login_pipe.h) what it shows and
// which cookies it stores; once the sign-in is recognised the child tells
// its last cookies and ends, and the web engine's memory goes with it.
//
// Usage: autodeliver-login [--profile FOLDER]
//   Without --profile the browser's profile is private: cookies, cache and
//   history live in memory and end with the process. With it, the profile
//   (the marketplace's lasting cookies among it) is kept in FOLDER.
//
// The child ends when the program says "quit", when its pipe closes, and
// when the program dies (the kernel tells it).
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QNetworkCookie>
#include <QSocketNotifier>
#include <QTimer>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <QWindow>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "app/login_pipe.h"

namespace autodeliver {
namespace {

// The browser engine's process environment, set before the QApplication:
// background networking, component updates and sync stay off, so the
// browser talks to nobody the seller did not ask for; as root Chromium
// refuses to start with its sandbox, so it is turned off there.
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

// A page that never opens a new window: pop-ups and target=_blank links
// are refused.
class LoginPage : public QWebEnginePage {
 public:
  LoginPage(QWebEngineProfile* profile, QObject* parent) : QWebEnginePage(profile, parent) {}

 protected:
  QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }
};

class LoginChild : public QObject {
 public:
  LoginChild(int pipeOut, const QString& profileFolder) : out_(pipeOut) {
    if (profileFolder.isEmpty()) {
      // A profile without a storage name is private.
      profile_ = new QWebEngineProfile(this);
      profile_->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    } else {
      profile_ = new QWebEngineProfile(QStringLiteral("login"), this);
      profile_->setPersistentStoragePath(profileFolder);
      profile_->setCachePath(profileFolder + QStringLiteral("/cache"));
      profile_->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
    }
    profile_->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    QWebEngineCookieStore* cookies = profile_->cookieStore();
    connect(cookies, &QWebEngineCookieStore::cookieAdded, this,
            [this](const QNetworkCookie& c) { CookieTold("+", c); });
    connect(cookies, &QWebEngineCookieStore::cookieRemoved, this,
            [this](const QNetworkCookie& c) { CookieTold("-", c); });
    // The cookies a kept profile brings along are told like new ones.
    cookies->loadAllCookies();

    view_ = new QWebEngineView;
    view_->setPage(new LoginPage(profile_, view_));
    view_->setWindowFlags(Qt::FramelessWindowHint);
    view_->resize(1008, 904);
    connect(view_, &QWebEngineView::urlChanged, this,
            [this](const QUrl& url) { Send("url", {url.toEncoded()}); });
    connect(view_, &QWebEngineView::loadFinished, this, &LoginChild::LoadFinished);
    // A click in the page takes the keyboard: the window sits inside the
    // program's window, where no window manager hands it the focus.
    qApp->installEventFilter(this);

    input_ = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(input_, &QSocketNotifier::activated, this, &LoginChild::ReadInput);
    quiet_.setSingleShot(true);
    quiet_.setInterval(300);
    connect(&quiet_, &QTimer::timeout, this, &LoginChild::End);
    lastCall_.setSingleShot(true);
    lastCall_.setInterval(3000);
    connect(&lastCall_, &QTimer::timeout, this, &LoginChild::End);

    // The engine's drawing surface makes Qt create the view's native
    // window anew, of the kind it draws on, once the first page is under
    // way; the window is told from then on (and told again should it be
    // made anew once more). The program takes it in, unmapped, and then
    // asks for it to be shown.
    view_->installEventFilter(this);
    connect(view_, &QWebEngineView::loadStarted, this, [this] {
      if (told_ == 0) TellWindow();
    });
  }

  ~LoginChild() override {
    // The page before its profile; a kept profile writes its cookies out.
    delete view_;
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == view_ && event->type() == QEvent::WinIdChange && told_ != 0) TellWindow();
    if (event->type() == QEvent::MouseButtonPress && view_->windowHandle() != nullptr &&
        !view_->isActiveWindow()) {
      view_->windowHandle()->requestActivate();
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  void Send(const QByteArray& word, std::initializer_list<QByteArray> fields) {
    if (out_ < 0) return;
    const QByteArray line = login_pipe::Line(word, fields);
    qsizetype done = 0;
    while (done < line.size()) {
      const ssize_t n = ::write(out_, line.constData() + done, static_cast<size_t>(line.size() - done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        // The program is gone: nobody is left to sign in for.
        out_ = -1;
        QTimer::singleShot(0, this, &LoginChild::End);
        return;
      }
      done += n;
    }
  }

  void TellWindow() {
    const WId id = view_->winId();
    if (id == told_) return;
    told_ = id;
    Send("window", {QByteArray::number(static_cast<qulonglong>(id))});
  }

  void CookieTold(const char* change, const QNetworkCookie& cookie) {
    Send("cookie", {QByteArray(change), cookie.toRawForm(QNetworkCookie::Full)});
    // After the sign-in the child waits until the cookies have been told.
    if (signedIn_) quiet_.start();
  }

  void LoadFinished(bool ok) {
    const QByteArray address = view_->url().toEncoded();
    Send("loaded", {QByteArray(ok ? "1" : "0"), address});
    if (signedIn_ || !login_pipe::IsSignInAddress(address)) return;
    signedIn_ = true;
    Send("signed-in", {address});
    // Cookies of the sign-in may still be on their way from the engine:
    // the child ends once none came for a moment, and in any case soon.
    quiet_.start();
    lastCall_.start();
  }

  void ReadInput() {
    char buffer[65536];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
      input_->setEnabled(false);
      End();
      return;
    }
    if (!reader_.Append(QByteArray(buffer, n))) {
      End();
      return;
    }
    while (std::optional<QByteArray> line = reader_.Next()) {
      const std::optional<login_pipe::Message> m = login_pipe::Parse(*line);
      if (!m) continue;
      Command(*m);
    }
  }

  void Command(const login_pipe::Message& m) {
    if (m.word == "load" && m.fields.size() == 1) {
      view_->load(QUrl::fromEncoded(m.fields[0]));
    } else if (m.word == "show") {
      view_->show();
    } else if (m.word == "script" && m.fields.size() == 2) {
      const QByteArray id = m.fields[0];
      view_->page()->runJavaScript(QString::fromUtf8(m.fields[1]), [this, id](const QVariant& value) {
        const QJsonArray one{QJsonValue::fromVariant(value)};
        Send("result", {id, QJsonDocument(one).toJson(QJsonDocument::Compact)});
      });
    } else if (m.word == "ping" && m.fields.size() == 1) {
      Send("pong", {m.fields[0]});
    } else if (m.word == "quit") {
      End();
    }
  }

  void End() {
    if (ending_) return;
    ending_ = true;
    view_->hide();
    qApp->quit();
  }

  int out_;
  QWebEngineProfile* profile_ = nullptr;
  QWebEngineView* view_ = nullptr;
  QSocketNotifier* input_ = nullptr;
  login_pipe::LineReader reader_;
  QTimer quiet_;     // no cookie for a moment after the sign-in
  QTimer lastCall_;  // the bound on that wait
  WId told_ = 0;     // the native window the program was told of
  bool signedIn_ = false;
  bool ending_ = false;
};

}  // namespace
}  // namespace autodeliver

int main(int argc, char** argv) {
  // The browser's profile may hold the seller's login: owner-only.
  ::umask(077);
  // The program's end ends the child.
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (::getppid() == 1) return 1;
  // Standard output is the pipe alone; whatever else writes there (the
  // engine, Qt's messages) goes to standard error.
  const int pipeOut = ::dup(STDOUT_FILENO);
  ::dup2(STDERR_FILENO, STDOUT_FILENO);
  signal(SIGPIPE, SIG_IGN);

  autodeliver::PrepareWebEngineEnvironment();
  QApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("autodeliver-login"));
  QCommandLineParser parser;
  QCommandLineOption profile(QStringLiteral("profile"), QStringLiteral("keep the browser profile in FOLDER"),
                             QStringLiteral("FOLDER"));
  parser.addOption(profile);
  parser.addHelpOption();
  parser.process(app);
  int code = 0;
  {
    autodeliver::LoginChild child(pipeOut, parser.value(profile));
    code = app.exec();
  }
  ::close(pipeOut);
  return code;
}
