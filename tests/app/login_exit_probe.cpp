// A program in miniature for the login browser's exit test: it starts a
// login browser (the program $AUTODELIVER_LOGIN_PROGRAM names), prints the
// child's process id, then ends as the program does: the window (and so
// the browser's host) goes first, the application object last, while the
// child may still be ending. Exit code 0 once the child was started.
#include <QApplication>
#include <QDeadlineTimer>
#include <QUrl>
#include <cstdio>

#include "app/login_browser.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  auto* host = new autodeliver::LoginBrowserHost(nullptr, autodeliver::CookieFeed{});
  host->load(QUrl(QStringLiteral("http://127.0.0.1:1/")));
  const QDeadlineTimer deadline(20000);
  while (host->processId() <= 0 && !deadline.hasExpired()) app.processEvents(QEventLoop::AllEvents, 50);
  const qint64 pid = host->processId();
  if (pid <= 0) return 3;
  std::printf("%lld\n", static_cast<long long>(pid));
  std::fflush(stdout);
  delete host;
  return 0;
}
