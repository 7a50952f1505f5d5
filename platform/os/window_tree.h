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

struct LayerWallpaper;
struct LayerWallpaperDeleter {
    void operator()(LayerWallpaper* wallpaper) const;
};

// When and where a window was last pressed, for telling a double click.
struct ClickRecord {
    const void* target = nullptr;
    uint64_t at = 0; // ms; 0 for no press
    int x = 0;
    int y = 0;
};
// Whether a press on target at (x, y), now, is the second of a double click; a second press
// starts no new double click.
bool IsSecondClick(ClickRecord* last, const void* target, int x, int y, uint64_t now);

struct OsWindow {
    WindowProc proc = nullptr;
    uint32_t classStyle = 0; // CS_*
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
    ClickRecord captionClick; // for telling a double click on the caption
    ClickRecord clientClick;  // and on a child of the client area
    // The window's state (window_state.cpp). Outside full screen the full-screen child lies at
    // fullScreenChildPlace; the SDL window's place before full screen is kept in normalPlace.
    bool fullScreen = false;
    bool fullScreenPlacedHere = false; // no window manager: the window was laid over the monitor
    bool maximisedBeforeFullScreen = false;
    WindowRect normalPlace;
    uint64_t keepNormalSizeUntil = 0; // ms: a desktop's late size after leaving full screen
    WindowRect fullScreenSize;        // the size it had then
    OsWindow* fullScreenChild = nullptr;
    WindowRect fullScreenChildPlace;
    bool frameSuspended = false;
    FrameGeometry suspendedFrame;
    // The pointer as this window's own events last told, in SDL window pixels.
    bool pointerInside = false;
    int pointerX = 0;
    int pointerY = 0;
    uint32_t pointerButtons = 0; // MK_*
    // A wallpaper (wallpaper.cpp): the desktop's background on its monitor, for good; on Wayland
    // on a surface of its own on the layer shell.
    bool wallpaper = false;
    int monitor = -1; // as SDL numbers displays; -1 for the primary one
    std::unique_ptr<LayerWallpaper, LayerWallpaperDeleter> layer;
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
// The desktop took a press on the caption to move the window; that press was the second of a
// double click, which moves nothing: the move is called off (an X11 window manager would
// otherwise hold the pointer, and the window, until the button's next release).
void CancelDesktopMove(OsWindow* top);
// True on an X server where no window manager runs: nobody there grants a full screen.
bool WithoutWindowManager(OsWindow* top);
// A quit request came: when it is the connection to the display that broke, says so and ends the
// program with 1, as a broken connection to an X server does.
void EndIfDisplayLost();
// Marks every window of the tree for a WM_PAINT.
void InvalidateTree(OsWindow* window);

// The desktop took a press on the frame (to move or resize the window), where the hit test last
// saw the pointer: X11 tells of it afterwards.
void FramePressed(OsWindow* top);
// A left press at (x, y) of the SDL window: a second press on the caption soon after the first
// maximises or restores the window; a press anywhere else starts no double click.
void CaptionPressedAt(OsWindow* top, int x, int y);
// On Wayland, where SDL tells nothing of a press on the caption: from now on the left presses on
// the window's surface reach CaptionPressedAt from a pointer of our own (caption_presses.cpp),
// whose events TakeCaptionPresses delivers; the loop calls it once each turn.
void WatchCaptionPresses(OsWindow* top);
void TakeCaptionPresses();
// The desktop's hit test asked about (x, y) of the SDL window: where the pointer is.
void PointerSeenAt(OsWindow* top, int x, int y);

// --- The window's state (window_state.cpp) ------------------------------------------------------

// True for a child of a full-screen window that the full-screen child hides.
bool HiddenByFullScreen(const OsWindow* window);
// Where the full-screen child lies now: the whole client area in full screen.
void PlaceFullScreenChild(OsWindow* child);
// The pointer moved, was pressed or released over the SDL window (x, y in its pixels; buttons:
// MK_*), or left it.
void PointerEvent(OsWindow* top, int x, int y, uint32_t buttons);
void PointerLeftWindow(OsWindow* top);
// In full screen the pointer hides after a while without motion: how long the loop may wait
// until then (-1: no such wait), and the hiding itself when that time has come.
int PointerIdleTimeout();
void HideIdlePointer();
// The SDL window's mode changed (or may have): the own frame and the full-screen layout follow.
void WindowModeChanged(OsWindow* top);
// The desktop gave the SDL window a new size. Just after leaving full screen it may be the size
// of the screen still, which is then corrected.
void WindowSizeChanged(OsWindow* top);

// --- A wallpaper (wallpaper.cpp, wallpaper_x11.cpp, layer_surface.cpp) -------------------------

// Makes the top-level window the wallpaper on its monitor and shows it.
void ShowAsWallpaper(OsWindow* top, int monitor);
// The displays changed (one came, went, or changed its size): wallpapers follow their monitor.
void DisplaysChanged();
// True while the window's frames would not be seen: a wallpaper on its own surface before the
// compositor has given it a size, or between presenting a frame and the compositor asking for
// the next. Its timers wait meanwhile.
bool AwaitsFrame(const OsWindow* top);

// Timers of a window that is going away.
void RemoveTimersOf(const OsWindow* window);
// One WM_TIMER of the most overdue timer; false when none is due.
bool DeliverTimer();
// The window moved to another display, whose refresh rate may differ.
void TopLevelMovedDisplay(OsWindow* top);
// How long the loop may wait for events: until the nearest deadline, -1 without timers.
int WaitTimeout();

// Mouse events of SDL, in SDL window coordinates, routed to the window with the capture, or to a
// child, the client area or the frame under the pointer; held: the buttons held after it (MK_*).
// messageId 0 only tells where the pointer is.
void RouteMouse(uint32_t sdlId, uint32_t messageId, int x, int y, uint32_t held);
// The pointer left the SDL window.
void PointerLeft(uint32_t sdlId);
// The SDL window lost the desktop's input focus: its windows lose the capture.
void InputFocusLost(uint32_t sdlId);
// A key went down (or repeats, while held) in the SDL window, Alt held or not: WM_KEYDOWN to the
// window with the focus, or to its top-level window for keys that act on the window, which do not
// repeat.
void KeyPressed(uint32_t sdlId, int32_t sdlKey, bool alt, bool repeat);
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
