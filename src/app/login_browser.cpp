// The login browser's place in the window and its child process; see
// login_browser.h.
#include "app/login_browser.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QNetworkCookie>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

namespace autodeliver {

bool IsSignInAddress(const std::string& address) {
  return login_pipe::IsSignInAddress(QByteArray::fromStdString(address));
}

namespace {

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

qint64 Now() { return QDateTime::currentMSecsSinceEpoch(); }

// The place of the failure note: inside the part of the browser's
// rectangle that the holder shows (the browser reaches 64 pixels beyond
// the holder's top left corner).
constexpr int kShownOffset = 64;

// The login browsers asked to end that have not ended yet. Each ends by
// itself (or is killed when its time is up) while the program runs. At the
// program's end this keeper goes with the application object, before the
// browsers it holds: each is given what is left of its time, then killed,
// and waited for, so that none is destroyed while it still runs (Qt would
// kill it unasked and complain on the standard error) and none outlives
// the program.
class EndingBrowsers : public QObject {
 public:
  static EndingBrowsers& Instance() {
    static QPointer<EndingBrowsers> keeper;
    if (!keeper) keeper = new EndingBrowsers(QCoreApplication::instance());
    return *keeper;
  }

  // Keeps `child` until it ends; killed when still running after `boundMs`.
  void Keep(QProcess* child, int boundMs) {
    child->setParent(this);
    child->setProperty(kEndBy, Now() + boundMs);
    connect(child, &QProcess::finished, child, &QObject::deleteLater);
    QTimer::singleShot(boundMs, child, [child] { child->kill(); });
  }

  ~EndingBrowsers() override {
    for (QProcess* child : findChildren<QProcess*>(Qt::FindDirectChildrenOnly)) {
      if (child->state() == QProcess::NotRunning) continue;
      const qint64 left = child->property(kEndBy).toLongLong() - Now();
      if (left <= 0 || !child->waitForFinished(static_cast<int>(left))) {
        child->kill();
        child->waitForFinished(kKilledBoundMs);
      }
    }
  }

 private:
  static constexpr const char* kEndBy = "autodeliverEndBy";  // ms since the epoch
  static constexpr int kKilledBoundMs = 5000;

  explicit EndingBrowsers(QObject* parent) : QObject(parent) {}
};

}  // namespace

CookieFeed ProgramCookieFeed() {
  CookieFeed feed;
  feed.added = [](const BrowserCookie& cookie) { CookieStore::Global().Put(cookie); };
  feed.removed = [](const BrowserCookie& cookie) {
    CookieStore::Global().Remove(cookie.domain, cookie.path, cookie.name);
  };
  return feed;
}

std::optional<BrowserCookie> CookieFromRawForm(const QByteArray& raw) {
  const QList<QNetworkCookie> cookies = QNetworkCookie::parseCookies(raw);
  if (cookies.isEmpty() || cookies.front().name().isEmpty()) return std::nullopt;
  return ToBrowserCookie(cookies.front());
}

LoginBrowserHost::LoginBrowserHost(QWidget* parent, CookieFeed feed, QString profileFolder)
    : QWidget(parent), feed_(std::move(feed)), profileFolder_(std::move(profileFolder)) {
  connect(&watch_, &QTimer::timeout, this, &LoginBrowserHost::CheckAnswers);
  QCoreApplication::instance()->installEventFilter(this);
}

LoginBrowserHost::~LoginBrowserHost() {
  for (auto& [id, done] : scripts_) {
    if (done) done(QJsonValue());
  }
  scripts_.clear();
  DropChild();
}

QString LoginBrowserHost::ProgramPath() {
  const QByteArray set = qgetenv("AUTODELIVER_LOGIN_PROGRAM");
  if (!set.isEmpty()) return QString::fromLocal8Bit(set);
  return QCoreApplication::applicationDirPath() + QStringLiteral("/autodeliver-login");
}

bool LoginBrowserHost::running() const { return child_ && child_->state() != QProcess::NotRunning; }

qint64 LoginBrowserHost::processId() const { return running() ? child_->processId() : 0; }

void LoginBrowserHost::SetBounds(int startMs, int answerMs) {
  startBoundMs_ = startMs;
  answerBoundMs_ = answerMs;
}

void LoginBrowserHost::load(const QUrl& url) {
  asked_ = url;
  if (!running()) {
    StartChild();
  } else {
    Send("load", {url.toEncoded()});
  }
}

void LoginBrowserHost::Restart() {
  DropChild();
  if (asked_.isValid()) StartChild();
}

void LoginBrowserHost::RunScript(const QString& script, std::function<void(const QJsonValue&)> done) {
  if (!running()) {
    if (done) done(QJsonValue());
    return;
  }
  const QByteArray id = QByteArray::number(++nextScript_);
  scripts_[id] = std::move(done);
  Send("script", {id, script.toUtf8()});
}

void LoginBrowserHost::StartChild() {
  failure_.clear();
  if (failurePanel_ != nullptr) failurePanel_->hide();
  signedIn_ = false;
  quitting_ = false;
  reader_ = login_pipe::LineReader();
  auto* child = new QProcess(this);
  child_ = child;
  // The child's messages (the engine's among them) go where the program's
  // go; its standard output is the pipe.
  child->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  connect(child, &QProcess::readyReadStandardOutput, this, &LoginBrowserHost::ReadChild);
  connect(child, &QProcess::finished, this, [this, child] {
    if (child == child_) ChildEnded();
  });
  connect(child, &QProcess::errorOccurred, this, [this, child](QProcess::ProcessError error) {
    if (child == child_ && error == QProcess::FailedToStart) {
      Fail(QStringLiteral("登录窗口意外关闭：无法启动 %1").arg(ProgramPath()));
      ChildEnded();
    }
  });
  QStringList arguments;
  if (!profileFolder_.isEmpty()) arguments << QStringLiteral("--profile") << profileFolder_;
  started_ = lastAnswer_ = Now();
  child->start(ProgramPath(), arguments);
  if (asked_.isValid()) Send("load", {asked_.toEncoded()});
  watch_.start(1000);
}

void LoginBrowserHost::Send(const QByteArray& word, std::initializer_list<QByteArray> fields) {
  if (child_) child_->write(login_pipe::Line(word, fields));
}

void LoginBrowserHost::ReadChild() {
  if (!child_) return;
  if (!reader_.Append(child_->readAllStandardOutput())) {
    Fail(QStringLiteral("登录窗口意外关闭：收到无法识别的消息"));
    DropChild(true);
    emit ended();
    return;
  }
  lastAnswer_ = Now();
  while (std::optional<QByteArray> line = reader_.Next()) {
    if (std::optional<login_pipe::Message> m = login_pipe::Parse(*line)) Message(*m);
    if (!child_) return;
  }
}

void LoginBrowserHost::Message(const login_pipe::Message& m) {
  const auto field = [&m](int i) { return i < m.fields.size() ? m.fields[i] : QByteArray(); };
  if (m.word == "window") {
    bool ok = false;
    const qulonglong id = field(0).toULongLong(&ok);
    if (ok && static_cast<WId>(id) != childWindow_) Embed(static_cast<WId>(id));
  } else if (m.word == "url") {
    url_ = QUrl::fromEncoded(field(0));
    emit urlChanged(url_);
  } else if (m.word == "loaded") {
    url_ = QUrl::fromEncoded(field(1));
    emit loadFinished(field(0) == "1");
  } else if (m.word == "cookie") {
    const std::optional<BrowserCookie> cookie = CookieFromRawForm(field(1));
    if (!cookie) return;
    if (field(0) == "+" && feed_.added) feed_.added(*cookie);
    if (field(0) == "-" && feed_.removed) feed_.removed(*cookie);
  } else if (m.word == "result") {
    auto it = scripts_.find(field(0));
    if (it == scripts_.end()) return;
    auto done = std::move(it->second);
    scripts_.erase(it);
    const QJsonArray one = QJsonDocument::fromJson(field(1)).array();
    if (done) done(one.isEmpty() ? QJsonValue() : one.at(0));
  } else if (m.word == "signed-in") {
    // The child ends by itself once its last cookies are told.
    signedIn_ = true;
  }
}

void LoginBrowserHost::Embed(WId id) {
  QWindow* foreign = QWindow::fromWinId(id);
  if (foreign == nullptr) return;
  // A window made anew replaces the one taken in before.
  delete container_.data();
  // The browser reaches beyond the holder it sits in; a native window is
  // clipped by its native parent only, so the holder gets one.
  if (QWidget* holder = parentWidget()) {
    holder->setAttribute(Qt::WA_DontCreateNativeAncestors);
    holder->setAttribute(Qt::WA_NativeWindow);
  }
  childWindow_ = id;
  container_ = QWidget::createWindowContainer(foreign, this);
  container_->setObjectName(QStringLiteral("登录窗口"));
  container_->setGeometry(rect());
  // A container with a native window of its own takes the browser's window
  // in as its child, inside the holder's, and so clipped by it.
  container_->setAttribute(Qt::WA_DontCreateNativeAncestors);
  container_->setAttribute(Qt::WA_NativeWindow);
  container_->show();
  if (failurePanel_ != nullptr) failurePanel_->raise();
  Send("show");
  emit windowEmbedded();
}

void LoginBrowserHost::CheckAnswers() {
  if (!running()) return;
  const qint64 now = Now();
  if (container_ == nullptr) {
    if (now - started_ > startBoundMs_) {
      Fail(QStringLiteral("登录窗口意外关闭：启动后长时间没有出现，已结束"));
      DropChild(true);
      emit ended();
    }
    return;
  }
  if (now - lastAnswer_ > answerBoundMs_) {
    Fail(QStringLiteral("登录窗口意外关闭：长时间没有响应，已结束"));
    DropChild(true);
    emit ended();
    return;
  }
  Send("ping", {QByteArray::number(++nextPing_)});
}

void LoginBrowserHost::ChildEnded() {
  const bool early = !signedIn_ && !quitting_;
  if (early && failure_.isEmpty()) Fail(QStringLiteral("登录窗口意外关闭"));
  DropChild();
  emit ended();
}

void LoginBrowserHost::Fail(const QString& reason) {
  failure_ = reason;
  // The note is made at the first failure: the window holds no hidden
  // controls for it before.
  if (failurePanel_ == nullptr) {
    failurePanel_ = new QWidget(this);
    failurePanel_->setObjectName(QStringLiteral("登录窗口失败"));
    failurePanel_->setAutoFillBackground(true);
    auto* row = new QHBoxLayout(failurePanel_);
    failureText_ = new QLabel(failurePanel_);
    failureText_->setWordWrap(true);
    row->addWidget(failureText_, 1);
    auto* again = new QPushButton(QStringLiteral("重新打开登录窗口"), failurePanel_);
    again->setObjectName(QStringLiteral("重新打开登录窗口"));
    row->addWidget(again);
    connect(again, &QPushButton::clicked, this, &LoginBrowserHost::Restart);
  }
  failureText_->setText(reason);
  failurePanel_->setGeometry(kShownOffset + 16, kShownOffset + 16, 600, 60);
  failurePanel_->show();
  failurePanel_->raise();
  emit failed(reason);
}

void LoginBrowserHost::DropChild(bool kill) {
  watch_.stop();
  for (auto& [id, done] : scripts_) {
    if (done) done(QJsonValue());
  }
  scripts_.clear();
  if (container_) {
    // Unmapped first, so that the child's window never shows on its own
    // while it ends.
    container_->hide();
    delete container_.data();
  }
  childWindow_ = 0;
  QProcess* child = child_.data();
  child_ = nullptr;
  if (child == nullptr) return;
  if (child->state() == QProcess::NotRunning) {
    child->deleteLater();
    return;
  }
  // Asked to end, it writes a kept profile out; one that does not end soon
  // is killed, a hung one at once. The program does not wait for it while
  // it runs, only at its own end (EndingBrowsers).
  quitting_ = true;
  disconnect(child, nullptr, this, nullptr);
  if (kill) child->kill();
  // After the sign-in it is telling its last cookies and ends by itself.
  if (!signedIn_) child->write(login_pipe::Line("quit"));
  if (!signedIn_) child->closeWriteChannel();
  // After a sign-in it writes a kept profile out (the marketplace's lasting
  // cookies) and may take longer under load.
  EndingBrowsers::Instance().Keep(child, signedIn_ ? 30000 : 5000);
}

bool LoginBrowserHost::eventFilter(QObject* watched, QEvent* event) {
  // The browser's window takes the keyboard when clicked (it sits in this
  // window, where no window manager hands it the focus), and the program's
  // window then counts as inactive until it asks for the focus again.
  if (event->type() == QEvent::MouseButtonPress && container_ != nullptr && watched->isWidgetType()) {
    QWidget* top = window();
    if (static_cast<QWidget*>(watched)->window() == top && QGuiApplication::focusWindow() == nullptr) {
      top->activateWindow();
    }
  }
  return QWidget::eventFilter(watched, event);
}

void LoginBrowserHost::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (container_) container_->setGeometry(rect());
}

}  // namespace autodeliver
