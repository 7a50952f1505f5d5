// What the rest of platform/ needs from the window system beyond the program's calls: the SDL
// window behind a top-level window, where a window's client area lies inside it, per-window state
// owned by other platform parts, and the chrome layer that the compositor draws under the view.
// Only platform/ includes this header.
#pragma once

#include "platform/os/window.h"

#include <cstdint>
#include <memory>
#include <vector>

struct SDL_Window;

// Initialises SDL's video (and with it its event queue and its SIGINT/SIGTERM handlers) once;
// false when there is no display.
bool EnsureVideo();

// True while the handle names a window that exists.
bool IsWindow(WindowHandle window);
WindowHandle GetTopLevelWindow(WindowHandle window);
SDL_Window* GetSdlWindow(WindowHandle window);
// Where the window's client area starts, in pixels of its SDL window.
void GetClientOriginInSdlWindow(WindowHandle window, int* x, int* y);

// State another platform part keeps for one window (the view's framebuffer, the window's GL
// context). It is destroyed right after the window has handled WM_DESTROY, before the window's
// SDL window goes, and so after every child's attachment.
struct WindowAttachment {
    virtual ~WindowAttachment() = default;
};
void SetWindowAttachment(WindowHandle window, std::unique_ptr<WindowAttachment> attachment);
WindowAttachment* GetWindowAttachment(WindowHandle window);

// The software image behind a top-level window's client area: RGBA bytes, top row first. The
// window system (later also the controls and the skin) draws into it and sets dirty; the
// compositor uploads it when dirty and clears the flag.
struct ChromeLayer {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;
    bool dirty = true;
};
ChromeLayer* GetChromeLayer(WindowHandle window);
