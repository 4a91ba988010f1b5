// The window's side of the core's prompts: application-modal message boxes
// without an owner window, pages opened in the desktop's default browser,
// and the end of the program.
//
// Thread safety: GUI thread only.
#pragma once

#include "service/prompts.h"

namespace autodeliver {

class WindowPrompts : public Prompts {
 public:
  BoxAnswer ShowBox(const std::string& text, const std::string& caption, BoxKind kind) override;
  void OpenPage(const std::string& url) override;
  // Ends the event loop with `exitCode` when it runs; before it runs (during
  // start-up) the program's entry sees Ended() and returns the code.
  void EndProgram(int exitCode) override;

  bool Ended() const { return ended_; }
  int ExitCode() const { return exitCode_; }

 private:
  bool ended_ = false;
  int exitCode_ = 0;
};

}  // namespace autodeliver
