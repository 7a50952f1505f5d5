// A real window manager (openbox) on the test's X server, for what only a window manager does:
// moving and resizing at a frame's request, maximising, minimising, keeping a window on top. And
// what it says about a window, read back through the X server.
#pragma once

#include <string>
#include <vector>

// Starts openbox on $DISPLAY and waits until it manages windows; it ends with the test process.
// False (with the reason on standard error) when it does not come up.
bool StartWindowManager();
void StopWindowManager();

// The atoms in the window's _NET_WM_STATE ("_NET_WM_STATE_ABOVE", …), found by title.
std::vector<std::string> WindowManagerState(const char* title);
// The decoration the window manager draws around the window (_NET_FRAME_EXTENTS: left, right,
// top, bottom); empty when it says nothing.
std::vector<long> FrameExtents(const char* title);
