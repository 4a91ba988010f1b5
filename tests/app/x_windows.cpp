// Queries of the X server for the window tests; see x_windows.h.
#include "x_windows.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace autodeliver::testing_support {

namespace {

// One connection for one question, synchronised so that it answers after
// everything sent before it.
class Connection {
 public:
  Connection() : display_(XOpenDisplay(nullptr)) {
    if (display_ != nullptr) XSync(display_, False);
  }
  ~Connection() {
    if (display_ != nullptr) XCloseDisplay(display_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  Display* get() const { return display_; }

 private:
  Display* display_;
};

}  // namespace

std::optional<std::vector<unsigned long>> ViewableTopLevels() {
  Connection c;
  if (c.get() == nullptr) return std::nullopt;
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (XQueryTree(c.get(), DefaultRootWindow(c.get()), &root, &parent, &children, &count) == 0) {
    return std::nullopt;
  }
  std::vector<unsigned long> viewable;
  for (unsigned int i = 0; i < count; ++i) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(c.get(), children[i], &attributes) != 0 && attributes.map_state == IsViewable) {
      viewable.push_back(children[i]);
    }
  }
  if (children != nullptr) XFree(children);
  return viewable;
}

unsigned long InputFocusWindow() {
  Connection c;
  if (c.get() == nullptr) return 0;
  Window focus = 0;
  int revert = 0;
  XGetInputFocus(c.get(), &focus, &revert);
  return focus;
}

unsigned long TransientFor(unsigned long window) {
  Connection c;
  if (c.get() == nullptr) return 0;
  Window owner = 0;
  if (XGetTransientForHint(c.get(), window, &owner) == 0) return 0;
  return owner;
}

std::optional<PlaceInAncestor> PlaceIn(unsigned long window, unsigned long ancestor) {
  Connection c;
  if (c.get() == nullptr) return std::nullopt;
  // Up the tree from `window` until `ancestor` or the root.
  bool descendant = false;
  for (Window w = window; w != 0;) {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(c.get(), w, &root, &parent, &children, &count) == 0) return std::nullopt;
    if (children != nullptr) XFree(children);
    if (parent == ancestor) {
      descendant = true;
      break;
    }
    if (parent == root) break;
    w = parent;
  }
  if (!descendant) return std::nullopt;
  XWindowAttributes attributes;
  if (XGetWindowAttributes(c.get(), window, &attributes) == 0) return std::nullopt;
  PlaceInAncestor place;
  Window child = 0;
  XTranslateCoordinates(c.get(), window, ancestor, 0, 0, &place.x, &place.y, &child);
  place.width = attributes.width;
  place.height = attributes.height;
  place.viewable = attributes.map_state == IsViewable;
  return place;
}

}  // namespace autodeliver::testing_support
