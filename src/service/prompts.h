// What the program asks of the person at the screen: a message box, an
// input box, a file to open, a web page opened in the default browser, and
// the end of the program. The one interface for the start-up checks of the core and for
// the management pages; the window implements it with Qt, tests fake it.
// All texts are GBK.
//
// Thread safety: called on the window's thread only.
#pragma once

#include <optional>
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
  // Shows an application-modal input box with `prompt` and `caption`, its
  // box holding `initial` (all of it selected, so typing replaces it).
  // Returns the typed text (possibly empty), or nullopt when the person
  // cancels. Prompts that cannot ask for text (the start-up checks never
  // need it) answer as a cancel.
  virtual std::optional<std::string> AskText(const std::string& prompt, const std::string& caption,
                                             const std::string& initial) {
    return std::nullopt;
  }
  // Shows an application-modal dialog for choosing an existing file to
  // read, with `caption` and the name filter `filter` (GBK, Qt's form:
  // "卡密文件 (*.txt *.csv);;所有文件 (*)"). Returns the chosen path as the
  // file system spells it (UTF-8), or nullopt when the person cancels.
  // Prompts that cannot ask answer as a cancel.
  virtual std::optional<std::string> AskOpenFile(const std::string& caption, const std::string& filter) {
    return std::nullopt;
  }
  // Opens `url` in the user's default web browser; does not wait.
  virtual void OpenPage(const std::string& url) = 0;
  // Asks for the end of the program with `exitCode`. The caller returns
  // straight after and does nothing more.
  virtual void EndProgram(int exitCode) = 0;
};

}  // namespace autodeliver
