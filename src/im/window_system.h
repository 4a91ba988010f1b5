// The few window-system operations the IM bridge needs to reach the IM
// client's chat window: find a top-level window by class and title, walk
// the window tree (first child, next sibling), set the text of a window,
// press Enter in it and close it.
//
// Texts and titles are GBK; an implementation converts them at its edge.
// A window is named by an opaque id; 0 means "no window".
//
// The X11 implementation (OpenX11WindowSystem) follows these conventions,
// which the IM client imitation implements:
//
//   find        a top-level window is a child of the root window, or, under a
//               reparenting window manager, the first descendant of such a
//               child that carries WM_STATE. Its class is the second string
//               of WM_CLASS; its title is _NET_WM_NAME (UTF-8), or WM_NAME
//               when that is missing. The topmost match in stacking order
//               wins.
//   walk        the children of a window in XQueryTree order (bottom to top
//               of the stacking order, that is creation order for windows
//               that were never restacked): "first child" is the first of
//               them, "next sibling" the one after a window in its parent's
//               list.
//   set text    the caller writes the UTF-8 text into the property
//               _AUTODELIVER_SET_TEXT (type UTF8_STRING) of the window. The
//               client replaces the window's text with it and then deletes
//               the property; the deletion is the caller's sign that the
//               text was handled.
//   Enter       a KeyPress and a KeyRelease of the Return key sent to the
//               window (XSendEvent), followed by a handled-barrier: the
//               caller writes the property _AUTODELIVER_SYNC and waits for
//               the client to delete it. A client that deletes the barrier
//               after handling every event before it has handled the key.
//   close       the ICCCM WM_DELETE_WINDOW client message; the caller waits
//               until the window is destroyed or unmapped.
//
// Every wait for the client is bounded by the handled-time given when the
// window system is opened; an operation the client does not confirm in time
// reports failure.
//
// Thread safety: one WindowSystem object is used by one thread at a time.
// Separate objects (each with its own display connection) may be used on
// different threads.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace autodeliver {

using WindowId = std::uint64_t;

enum class WindowRelation { kFirstChild, kNextSibling };

// What a look at the IM client found, without sending anything.
enum class ClientPresence {
  kPresent,  // the client runs and its window system answers
  kAbsent,   // the window system does not answer, or the client does not run
  kUnknown,  // this window system cannot tell; only a send shows it
};

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;

  // The topmost top-level window whose class is `className` and whose title
  // is exactly `title` (both GBK), or 0.
  virtual WindowId FindTopLevel(const std::string& className, const std::string& title) = 0;

  // The window in relation `relation` to `window`, or 0 when there is none
  // (also when `window` is 0 or no longer exists).
  virtual WindowId Related(WindowId window, WindowRelation relation) = 0;

  // Replaces the text of `window` with the GBK text `text`; returns true
  // once the window's owner has handled it.
  virtual bool SetText(WindowId window, const std::string& text) = 0;

  // Presses and releases Enter in `window`; returns true once the window's
  // owner has handled the key.
  virtual bool PressEnter(WindowId window) = 0;

  // Asks the owner of the top-level `window` to close it; returns true once
  // the window is gone.
  virtual bool Close(WindowId window) = 0;

  // Whether the IM client started by `clientPath` (GBK, the program path
  // the messages go through) is there to take a message; sends nothing. A
  // window system that cannot tell answers kUnknown, and the caller then
  // lets a message (one that takes no new card) find out.
  virtual ClientPresence ProbeClient(const std::string& clientPath) { return ClientPresence::kUnknown; }
};

// Opens a connection to the X display `display` (nullptr: $DISPLAY).
// `handledWait` bounds every wait for the other client. Returns nullptr when
// the display cannot be opened.
std::unique_ptr<WindowSystem> OpenX11WindowSystem(
    const char* display = nullptr, std::chrono::milliseconds handledWait = std::chrono::seconds(10));

}  // namespace autodeliver
