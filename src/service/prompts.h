// What the core asks of the person at the screen: a message box, a web page
// opened in the default browser, and the end of the program. The window
// implements it with Qt; tests fake it. All texts are GBK.
//
// Thread safety: called on the window's thread only (start-up checks).
#pragma once

#include <string>

namespace autodeliver {

// The three message box kinds the program shows, by their Windows type
// values: error icon with OK, information icon with OK, question icon with
// Yes and No.
enum class BoxKind { kError = 16, kInformation = 64, kQuestion = 36 };
enum class BoxAnswer { kOk, kYes, kNo };

class Prompts {
 public:
  virtual ~Prompts() = default;
  // Shows an application-modal box and waits for the answer.
  virtual BoxAnswer ShowBox(const std::string& text, const std::string& caption, BoxKind kind) = 0;
  // Opens `url` in the user's default web browser; does not wait.
  virtual void OpenPage(const std::string& url) = 0;
  // Asks for the end of the program with `exitCode`. The caller returns
  // straight after and does nothing more.
  virtual void EndProgram(int exitCode) = 0;
};

}  // namespace autodeliver
