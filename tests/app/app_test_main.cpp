// Test entry for the window tests: one QApplication for every test, with
// the login browser process taken from the build. Without a display the
// offscreen platform is used (so that listing the tests works anywhere).
#include <gtest/gtest.h>

#include <QApplication>
#include <QFont>
#include <cstdlib>

int main(int argc, char** argv) {
  if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  setenv("AUTODELIVER_LOGIN_PROGRAM", AUTODELIVER_LOGIN_EXE, 0);
  QApplication app(argc, argv);
  app.setFont(QFont(QStringLiteral("WenQuanYi Micro Hei"), 9));
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
