// The top-level window's state, in one place: its mode (normal, maximised, minimised, full
// screen), keeping it above the others, and where the pointer is on it. Full screen shows the
// client area alone (or the full-screen child alone) on the monitor the window is on; the window
// as it was before is kept and given back exactly. Where the pointer is comes from the window's
// own events: some desktops (Wayland) tell no global position.
#include "platform/os/window_tree.h"

#include <algorithm>

namespace {

// In full screen the pointer hides after this long without moving, as in a video player.
constexpr uint64_t kPointerIdleMs = 2000;

// How long after leaving full screen a desktop may still answer with the size of the screen.
constexpr uint64_t kSettleMs = 1000;

bool gPointerHidden = false;
uint64_t gLastMotion = 0; // ms, the pointer's last motion over a full-screen window

OsWindow* TopOf(WindowHandle window) {
    return TopLevelOf(Live(window));
}

uint32_t Flags(const OsWindow* top) {
    return SDL_GetWindowFlags(top->sdl.get());
}

bool AnyFullScreen() {
    for (auto& w : AllWindows())
        if (!w->parent && w->fullScreen && !w->wallpaper) return true;
    return false;
}

void ShowPointer() {
    if (!gPointerHidden) return;
    SDL_ShowCursor(SDL_ENABLE);
    gPointerHidden = false;
}

// The client area and the children follow the window's present size, and the window hears it.
void Relayout(OsWindow* top) {
    int width = 0;
    int height = 0;
    SDL_GetWindowSize(top->sdl.get(), &width, &height);
    SdlWindowResized(top, width, height, true);
}

void EnterFullScreen(OsWindow* top) {
    if (top->fullScreen) return;
    SDL_Window* sdl = top->sdl.get();
    if (Flags(top) & SDL_WINDOW_MINIMIZED) SDL_RestoreWindow(sdl);
    top->maximisedBeforeFullScreen = (Flags(top) & SDL_WINDOW_MAXIMIZED) != 0;
    if (!top->maximisedBeforeFullScreen) {
        WindowRect& place = top->normalPlace;
        SDL_GetWindowPosition(sdl, &place.x, &place.y);
        SDL_GetWindowSize(sdl, &place.width, &place.height);
    }
    top->fullScreen = true;
    if (OsWindow* child = top->fullScreenChild)
        top->fullScreenChildPlace = {child->x, child->y, child->width, child->height};
    SuspendOwnFrame(top);
    // The desktop's own full screen: the monitor the window is on, and no panels over it. Where
    // nobody grants it (an X server without a window manager) the window covers the monitor itself.
    top->fullScreenPlacedHere = WithoutWindowManager(top);
    if (top->fullScreenPlacedHere) {
        SDL_Rect monitor{0, 0, 0, 0};
        SDL_GetDisplayBounds(std::max(0, SDL_GetWindowDisplayIndex(sdl)), &monitor);
        SDL_SetWindowPosition(sdl, monitor.x, monitor.y);
        SDL_SetWindowSize(sdl, monitor.w, monitor.h);
        SDL_RaiseWindow(sdl);
    } else {
        SDL_SetWindowFullscreen(sdl, SDL_WINDOW_FULLSCREEN_DESKTOP);
    }
    gLastMotion = SDL_GetTicks64();
    Relayout(top);
}

// Leaves full screen for the mode given; Normal with restore gives back the window as it was.
void LeaveFullScreen(OsWindow* top, WindowMode mode, bool restore) {
    if (!top->fullScreen) return;
    SDL_Window* sdl = top->sdl.get();
    int screenWidth = 0;
    int screenHeight = 0;
    SDL_GetWindowSize(sdl, &screenWidth, &screenHeight);
    top->fullScreen = false;
    if (!top->fullScreenPlacedHere) SDL_SetWindowFullscreen(sdl, 0);
    if (OsWindow* child = top->fullScreenChild) {
        const WindowRect& place = top->fullScreenChildPlace;
        child->x = place.x;
        child->y = place.y;
        child->width = place.width;
        child->height = place.height;
    }
    // Desktops differ in what they give back (some keep the full-screen size, some forget that
    // the window was maximised): it is asked for explicitly.
    if (mode == WindowMode::Maximised || (restore && top->maximisedBeforeFullScreen)) {
        SDL_MaximizeWindow(sdl);
    } else if (top->normalPlace.width > 0) {
        const WindowRect& place = top->normalPlace;
        SDL_SetWindowSize(sdl, place.width, place.height);
        SDL_SetWindowPosition(sdl, place.x, place.y);
        top->keepNormalSizeUntil = SDL_GetTicks64() + kSettleMs;
        top->fullScreenSize = {0, 0, screenWidth, screenHeight};
    }
    if (!AnyFullScreen()) ShowPointer();
    ResumeOwnFrame(top);
    Relayout(top);
}

} // namespace

WindowMode GetWindowMode(WindowHandle window) {
    OsWindow* top = TopOf(window);
    if (!top) return WindowMode::Normal;
    if (top->wallpaper) return WindowMode::Wallpaper;
    const uint32_t flags = Flags(top);
    if (flags & SDL_WINDOW_MINIMIZED) return WindowMode::Minimised;
    if (top->fullScreen) return WindowMode::FullScreen;
    if (flags & SDL_WINDOW_MAXIMIZED) return WindowMode::Maximised;
    return WindowMode::Normal;
}

void SetWindowMode(WindowHandle window, WindowMode mode) {
    OsWindow* top = TopOf(window);
    if (!top || top->wallpaper) return;
    SDL_Window* sdl = top->sdl.get();
    switch (mode) {
    case WindowMode::Wallpaper: // only a window being shown becomes one
        break;
    case WindowMode::FullScreen:
        EnterFullScreen(top);
        break;
    case WindowMode::Minimised:
        SDL_MinimizeWindow(sdl);
        break;
    case WindowMode::Maximised:
    case WindowMode::Normal:
        if (top->fullScreen)
            LeaveFullScreen(top, mode, false);
        else if (mode == WindowMode::Maximised)
            SDL_MaximizeWindow(sdl);
        else
            SDL_RestoreWindow(sdl);
        break;
    }
}

bool IsIconic(WindowHandle window) {
    return GetWindowMode(window) == WindowMode::Minimised;
}

void RestoreWindow(WindowHandle window) {
    OsWindow* top = TopOf(window);
    if (!top || top->wallpaper) return;
    if (!(Flags(top) & SDL_WINDOW_MINIMIZED) && top->fullScreen) {
        LeaveFullScreen(top, WindowMode::Normal, true);
        return;
    }
    SDL_RestoreWindow(top->sdl.get());
    // Restoring a window never shown (or hidden) shows it. Without a window manager SDL also
    // misses the showing of a window it restored from the taskbar, and this tells it.
    if (!(Flags(top) & SDL_WINDOW_SHOWN)) SDL_ShowWindow(top->sdl.get());
    AnnounceFirstShowing(top);
}

void SetFullScreenChild(WindowHandle child) {
    OsWindow* c = Live(child);
    OsWindow* top = c ? c->parent : nullptr;
    if (!top || top->parent || top->fullScreen) return;
    top->fullScreenChild = c;
}

bool HiddenByFullScreen(const OsWindow* window) {
    const OsWindow* parent = window->parent;
    return parent && !parent->parent && parent->fullScreen && parent->fullScreenChild &&
           parent->fullScreenChild != window;
}

void PlaceFullScreenChild(OsWindow* child) {
    child->x = 0;
    child->y = 0;
    child->width = child->parent->width;
    child->height = child->parent->height;
}

void WindowModeChanged(OsWindow* top) {
    // The desktop took full screen away by itself (a key of its own, say): the window follows.
    if (top->fullScreen && !top->fullScreenPlacedHere &&
        !(Flags(top) & (SDL_WINDOW_FULLSCREEN | SDL_WINDOW_MINIMIZED)))
        LeaveFullScreen(top, WindowMode::Normal, true);
}

void WindowSizeChanged(OsWindow* top) {
    if (top->keepNormalSizeUntil == 0) return;
    if (SDL_GetTicks64() > top->keepNormalSizeUntil || top->fullScreen ||
        (Flags(top) & (SDL_WINDOW_MAXIMIZED | SDL_WINDOW_MINIMIZED))) {
        top->keepNormalSizeUntil = 0;
        return;
    }
    // A compositor may answer the end of full screen with the screen's size still (Wayland's
    // weston does), after the size asked for. Any other size is the user's.
    int width = 0;
    int height = 0;
    SDL_GetWindowSize(top->sdl.get(), &width, &height);
    if (width != top->fullScreenSize.width || height != top->fullScreenSize.height) return;
    SDL_SetWindowSize(top->sdl.get(), top->normalPlace.width, top->normalPlace.height);
}

bool IsKeptAbove(WindowHandle window) {
    OsWindow* top = TopOf(window);
    return top && (Flags(top) & SDL_WINDOW_ALWAYS_ON_TOP) != 0;
}

void SetKeptAbove(WindowHandle window, bool above) {
    OsWindow* top = TopOf(window);
    if (top && !top->wallpaper)
        SDL_SetWindowAlwaysOnTop(top->sdl.get(), above ? SDL_TRUE : SDL_FALSE);
}

// --- The pointer --------------------------------------------------------------------------------

void PointerEvent(OsWindow* top, int x, int y, uint32_t buttons) {
    PointerSeenAt(top, x, y);
    top->pointerButtons = buttons;
    if (!top->fullScreen) return;
    gLastMotion = SDL_GetTicks64();
    ShowPointer();
}

void PointerSeenAt(OsWindow* top, int x, int y) {
    top->pointerInside = true;
    top->pointerX = x;
    top->pointerY = y;
}

void PointerLeftWindow(OsWindow* top) {
    top->pointerInside = false;
}

bool GetPointerPosition(WindowHandle window, int* x, int* y, uint32_t* buttons) {
    OsWindow* w = Live(window);
    OsWindow* top = TopLevelOf(w);
    if (!top || (!top->pointerInside && top->pointerButtons == 0)) return false;
    const WindowRect client = ClientRectInSdlWindow(w);
    *x = top->pointerX - client.x;
    *y = top->pointerY - client.y;
    *buttons = top->pointerButtons;
    return true;
}

int PointerIdleTimeout() {
    if (gPointerHidden || !AnyFullScreen()) return -1;
    const uint64_t now = SDL_GetTicks64();
    const uint64_t due = gLastMotion + kPointerIdleMs;
    return due > now ? static_cast<int>(due - now) : 0;
}

void HideIdlePointer() {
    if (PointerIdleTimeout() != 0) return;
    SDL_ShowCursor(SDL_DISABLE);
    gPointerHidden = true;
}
