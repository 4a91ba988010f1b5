// The window's side of the program's prompts (service/prompts.h), for the
// start-up checks and the management pages alike: application-modal message
// boxes, input boxes and file dialogs, pages opened in the desktop's default
// browser, and the end of the program.
//
// The boxes stand over the main window (their owner): it is their transient
// parent, and a message box is raised and given the focus when it opens.
// The browser engine makes the main window re-create its native window a
// moment after the window is shown, which is while the start-up boxes may
// be up; a new native window is mapped on top of everything, so an open box
// is then raised and focused again and pointed at the new window as its
// transient parent. Without that the seller would see a window that takes
// no input, with the box hidden underneath.
//
// Thread safety: GUI thread only.
#pragma once

#include <QPointer>
#include <QWidget>

#include "service/prompts.h"

namespace autodeliver {

class WindowPrompts : public Prompts {
 public:
  // `owner`, when given, is the window the boxes stand over; it may go
  // before the prompts do.
  explicit WindowPrompts(QWidget* owner = nullptr) : owner_(owner) {}

  // A QMessageBox with the icon and buttons of `kind`; CR LF line ends are
  // shown as line breaks.
  BoxAnswer ShowBox(const std::string& text, const std::string& caption, BoxKind kind) override;
  // A QInputDialog with one line of text.
  std::optional<std::string> AskText(const std::string& prompt, const std::string& caption,
                                     const std::string& initial) override;
  // A QFileDialog for one existing file.
  std::optional<std::string> AskOpenFile(const std::string& caption, const std::string& filter) override;
  void OpenPage(const std::string& url) override;
  // Ends the event loop with `exitCode` when it runs; before it runs (during
  // start-up) the program's entry sees Ended() and returns the code.
  void EndProgram(int exitCode) override;

  bool Ended() const { return ended_; }
  int ExitCode() const { return exitCode_; }

 private:
  QPointer<QWidget> owner_;
  bool ended_ = false;
  int exitCode_ = 0;
};

}  // namespace autodeliver
