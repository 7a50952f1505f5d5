// Following a new size: the top-level client area inside its SDL window, anchored children
// inside their parents, and the chrome that covers the SDL window; and the smallest size that
// keeps the anchored children whole.
#include "platform/os/window_tree.h"

#include <algorithm>
#include <climits>

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
    if (p->fullScreen && p->fullScreenChild == child) {
        PlaceFullScreenChild(child);
    } else if (child->anchor == kAnchorStretch) {
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
    if (!c->parent->parent) UpdateMinimumSize(c->parent);
}

// Below this size the layout would break: a stretched child (the view) would need a negative
// size, or a child kept at the right edge (the panel beside the view) would slide over the left
// margin of the stretched child, or out of the client area.
void UpdateMinimumSize(OsWindow* top) {
    if (!top->sdl) return;
    if (top->wallpaper) { // it is as large as its monitor, whatever that is
        SDL_SetWindowMinimumSize(top->sdl.get(), 1, 1);
        return;
    }
    int width = 1;
    int height = 1;
    int stretchedLeft = INT_MAX;
    for (const OsWindow* c : top->children) {
        if (c->anchor != kAnchorStretch) continue;
        width = std::max(width, c->x + c->rightGap);
        height = std::max(height, c->y + c->bottomGap);
        stretchedLeft = std::min(stretchedLeft, c->x);
    }
    for (const OsWindow* c : top->children) {
        if (c->anchor != kAnchorRight) continue;
        const int leftLimit = c->x >= stretchedLeft ? stretchedLeft : 0;
        width = std::max(width, leftLimit + c->width + c->rightGap);
        height = std::max(height, c->y + c->height);
    }
    const FrameInsets& in = top->frame.insets;
    SDL_SetWindowMinimumSize(top->sdl.get(), width + in.left + in.right,
                             height + in.top + in.bottom);
}
