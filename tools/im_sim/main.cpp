// autodeliver-im-sim: a small stand-in for the seller's IM client, built on
// plain Xlib, so that the IM bridge can be run and tested on one machine.
//
// Started without a request it is the running client: it keeps a hidden
// control window and serves chat requests. Started with an
// "aliim:sendmsg?uid=cntaobao<seller>&touid=cntaobao<buyer>" argument it
// hands the request to the running client, waits until that client has
// handled it (the chat window is then open) and exits. See README.md for the
// options, the window tree and the transcript format.
//
// The chat window follows the IM bridge's X11 conventions: the text of the
// input box is set through the property _AUTODELIVER_SET_TEXT (deleted once
// taken), every _AUTODELIVER_SYNC property is deleted as a handled-barrier,
// Enter is a Return key event, and WM_DELETE_WINDOW closes the window.

// CLI11 comes before Xlib, whose macros (Success, None, Status) clash with
// its names.
#include <CLI/CLI.hpp>

// Xlib and the system.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/json_text.h"
#include "http/answer_text.h"
#include "text/gbk.h"

extern char** environ;

namespace {

using autodeliver::HexOfBytes;
using autodeliver::JsonString;
using autodeliver::Utf8ToGbkLossy;

const char kControlClass[] = "AutodeliverImSim";
const char kChatClass[] = "StandardFrame";
const char kRequestPrefix[] = "aliim:sendmsg?";
const char kQuitRequest[] = "quit";

std::string InstanceName() {
  const char* name = std::getenv("AUTODELIVER_IM_INSTANCE");
  return name != nullptr && *name != '\0' ? name : "default";
}

struct Atoms {
  Atom utf8String, netWmName, wmProtocols, wmDeleteWindow, setText, sync, request;
  explicit Atoms(Display* d)
      : utf8String(XInternAtom(d, "UTF8_STRING", False)),
        netWmName(XInternAtom(d, "_NET_WM_NAME", False)),
        wmProtocols(XInternAtom(d, "WM_PROTOCOLS", False)),
        wmDeleteWindow(XInternAtom(d, "WM_DELETE_WINDOW", False)),
        setText(XInternAtom(d, "_AUTODELIVER_SET_TEXT", False)),
        sync(XInternAtom(d, "_AUTODELIVER_SYNC", False)),
        request(XInternAtom(d, "_AUTODELIVER_IM_REQUEST", False)) {}
};

int IgnoreXError(Display*, XErrorEvent*) { return 0; }

void SetClassAndTitle(Display* d, const Atoms& atoms, Window w, const char* cls, const std::string& title) {
  XClassHint hint;
  std::string name = cls;
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  hint.res_name = name.data();
  hint.res_class = const_cast<char*>(cls);
  XSetClassHint(d, w, &hint);
  const auto* bytes = reinterpret_cast<const unsigned char*>(title.data());
  XChangeProperty(d, w, atoms.netWmName, atoms.utf8String, 8, PropModeReplace, bytes,
                  static_cast<int>(title.size()));
  XChangeProperty(d, w, XA_WM_NAME, atoms.utf8String, 8, PropModeReplace, bytes,
                  static_cast<int>(title.size()));
}

std::string ClassOf(Display* d, Window w) {
  XClassHint hint{};
  std::string out;
  if (XGetClassHint(d, w, &hint) != 0) {
    if (hint.res_class != nullptr) out = hint.res_class;
    XFree(hint.res_name);
    XFree(hint.res_class);
  }
  return out;
}

// Reads (and with `remove`, deletes in the same request) an 8-bit property.
std::optional<std::string> TakeProperty(Display* d, Window w, Atom property, bool remove) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  int status = XGetWindowProperty(d, w, property, 0, 1 << 22, remove ? True : False, AnyPropertyType, &type,
                                  &format, &count, &after, &data);
  std::optional<std::string> out;
  if (status == Success && type != None && format == 8) out.emplace(reinterpret_cast<char*>(data), count);
  if (data != nullptr) XFree(data);
  return out;
}

Window FindControlWindow(Display* d, const Atoms& atoms) {
  Window root = None, parent = None;
  Window* children = nullptr;
  unsigned int count = 0;
  Window found = None;
  const std::string instance = InstanceName();
  if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count) != 0) {
    for (unsigned int i = 0; i < count && found == None; ++i) {
      if (ClassOf(d, children[i]) == kControlClass &&
          TakeProperty(d, children[i], atoms.netWmName, false) == instance) {
        found = children[i];
      }
    }
  }
  if (children != nullptr) XFree(children);
  return found;
}

// ---------------------------------------------------------------- hand-off

// Appends `request` to the running client's request property and waits (up
// to five seconds) until the client has taken it. Exit codes: 0 handled,
// 2 no running client, 3 not handled in time.
int HandOff(const std::string& request) {
  Display* d = XOpenDisplay(nullptr);
  if (d == nullptr) {
    std::fprintf(stderr, "autodeliver-im-sim: cannot open the display\n");
    return 2;
  }
  XSetErrorHandler(IgnoreXError);
  Atoms atoms(d);
  Window control = FindControlWindow(d, atoms);
  if (control == None) {
    std::fprintf(stderr, "autodeliver-im-sim: no running client\n");
    XCloseDisplay(d);
    return 2;
  }
  XSelectInput(d, control, PropertyChangeMask | StructureNotifyMask);
  std::string record = request;
  record += '\0';
  XChangeProperty(d, control, atoms.request, atoms.utf8String, 8, PropModeAppend,
                  reinterpret_cast<const unsigned char*>(record.data()), static_cast<int>(record.size()));
  XFlush(d);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  int result = 3;
  while (result == 3) {
    while (XPending(d) > 0 && result == 3) {
      XEvent e;
      XNextEvent(d, &e);
      if ((e.type == PropertyNotify && e.xproperty.atom == atoms.request &&
           e.xproperty.state == PropertyDelete) ||
          e.type == DestroyNotify) {
        result = 0;
      }
    }
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (result != 3 || left.count() <= 0) break;
    pollfd fd{ConnectionNumber(d), POLLIN, 0};
    poll(&fd, 1, static_cast<int>(left.count()) + 1);
  }
  XCloseDisplay(d);
  return result;
}

// ---------------------------------------------------------------- client

struct ClientOptions {
  std::string transcript;  // empty: no transcript file
  std::string login;       // empty: any seller
  std::string titleTemplate = "{buyer} - {seller}";
  bool openWindows = true;
};

struct Chat {
  std::string seller, buyer;  // UTF-8
  Window top = None, history = None, inputBox = None;
  std::string boxText;
  std::vector<std::string> shown;
};

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

class Client {
 public:
  Client(Display* d, ClientOptions options) : d_(d), atoms_(d), options_(std::move(options)) {
    root_ = DefaultRootWindow(d_);
    XSetWindowAttributes attributes{};
    attributes.event_mask = PropertyChangeMask;
    control_ =
        XCreateWindow(d_, root_, -10, -10, 1, 1, 0, 0, InputOnly, CopyFromParent, CWEventMask, &attributes);
    SetClassAndTitle(d_, atoms_, control_, kControlClass, InstanceName());
    char** missing = nullptr;
    int missingCount = 0;
    char* defaultString = nullptr;
    fontSet_ = XCreateFontSet(d_, "-*-*-medium-r-normal--*-120-*-*-*-*-*-*,fixed", &missing, &missingCount,
                              &defaultString);
    if (missing != nullptr) XFreeStringList(missing);
    XFlush(d_);
  }

  int Run() {
    for (;;) {
      while (XPending(d_) > 0) {
        XEvent e;
        XNextEvent(d_, &e);
        if (!Handle(e)) return 0;
      }
      pollfd fd{ConnectionNumber(d_), POLLIN, 0};
      poll(&fd, 1, -1);
    }
  }

 private:
  // Returns false when the client should end.
  bool Handle(const XEvent& e) {
    switch (e.type) {
      case PropertyNotify:
        if (e.xproperty.state != PropertyNewValue) break;
        if (e.xproperty.window == control_ && e.xproperty.atom == atoms_.request) return TakeRequests();
        if (e.xproperty.atom == atoms_.sync) XDeleteProperty(d_, e.xproperty.window, atoms_.sync);
        if (e.xproperty.atom == atoms_.setText) TakeText(e.xproperty.window);
        break;
      case KeyPress:
        if (XLookupKeysym(const_cast<XKeyEvent*>(&e.xkey), 0) == XK_Return) Send(e.xkey.window);
        break;
      case ClientMessage:
        if (e.xclient.message_type == atoms_.wmProtocols &&
            static_cast<Atom>(e.xclient.data.l[0]) == atoms_.wmDeleteWindow) {
          CloseChat(e.xclient.window);
        }
        break;
      case Expose:
        if (e.xexpose.count == 0) Draw(e.xexpose.window);
        break;
      default:
        break;
    }
    XFlush(d_);
    return true;
  }

  bool TakeRequests() {
    std::optional<std::string> all = TakeProperty(d_, control_, atoms_.request, true);
    if (!all) return true;
    size_t start = 0;
    while (start < all->size()) {
      size_t end = all->find('\0', start);
      if (end == std::string::npos) end = all->size();
      std::string request = all->substr(start, end - start);
      start = end + 1;
      if (request == kQuitRequest) return false;
      OpenChat(request);
    }
    return true;
  }

  static std::string StripPrefix(const std::string& value) {
    static const std::string kPrefix = "cntaobao";
    return value.rfind(kPrefix, 0) == 0 ? value.substr(kPrefix.size()) : value;
  }

  void OpenChat(const std::string& request) {
    if (request.rfind(kRequestPrefix, 0) != 0) return;
    std::string query = request.substr(sizeof kRequestPrefix - 1);
    std::string seller, buyer;
    size_t start = 0;
    while (start <= query.size()) {
      size_t end = query.find('&', start);
      if (end == std::string::npos) end = query.size();
      std::string pair = query.substr(start, end - start);
      if (pair.rfind("uid=", 0) == 0) seller = StripPrefix(pair.substr(4));
      if (pair.rfind("touid=", 0) == 0) buyer = StripPrefix(pair.substr(6));
      start = end + 1;
    }
    if (seller.empty() || buyer.empty() || !options_.openWindows) return;
    if (!options_.login.empty() && seller != options_.login) return;
    const std::string key = seller + '\n' + buyer;
    auto it = chats_.find(key);
    if (it != chats_.end()) {
      XMapRaised(d_, it->second.top);
      return;
    }
    Chat chat;
    chat.seller = seller;
    chat.buyer = buyer;
    chat.top = XCreateSimpleWindow(d_, root_, 40, 40, 480, 360, 1, BlackPixel(d_, 0), WhitePixel(d_, 0));
    std::string title = Replace(Replace(options_.titleTemplate, "{buyer}", buyer), "{seller}", seller);
    SetClassAndTitle(d_, atoms_, chat.top, kChatClass, title);
    Atom protocols[] = {atoms_.wmDeleteWindow};
    XSetWMProtocols(d_, chat.top, protocols, 1);
    // The tree the IM bridge walks: the frame's seventh child is the body;
    // the body's second child the edit area; the edit area's third child
    // the input box. The other windows stand for title bar, tool buttons,
    // font and face bars.
    Window body = None;
    for (int i = 0; i < 7; ++i) {
      Window w = i < 6 ? Child(chat.top, 4 + i * 70, 4, 66, 24) : Child(chat.top, 0, 32, 480, 328);
      body = w;
    }
    chat.history = Child(body, 4, 4, 472, 220);
    Window editArea = Child(body, 4, 228, 472, 96);
    Child(editArea, 0, 0, 236, 20);
    Child(editArea, 236, 0, 236, 20);
    chat.inputBox = Child(editArea, 0, 22, 472, 74);
    XSelectInput(d_, chat.history, ExposureMask);
    XSelectInput(d_, chat.inputBox, ExposureMask | KeyPressMask | PropertyChangeMask);
    XSelectInput(d_, chat.top, PropertyChangeMask);
    XMapSubwindows(d_, body);
    XMapSubwindows(d_, editArea);
    XMapSubwindows(d_, chat.top);
    XMapRaised(d_, chat.top);
    chats_.emplace(key, std::move(chat));
  }

  Window Child(Window parent, int x, int y, int w, int h) {
    Window child = XCreateSimpleWindow(d_, parent, x, y, w, h, 1, BlackPixel(d_, 0), WhitePixel(d_, 0));
    return child;
  }

  Chat* ChatOf(Window w) {
    for (auto& [key, chat] : chats_) {
      if (chat.top == w || chat.inputBox == w || chat.history == w) return &chat;
    }
    return nullptr;
  }

  void TakeText(Window w) {
    std::optional<std::string> text = TakeProperty(d_, w, atoms_.setText, true);
    Chat* chat = ChatOf(w);
    if (!text || chat == nullptr || chat->inputBox != w) return;
    chat->boxText = *text;
    Draw(w);
  }

  void Send(Window w) {
    Chat* chat = ChatOf(w);
    if (chat == nullptr || chat->inputBox != w || chat->boxText.empty()) return;
    AppendTranscript(*chat, chat->boxText);
    chat->shown.push_back(chat->seller + ": " + chat->boxText);
    chat->boxText.clear();
    Draw(chat->history);
    Draw(chat->inputBox);
  }

  void AppendTranscript(const Chat& chat, const std::string& text) {
    if (options_.transcript.empty()) return;
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::string line = "{\"time\":" + JsonString(stamp) + ",\"seller\":" + JsonString(chat.seller) +
                       ",\"buyer\":" + JsonString(chat.buyer) + ",\"text\":" + JsonString(text) +
                       ",\"textGbkHex\":" + JsonString(HexOfBytes(Utf8ToGbkLossy(text))) + "}\n";
    int fd = open(options_.transcript.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
      std::perror("autodeliver-im-sim: transcript");
      return;
    }
    if (write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
      std::perror("autodeliver-im-sim: transcript");
    }
    close(fd);
  }

  void CloseChat(Window top) {
    for (auto it = chats_.begin(); it != chats_.end(); ++it) {
      if (it->second.top == top) {
        XDestroyWindow(d_, top);
        chats_.erase(it);
        return;
      }
    }
  }

  void Draw(Window w) {
    Chat* chat = ChatOf(w);
    if (chat == nullptr || fontSet_ == nullptr) return;
    XClearWindow(d_, w);
    std::vector<std::string> lines;
    const std::vector<std::string> box = {chat->boxText};
    for (const std::string& entry : w == chat->inputBox ? box : chat->shown) {
      size_t start = 0;
      for (size_t end; (end = entry.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(Replace(entry.substr(start, end - start), "\r", ""));
      }
      lines.push_back(Replace(entry.substr(start), "\r", ""));
    }
    int y = 14;
    GC gc = DefaultGC(d_, 0);
    for (const std::string& line : lines) {
      Xutf8DrawString(d_, w, fontSet_, gc, 4, y, line.data(), static_cast<int>(line.size()));
      y += 14;
    }
  }

  Display* d_;
  Atoms atoms_;
  ClientOptions options_;
  Window root_ = None, control_ = None;
  XFontSet fontSet_ = nullptr;
  std::map<std::string, Chat> chats_;
};

// ---------------------------------------------------------------- install

int Install() {
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 1;
  self[n] = '\0';
  std::string exec = self;
  if (exec.find_first_of(" \t\"'\\$`") != std::string::npos) {
    exec = "\"" +
           Replace(Replace(Replace(Replace(exec, "\\", "\\\\"), "\"", "\\\""), "$", "\\$"), "`", "\\`") +
           "\"";
    exec = Replace(exec, "\\", "\\\\");  // the desktop file's own escaping
  }
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  std::string dir = dataHome != nullptr && *dataHome != '\0'
                        ? std::string(dataHome)
                        : std::string(home ? home : "") + "/.local/share";
  dir += "/applications";
  for (size_t at = 1; at != std::string::npos; at = dir.find('/', at + 1))
    mkdir(dir.substr(0, at).c_str(), 0755);
  mkdir(dir.c_str(), 0755);
  const std::string file = dir + "/autodeliver-im-sim.desktop";
  FILE* out = std::fopen(file.c_str(), "w");
  if (out == nullptr) {
    std::perror("autodeliver-im-sim: desktop file");
    return 1;
  }
  std::fprintf(out,
               "[Desktop Entry]\nType=Application\nName=autodeliver IM client imitation\n"
               "Exec=%s %%u\nMimeType=x-scheme-handler/aliim;\nNoDisplay=true\nTerminal=false\n",
               exec.c_str());
  std::fclose(out);
  const char* argv[] = {"xdg-mime", "default", "autodeliver-im-sim.desktop", "x-scheme-handler/aliim",
                        nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, "xdg-mime", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
    std::fprintf(stderr, "autodeliver-im-sim: cannot run xdg-mime\n");
    return 1;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_CTYPE, "C.UTF-8");
  ClientOptions options;
  if (const char* t = std::getenv("AUTODELIVER_IM_TRANSCRIPT")) options.transcript = t;

  CLI::App app{
      "A stand-in for the seller's IM client on $DISPLAY (plain Xlib).\n"
      "Without a request it is the running client: it serves chat requests until asked to quit.\n"
      "With a request, autodeliver-im-sim 'aliim:sendmsg?uid=cntaobao<seller>&touid=cntaobao<buyer>', it\n"
      "hands the request to the running client and exits: 0 once taken, 2 when no client runs, 3 when\n"
      "the client did not take it in time. Arguments after the request are joined to it with single\n"
      "spaces. Exit status 1 for a usage error.",
      "autodeliver-im-sim"};
  app.add_option("--transcript", options.transcript,
                 "Append every sent message to FILE (default: $AUTODELIVER_IM_TRANSCRIPT; neither: no file)")
      ->type_name("FILE")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_option("--login", options.login,
                 "The seller logged in (UTF-8); requests for any other seller are ignored (default: any)")
      ->type_name("NICK")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_option("--title", options.titleTemplate,
                 "The chat window title, {buyer} and {seller} replaced (default \"{buyer} - {seller}\")")
      ->type_name("TEMPLATE")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  bool noWindow = false, quit = false, install = false;
  app.add_flag("--no-window", noWindow, "Accept requests but never open a chat window");
  app.add_flag("--quit", quit, "Ask the running client to end");
  app.add_flag("--install", install, "Become the desktop's handler of aliim: URIs");
  // A repeated option takes its last value. The request and everything after
  // it are the request, however it looks.
  app.prefix_command();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 1;
  }
  const std::vector<std::string> rest = app.remaining();
  if (!rest.empty()) {
    if (rest.front().rfind("aliim:", 0) != 0) {
      std::fprintf(stderr, "autodeliver-im-sim: unknown argument %s\nRun with --help for more information.\n",
                   rest.front().c_str());
      return 1;
    }
    // The nicks may hold spaces: the rest of the command line is the request.
    std::string request = rest.front();
    for (std::size_t i = 1; i < rest.size(); ++i) request += " " + rest[i];
    return HandOff(request);
  }
  if (quit) return HandOff(kQuitRequest);
  if (install) return Install();
  if (noWindow) options.openWindows = false;

  Display* d = XOpenDisplay(nullptr);
  if (d == nullptr) {
    std::fprintf(stderr, "autodeliver-im-sim: cannot open the display\n");
    return 1;
  }
  XSetErrorHandler(IgnoreXError);
  Atoms atoms(d);
  if (FindControlWindow(d, atoms) != None) {
    std::fprintf(stderr, "autodeliver-im-sim: a client named %s is already running\n",
                 InstanceName().c_str());
    return 1;
  }
  Client client(d, options);
  int rc = client.Run();
  XCloseDisplay(d);
  return rc;
}
