// What the X server says about the top-level windows, through a connection
// of its own (so it sees what the program's requests did, once the program
// flushed them): the stacking order, the input focus and the transient-for
// hint. For tests under an X server without a window manager, where every
// top-level window is a direct child of the root window.
//
// Thread safety: each call opens and closes its own connection.
#pragma once

#include <optional>
#include <vector>

namespace autodeliver::testing_support {

// The viewable children of the root window in stacking order, bottom first;
// nullopt when the display cannot be opened.
std::optional<std::vector<unsigned long>> ViewableTopLevels();
// The window that holds the input focus (0 for none).
unsigned long InputFocusWindow();
// The WM_TRANSIENT_FOR hint of `window`, 0 when it has none.
unsigned long TransientFor(unsigned long window);

// Where `window` sits inside `ancestor`: its rectangle in the ancestor's
// coordinates and whether it is viewable; nullopt when it is not a
// descendant of `ancestor` (or the display cannot be opened).
struct PlaceInAncestor {
  int x = 0, y = 0, width = 0, height = 0;
  bool viewable = false;
};
std::optional<PlaceInAncestor> PlaceIn(unsigned long window, unsigned long ancestor);

}  // namespace autodeliver::testing_support
