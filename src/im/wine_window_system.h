// The window system of an IM client under Wine: the Win32 helper
// (autodeliver-imhelper64.exe or -32.exe) runs inside the client's prefix
// and makes the Win32 calls (FindWindowW, GetWindow, SendMessageW,
// CreateProcessW) on the client's windows; this side speaks to it over a
// pipe with the line protocol of win32_helper_protocol.h.
//
// One helper serves a whole delivery session: Wine's start (a second or
// more) is paid by the first message, not by each. Every answer wait is
// bounded: the helper's start by startWait, a window operation by
// handledWait (plus a margin for the pipe), the start of the command line
// by its own bound plus handledWait. A helper that misses a bound or ends
// is stopped and counts as broken: from then on every operation fails at
// once (no window, false), and the owner starts a new one (Alive()).
//
// Thread safety: one object is used by one thread at a time.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "im/im_sender.h"
#include "im/window_system.h"

namespace autodeliver {

struct WineHelperLaunch {
  std::string prefix;  // the prefix's Linux folder (UTF-8), handed over as WINEPREFIX
  std::string helper;  // the helper program (Linux path)
  std::string loader;  // the Wine loader that runs it ("wine64", "/usr/lib/wine/wine64", "wine")
  std::chrono::milliseconds startWait{std::chrono::seconds(60)};
  std::chrono::milliseconds handledWait{std::chrono::seconds(10)};
};

// The helper and loader for a client program of `bits` (32 or 64; 0, not
// known, takes 64) in `prefixUtf8`: the helper from $AUTODELIVER_IMHELPER_DIR,
// else beside the running program, else in ../lib/autodeliver from it,
// else in the build tree; nullopt when no helper file of that bitness is
// found. The loader is $AUTODELIVER_WINE when set (the Wine that runs the
// client, when that is not Debian's: a prefix must only ever be used by one
// Wine version); else for 64 bits /usr/lib/wine/wine64 when present, else
// "wine64" from PATH, else "wine"; for 32 bits "wine".
std::optional<WineHelperLaunch> WineHelperFor(const std::string& prefixUtf8, int bits);

class WineWindowSystem final : public WindowSystem, public CommandStarter {
 public:
  // Starts the helper and waits (startWait) for its READY line. nullptr
  // when it cannot be started or does not answer; `error` (may be null)
  // then says why, in English.
  static std::unique_ptr<WineWindowSystem> Start(const WineHelperLaunch& launch,
                                                 std::string* error = nullptr);

  // Asks the helper to end and reaps it (a bounded wait, then SIGKILL).
  ~WineWindowSystem() override;
  WineWindowSystem(const WineWindowSystem&) = delete;
  WineWindowSystem& operator=(const WineWindowSystem&) = delete;

  // The helper answered every request so far and still runs.
  bool Alive() const { return pid_ > 0; }
  // The helper's bitness (its READY line).
  int bits() const { return bits_; }
  const WineHelperLaunch& launch() const { return launch_; }

  // A round trip through the helper; false when it did not answer in time.
  bool Ping();

  WindowId FindTopLevel(const std::string& className, const std::string& title) override;
  WindowId Related(WindowId window, WindowRelation relation) override;
  bool SetText(WindowId window, const std::string& text) override;
  bool PressEnter(WindowId window) override;
  bool Close(WindowId window) override;
  void StartAndWait(const std::string& commandLine, std::chrono::milliseconds bound) override;

 private:
  WineWindowSystem(const WineHelperLaunch& launch, pid_t pid, int toHelper, int fromHelper);

  // Sends one request line and reads the answer line within `bound`;
  // nullopt (and the helper stopped) when it does not come.
  std::optional<std::string> Ask(const std::string& request, std::chrono::milliseconds bound);
  std::optional<std::string> ReadLine(std::chrono::milliseconds bound);
  // "OK <hex>" as a number; 0 otherwise.
  WindowId AnswerHandle(const std::optional<std::string>& answer);
  // Reaps the helper: `graceful` gives it a moment to end by itself first.
  void Stop(bool graceful);

  WineHelperLaunch launch_;
  pid_t pid_;
  int toHelper_, fromHelper_;
  int bits_ = 0;
  std::string buffered_;  // bytes read past the last line
};

}  // namespace autodeliver
