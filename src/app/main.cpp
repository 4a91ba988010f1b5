// The program's entry: sets up the browser engine, builds the main window,
// runs the start-up sequence and the event loop, and ends with exit code 0
// when the window is closed (or with the code a start-up step asked for).
#include <QApplication>
#include <QFont>

#include "app/login_browser.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "app/window_prompts.h"

int main(int argc, char** argv) {
  using namespace autodeliver;
  PrepareWebEngineEnvironment();
  QApplication app(argc, argv);
  app.setFont(QFont(QStringLiteral("WenQuanYi Micro Hei"), 9));

  MainWindow window;
  WindowPrompts prompts;
  window.show();
  if (!RunStartupSequence(window, prompts)) return prompts.ExitCode();
  return app.exec();
}
