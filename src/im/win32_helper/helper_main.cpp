// autodeliver-imhelper: the IM bridge's hands inside a Wine prefix. A small
// Win32 console program, built with mingw-w64 for 64 and for 32 bits, that
// the bridge starts once per delivery session (under Wine, with the IM
// client's prefix) and drives over its stdin and stdout with the line
// protocol of win32_helper_protocol.h. It makes the Win32 calls the bridge
// asks for on the IM client's windows and answers each request with one
// line; the order of the steps, their bounds and the outcome stay with the
// bridge.
//
// Texts arrive as GBK bytes and are converted with code page 936 and used
// with the wide calls, so the prefix's own language (its ANSI code page)
// does not change a single character.
//
// It ends on QUIT or when its stdin ends (the bridge went away).
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "win32_helper_protocol.h"

namespace hp = autodeliver::helper_protocol;

namespace {

const UINT kChineseCodePage = 936;
UINT gHandledMs = 10000;
FILE* gInput = nullptr;   // the bridge's requests
FILE* gOutput = nullptr;  // the answers

std::wstring WideOfGbk(const std::string& gbk) {
  if (gbk.empty()) return std::wstring();
  int n = MultiByteToWideChar(kChineseCodePage, 0, gbk.data(), static_cast<int>(gbk.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(kChineseCodePage, 0, gbk.data(), static_cast<int>(gbk.size()), out.data(), n);
  return out;
}

void Answer(const std::string& line) {
  std::fputs(line.c_str(), gOutput);
  std::fputc('\n', gOutput);
  std::fflush(gOutput);
}

HWND HandleOf(const std::string& field, bool* ok) {
  unsigned long long value = 0;
  *ok = hp::ParseNumberField(field, &value);
  return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(value));
}

std::string HandleField(HWND window) {
  return hp::NumberField(static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(window)));
}

// Sends a message and waits (bounded) until the window's owner has handled
// it; false when the window is gone or its owner did not answer in time.
bool SendBounded(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (window == nullptr || !IsWindow(window)) return false;
  DWORD_PTR result = 0;
  return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, gHandledMs, &result) != 0;
}

// Starts `commandLine` as CreateProcessA would (no application name, no
// handle inheritance, shown normally) and waits at most `waitMs` for it to
// end. The std handles are not passed on: the started program (perhaps the
// IM client itself, which stays) must not hold the bridge's pipe.
bool StartAndWait(const std::wstring& commandLine, DWORD waitMs) {
  std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
  line.push_back(L'\0');
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return false;
  }
  WaitForSingleObject(process.hProcess, waitMs);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

// Handles one request line; false on QUIT.
bool Handle(const std::string& line) {
  const std::vector<std::string> f = hp::SplitFields(line);
  const std::string& verb = f[0];
  bool ok = true;
  if (verb == hp::kPing && f.size() == 1) {
    Answer(hp::kOk);
  } else if (verb == hp::kQuit) {
    return false;
  } else if (verb == hp::kFind && f.size() == 3) {
    std::string className, title;
    if (!hp::FromHex(f[1], &className) || !hp::FromHex(f[2], &title)) {
      Answer(std::string(hp::kError) + " bad text");
    } else {
      const std::wstring wideClass = WideOfGbk(className), wideTitle = WideOfGbk(title);
      Answer(std::string(hp::kOk) + " " + HandleField(FindWindowW(wideClass.c_str(), wideTitle.c_str())));
    }
  } else if (verb == hp::kRelated && f.size() == 3 && (f[2] == hp::kChild || f[2] == hp::kNext)) {
    HWND window = HandleOf(f[1], &ok);
    HWND related = nullptr;
    if (ok && window != nullptr && IsWindow(window)) {
      related = GetWindow(window, f[2] == hp::kChild ? GW_CHILD : GW_HWNDNEXT);
    }
    Answer(ok ? std::string(hp::kOk) + " " + HandleField(related) : std::string(hp::kError) + " bad window");
  } else if (verb == hp::kSetText && f.size() == 3) {
    HWND window = HandleOf(f[1], &ok);
    std::string text;
    if (!ok || !hp::FromHex(f[2], &text)) {
      Answer(std::string(hp::kError) + " bad request");
    } else {
      const std::wstring wide = WideOfGbk(text);
      Answer(SendBounded(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str())) ? hp::kOk
                                                                                        : hp::kFail);
    }
  } else if (verb == hp::kEnter && f.size() == 2) {
    HWND window = HandleOf(f[1], &ok);
    bool sent =
        ok && SendBounded(window, WM_KEYDOWN, VK_RETURN, 0) && SendBounded(window, WM_KEYUP, VK_RETURN, 0);
    Answer(sent ? hp::kOk : hp::kFail);
  } else if (verb == hp::kClose && f.size() == 2) {
    HWND window = HandleOf(f[1], &ok);
    bool closed =
        ok && SendBounded(window, WM_CLOSE, 0, 0) && (!IsWindow(window) || !IsWindowVisible(window));
    Answer(closed ? hp::kOk : hp::kFail);
  } else if (verb == hp::kStart && f.size() == 3) {
    unsigned long long waitMs = 0;
    std::string commandLine;
    if (!hp::ParseNumberField(f[1], &waitMs) || !hp::FromHex(f[2], &commandLine) || waitMs > 0xFFFFFFF0ull) {
      Answer(std::string(hp::kError) + " bad request");
    } else {
      bool started = StartAndWait(WideOfGbk(commandLine), static_cast<DWORD>(waitMs));
      Answer(std::string(hp::kOk) + (started ? " 1" : " 0"));
    }
  } else {
    Answer(std::string(hp::kError) + " unknown request");
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // The protocol runs on private copies of stdin and stdout; the process's
  // std handles, which a started program may be handed, become NUL, so the
  // IM client (or anything else started) never writes into the protocol or
  // holds the bridge's pipe.
  const int in = _dup(_fileno(stdin)), out = _dup(_fileno(stdout));
  if (in < 0 || out < 0) return 1;
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  if (nul != INVALID_HANDLE_VALUE) {
    SetStdHandle(STD_INPUT_HANDLE, nul);
    SetStdHandle(STD_OUTPUT_HANDLE, nul);
    SetStdHandle(STD_ERROR_HANDLE, nul);
  }
  // Line feeds stay line feeds: no CR LF translation on the pipe.
  gInput = _fdopen(in, "rb");
  gOutput = _fdopen(out, "wb");
  if (gInput == nullptr || gOutput == nullptr) return 1;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], hp::kHandledOption) == 0)
      gHandledMs = static_cast<UINT>(std::strtoul(argv[i + 1], nullptr, 10));
  }
  Answer(std::string(hp::kReady) + (sizeof(void*) == 8 ? " 64" : " 32"));
  std::string line;
  for (int c = std::fgetc(gInput); c != EOF; c = std::fgetc(gInput)) {
    if (c == '\r') continue;
    if (c != '\n') {
      line += static_cast<char>(c);
      continue;
    }
    if (!Handle(line)) return 0;
    line.clear();
  }
  return 0;
}
