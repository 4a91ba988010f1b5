// The program's entry: sets up the browser engine and the font, builds the
// program (application.h), runs the start-up sequence and the event loop,
// and ends with exit code 0 when the window is closed (or with the code a
// start-up step asked for).
#include <QApplication>

#include "app/application.h"
#include "app/login_browser.h"

int main(int argc, char** argv) {
  using namespace autodeliver;
  PrepareWebEngineEnvironment();
  QApplication app(argc, argv);
  SetProgramFont();
  Application program;
  if (!program.Start()) return program.ExitCode();
  return app.exec();
}
