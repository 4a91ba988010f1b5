// Test entry for the page tests: one QApplication for every test, with the
// browser engine set up as the program sets it up (the main window holds the
// login browser). The offscreen platform is used unless QT_QPA_PLATFORM says
// otherwise, also under a private X server: without a window manager an X
// window never becomes active, and the page tests move the keyboard focus.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "app/login_browser.h"

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  autodeliver::PrepareWebEngineEnvironment();
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
