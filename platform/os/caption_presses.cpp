// Presses on the caption of a frame drawn by the program, for its double click. On X11 SDL tells
// of such a press after it has handed it to the desktop (a HIT_TEST window event). On Wayland it
// tells nothing: the press goes to the compositor to move the window, and the hit test that SDL
// asks is no press at all (SDL asks it at releases too, and later versions at every motion). There
// the presses are taken from a pointer of the program's own on SDL's connection, with an event
// queue of its own: the compositor sends its button events as it sends SDL's.
#include "platform/os/window_tree.h"

#include <SDL_syswm.h>
#include <cstring>
#include <linux/input-event-codes.h>
#include <wayland-client.h>

namespace {

struct CaptionPointer {
    wl_display* display = nullptr;
    wl_event_queue* queue = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    wl_pointer* pointer = nullptr;
    wl_surface* over = nullptr; // the surface the pointer is on, null when none of ours
    int x = 0;                  // where on it, in its own pixels
    int y = 0;
};
CaptionPointer gPointer;

wl_surface* SurfaceOf(OsWindow* top) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!top->sdl || !SDL_GetWindowWMInfo(top->sdl.get(), &info) ||
        info.subsystem != SDL_SYSWM_WAYLAND)
        return nullptr;
    return info.info.wl.surface;
}

OsWindow* TopLevelOnSurface(wl_surface* surface) {
    if (!surface) return nullptr;
    for (auto& w : AllWindows())
        if (!w->parent && w->ownFrame && SurfaceOf(w.get()) == surface) return w.get();
    return nullptr;
}

void OnEnter(void*, wl_pointer*, uint32_t, wl_surface* surface, wl_fixed_t x, wl_fixed_t y) {
    gPointer.over = surface;
    gPointer.x = wl_fixed_to_int(x);
    gPointer.y = wl_fixed_to_int(y);
}

void OnLeave(void*, wl_pointer*, uint32_t, wl_surface*) {
    gPointer.over = nullptr;
}

void OnMotion(void*, wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t y) {
    gPointer.x = wl_fixed_to_int(x);
    gPointer.y = wl_fixed_to_int(y);
}

void OnButton(void*, wl_pointer*, uint32_t, uint32_t, uint32_t button, uint32_t state) {
    if (button != BTN_LEFT || state != WL_POINTER_BUTTON_STATE_PRESSED) return;
    if (OsWindow* top = TopLevelOnSurface(gPointer.over))
        CaptionPressedAt(top, gPointer.x, gPointer.y);
}

void OnAxis(void*, wl_pointer*, uint32_t, uint32_t, wl_fixed_t) {}

// Version 1 of the seat and its pointer: the events above are all there is to hear; the later
// versions' never come.
const wl_pointer_listener kPointerListener = {OnEnter,  OnLeave, OnMotion, OnButton, OnAxis,
                                              nullptr,  nullptr, nullptr,  nullptr,  nullptr};

void OnCapabilities(void*, wl_seat* seat, uint32_t capabilities) {
    const bool has = (capabilities & WL_SEAT_CAPABILITY_POINTER) != 0;
    if (has && !gPointer.pointer) {
        gPointer.pointer = wl_seat_get_pointer(seat);
        wl_pointer_add_listener(gPointer.pointer, &kPointerListener, nullptr);
    } else if (!has && gPointer.pointer) {
        wl_pointer_destroy(gPointer.pointer);
        gPointer.pointer = nullptr;
        gPointer.over = nullptr;
    }
}

const wl_seat_listener kSeatListener = {OnCapabilities, nullptr};

// The first seat is the one SDL takes too.
void OnGlobal(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    if (gPointer.seat || std::strcmp(interface, wl_seat_interface.name) != 0) return;
    gPointer.seat =
        static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    wl_seat_add_listener(gPointer.seat, &kSeatListener, nullptr);
}

void OnGlobalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

} // namespace

void WatchCaptionPresses(OsWindow* top) {
    if (gPointer.display) return;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!top->sdl || !SDL_GetWindowWMInfo(top->sdl.get(), &info) ||
        info.subsystem != SDL_SYSWM_WAYLAND)
        return;
    wl_display* display = info.info.wl.display;
    wl_event_queue* queue = wl_display_create_queue(display);
    if (!queue) return;
    // The registry is made through a wrapper of the display that sends its events to our queue,
    // so none of them reaches SDL's.
    auto* wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
    if (!wrapper) {
        wl_event_queue_destroy(queue);
        return;
    }
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), queue);
    gPointer.display = display;
    gPointer.queue = queue;
    gPointer.registry = wl_display_get_registry(wrapper);
    wl_proxy_wrapper_destroy(wrapper);
    wl_registry_add_listener(gPointer.registry, &kRegistryListener, nullptr);
    // The seat, then its pointer.
    wl_display_roundtrip_queue(display, queue);
    wl_display_roundtrip_queue(display, queue);
}

void TakeCaptionPresses() {
    // SDL reads the connection; what it read for our queue waits there.
    if (gPointer.queue) wl_display_dispatch_queue_pending(gPointer.display, gPointer.queue);
}
