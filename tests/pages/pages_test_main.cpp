// Test entry for the page tests: one QApplication for every test, with the
// login browser process taken from the build (the main window holds the
// login browser's place). The offscreen platform is used unless QT_QPA_PLATFORM says
// otherwise, also under a private X server: without a window manager an X
// window never becomes active, and the page tests move the keyboard focus.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("AUTODELIVER_LOGIN_PROGRAM", AUTODELIVER_LOGIN_EXE, 0);
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
