// Mouse events from SDL to the window under the pointer: a child of the client area (the topmost
// one there), the client area itself, or the frame drawn around it. There is no capture: a
// release goes to whatever lies under the pointer.
#include "platform/os/window_tree.h"

namespace {

// The deepest window under (x, y), given in the client coordinates of window, which the point
// is rewritten into. Later children lie on top; empty ones are never hit.
OsWindow* ChildAt(OsWindow* window, int* x, int* y) {
    for (auto it = window->children.rbegin(); it != window->children.rend(); ++it) {
        OsWindow* c = *it;
        const int cx = *x - c->x;
        const int cy = *y - c->y;
        if (cx >= 0 && cy >= 0 && cx < c->width && cy < c->height) {
            *x = cx;
            *y = cy;
            return ChildAt(c, x, y);
        }
    }
    return window;
}

void LeaveFrame(OsWindow* top) {
    if (!top->pointerInFrame) return;
    top->pointerInFrame = false;
    Message leave;
    leave.id = WM_NCMOUSELEAVE;
    if (top->frameProc) top->frameProc(top, leave);
}

// The frame hears the pointer in SDL window coordinates, under the non-client names.
void SendToFrame(OsWindow* top, uint32_t messageId, int x, int y) {
    top->pointerInFrame = true;
    Message m;
    m.id = messageId - (WM_MOUSEMOVE - WM_NCMOUSEMOVE);
    m.x = x;
    m.y = y;
    if (top->frameProc) top->frameProc(top, m);
}

} // namespace

void RouteMouse(uint32_t sdlId, uint32_t messageId, int x, int y) {
    OsWindow* top = TopLevelBySdlId(sdlId);
    if (!top || messageId == 0) return;
    const WindowRect client = ClientRectInSdlWindow(top);
    if (top->ownFrame && !client.Contains(x, y)) {
        SendToFrame(top, messageId, x, y);
        return;
    }
    LeaveFrame(top);
    if (!Live(top)) return;
    Message m;
    m.id = messageId;
    m.x = x - client.x;
    m.y = y - client.y;
    OsWindow* target = ChildAt(top, &m.x, &m.y);
    Send(target, m);
}

void PointerLeft(uint32_t sdlId) {
    if (OsWindow* top = TopLevelBySdlId(sdlId)) LeaveFrame(top);
}
