// The window's side of the program's prompts (service/prompts.h), for the
// start-up checks and the management pages alike: application-modal message
// boxes, input boxes and file dialogs without an owner window, pages opened
// in the desktop's default browser, and the end of the program.
//
// Thread safety: GUI thread only.
#pragma once

#include "service/prompts.h"

namespace autodeliver {

class WindowPrompts : public Prompts {
 public:
  // A QMessageBox with the icon and buttons of `kind`; CR LF line ends are
  // shown as line breaks.
  BoxAnswer ShowBox(const std::string& text, const std::string& caption, BoxKind kind) override;
  // A QInputDialog with one line of text.
  std::optional<std::string> AskText(const std::string& prompt, const std::string& caption) override;
  // A QFileDialog for one existing file.
  std::optional<std::string> AskOpenFile(const std::string& caption, const std::string& filter) override;
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
