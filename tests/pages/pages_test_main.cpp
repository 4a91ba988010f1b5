// Test entry for the page tests: one QApplication for every test, with the
// browser engine set up as the program sets it up (the main window holds the
// login browser). Without a display the offscreen platform is used.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>

#include "app/login_browser.h"

int main(int argc, char** argv) {
  if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  autodeliver::PrepareWebEngineEnvironment();
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
