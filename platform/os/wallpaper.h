// The wallpaper's parts for each window system: on X11 a window of the desktop's type, on Wayland
// a surface of the program's own on the compositor's layer shell. Only platform/os includes this
// header.
#pragma once

#include "platform/os/window_tree.h"

// The monitor's rectangle on the desktop; the primary monitor's when there is no such monitor (any
// more).
SDL_Rect MonitorBounds(int monitor);

// X11 (wallpaper_x11.cpp). Before the window maps: the desktop's window type, no taskbar entry, on
// every workspace, and an empty input shape. False when the window is not an X11 one.
bool MakeDesktopWindow(OsWindow* top);

// Wayland (layer_surface.cpp). Finds the layer shell on the connection SDL made; false when the
// compositor offers none.
bool BindLayerShell(OsWindow* top);
// Makes the window's surface on the background layer of its monitor and commits it without a
// picture; the window hears its size, and draws, once the compositor has configured it.
void ShowOnLayerShell(OsWindow* top);
bool LayerSurfaceAwaitsFrame(const LayerWallpaper& wallpaper);
