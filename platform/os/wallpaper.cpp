// A wallpaper: the window's full-screen child alone, as the desktop's background on one monitor.
// The window keeps the layout of full screen (the view fills it, the rest is hidden, the frame is
// suspended) and the window system puts it below everything else: on X11 a window of the desktop's
// type laid over the monitor, on Wayland a surface on the layer shell's background layer.
#include "platform/os/wallpaper.h"

namespace {

bool DriverIs(const char* name) {
    const char* driver = SDL_GetCurrentVideoDriver();
    return driver && SDL_strcmp(driver, name) == 0;
}

// X11 draws the window where it lies: over the whole monitor.
void PlaceOnMonitor(OsWindow* top) {
    const SDL_Rect bounds = MonitorBounds(top->monitor);
    SDL_Window* sdl = top->sdl.get();
    SDL_SetWindowPosition(sdl, bounds.x, bounds.y);
    SDL_SetWindowSize(sdl, bounds.w, bounds.h);
    if (top->shown) SdlWindowResized(top, bounds.w, bounds.h, false);
}

} // namespace

void PreferWayland() {
    const char* session = SDL_getenv("WAYLAND_DISPLAY");
    if (session && *session && !SDL_getenv("SDL_VIDEODRIVER"))
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "wayland,x11");
}

int CountMonitors() {
    return SDL_WasInit(SDL_INIT_VIDEO) ? std::max(0, SDL_GetNumVideoDisplays()) : 0;
}

SDL_Rect MonitorBounds(int monitor) {
    SDL_Rect bounds{0, 0, 0, 0};
    if (monitor < 0 || monitor >= SDL_GetNumVideoDisplays()) monitor = 0;
    SDL_GetDisplayBounds(monitor, &bounds);
    return bounds;
}

bool PrepareWallpaper(WindowHandle window) {
    OsWindow* top = Live(window);
    if (!top || top->parent || top->shown) return false;
    if (DriverIs("wayland")) return BindLayerShell(top);
    return DriverIs("x11") && MakeDesktopWindow(top);
}

void ShowAsWallpaper(OsWindow* top, int monitor) {
    if (top->shown || !PrepareWallpaper(top)) return;
    top->wallpaper = true;
    top->monitor = monitor;
    // Full screen's layout, placed by the program: nobody grants it and nobody takes it away.
    top->fullScreen = true;
    top->fullScreenPlacedHere = true;
    if (OsWindow* child = top->fullScreenChild)
        top->fullScreenChildPlace = {child->x, child->y, child->width, child->height};
    SuspendOwnFrame(top);
    UpdateMinimumSize(top); // any monitor, however small
    if (DriverIs("wayland")) {
        ShowOnLayerShell(top);
        return;
    }
    PlaceOnMonitor(top);
    SDL_ShowWindow(top->sdl.get());
    AnnounceFirstShowing(top);
}

void DisplaysChanged() {
    // A surface on the layer shell hears of its output from the compositor itself.
    for (auto& w : AllWindows())
        if (!w->parent && w->wallpaper && !w->layer) PlaceOnMonitor(w.get());
}

bool AwaitsFrame(const OsWindow* top) {
    return top && top->layer && LayerSurfaceAwaitsFrame(*top->layer);
}
