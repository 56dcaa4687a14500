#pragma once

// Whether the screen blends translucent windows over what lies beneath. Without a
// compositing manager an X server shows the transparent pixels of such a window as
// black, so windows that rely on translucency (the waiting spinner, the menu shadow)
// draw an opaque equivalent instead.

namespace velmora {

// True on an X server when a compositing manager owns the screen's "_NET_WM_CM_S<n>"
// selection, and on every other platform (Wayland always composites; the offscreen
// platform draws into memory). Asks the X server each time, so a compositor started
// or stopped while the program runs is seen by the next window.
bool HasCompositor();

// Tests: 1 or 0 forces the answer; -1 asks the display again.
void SetCompositorForTesting(int answer);

} // namespace velmora
