// Mouse events from SDL to the window under the pointer: a child of the client area (the topmost
// one there), the client area itself, or the frame drawn around it; or, while a window has the
// capture, to that window wherever the pointer is.
#include "platform/os/window_tree.h"

namespace {

OsWindow* gCapture = nullptr;

// The deepest window under (x, y), given in the client coordinates of window, which the point
// is rewritten into. Later children lie on top; empty ones are never hit.
OsWindow* ChildAt(OsWindow* window, int* x, int* y) {
    for (auto it = window->children.rbegin(); it != window->children.rend(); ++it) {
        OsWindow* c = *it;
        if (HiddenByFullScreen(c)) continue;
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

// A left press on a window whose class takes double clicks, soon after the one before on the same
// window and in nearly the same place, is its second click.
uint32_t PressMessage(OsWindow* top, OsWindow* target, uint32_t messageId, int x, int y) {
    if (messageId != WM_LBUTTONDOWN) return messageId;
    const bool second = IsSecondClick(&top->clientClick, target, x, y, SDL_GetTicks64());
    return second && (target->classStyle & CS_DBLCLKS) ? WM_LBUTTONDBLCLK : messageId;
}

// The pointer in the capturing window's client coordinates. SDL gives it in the coordinates of
// the window the event names, which may be another one or none (a release SDL saw after the
// pointer had left every window it knows of); then it is where the window last saw it.
void SendToCapture(OsWindow* capture, uint32_t sdlId, uint32_t messageId, int x, int y) {
    OsWindow* top = TopLevelOf(capture);
    if (top->sdlId != sdlId) {
        x = top->pointerX;
        y = top->pointerY;
    }
    const WindowRect client = ClientRectInSdlWindow(capture);
    Message m;
    m.id = PressMessage(top, capture, messageId, x, y);
    m.x = x - client.x;
    m.y = y - client.y;
    Send(capture, m);
}

} // namespace

void SetCapture(WindowHandle window) {
    OsWindow* next = Live(window);
    OsWindow* previous = Live(gCapture);
    if (next == previous) return;
    gCapture = next;
    // SDL keeps the pointer's events coming to the SDL window while it is outside it, releases
    // included. It can do so only for the window with the desktop's input focus; without it a
    // release outside still reaches the capture, as an event of no window.
    SDL_CaptureMouse(next ? SDL_TRUE : SDL_FALSE);
    if (previous) {
        Message changed;
        changed.id = WM_CAPTURECHANGED;
        changed.control = next;
        Send(previous, changed);
    }
}

void ReleaseCapture() {
    SetCapture(nullptr);
}

WindowHandle GetCapture() {
    return Live(gCapture);
}

void ForgetCaptureOf(const OsWindow* window) {
    if (gCapture != window) return;
    gCapture = nullptr;
    SDL_CaptureMouse(SDL_FALSE);
}

void InputFocusLost(uint32_t sdlId) {
    OsWindow* capture = Live(gCapture);
    if (capture && TopLevelOf(capture)->sdlId == sdlId) ReleaseCapture();
}

void RouteMouse(uint32_t sdlId, uint32_t messageId, int x, int y, uint32_t held) {
    OsWindow* top = TopLevelBySdlId(sdlId);
    if (top) PointerEvent(top, x, y, held);
    if (messageId == 0) return;
    if (OsWindow* capture = Live(gCapture)) {
        SendToCapture(capture, sdlId, messageId, x, y);
        return;
    }
    if (!top) return;
    const WindowRect client = ClientRectInSdlWindow(top);
    if (top->ownFrame && !client.Contains(x, y)) {
        SendToFrame(top, messageId, x, y);
        return;
    }
    LeaveFrame(top);
    if (!Live(top)) return;
    Message m;
    m.x = x - client.x;
    m.y = y - client.y;
    OsWindow* target = ChildAt(top, &m.x, &m.y);
    m.id = PressMessage(top, target, messageId, x, y);
    Send(target, m);
}

void PointerLeft(uint32_t sdlId) {
    if (OsWindow* top = TopLevelBySdlId(sdlId)) {
        PointerLeftWindow(top);
        LeaveFrame(top);
    }
}
