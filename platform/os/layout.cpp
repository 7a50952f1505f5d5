// Following a new size: the top-level client area inside its SDL window, anchored children
// inside their parents, and the chrome that covers the SDL window.
#include "platform/os/window_tree.h"

#include <algorithm>

namespace {

Message SizeMessage(const OsWindow* window) {
    Message m;
    m.id = WM_SIZE;
    m.x = window->width;
    m.y = window->height;
    return m;
}

// Moves or resizes one anchored child for its parent's current client area.
void Reanchor(OsWindow* child) {
    const OsWindow* p = child->parent;
    if (child->anchor == kAnchorStretch) {
        child->width = std::max(0, p->width - child->x - child->rightGap);
        child->height = std::max(0, p->height - child->y - child->bottomGap);
    } else if (child->anchor == kAnchorRight) {
        child->x = p->width - child->rightGap - child->width;
    }
}

// Children follow their parent first; each whose size changed hears WM_SIZE after its own
// children have followed it. A handler may destroy windows, so each is checked before use.
void LayoutChildren(OsWindow* parent) {
    const std::vector<OsWindow*> children = parent->children;
    for (OsWindow* child : children) {
        if (!Live(child)) continue;
        const int oldWidth = child->width;
        const int oldHeight = child->height;
        Reanchor(child);
        if (child->width == oldWidth && child->height == oldHeight) continue;
        LayoutChildren(child);
        if (Live(child)) Send(child, SizeMessage(child));
    }
}

// The chrome covers the whole SDL window; at a new size it is made again and painted whole.
void SizeChrome(OsWindow* top, int width, int height) {
    cairo_surface_t* current = top->chrome.get();
    width = std::max(1, width);
    height = std::max(1, height);
    if (current && cairo_image_surface_get_width(current) == width &&
        cairo_image_surface_get_height(current) == height)
        return;
    top->chrome.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
    InvalidateChrome(top);
}

} // namespace

void SdlWindowResized(OsWindow* top, int width, int height, bool announceUnchanged) {
    SizeChrome(top, width, height);
    const FrameInsets& in = top->frame.insets;
    const int clientWidth = std::max(0, width - in.left - in.right);
    const int clientHeight = std::max(0, height - in.top - in.bottom);
    if (clientWidth == top->width && clientHeight == top->height && !announceUnchanged) return;
    top->width = clientWidth;
    top->height = clientHeight;
    InvalidateChrome(top);
    LayoutChildren(top);
    if (!Live(top)) return;
    InvalidateTree(top);
    Send(top, SizeMessage(top));
}

void SetChildAnchor(WindowHandle child, int mode) {
    OsWindow* c = Live(child);
    if (!c || !c->parent) return;
    c->anchor = mode;
    c->rightGap = c->parent->width - (c->x + c->width);
    c->bottomGap = c->parent->height - (c->y + c->height);
}
