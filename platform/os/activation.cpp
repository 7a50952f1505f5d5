// Bringing the top-level window to the user: raising it with the input focus.
#include "platform/os/window_tree.h"

bool SetForegroundWindow(WindowHandle window) {
    OsWindow* top = TopLevelOf(Live(window));
    if (!top || top->wallpaper) return false; // the desktop's background stays below
    // Raising asks the window manager to activate the window; the input focus is also asked of
    // the X server itself, for desktops whose manager keeps it back (or that have none).
    SDL_RaiseWindow(top->sdl.get());
    if (SDL_GetWindowFlags(top->sdl.get()) & SDL_WINDOW_SHOWN)
        SDL_SetWindowInputFocus(top->sdl.get());
    return true;
}
