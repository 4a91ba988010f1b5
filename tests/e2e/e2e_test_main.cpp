// Test entry for the end-to-end test: a display (the one given, or a
// private Xvfb when there is none: the IM client imitation needs X), then
// one QApplication set up as the program sets it up.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/application.h"
#include "im/im_test_support.h"

int main(int argc, char** argv) {
  // Listing the tests (at build time) needs neither a display nor Qt.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--gtest_list_tests") == 0) {
      testing::InitGoogleTest(&argc, argv);
      return RUN_ALL_TESTS();
    }
  }
  autodeliver::testing::XServer server;
  if (std::getenv("DISPLAY") == nullptr) {
    const std::string error = server.Start();
    if (!error.empty()) {
      std::fprintf(stderr, "no X display: %s\n", error.c_str());
      return 1;
    }
    setenv("DISPLAY", server.display().c_str(), 1);
  }
  setenv("AUTODELIVER_LOGIN_PROGRAM", AUTODELIVER_LOGIN_EXE, 0);
  QApplication app(argc, argv);
  autodeliver::SetProgramFont();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
