// The window system the program runs on: one top-level window, children that this layer owns,
// hit-tests, anchors and draws, messages with the meanings of their Windows namesakes, timers and
// the message loop. SDL stays behind this header.
//
// Messages are delivered on the thread that runs the loop. WM_TIMER, WM_PAINT and WM_MOUSEMOVE
// never pile up: a timer tick is delivered when nothing else waits and a deadline has passed, and
// several pending pointer moves (or paints) of a window become one carrying the latest position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct OsWindow;
using WindowHandle = OsWindow*;

enum : uint32_t {
    WM_CREATE = 0x0001, // to a child's class procedure once it exists; returning -1 destroys it
    WM_DESTROY = 0x0002,
    WM_SIZE = 0x0005,      // x, y: the new client width and height
    WM_SETFOCUS = 0x0007,  // control: the window that lost the keyboard focus (or null)
    WM_KILLFOCUS = 0x0008, // control: the window that gains it (or null)
    WM_PAINT = 0x000F,
    WM_CLOSE = 0x0010,
    WM_COPYDATA =
        0x004A, // wParam: a request another copy of the program handed over; text: its text
    WM_NCMOUSEMOVE = 0x00A0,   // the WM_NC* mouse messages go to a frame drawn by the program; x, y
    WM_NCLBUTTONDOWN = 0x00A1, // in pixels of the whole window, frame included
    WM_NCLBUTTONUP = 0x00A2,
    WM_NCRBUTTONDOWN = 0x00A4,
    WM_NCRBUTTONUP = 0x00A5,
    WM_KEYDOWN = 0x0100,    // key: the virtual-key code; to the window with the keyboard focus,
                            // or to its top-level window for the keys that act on the window
                            // (F11, Esc, letters), which a held key does not repeat
    WM_SYSKEYDOWN = 0x0104, // a key with Alt held, to the top-level window
    WM_TIMER = 0x0113,      // timerId: the timer's identifier
    WM_HSCROLL = 0x0114,    // control: the sending control; wParam: the notification code (TB_*)
    WM_MOUSEMOVE = 0x0200,
    WM_LBUTTONDOWN = 0x0201,
    WM_LBUTTONUP = 0x0202,
    WM_LBUTTONDBLCLK = 0x0203, // the second press of a double click, instead of WM_LBUTTONDOWN, to
                               // windows whose class has CS_DBLCLKS
    WM_RBUTTONDOWN = 0x0204,
    WM_RBUTTONUP = 0x0205,
    WM_DROPFILES = 0x0233, // files: the paths of one drop, in the drop's order
    WM_NCMOUSELEAVE = 0x02A2,
};

struct Message {
    uint32_t id = 0;
    int x = 0; // mouse messages: pointer in the receiving window's client coordinates (may be < 0)
    int y = 0;
    uint32_t timerId = 0;
    WindowHandle control = nullptr;
    const std::vector<std::string>* files = nullptr;
    const std::string* text = nullptr; // WM_COPYDATA
    std::string* reply = nullptr;      // WM_COPYDATA: a line back to the copy that asked
    intptr_t wParam = 0;               // control messages (TBM_*): as their namesakes take them
    intptr_t lParam = 0;
    uint32_t key = 0; // WM_KEYDOWN: the virtual-key code (VK_*)
};

using WindowProc = intptr_t (*)(WindowHandle window, const Message& message);

// Virtual-key codes of WM_KEYDOWN.
enum : uint32_t {
    VK_RETURN = 0x0D,
    VK_ESCAPE = 0x1B,
    VK_PRIOR = 0x21, // Page Up
    VK_NEXT = 0x22,  // Page Down
    VK_END = 0x23,
    VK_HOME = 0x24,
    VK_LEFT = 0x25,
    VK_UP = 0x26,
    VK_RIGHT = 0x27,
    VK_DOWN = 0x28,
    VK_L = 0x4C, // letters are their capitals' codes; they go to the top-level window
    VK_F11 = 0x7A,
};

// The common controls' classes, which exist from the start.
inline constexpr const char* kStaticClass = "STATIC"; // a label showing its window text
// A horizontal slider with ticks below its channel. Its messages, sent with SendMessage, take
// their arguments as on the desktop the program was designed for; it answers the user's drags,
// clicks and keys with WM_HSCROLL to its parent.
inline constexpr const char* kTrackbarClass = "MSCTLS_TRACKBAR32";

enum : uint32_t {
    TBM_GETPOS = 0x0400,      // returns the position
    TBM_SETPOS = 0x0405,      // wParam: redraw; lParam: the position, held inside the range
    TBM_SETRANGE = 0x0406,    // wParam: redraw; lParam: MAKELONG(minimum, maximum)
    TBM_SETTICFREQ = 0x0414,  // wParam: a tick every that many positions (below 1: at every one)
    TBM_SETPAGESIZE = 0x0415, // lParam: the page step (at least 1); returns the previous one
    TBM_SETLINESIZE = 0x0417, // lParam: the line step (at least 1); returns the previous one
};

// WM_HSCROLL notification codes: how the trackbar's position changed.
enum : intptr_t {
    TB_LINEUP = 0,        // Left or Up key
    TB_LINEDOWN = 1,      // Right or Down key
    TB_PAGEUP = 2,        // Page Up key, or a click in the channel left of the thumb
    TB_PAGEDOWN = 3,      // Page Down key, or a click in the channel right of the thumb
    TB_THUMBPOSITION = 4, // the thumb was let go after a drag
    TB_THUMBTRACK = 5,    // the thumb is being dragged
    TB_TOP = 6,           // Home key
    TB_BOTTOM = 7,        // End key
    TB_ENDTRACK = 8,      // the mouse let go of the trackbar
};

// Two 16-bit halves in one message argument, as TBM_SETRANGE takes them.
constexpr intptr_t MAKELONG(int low, int high) {
    return static_cast<intptr_t>((static_cast<uint32_t>(low) & 0xFFFF) |
                                 ((static_cast<uint32_t>(high) & 0xFFFF) << 16));
}

// Creates the top-level window, hidden, with a client area of the given size, centred on the
// screen and never at a negative position. Null when no window can be made (no display).
WindowHandle CreateMainWindow(const char* title, int clientWidth, int clientHeight,
                              WindowProc proc);

// Child classes: a name, the procedure every child of that class starts with, and its styles.
enum : uint32_t { CS_DBLCLKS = 0x0008 }; // a quick second left press is a WM_LBUTTONDBLCLK
bool RegisterChildClass(const char* className, WindowProc proc, uint32_t style = 0);
bool IsChildClassRegistered(const char* className);
// Creates a visible child at (x, y) of the parent's client area; sends it WM_CREATE. Null when the
// class is unknown or the class procedure refused.
WindowHandle CreateChildWindow(const char* className, WindowHandle parent, int id, int x, int y,
                               int width, int height);
// Anchor modes: how a child follows its parent's client area when that changes size.
enum : int {
    kAnchorStretch = 5, // grows and shrinks, keeping its distance to all four edges
    kAnchorRight = 9,   // keeps its size and its distance to the right-hand edge
};
// The anchored children of a top-level window also set how small the desktop lets it become:
// a stretched child keeps its margins (its size stops at zero), and a child kept at the right
// edge stays wholly inside the client area, never further left than the left edge of the
// stretched children it lay to the right of.
void SetChildAnchor(WindowHandle child, int mode);
int GetChildId(WindowHandle window);
// The first child of parent with this id, or null.
WindowHandle FindChild(WindowHandle parent, int id);
// A window's text: the title of a top-level window, the text a control shows.
void SetWindowText(WindowHandle window, const char* text);
std::string GetWindowText(WindowHandle window);
// Sends a message to the window's procedure at once; returns its result (0 for no window).
intptr_t SendMessage(WindowHandle window, uint32_t id, intptr_t wParam, intptr_t lParam);

// Replaces a window's procedure; returns the previous one, for CallWindowProc.
WindowProc SubclassWindow(WindowHandle window, WindowProc proc);
intptr_t CallWindowProc(WindowProc proc, WindowHandle window, const Message& message);
// Default handling: WM_CLOSE destroys the window; everything else returns 0.
intptr_t DefWindowProc(WindowHandle window, const Message& message);
// Destroys a window: its children first, each receiving WM_DESTROY, then the window itself.
void DestroyWindow(WindowHandle window);

// Client area size in pixels (the rectangle (0, 0, width, height)).
void GetClientSize(WindowHandle window, int* width, int* height);
// Position of a child's client area inside its parent's client area.
void GetChildPosition(WindowHandle child, int* x, int* y);
// Position of a window's client area on the screen.
void GetClientScreenPosition(WindowHandle window, int* x, int* y);

// The keyboard focus: the one window that hears WM_KEYDOWN. SetFocus sends WM_KILLFOCUS to the
// window that had it, then WM_SETFOCUS to the new one (null: no window), and returns the previous
// one; a handle of a window that is gone changes nothing and returns null. A window being
// destroyed loses the focus without a message.
WindowHandle SetFocus(WindowHandle window);
WindowHandle GetFocus();

// --- The top-level window's state --------------------------------------------------------------
// One owner for what the desktop does to the window: its mode, keeping it above the others, where
// the pointer is on it. Asking for a mode is a request the desktop grants a moment later; the
// window hears WM_SIZE when its size follows.

// A wallpaper shows what full screen shows (the full-screen child alone) as the desktop's
// background on one monitor: below every other window, on every workspace, without a taskbar
// entry, and taking no input (the pointer and the keys reach what lies above it, or the desktop).
// A window is made one when it is shown and stays one: asking it for another mode, raising or
// restoring it changes nothing. It follows its monitor's size, and goes to the primary monitor
// when its own goes away.
enum class WindowMode { Normal, Maximised, Minimised, FullScreen, Wallpaper };

// The monitors, numbered from 0 as SDL numbers displays; 0 without a display.
int CountMonitors();
// Under a Wayland session, the window system is asked of the compositor itself rather than of its
// X server (which SDL may prefer, and where no window can be the desktop's background), unless
// SDL_VIDEODRIVER says otherwise. Before anything starts the window system.
void PreferWayland();
// Readies a top-level window not yet shown to be shown as a wallpaper. False when the desktop
// offers no background layer to put it in (a Wayland compositor without the layer shell).
bool PrepareWallpaper(WindowHandle window);
// Shows and raises the main window, in the mode given (Normal, FullScreen or Wallpaper), on the
// monitor given (-1: where the window lies, the primary one at first). The first time, the window
// (after its children) also hears WM_SIZE with its client size, so the program can set up its view
// before the first frame; a wallpaper hears it once the desktop has given it its size.
void ShowMainWindow(WindowHandle window, WindowMode mode = WindowMode::Normal, int monitor = -1);
// Raises the window's top-level window and gives it the desktop's input focus (not a wallpaper's:
// false).
bool SetForegroundWindow(WindowHandle window);
WindowMode GetWindowMode(WindowHandle window);
// Full screen covers the monitor the window is on with the client area alone (a frame of the
// program's own is suspended meanwhile), or with the full-screen child alone when there is one.
// The window as it was before (place, size, maximised or not) is kept and given back when it
// leaves full screen. A minimised window comes back in the mode it was minimised from.
void SetWindowMode(WindowHandle window, WindowMode mode);
// True while the top-level window is minimised.
bool IsIconic(WindowHandle window);
// Gives the window back as it was: a minimised one in the mode it had, a full-screen one as it was
// before, a maximised one at its normal size.
void RestoreWindow(WindowHandle window);
// The child that alone fills the top-level window while it is full screen (the view); the others
// are neither shown nor hit meanwhile. Null: the whole client area fills it.
void SetFullScreenChild(WindowHandle child);
// Keeping the window above the others (the desktop's "always on top").
bool IsKeptAbove(WindowHandle window);
void SetKeptAbove(WindowHandle window, bool above);
// Button flags of the pointer's state.
enum : uint32_t { MK_LBUTTON = 0x0001, MK_RBUTTON = 0x0002 };
// Where the pointer is in the window's client coordinates (outside the client area too), and the
// buttons held (MK_*), as the window's own pointer events last told: no global position is
// involved, which some desktops (Wayland) do not give. False while the pointer is off the
// top-level window and no button holds it there.
bool GetPointerPosition(WindowHandle window, int* x, int* y, uint32_t* buttons);
// The window's icon on the desktop, from a PNG image held in memory. False when it cannot be
// decoded or the window does not exist.
bool SetWindowIcon(WindowHandle window, const uint8_t* png, size_t size);
// Whether the window takes files dropped on it from a file manager. The files of one drop arrive
// together in one WM_DROPFILES, in the drop's order. Drops reach top-level windows only: the
// desktop says on which window a drop was made, not where on it.
void DragAcceptFiles(WindowHandle window, bool accept);

// Asks for a repaint: the window receives one WM_PAINT when the loop is next idle.
void InvalidateWindow(WindowHandle window);

// Timers: WM_TIMER to the window every interval milliseconds, without piling up, and never more
// often than the frame-rate cap: by default the refresh rate of the window's display (60 a second
// when it is not known); SetFrameRateCap sets another number a second, 0 none at all.
inline constexpr int kFrameRateOfDisplay = -1;
inline constexpr int kUnknownRefreshRate = 60;
void SetFrameRateCap(int framesPerSecond);
bool StartTimer(WindowHandle window, uint32_t timerId, uint32_t intervalMs);
void StopTimer(WindowHandle window, uint32_t timerId);

// Makes the running loop end with this exit code once the current message is handled.
void PostQuitMessage(int exitCode);
// Runs the message loop until PostQuitMessage; returns its exit code. Closing the window from the
// desktop, SIGTERM and SIGINT all arrive as WM_CLOSE to the main window.
int RunMessageLoop();

// The folder of the running executable (links resolved), with a trailing '/'.
std::string ExecutableFolder();
// The folder of the files the program reads at run time: "Resource/" in the executable's folder.
std::string ResourceFolder();
