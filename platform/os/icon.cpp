// The window's icon, decoded from a PNG image compiled into the program.
#include "platform/os/window_tree.h"

#include <SDL_image.h>

#include <memory>

namespace {

struct SurfaceDeleter {
    void operator()(SDL_Surface* surface) const { SDL_FreeSurface(surface); }
};

} // namespace

bool SetWindowIcon(WindowHandle window, const uint8_t* png, size_t size) {
    OsWindow* top = Live(window);
    if (!top || top->parent || !png || size == 0 || size > INT32_MAX) return false;
    std::unique_ptr<SDL_Surface, SurfaceDeleter> icon(
        IMG_LoadTyped_RW(SDL_RWFromConstMem(png, static_cast<int>(size)), 1, "PNG"));
    if (!icon) return false;
    SDL_SetWindowIcon(top->sdl.get(), icon.get());
    return true;
}
