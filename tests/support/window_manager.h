// A real window manager (openbox) on the test's X server, for what only a window manager does:
// moving and resizing at a frame's request, maximising, minimising, keeping a window on top; and
// what it says about a window, read back through the X server.
#pragma once

#include <string>
#include <vector>

struct SDL_Window;

// Starts openbox on $DISPLAY and waits until it manages windows; false (with the reason on
// standard error) when it does not come up. It ends with the test process, or with the call below.
bool StartWindowManager();
void StopWindowManager();

// The atoms of the window's _NET_WM_STATE ("_NET_WM_STATE_ABOVE", …).
std::vector<std::string> WindowManagerState(SDL_Window* window);
// The decoration the window manager puts around the window (_NET_FRAME_EXTENTS).
std::vector<long> FrameExtents(SDL_Window* window);
