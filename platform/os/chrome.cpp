// The chrome: the software picture of the whole SDL window behind the views (background, frame,
// controls), repainted by region with cairo when something in it changed.
#include "platform/os/window_tree.h"

#include <algorithm>

namespace {

// A near-black that reads as the window's own colour rather than a missing picture.
constexpr double kBackground[3] = {16 / 255.0, 16 / 255.0, 20 / 255.0};

void PaintChildren(OsWindow* parent, cairo_t* cr, const WindowRect& region) {
    for (OsWindow* child : parent->children) {
        if (HiddenByFullScreen(child)) continue;
        const WindowRect r = ClientRectInSdlWindow(child);
        const WindowRect overlap = {std::max(r.x, region.x), std::max(r.y, region.y), 0, 0};
        const int right = std::min(r.x + r.width, region.x + region.width);
        const int bottom = std::min(r.y + r.height, region.y + region.height);
        if (right <= overlap.x || bottom <= overlap.y) continue;
        if (child->painter) {
            cairo_save(cr);
            cairo_rectangle(cr, r.x, r.y, r.width, r.height);
            cairo_clip(cr);
            cairo_translate(cr, r.x, r.y);
            child->painter(child, cr, r.width, r.height);
            cairo_restore(cr);
        }
        PaintChildren(child, cr, region);
    }
}

void Repaint(OsWindow* top, const WindowRect& region) {
    cairo_surface_t* surface = top->chrome.get();
    cairo_t* cr = cairo_create(surface);
    cairo_rectangle(cr, region.x, region.y, region.width, region.height);
    cairo_clip(cr);
    cairo_set_source_rgb(cr, kBackground[0], kBackground[1], kBackground[2]);
    cairo_paint(cr);
    if (top->painter) {
        cairo_save(cr);
        top->painter(top, cr, cairo_image_surface_get_width(surface),
                     cairo_image_surface_get_height(surface));
        cairo_restore(cr);
    }
    PaintChildren(top, cr, region);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
}

WindowRect ClipToChrome(const WindowRect& r, cairo_surface_t* surface) {
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    const int x0 = std::clamp(r.x, 0, width), y0 = std::clamp(r.y, 0, height);
    const int x1 = std::clamp(r.x + r.width, 0, width), y1 = std::clamp(r.y + r.height, 0, height);
    return {x0, y0, x1 - x0, y1 - y0};
}

} // namespace

WindowRect UniteRects(const WindowRect& a, const WindowRect& b) {
    if (a.width <= 0 || a.height <= 0) return b;
    if (b.width <= 0 || b.height <= 0) return a;
    const int x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
    const int x1 = std::max(a.x + a.width, b.x + b.width);
    const int y1 = std::max(a.y + a.height, b.y + b.height);
    return {x0, y0, x1 - x0, y1 - y0};
}

void SetChromePainter(WindowHandle window, ChromePainter painter) {
    if (OsWindow* w = Live(window)) {
        w->painter = painter;
        InvalidateChrome(w);
    }
}

void InvalidateChrome(WindowHandle window) {
    OsWindow* w = Live(window);
    OsWindow* top = TopLevelOf(w);
    if (!top || !top->chrome) return;
    WindowRect r = ClientRectInSdlWindow(w);
    if (w == top) {
        r = {0, 0, cairo_image_surface_get_width(top->chrome.get()),
             cairo_image_surface_get_height(top->chrome.get())};
    }
    top->chromeDirty = UniteRects(top->chromeDirty, ClipToChrome(r, top->chrome.get()));
}

void InvalidateChromeRect(WindowHandle window, const WindowRect& rect) {
    OsWindow* w = Live(window);
    OsWindow* top = TopLevelOf(w);
    if (!top || !top->chrome || rect.width <= 0 || rect.height <= 0) return;
    WindowRect r = rect;
    if (w != top) {
        // A child's painter is clipped to its own rectangle, and so is what it may invalidate.
        const WindowRect client = ClientRectInSdlWindow(w);
        const int x0 = std::max(r.x, 0), y0 = std::max(r.y, 0);
        const int x1 = std::min(r.x + r.width, client.width);
        const int y1 = std::min(r.y + r.height, client.height);
        if (x1 <= x0 || y1 <= y0) return;
        r = {client.x + x0, client.y + y0, x1 - x0, y1 - y0};
    }
    top->chromeDirty = UniteRects(top->chromeDirty, ClipToChrome(r, top->chrome.get()));
}

bool UpdateChrome(WindowHandle window, ChromeLayer* layer, WindowRect* changed) {
    OsWindow* top = Live(window);
    if (!top || top->parent || !top->chrome) return false;
    cairo_surface_t* surface = top->chrome.get();
    *changed = top->chromeDirty;
    top->chromeDirty = {};
    if (changed->width > 0 && changed->height > 0) Repaint(top, *changed);
    layer->width = cairo_image_surface_get_width(surface);
    layer->height = cairo_image_surface_get_height(surface);
    layer->stride = cairo_image_surface_get_stride(surface);
    layer->pixels = cairo_image_surface_get_data(surface);
    return true;
}
