// autodeliver-im-sim-win32: a stand-in for the seller's IM client as a
// Windows program, run under Wine, so that the IM bridge's Wine channel and
// its Win32 helper can be run and tested on one machine. Built with
// mingw-w64; plain Win32, wide calls throughout.
//
//   autodeliver-im-sim-win32 [--transcript FILE] [--no-window]
//       the running client: keeps a hidden control window (class
//       AutodeliverImSimWin32, title = $AUTODELIVER_IM_INSTANCE or
//       "default") and serves chat requests until asked to quit.
//   autodeliver-im-sim-win32 aliim:sendmsg?uid=cntaobao<seller>&touid=cntaobao<buyer>
//       hands the request to the running client (WM_COPYDATA) and ends once
//       it was handled: exit code 0, 2 when no client runs.
//   autodeliver-im-sim-win32 --install
//       registers this program as the handler of "aliim:" in the prefix:
//       HKLM\Software\Classes\aliim\Shell\Open\Command, default value
//       "<this program> %1" (REG_SZ).
//   autodeliver-im-sim-win32 --quit
//       asks the running client to end.
//   autodeliver-im-sim-win32 --ping
//       exit code 0 when a client runs, 2 when none does.
//
// A request opens the chat window of the pair, or brings it up when it is
// open: class "StandardFrame", title "buyer - seller". Its window tree, in
// GetWindow order (children are created bottom-up, so creation order):
//
//   StandardFrame
//     0..5  title bar and tool buttons
//     6     body
//             0  history (the sent messages)
//             1  edit area
//                  0  font bar
//                  1  face bar
//                  2  input box
//
// The input box keeps the text WM_SETTEXT gives it; WM_KEYDOWN of
// VK_RETURN sends it (an empty box sends nothing): the text goes to the
// history and, as one line, to the transcript, and the box is emptied.
// WM_CLOSE destroys the chat window.
//
// The transcript (--transcript, else $AUTODELIVER_IM_TRANSCRIPT; a Windows
// path such as Z:\tmp\t.jsonl) gets the same lines as the X11 imitation's:
//
//   {"time":"2024-05-01 12:00:00","seller":"店铺A","buyer":"买家B","text":"...","textGbkHex":"..."}
//
// UTF-8, one JSON object per line, appended with a single write.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

namespace {

const wchar_t kControlClass[] = L"AutodeliverImSimWin32";
const wchar_t kChatClass[] = L"StandardFrame";
const wchar_t kPartClass[] = L"AutodeliverImSimPart";
const wchar_t kInputClass[] = L"AutodeliverImSimInput";
const wchar_t kRequestPrefix[] = L"aliim:sendmsg?uid=cntaobao";
const wchar_t kBuyerMark[] = L"&touid=cntaobao";
const ULONG_PTR kCopyRequest = 1;
const ULONG_PTR kCopyQuit = 2;
const UINT kChineseCodePage = 936;

struct Chat {
  std::wstring seller, buyer;
  HWND history = nullptr, input = nullptr;
  std::wstring shown;  // the history's text
};

std::map<HWND, Chat> gChats;  // by chat window
std::wstring gTranscript;
bool gNoWindow = false;
HINSTANCE gInstance = nullptr;

std::wstring Env(const wchar_t* name) {
  wchar_t buffer[4096];
  DWORD n = GetEnvironmentVariableW(name, buffer, 4096);
  return n > 0 && n < 4096 ? std::wstring(buffer, n) : std::wstring();
}

std::wstring InstanceName() {
  std::wstring name = Env(L"AUTODELIVER_IM_INSTANCE");
  return name.empty() ? L"default" : name;
}

std::string Encode(const std::wstring& text, UINT codePage) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                              nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

std::string JsonString(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    if (c == '"') {
      out += "\\\"";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7f) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
      out += buffer;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 0x0F];
  }
  return out;
}

void AppendTranscript(const Chat& chat, const std::wstring& text) {
  if (gTranscript.empty()) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay,
                now.wHour, now.wMinute, now.wSecond);
  const std::string line = "{\"time\":" + JsonString(stamp) +
                           ",\"seller\":" + JsonString(Encode(chat.seller, CP_UTF8)) +
                           ",\"buyer\":" + JsonString(Encode(chat.buyer, CP_UTF8)) +
                           ",\"text\":" + JsonString(Encode(text, CP_UTF8)) +
                           ",\"textGbkHex\":" + JsonString(Hex(Encode(text, kChineseCodePage))) + "}\n";
  HANDLE file = CreateFileW(gTranscript.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
}

std::wstring TextOf(HWND window) {
  int n = GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(n) + 1, L'\0');
  n = GetWindowTextW(window, text.data(), n + 1);
  text.resize(static_cast<size_t>(n));
  return text;
}

// A font with Chinese glyphs (the prefix's own fonts may have none).
HFONT ChineseFont() {
  static HFONT font =
      CreateFontW(-14, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"WenQuanYi Micro Hei");
  return font;
}

void PaintText(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  SelectObject(dc, ChineseFont());
  RECT area;
  GetClientRect(window, &area);
  FillRect(dc, &area, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1));
  const std::wstring text = TextOf(window);
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area, DT_LEFT | DT_TOP | DT_WORDBREAK);
  EndPaint(window, &paint);
}

LRESULT CALLBACK PartProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    PaintText(window);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// The input box: keeps its text (DefWindowProc's WM_SETTEXT) and sends it on
// Enter.
LRESULT CALLBACK InputProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_KEYDOWN && wParam == VK_RETURN) {
    auto it = gChats.find(GetAncestor(window, GA_ROOT));
    const std::wstring text = TextOf(window);
    if (it != gChats.end() && !text.empty()) {
      Chat& chat = it->second;
      AppendTranscript(chat, text);
      chat.shown += chat.seller + L": " + text + L"\r\n";
      SetWindowTextW(chat.history, chat.shown.c_str());
      SetWindowTextW(window, L"");
      InvalidateRect(chat.history, nullptr, TRUE);
    }
    return 0;
  }
  if (message == WM_SETTEXT) {
    LRESULT result = DefWindowProcW(window, message, wParam, lParam);
    InvalidateRect(window, nullptr, TRUE);
    return result;
  }
  if (message == WM_PAINT) {
    PaintText(window);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK ChatProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) gChats.erase(window);
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND Part(HWND parent, const wchar_t* cls, const wchar_t* text, int x, int y, int w, int h) {
  return CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | WS_BORDER, x, y, w, h, parent, nullptr,
                         gInstance, nullptr);
}

void OpenChat(const std::wstring& seller, const std::wstring& buyer) {
  const std::wstring title = buyer + L" - " + seller;
  if (HWND open = FindWindowW(kChatClass, title.c_str())) {
    ShowWindow(open, SW_SHOWNORMAL);
    SetForegroundWindow(open);
    return;
  }
  if (gNoWindow) return;
  HWND top = CreateWindowExW(0, kChatClass, title.c_str(), WS_OVERLAPPEDWINDOW, 40, 40, 520, 420, nullptr,
                             nullptr, gInstance, nullptr);
  if (top == nullptr) return;
  Chat chat;
  chat.seller = seller;
  chat.buyer = buyer;
  Part(top, kPartClass, title.c_str(), 0, 0, 300, 24);  // 0: title bar
  const wchar_t* tools[] = {L"视频", L"语音", L"文件", L"截图", L"设置"};
  for (int i = 0; i < 5; ++i) Part(top, kPartClass, tools[i], 300 + i * 40, 0, 40, 24);  // 1..5: tool buttons
  HWND body = Part(top, kPartClass, L"", 0, 24, 510, 360);                               // 6: body
  chat.history = Part(body, kPartClass, L"", 0, 0, 506, 230);                            // 6.0
  HWND editArea = Part(body, kPartClass, L"", 0, 230, 506, 126);                         // 6.1
  Part(editArea, kPartClass, L"字体", 0, 0, 250, 22);                                    // 6.1.0
  Part(editArea, kPartClass, L"表情", 250, 0, 252, 22);                                  // 6.1.1
  chat.input = Part(editArea, kInputClass, L"", 0, 22, 502, 100);                        // 6.1.2
  gChats[top] = chat;
  ShowWindow(top, SW_SHOWNORMAL);
  UpdateWindow(top);
}

// Takes "aliim:sendmsg?uid=cntaobao<seller>&touid=cntaobao<buyer>".
bool TakeRequest(const std::wstring& request) {
  const size_t prefix = std::wcslen(kRequestPrefix);
  if (request.compare(0, prefix, kRequestPrefix) != 0) return false;
  size_t mark = request.find(kBuyerMark, prefix);
  if (mark == std::wstring::npos) return false;
  OpenChat(request.substr(prefix, mark - prefix), request.substr(mark + std::wcslen(kBuyerMark)));
  return true;
}

LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COPYDATA) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (data->dwData == kCopyQuit) {
      PostQuitMessage(0);
      return TRUE;
    }
    if (data->dwData == kCopyRequest) {
      std::wstring request(static_cast<const wchar_t*>(data->lpData), data->cbData / sizeof(wchar_t));
      return TakeRequest(request) ? TRUE : FALSE;
    }
    return FALSE;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void RegisterClasses() {
  WNDCLASSW cls{};
  cls.hInstance = gInstance;
  cls.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  const std::pair<const wchar_t*, WNDPROC> classes[] = {
      {kControlClass, ControlProc}, {kChatClass, ChatProc}, {kPartClass, PartProc}, {kInputClass, InputProc}};
  for (const auto& [name, proc] : classes) {
    cls.lpszClassName = name;
    cls.lpfnWndProc = proc;
    RegisterClassW(&cls);
  }
}

int Install() {
  wchar_t self[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 1;
  const std::wstring command = std::wstring(self, n) + L" %1";
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\aliim\\Shell\\Open\\Command", 0, nullptr, 0,
                      KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return 1;
  }
  LONG rc = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                           static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return rc == ERROR_SUCCESS ? 0 : 1;
}

// Hands data to the running client; 0 when it took it, 2 when none runs, 3
// when it refused.
int HandOver(ULONG_PTR kind, const std::wstring& text) {
  HWND control = FindWindowW(kControlClass, InstanceName().c_str());
  if (control == nullptr) return 2;
  COPYDATASTRUCT data{};
  data.dwData = kind;
  data.cbData = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  data.lpData = const_cast<wchar_t*>(text.data());
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(control, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_NORMAL, 5000,
                           &result)) {
    return 3;
  }
  return result != 0 ? 0 : 3;
}

int RunClient() {
  if (FindWindowW(kControlClass, InstanceName().c_str()) != nullptr) return 4;  // one runs already
  HWND control = CreateWindowExW(0, kControlClass, InstanceName().c_str(), WS_OVERLAPPED, 0, 0, 10, 10,
                                 nullptr, nullptr, gInstance, nullptr);
  if (control == nullptr) return 1;
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  gInstance = instance;
  RegisterClasses();
  // A request is everything from "aliim:" on (a nick may hold spaces).
  const std::wstring commandLine = GetCommandLineW();
  size_t request = commandLine.find(L"aliim:");
  if (request != std::wstring::npos) return HandOver(kCopyRequest, commandLine.substr(request));

  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(commandLine.c_str(), &argc);
  gTranscript = Env(L"AUTODELIVER_IM_TRANSCRIPT");
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--install") return Install();
    if (arg == L"--quit") return HandOver(kCopyQuit, L"");
    if (arg == L"--ping") return FindWindowW(kControlClass, InstanceName().c_str()) != nullptr ? 0 : 2;
    if (arg == L"--no-window") gNoWindow = true;
    if (arg == L"--transcript" && i + 1 < argc) gTranscript = argv[++i];
  }
  LocalFree(argv);
  return RunClient();
}
