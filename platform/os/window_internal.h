// What the rest of platform/ needs from the window system beyond the program's calls: the SDL
// window behind a top-level window, per-window state owned by other platform parts, the frame that
// the skin draws around the client area, and the chrome layer that the compositor shows under the
// view. Only platform/ includes this header.
#pragma once

#include "platform/os/window.h"

#include <cairo.h>

#include <cstdint>
#include <memory>
#include <vector>

struct SDL_Window;

// Initialises SDL's video (and with it its event queue and its SIGINT/SIGTERM handlers) once;
// false when there is no display.
bool EnsureVideo();
// Gives the window manager the UTF-8 title as it is, whatever the character locale.
void ShowTitleToWindowManager(SDL_Window* window, const char* title);

// True while the handle names a window that exists.
bool IsWindow(WindowHandle window);
WindowHandle GetTopLevelWindow(WindowHandle window);
SDL_Window* GetSdlWindow(WindowHandle window);
// Where the window's client area starts, in pixels of its SDL window.
void GetClientOriginInSdlWindow(WindowHandle window, int* x, int* y);
// Puts a child beneath its siblings: it is painted first and hit last.
void PlaceChildAtBottom(WindowHandle child);

// --- Mouse capture and keys ---------------------------------------------------------------------

// While a window has the capture, every mouse message goes to it, in its client coordinates,
// wherever the pointer is, even outside the SDL window (a drag that leaves a control goes on).
// The window that loses the capture hears WM_CAPTURECHANGED (control: the new holder or null);
// so does one whose top-level window loses the desktop's input focus.
enum : uint32_t { WM_CAPTURECHANGED = 0x0215 };
void SetCapture(WindowHandle window);
void ReleaseCapture();
WindowHandle GetCapture();

// The virtual-key code (VK_*) of an SDL key code; 0 for keys the program does not take.
uint32_t VirtualKeyFromSdl(int32_t sdlKey);

// One step of a timer's even pace, in any unit of time: false before the deadline; at or after
// it true, with the deadline moved one period on, or one period from now after a stall.
bool TakeTimerTick(uint64_t* deadline, uint64_t period, uint64_t now);

// Runs fn(data) on the thread of the message loop, in order with the events; safe to call from
// any thread. False when it could not be queued (the event queue is full or not started).
bool PostToLoop(void (*fn)(void* data), void* data);

// On the loop's thread: true when the window is gone or on its way out: being destroyed, the loop
// told to quit, or a quit request (SIGTERM, SIGINT) or a close of its top-level window already
// waiting in the queue, behind which anything handed to it now would be lost.
bool IsClosing(WindowHandle window);

// --- A surface of the platform's own -------------------------------------------------------------

// A wallpaper on Wayland shows on a surface the platform makes itself on the layer shell, not in
// its SDL window (which stays hidden): the view library draws into it through an EGL window
// surface over this native window.
struct wl_egl_window;
struct OwnSurface {
    wl_egl_window* window = nullptr; // null until the compositor has given the surface its size
    int width = 0;
    int height = 0;
};
// False when the top-level window shows in its SDL window.
bool GetOwnSurface(WindowHandle top, OwnSurface* surface);
// The view library's part: told before a native window goes, so that nothing draws into it after.
using OwnSurfaceRelease = void (*)(WindowHandle top);
void SetOwnSurfaceRelease(OwnSurfaceRelease release);
// Just before a frame is presented on the surface: the compositor is asked to tell when it wants
// the next one, and the window's timers wait until then, so nothing draws while nobody looks.
void OwnSurfacePresenting(WindowHandle top);

// --- Per-window state ---------------------------------------------------------------------------

// State another platform part keeps for one window, one slot per kind, so that attaching one kind
// never replaces another: the top-level window's GL context and skin, a view's framebuffer, a
// control's own state. A window's attachments are destroyed right after it has handled WM_DESTROY
// (after every child's), in reverse slot order, so the GL context goes last.
enum class AttachmentSlot { Context, View, Skin, Control, Instance, Count };

struct WindowAttachment {
    virtual ~WindowAttachment() = default;
};

// Replaces what the slot holds (null empties it). Dropped when the window does not exist.
void SetWindowAttachment(WindowHandle window, AttachmentSlot slot,
                         std::unique_ptr<WindowAttachment> attachment);
WindowAttachment* GetWindowAttachment(WindowHandle window, AttachmentSlot slot);

// Typed access: T derives from WindowAttachment and names its slot as T::kSlot.
// Null when the slot is empty or holds another kind (the Control slot holds each control's own).
template <typename T> T* GetAttachment(WindowHandle window) {
    return dynamic_cast<T*>(GetWindowAttachment(window, T::kSlot));
}
template <typename T> T* Attach(WindowHandle window, std::unique_ptr<T> attachment) {
    T* raw = attachment.get();
    SetWindowAttachment(window, T::kSlot, std::move(attachment));
    return GetAttachment<T>(window) == raw ? raw : nullptr;
}

// --- The frame around the client area -----------------------------------------------------------

struct WindowRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool Contains(int px, int py) const {
        return px >= x && py >= y && px < x + width && py < y + height;
    }
};

// Widths of the frame on each side of the client area; the top one includes the caption.
struct FrameInsets {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// What a frame drawn by the program is made of, in pixels of the SDL window: the insets, how far
// in from the outer edge a press resizes, and the caption buttons (which take clicks themselves).
// A button whose x is negative lies that far left of the right-hand edge, so buttons at the right
// follow the edge when the window is resized.
struct FrameGeometry {
    FrameInsets insets;
    int resizeBorder = 0;
    int cornerLength = 0; // along each edge from a corner, a press resizes diagonally
    std::vector<WindowRect> buttons;
};

enum class HitRegion {
    Client,
    Frame, // frame that neither moves nor resizes
    Caption,
    Button,
    Left,
    Right,
    Top,
    Bottom,
    TopLeft,
    TopRight,
    BottomLeft,
    BottomRight,
};

// Which part of a width x height window drawn with this frame lies under (x, y). A window that
// cannot be resized (a maximised one) has no resize regions.
HitRegion FrameHitTest(const FrameGeometry& frame, int width, int height, bool resizable, int x,
                       int y);

// The top-level window drops the desktop's decorations and draws its own frame: the SDL window
// becomes the client area plus the insets (the client keeps its size; a window not yet shown is
// centred again), and presses on the caption and the edges move and resize it through the
// desktop. Mouse messages over the rest of the frame go to frameProc as WM_NC* messages in SDL
// window coordinates; WM_NCMOUSELEAVE follows when the pointer leaves the frame.
void SetOwnFrame(WindowHandle top, const FrameGeometry& frame, WindowProc frameProc);
// Zero while the frame is suspended.
FrameInsets GetFrameInsets(WindowHandle top);
// Takes the own frame away, the client area then covering the whole SDL window, and gives it back
// as it was (full screen does both). The client area follows at once.
void SuspendOwnFrame(WindowHandle top);
void ResumeOwnFrame(WindowHandle top);
// True while the window has an own frame that is not suspended.
bool IsOwnFrameShown(WindowHandle top);

// --- Chrome -------------------------------------------------------------------------------------

// The picture the compositor shows behind the views: the whole SDL window, frame included, as a
// cairo image (ARGB32, native byte order). The window system fills the background, then runs the
// top-level window's painter (the frame), then each child's painter in stacking order, each
// clipped to its own rectangle and with its client origin at (0, 0). Only invalidated regions are
// repainted, when the compositor asks for them.
using ChromePainter = void (*)(WindowHandle window, cairo_t* cr, int width, int height);
void SetChromePainter(WindowHandle window, ChromePainter painter);
// Marks the window's rectangle (the whole SDL window for a top-level window) for repainting.
void InvalidateChrome(WindowHandle window);
// Marks part of it, in the coordinates the window's painter draws in: a hovered caption button
// repaints alone.
void InvalidateChromeRect(WindowHandle window, const WindowRect& rect);

struct ChromeLayer {
    int width = 0;
    int height = 0;
    int stride = 0; // bytes per row
    const uint8_t* pixels = nullptr;
};
// Repaints what was invalidated and returns the layer and the region repainted since the last
// call (empty when nothing changed). False when the window has no chrome.
bool UpdateChrome(WindowHandle top, ChromeLayer* layer, WindowRect* changed);
