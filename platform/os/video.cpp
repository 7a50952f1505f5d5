// SDL's video subsystem, started once with the hints this program's windows rely on.
#include "platform/os/window_internal.h"

#include <SDL.h>

namespace {

// Without a display SDL falls back to drivers that draw nowhere. A window nobody can see is no
// window for this program, unless such a driver was asked for by name.
bool OnADisplay() {
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver) return false;
    if (SDL_strcmp(driver, "offscreen") != 0 && SDL_strcmp(driver, "dummy") != 0) return true;
    const char* asked = SDL_getenv("SDL_VIDEODRIVER");
    return asked && SDL_strcasecmp(asked, driver) == 0;
}

} // namespace

bool EnsureVideo() {
    if (SDL_WasInit(SDL_INIT_VIDEO)) return true;
    // SIGTERM and SIGINT become SDL_QUIT, which the loop turns into WM_CLOSE.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "0");
    // The close button asks the program (WM_CLOSE); it must not also post a quit of its own.
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    // The click that brings the window to the front also reaches it, so a drag can start with it.
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    // A visualiser left running must not keep the desktop from locking or blanking.
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
    if (OnADisplay()) return true;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return false;
}
