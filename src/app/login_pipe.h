// The line protocol between the program and its login browser, a child
// process (autodeliver-login) that is the only part of the program holding
// the web engine. The child's standard input carries the program's
// commands, its standard output (kept for the pipe alone: the child points
// its own stdout at stderr) carries the browser's news. One message per
// line: a word, then its fields, each base64 (so a field may hold any
// bytes), separated by single spaces.
//
//   program -> child          child -> program
//   load URL                  window WINID    its native window, not yet shown
//   show                      url URL         the address shown changed
//   script ID TEXT            loaded OK URL   a navigation completed ("1"/"0")
//   ping N                    cookie +|- RAW  a cookie stored / dropped, in the
//   quit                                      browser cookie store's own raw form
//                             result ID JSON  a script's value, a JSON array of one
//                             pong N
//                             signed-in URL   the sign-in was recognised; the child
//                                             ends once its cookies are told
//
// Thread safety: plain values and functions; a LineReader belongs to one
// thread.
#pragma once

#include <QByteArray>
#include <QList>
#include <initializer_list>
#include <optional>

namespace autodeliver::login_pipe {

struct Message {
  QByteArray word;
  QList<QByteArray> fields;
};

// One message as its line, the newline included.
QByteArray Line(const QByteArray& word, std::initializer_list<QByteArray> fields = {});

// The message of one line (without its newline); none for an empty word
// or a field that is not base64.
std::optional<Message> Parse(const QByteArray& line);

// Cuts the bytes read from the pipe into whole lines. A line longer than
// kMaxLine is a broken peer: the reader fails and keeps failing.
class LineReader {
 public:
  static constexpr qsizetype kMaxLine = 4 * 1024 * 1024;

  // Adds bytes; false once the reader failed.
  bool Append(const QByteArray& bytes);
  // The next whole line (without its newline), if one is complete.
  std::optional<QByteArray> Next();
  bool failed() const { return failed_; }

 private:
  QByteArray buffer_;
  bool failed_ = false;
};

// Whether a browser address shows a finished sign-in: it holds "quicklogin"
// or "my_taobao", anywhere, in exactly that letter case.
bool IsSignInAddress(const QByteArray& address);

}  // namespace autodeliver::login_pipe
