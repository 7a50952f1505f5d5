// The window records themselves, shared by the files of the window system and by no one else:
// the tree of windows, lookups that survive stale handles, and the steps that several of those
// files take (sending a message, following a new client size, routing to the frame).
#pragma once

#include "platform/os/window_internal.h"

#include <SDL.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

struct SdlWindowDeleter {
    void operator()(SDL_Window* window) const { SDL_DestroyWindow(window); }
};
struct CairoSurfaceDeleter {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};

struct OsWindow {
    WindowProc proc = nullptr;
    OsWindow* parent = nullptr;
    std::vector<OsWindow*> children; // stacking order: a later child lies on top
    int id = 0;
    std::string text;
    int x = 0; // client origin inside the parent's client area (children only)
    int y = 0;
    int width = 0; // client size
    int height = 0;
    int anchor = 0;
    int rightGap = 0; // distances to the parent's right and bottom edges when anchored
    int bottomGap = 0;
    bool paintPending = false;
    bool acceptsFiles = false;
    bool destroying = false;
    ChromePainter painter = nullptr;
    std::array<std::unique_ptr<WindowAttachment>, static_cast<size_t>(AttachmentSlot::Count)>
        attachments;

    // Top-level windows only. The attachments above go before the SDL window: the GL context
    // among them is made for it.
    std::unique_ptr<SDL_Window, SdlWindowDeleter> sdl;
    uint32_t sdlId = 0;
    bool shown = false;
    bool ownFrame = false;
    FrameGeometry frame;
    WindowProc frameProc = nullptr;
    bool pointerInFrame = false;
    uint64_t lastCaptionPress = 0; // for telling a double click on the caption
    int lastCaptionX = 0;
    int lastCaptionY = 0;
    std::unique_ptr<cairo_surface_t, CairoSurfaceDeleter> chrome;
    WindowRect chromeDirty;   // still to repaint
    WindowRect chromeChanged; // repainted since the compositor last asked
};

// Every window that exists, in creation order.
std::vector<std::unique_ptr<OsWindow>>& AllWindows();
// The window behind a handle, or null when it no longer exists.
OsWindow* Live(WindowHandle window);
OsWindow* TopLevelOf(OsWindow* window);
OsWindow* TopLevelBySdlId(uint32_t sdlId);
intptr_t Send(OsWindow* window, const Message& message);

// A rectangle of the SDL window that covers the window's client area.
WindowRect ClientRectInSdlWindow(OsWindow* window);
// The union of two rectangles (an empty one adds nothing).
WindowRect UniteRects(const WindowRect& a, const WindowRect& b);

// The top-level window's SDL window is now width x height: the client area, the chrome and the
// children follow, then the window hears WM_SIZE and everything is repainted. Minimising and
// restoring announce even an unchanged size.
void SdlWindowResized(OsWindow* top, int width, int height, bool announceUnchanged);
// The first showing of a top-level window announces its size with WM_SIZE; later ones do not.
void AnnounceFirstShowing(OsWindow* top);
// Marks every window of the tree for a WM_PAINT.
void InvalidateTree(OsWindow* window);

// The desktop took a press on the frame (to move or resize the window): a second press on the
// caption soon after the first maximises or restores the window.
void FramePressed(OsWindow* top);

// Timers of a window that is going away.
void RemoveTimersOf(const OsWindow* window);
// One WM_TIMER of the most overdue timer; false when none is due.
bool DeliverTimer();
// The window moved to another display, whose refresh rate may differ.
void TopLevelMovedDisplay(OsWindow* top);
// How long the loop may wait for events: until the nearest deadline, -1 without timers.
int WaitTimeout();

// Mouse events of SDL, in SDL window coordinates, routed to the window with the capture, or to a
// child, the client area or the frame under the pointer.
void RouteMouse(uint32_t sdlId, uint32_t messageId, int x, int y);
// The pointer left the SDL window.
void PointerLeft(uint32_t sdlId);
// The SDL window lost the desktop's input focus: its windows lose the capture.
void InputFocusLost(uint32_t sdlId);
// A key went down (or repeats) in the SDL window: WM_KEYDOWN to the window with the focus.
void KeyPressed(uint32_t sdlId, int32_t sdlKey);
// SDL's drop events, gathered into one WM_DROPFILES per drop.
void HandleDrop(const SDL_DropEvent& drop);
// Turns SDL's drop support on while some window takes files, so that a desktop without a taker
// is told that a drop here is refused.
void UpdateDropSupport();
// A window is going away: it loses the focus and the capture, without messages.
void ForgetFocusOf(const OsWindow* window);
void ForgetCaptureOf(const OsWindow* window);
// The smallest size the desktop may give the top-level window, from its anchored children.
void UpdateMinimumSize(OsWindow* top);
