// Sends a chat message to a buyer through the seller's IM client: starts the
// client's "aliim:sendmsg" command line, finds the chat window of the two
// accounts, sets the message into its input box, presses Enter and closes
// the window.
//
// The client's program path is given by the caller with every message (the
// delivery side reads it from the settings); the IM bridge itself knows
// nothing of the settings. The command line is
//
//   path + " aliim:sendmsg?uid=cntaobao" + seller + "&touid=cntaobao" + buyer
//
// with nothing quoted or encoded; it is started without a shell and split
// into the program and its arguments the way Windows splits a command line
// (see SplitCommandLine); as on Windows, an unquoted program path with
// spaces is found by trying each prefix that ends before a space, shortest
// first. The command line crosses to the new process as UTF-8. The chat
// window has the class "StandardFrame" and the title buyer + " - " + seller;
// its input box is reached from it by the twelve-step walk of kInputBoxWalk.
//
// Both waits are bounded: the started program gets programWait to end (it
// is left running after that; the IM client may have started itself), and
// the search for the input box is repeated every searchPause until it
// succeeds or searchTimeout has passed, in which case nothing is sent.
//
// Thread safety: SendImMessage may be called from any thread; it opens its
// own window-system connection for each message unless one is handed in.
#pragma once

#include <array>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "im/window_system.h"

namespace autodeliver {

struct ImSendBounds {
  // How long the started program may take to end before the search starts
  // anyway.
  std::chrono::milliseconds programWait{std::chrono::seconds(15)};
  // How long the chat window and its input box are searched for.
  std::chrono::milliseconds searchTimeout{std::chrono::seconds(30)};
  // The pause between two searches.
  std::chrono::milliseconds searchPause{std::chrono::milliseconds(100)};
  // How long the IM client may take to handle one window operation.
  std::chrono::milliseconds handledWait{std::chrono::seconds(10)};
  // How long a client under Wine may take to start the Win32 helper in its
  // prefix (Wine's own start included; once per session).
  std::chrono::milliseconds helperStartWait{std::chrono::seconds(60)};
};

// Starts the client's command line and waits (bounded) for it to end, for a
// client that is not started by a Linux process (the Wine helper starts it
// inside the client's prefix). Whether it started is not looked at, as
// with the native start.
class CommandStarter {
 public:
  virtual ~CommandStarter() = default;
  virtual void StartAndWait(const std::string& commandLine, std::chrono::milliseconds bound) = 0;
};

// The native start: the command line converted to UTF-8, split the way
// Windows splits one, started without a shell (posix_spawn), then the
// bounded wait.
class SpawnCommandStarter final : public CommandStarter {
 public:
  void StartAndWait(const std::string& commandLine, std::chrono::milliseconds bound) override;
};

struct ImSendOptions {
  explicit ImSendOptions(std::string clientPath) : clientPath(std::move(clientPath)) {}

  // The client's program path (GBK), inserted into the command line as it
  // is; empty starts nothing (the chat window is still searched for).
  std::string clientPath;
  ImSendBounds bounds;
  // The window system to use; nullptr opens an X11 connection to $DISPLAY
  // for this message.
  WindowSystem* windows = nullptr;
  // Who starts the command line (GBK, as built); nullptr: a
  // SpawnCommandStarter.
  CommandStarter* starter = nullptr;
};

// The walk from the chat window to its input box.
inline constexpr std::array<WindowRelation, 12> kInputBoxWalk = {
    WindowRelation::kFirstChild,  WindowRelation::kNextSibling, WindowRelation::kNextSibling,
    WindowRelation::kNextSibling, WindowRelation::kNextSibling, WindowRelation::kNextSibling,
    WindowRelation::kNextSibling, WindowRelation::kFirstChild,  WindowRelation::kNextSibling,
    WindowRelation::kFirstChild,  WindowRelation::kNextSibling, WindowRelation::kNextSibling};

// The command line that asks the client at `clientPath` to open the chat
// from `sellerNick` to `buyerNick` (all GBK, inserted as they are).
std::string ImCommandLine(const std::string& clientPath, const std::string& sellerNick,
                          const std::string& buyerNick);

// The chat window's title: buyer + " - " + seller.
std::string ImChatTitle(const std::string& sellerNick, const std::string& buyerNick);

// Splits a command line the way Windows does for a program it starts: in
// the program name quotes toggle quoting and are removed, backslashes are
// plain characters and unquoted white space ends it; each following argument ends at unquoted white space, a
// double quote toggles quoting, "" inside quotes is one literal quote, and
// 2n backslashes before a quote give n backslashes while 2n+1 give n and a
// literal quote. Empty text gives no pieces.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// The program (a UTF-8 file path) that a command line starting with
// `clientPath` (GBK) would run, found as for a message; empty when the path
// names no program.
std::string ImClientProgram(const std::string& clientPath);

// Whether a process of the program at `programPath` (UTF-8) runs: its
// executable, or the script its interpreter runs, is that file. Reads /proc.
bool ProgramIsRunning(const std::string& programPath);

// Sends `message` (GBK, line ends kept as they are) from `sellerNick` to
// `buyerNick`. Returns true when the text was set into the chat window's
// input box and Enter was pressed there; false when the input box was not
// found in time or the client did not handle the text. The chat window is
// closed afterwards whenever it was found.
bool SendImMessage(const std::string& sellerNick, const std::string& buyerNick, const std::string& message,
                   const ImSendOptions& options);

}  // namespace autodeliver
