// The X11 window system of the IM bridge; the conventions it follows are
// described in window_system.h.
//
// Xlib's default error handler ends the process, which a vanished chat
// window must never do: a process-wide handler records errors of this
// module's own connections and hands every other error to the handler that
// was installed before it.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <poll.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>

#include "base/mutex.h"
#include "im/im_sender.h"
#include "im/window_system.h"
#include "text/gbk.h"

namespace autodeliver {
namespace {

Mutex gErrorMutex;
std::set<Display*> gOwnDisplays AD_GUARDED_BY(gErrorMutex);
std::set<Display*> gDisplaysWithError AD_GUARDED_BY(gErrorMutex);
XErrorHandler gPreviousHandler = nullptr;
std::once_flag gHandlerOnce;

int RecordXError(Display* display, XErrorEvent* event) {
  {
    MutexLock lock(gErrorMutex);
    if (gOwnDisplays.count(display) != 0) {
      gDisplaysWithError.insert(display);
      return 0;
    }
  }
  return gPreviousHandler != nullptr ? gPreviousHandler(display, event) : 0;
}

std::string ToUtf8(const std::string& gbk) {
  if (auto utf8 = GbkToUtf8(gbk)) return *utf8;
  return GbkToUtf8Lossy(gbk);
}

std::string Latin1ToUtf8(const unsigned char* data, unsigned long length) {
  std::string out;
  for (unsigned long i = 0; i < length; ++i) {
    unsigned char c = data[i];
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

class X11WindowSystem final : public WindowSystem {
 public:
  X11WindowSystem(Display* display, std::chrono::milliseconds handledWait)
      : display_(display), handledWait_(handledWait) {
    root_ = DefaultRootWindow(display_);
    utf8String_ = Intern("UTF8_STRING");
    netWmName_ = Intern("_NET_WM_NAME");
    wmState_ = Intern("WM_STATE");
    wmProtocols_ = Intern("WM_PROTOCOLS");
    wmDeleteWindow_ = Intern("WM_DELETE_WINDOW");
    setText_ = Intern("_AUTODELIVER_SET_TEXT");
    sync_ = Intern("_AUTODELIVER_SYNC");
  }

  ~X11WindowSystem() override {
    {
      MutexLock lock(gErrorMutex);
      gOwnDisplays.erase(display_);
      gDisplaysWithError.erase(display_);
    }
    XCloseDisplay(display_);
  }

  WindowId FindTopLevel(const std::string& className, const std::string& title) override {
    const std::string wantedTitle = ToUtf8(title);
    const std::string wantedClass = ToUtf8(className);
    std::vector<Window> tops = Children(root_);
    // XQueryTree lists bottom to top; the topmost match wins.
    for (auto it = tops.rbegin(); it != tops.rend(); ++it) {
      Window client = ClientOf(*it, 0);
      if (client == None) client = *it;
      if (ClassOf(client) == wantedClass && TitleOf(client) == wantedTitle) return client;
    }
    return 0;
  }

  WindowId Related(WindowId window, WindowRelation relation) override {
    if (window == 0) return 0;
    if (relation == WindowRelation::kFirstChild) {
      std::vector<Window> children = Children(window);
      return children.empty() ? 0 : children.front();
    }
    Window parent = ParentOf(window);
    if (parent == None) return 0;
    std::vector<Window> siblings = Children(parent);
    auto it = std::find(siblings.begin(), siblings.end(), static_cast<Window>(window));
    if (it == siblings.end() || ++it == siblings.end()) return 0;
    return *it;
  }

  bool SetText(WindowId window, const std::string& text) override {
    if (window == 0) return false;
    const std::string utf8 = ToUtf8(text);
    ClearError();
    XSelectInput(display_, window, PropertyChangeMask | StructureNotifyMask);
    XChangeProperty(display_, window, setText_, utf8String_, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(utf8.data()), static_cast<int>(utf8.size()));
    XSync(display_, False);
    if (TakeError()) return false;
    return WaitForDeletion(window, setText_);
  }

  bool PressEnter(WindowId window) override {
    if (window == 0) return false;
    ClearError();
    XSelectInput(display_, window, PropertyChangeMask | StructureNotifyMask);
    XKeyEvent key{};
    key.display = display_;
    key.window = window;
    key.root = root_;
    key.subwindow = None;
    key.time = CurrentTime;
    key.x = key.y = key.x_root = key.y_root = 1;
    key.same_screen = True;
    key.state = 0;
    key.keycode = XKeysymToKeycode(display_, XK_Return);
    key.type = KeyPress;
    XSendEvent(display_, window, True, KeyPressMask, reinterpret_cast<XEvent*>(&key));
    key.type = KeyRelease;
    XSendEvent(display_, window, True, KeyReleaseMask, reinterpret_cast<XEvent*>(&key));
    // The barrier: the client deletes it after it has handled the keys.
    const unsigned char one = 1;
    XChangeProperty(display_, window, sync_, XA_CARDINAL, 8, PropModeReplace, &one, 1);
    XSync(display_, False);
    if (TakeError()) return false;
    return WaitForDeletion(window, sync_);
  }

  // The display answers a round trip, and a process of the client's program
  // runs: with both, a message request finds someone to take it.
  ClientPresence ProbeClient(const std::string& clientPath) override {
    ClearError();
    XSync(display_, False);
    if (TakeError()) return ClientPresence::kAbsent;
    const std::string program = ImClientProgram(clientPath);
    return !program.empty() && ProgramIsRunning(program) ? ClientPresence::kPresent : ClientPresence::kAbsent;
  }

  bool Close(WindowId window) override {
    if (window == 0) return false;
    ClearError();
    XSelectInput(display_, window, StructureNotifyMask);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = wmProtocols_;
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(wmDeleteWindow_);
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, window, False, NoEventMask, &event);
    XSync(display_, False);
    if (TakeError()) return false;
    return WaitFor([&](const XEvent& e) {
      return (e.type == DestroyNotify && e.xdestroywindow.window == window) ||
             (e.type == UnmapNotify && e.xunmap.window == window);
    });
  }

 private:
  Atom Intern(const char* name) { return XInternAtom(display_, name, False); }

  void ClearError() {
    MutexLock lock(gErrorMutex);
    gDisplaysWithError.erase(display_);
  }

  bool TakeError() {
    MutexLock lock(gErrorMutex);
    return gDisplaysWithError.erase(display_) != 0;
  }

  std::vector<Window> Children(Window window) {
    Window root = None, parent = None;
    Window* children = nullptr;
    unsigned int count = 0;
    std::vector<Window> out;
    if (XQueryTree(display_, window, &root, &parent, &children, &count) != 0 && children != nullptr) {
      out.assign(children, children + count);
    }
    if (children != nullptr) XFree(children);
    TakeError();
    return out;
  }

  Window ParentOf(Window window) {
    Window root = None, parent = None;
    Window* children = nullptr;
    unsigned int count = 0;
    Status ok = XQueryTree(display_, window, &root, &parent, &children, &count);
    if (children != nullptr) XFree(children);
    TakeError();
    return ok != 0 ? parent : None;
  }

  bool HasProperty(Window window, Atom property) {
    int count = 0;
    Atom* props = XListProperties(display_, window, &count);
    bool found = false;
    for (int i = 0; i < count; ++i) found = found || props[i] == property;
    if (props != nullptr) XFree(props);
    TakeError();
    return found;
  }

  // The client window inside a window manager's frame: the first
  // descendant that carries WM_STATE, or None.
  Window ClientOf(Window window, int depth) {
    if (HasProperty(window, wmState_)) return window;
    if (depth >= 3) return None;
    for (Window child : Children(window)) {
      Window client = ClientOf(child, depth + 1);
      if (client != None) return client;
    }
    return None;
  }

  std::string ClassOf(Window window) {
    XClassHint hint{};
    std::string out;
    if (XGetClassHint(display_, window, &hint) != 0) {
      if (hint.res_class != nullptr) out = hint.res_class;
      if (hint.res_name != nullptr) XFree(hint.res_name);
      if (hint.res_class != nullptr) XFree(hint.res_class);
    }
    TakeError();
    return out;
  }

  // The raw bytes of a property with its type; false when it is missing.
  bool ReadProperty(Window window, Atom property, std::string* bytes, Atom* type) {
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    int status = XGetWindowProperty(display_, window, property, 0, 1 << 20, False, AnyPropertyType,
                                    &actualType, &format, &count, &after, &data);
    TakeError();
    bool ok = status == Success && actualType != None && format == 8;
    if (ok) {
      bytes->assign(reinterpret_cast<const char*>(data), count);
      *type = actualType;
    }
    if (data != nullptr) XFree(data);
    return ok;
  }

  std::string TitleOf(Window window) {
    std::string bytes;
    Atom type = None;
    if (ReadProperty(window, netWmName_, &bytes, &type) && type == utf8String_) return bytes;
    if (!ReadProperty(window, XA_WM_NAME, &bytes, &type)) return {};
    if (type == utf8String_) return bytes;
    if (type == XA_STRING) {
      return Latin1ToUtf8(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    }
    // Compound text: let Xlib convert it.
    XTextProperty property{};
    std::string out;
    if (XGetWMName(display_, window, &property) != 0) {
      char** list = nullptr;
      int count = 0;
      if (Xutf8TextPropertyToTextList(display_, &property, &list, &count) >= Success && count > 0) {
        out = list[0];
      }
      if (list != nullptr) XFreeStringList(list);
      if (property.value != nullptr) XFree(property.value);
    }
    TakeError();
    return out;
  }

  bool WaitForDeletion(Window window, Atom property) {
    return WaitFor([&](const XEvent& e) {
             if (e.type == DestroyNotify && e.xdestroywindow.window == window) return true;
             return e.type == PropertyNotify && e.xproperty.window == window &&
                    e.xproperty.atom == property && e.xproperty.state == PropertyDelete;
           }) &&
           !Gone(window);
  }

  // True when `window` no longer exists.
  bool Gone(Window window) {
    XWindowAttributes attributes;
    ClearError();
    Status ok = XGetWindowAttributes(display_, window, &attributes);
    return TakeError() || ok == 0;
  }

  // Reads events until one satisfies `done` or the handled-time runs out.
  bool WaitFor(const std::function<bool(const XEvent&)>& done) {
    const auto deadline = std::chrono::steady_clock::now() + handledWait_;
    for (;;) {
      while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (done(event)) return true;
      }
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd fd{ConnectionNumber(display_), POLLIN, 0};
      poll(&fd, 1, static_cast<int>(std::min<long long>(left.count(), 1000)) + 1);
    }
  }

  Display* display_;
  std::chrono::milliseconds handledWait_;
  Window root_;
  Atom utf8String_, netWmName_, wmState_, wmProtocols_, wmDeleteWindow_, setText_, sync_;
};

}  // namespace

std::unique_ptr<WindowSystem> OpenX11WindowSystem(const char* displayName,
                                                  std::chrono::milliseconds handledWait) {
  std::call_once(gHandlerOnce, [] { gPreviousHandler = XSetErrorHandler(RecordXError); });
  Display* display = XOpenDisplay(displayName);
  if (display == nullptr) return nullptr;
  {
    MutexLock lock(gErrorMutex);
    gOwnDisplays.insert(display);
  }
  return std::make_unique<X11WindowSystem>(display, handledWait);
}

}  // namespace autodeliver
