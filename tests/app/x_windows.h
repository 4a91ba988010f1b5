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

}  // namespace autodeliver::testing_support
