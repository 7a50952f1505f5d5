// A wallpaper on Wayland: a surface of the program's own on the layer shell's background layer,
// anchored to the four edges of its output, under the panels too (exclusive zone -1), without the
// keyboard and with an empty input region. SDL cannot give its windows that role, so the surface is
// made here, on the connection SDL made: the compositor's events for it arrive with SDL's, in SDL's
// own dispatch, and wake the message loop; the view library draws into it through EGL.
//
// The shape of a background client: one record for the connection's globals, one for the
// window's surface. A configure stores the size and the serial and asks the loop to take it up;
// the loop acknowledges it, sizes the surface and lets the window hear its size, and the frame
// drawn then is the first picture committed. Frame callbacks pace the drawing: after a frame is
// presented, the window's timers wait until the compositor asks for the next one.
#include "platform/os/wallpaper.h"

#include "layer_shell_protocol.h"

#include <SDL_syswm.h>
#include <wayland-client.h>
#include <wayland-egl.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kAllEdges =
    ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
    ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT;
constexpr int32_t kUnderThePanels = -1;
constexpr uint32_t kNoKeyboard = 0;

struct Output {
    wl_output* output = nullptr;
    uint32_t name = 0; // the registry's
};

// The connection's globals.
struct LayerShell {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_compositor* compositor = nullptr;
    zwlr_layer_shell_v1* shell = nullptr;
    std::vector<Output> outputs; // in the order the compositor announced them
};
LayerShell gShell;
OwnSurfaceRelease gRelease = nullptr;

void NoWork(void*) {}

} // namespace

// The window's surface.
struct LayerWallpaper {
    OsWindow* top = nullptr;
    wl_surface* surface = nullptr;
    zwlr_layer_surface_v1* layer = nullptr;
    wl_egl_window* native = nullptr;
    wl_callback* frame = nullptr; // asked for with the last frame presented, not yet come
    int width = 0;                // as configured and acknowledged
    int height = 0;
    uint32_t serial = 0; // of the configure still to acknowledge
    int pendingWidth = 0;
    int pendingHeight = 0;
    bool pending = false;

    ~LayerWallpaper();
};

namespace {

// --- The globals
// ----------------------------------------------------------------------------------

void Global(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
    if (std::strcmp(interface, wl_compositor_interface.name) == 0 && !gShell.compositor) {
        gShell.compositor = static_cast<wl_compositor*>(
            wl_registry_bind(registry, name, &wl_compositor_interface, std::min(version, 4u)));
    } else if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0 && !gShell.shell) {
        gShell.shell = static_cast<zwlr_layer_shell_v1*>(
            wl_registry_bind(registry, name, &zwlr_layer_shell_v1_interface, 1));
    } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
        auto* output =
            static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, 1));
        gShell.outputs.push_back({output, name});
    }
}

void GlobalRemove(void*, wl_registry*, uint32_t name) {
    std::erase_if(gShell.outputs, [name](const Output& o) {
        if (o.name != name) return false;
        wl_output_destroy(o.output);
        return true;
    });
}
const wl_registry_listener kRegistryListener = {Global, GlobalRemove};

// The output of the monitor SDL numbers so: SDL numbers the outputs in the order the compositor
// announces them. Null lets the compositor choose (its primary output, or the focused one), which
// is where a monitor that is gone leaves the wallpaper.
wl_output* OutputOf(int monitor) {
    if (monitor < 0 || monitor >= static_cast<int>(gShell.outputs.size())) return nullptr;
    return gShell.outputs[static_cast<size_t>(monitor)].output;
}

// --- The surface
// ----------------------------------------------------------------------------------

void Configure(void* data, zwlr_layer_surface_v1*, uint32_t serial, uint32_t width,
               uint32_t height);
void Closed(void* data, zwlr_layer_surface_v1*);
const zwlr_layer_surface_v1_listener kLayerListener = {Configure, Closed};

void FrameDone(void* data, wl_callback* callback, uint32_t);
const wl_callback_listener kFrameListener = {FrameDone};

void MakeSurface(OsWindow* top) {
    auto wallpaper = std::unique_ptr<LayerWallpaper, LayerWallpaperDeleter>(new LayerWallpaper);
    LayerWallpaper* w = wallpaper.get();
    w->top = top;
    w->surface = wl_compositor_create_surface(gShell.compositor);
    wl_region* nothing = wl_compositor_create_region(gShell.compositor);
    wl_surface_set_input_region(w->surface, nothing);
    wl_region_destroy(nothing);
    w->layer =
        zwlr_layer_shell_v1_get_layer_surface(gShell.shell, w->surface, OutputOf(top->monitor),
                                              ZWLR_LAYER_SHELL_V1_LAYER_BACKGROUND, "wallpaper");
    zwlr_layer_surface_v1_set_size(w->layer, 0, 0); // the output's own size
    zwlr_layer_surface_v1_set_anchor(w->layer, kAllEdges);
    zwlr_layer_surface_v1_set_exclusive_zone(w->layer, kUnderThePanels);
    zwlr_layer_surface_v1_set_keyboard_interactivity(w->layer, kNoKeyboard);
    zwlr_layer_surface_v1_add_listener(w->layer, &kLayerListener, top);
    wl_surface_commit(w->surface); // no picture yet: the compositor answers with a configure
    wl_display_flush(gShell.display);
    top->layer = std::move(wallpaper);
}

// On the loop: the configure acknowledged, the surface sized, and the window told.
void TakeConfigure(void* data) {
    OsWindow* top = Live(static_cast<WindowHandle>(data));
    LayerWallpaper* w = top ? top->layer.get() : nullptr;
    if (!w || !w->pending) return;
    w->pending = false;
    zwlr_layer_surface_v1_ack_configure(w->layer, w->serial);
    // A size of zero leaves it to the client: the monitor's.
    const SDL_Rect bounds = MonitorBounds(top->monitor);
    w->width = w->pendingWidth > 0 ? w->pendingWidth : bounds.w;
    w->height = w->pendingHeight > 0 ? w->pendingHeight : bounds.h;
    if (!w->native)
        w->native = wl_egl_window_create(w->surface, w->width, w->height);
    else
        wl_egl_window_resize(w->native, w->width, w->height, 0, 0);
    // The hidden SDL window keeps the size, for the parts that ask it.
    SDL_SetWindowSize(top->sdl.get(), w->width, w->height);
    const bool first = !top->shown;
    top->shown = true;
    SdlWindowResized(top, w->width, w->height, first);
    wl_display_flush(gShell.display);
}

void Configure(void* data, zwlr_layer_surface_v1*, uint32_t serial, uint32_t width,
               uint32_t height) {
    OsWindow* top = static_cast<OsWindow*>(data);
    LayerWallpaper* w = top->layer.get();
    w->serial = serial;
    w->pendingWidth = static_cast<int>(width);
    w->pendingHeight = static_cast<int>(height);
    w->pending = true;
    PostToLoop(TakeConfigure, top);
}

// On the loop: the output went (or the compositor took the surface away); the wallpaper starts
// again on its monitor, or on the one the compositor chooses when that is gone.
void Replace(void* data) {
    OsWindow* top = Live(static_cast<WindowHandle>(data));
    if (!top || !top->layer || top->layer->layer) return;
    top->layer.reset();
    MakeSurface(top);
}

void Closed(void* data, zwlr_layer_surface_v1*) {
    OsWindow* top = static_cast<OsWindow*>(data);
    LayerWallpaper* w = top->layer.get();
    // Nothing may be asked of a closed surface; the record goes on the loop.
    zwlr_layer_surface_v1_destroy(w->layer);
    w->layer = nullptr;
    w->pending = false;
    PostToLoop(Replace, top);
}

void FrameDone(void* data, wl_callback* callback, uint32_t) {
    auto* w = static_cast<LayerWallpaper*>(data);
    wl_callback_destroy(callback);
    w->frame = nullptr;
    PostToLoop(NoWork, nullptr); // wakes the loop, whose timers are due again
}

} // namespace

LayerWallpaper::~LayerWallpaper() {
    if (gRelease && native) gRelease(top);
    if (frame) wl_callback_destroy(frame);
    if (native) wl_egl_window_destroy(native);
    if (layer) zwlr_layer_surface_v1_destroy(layer);
    if (surface) wl_surface_destroy(surface);
    if (gShell.display) wl_display_flush(gShell.display);
}

void LayerWallpaperDeleter::operator()(LayerWallpaper* wallpaper) const {
    delete wallpaper;
}

bool BindLayerShell(OsWindow* top) {
    if (gShell.shell) return true;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(top->sdl.get(), &info) || info.subsystem != SDL_SYSWM_WAYLAND)
        return false;
    // The globals are read on a queue of their own, so that SDL's events are not dispatched from
    // here; then everything joins SDL's queue, where the compositor's later events arrive.
    wl_display* display = info.info.wl.display;
    wl_event_queue* queue = wl_display_create_queue(display);
    auto* wrapper = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapper), queue);
    wl_registry* registry = wl_display_get_registry(wrapper);
    wl_proxy_wrapper_destroy(wrapper);
    gShell.display = display;
    gShell.registry = registry;
    wl_registry_add_listener(registry, &kRegistryListener, nullptr);
    wl_display_roundtrip_queue(display, queue);
    const auto join = [](void* proxy) {
        if (proxy) wl_proxy_set_queue(static_cast<wl_proxy*>(proxy), nullptr);
    };
    join(registry);
    join(gShell.compositor);
    join(gShell.shell);
    for (const Output& o : gShell.outputs)
        join(o.output);
    wl_event_queue_destroy(queue);
    return gShell.shell != nullptr && gShell.compositor != nullptr;
}

void ShowOnLayerShell(OsWindow* top) {
    if (!top->layer) MakeSurface(top);
}

bool LayerSurfaceAwaitsFrame(const LayerWallpaper& wallpaper) {
    return wallpaper.native == nullptr || wallpaper.frame != nullptr;
}

bool GetOwnSurface(WindowHandle window, OwnSurface* surface) {
    OsWindow* top = Live(window);
    if (!top || !top->layer) return false;
    *surface = {top->layer->native, top->layer->width, top->layer->height};
    return true;
}

void SetOwnSurfaceRelease(OwnSurfaceRelease release) {
    gRelease = release;
}

void OwnSurfacePresenting(WindowHandle window) {
    OsWindow* top = Live(window);
    LayerWallpaper* w = top ? top->layer.get() : nullptr;
    if (!w || !w->surface || w->frame) return;
    w->frame = wl_surface_frame(w->surface);
    wl_callback_add_listener(w->frame, &kFrameListener, w);
}
