// The window system the program runs on: one top-level window, children that this layer owns,
// hit-tests, anchors and draws, messages with the meanings of their Windows namesakes, timers and
// the message loop. SDL stays behind this header.
//
// Messages are delivered on the thread that runs the loop. WM_TIMER, WM_PAINT and WM_MOUSEMOVE
// never pile up: a timer tick is delivered when nothing else waits and a deadline has passed, and
// several pending pointer moves (or paints) of a window become one carrying the latest position.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct OsWindow;
using WindowHandle = OsWindow*;

enum : uint32_t {
    WM_CREATE = 0x0001, // to a child's class procedure once it exists; returning -1 destroys it
    WM_DESTROY = 0x0002,
    WM_SIZE = 0x0005, // x, y: the new client width and height
    WM_PAINT = 0x000F,
    WM_CLOSE = 0x0010,
    WM_NCMOUSEMOVE = 0x00A0,   // the WM_NC* mouse messages go to a frame drawn by the program; x, y
    WM_NCLBUTTONDOWN = 0x00A1, // in pixels of the whole window, frame included
    WM_NCLBUTTONUP = 0x00A2,
    WM_NCRBUTTONDOWN = 0x00A4,
    WM_NCRBUTTONUP = 0x00A5,
    WM_TIMER = 0x0113,   // timerId: the timer's identifier
    WM_HSCROLL = 0x0114, // control: the sending control
    WM_MOUSEMOVE = 0x0200,
    WM_LBUTTONDOWN = 0x0201,
    WM_LBUTTONUP = 0x0202,
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
    intptr_t wParam = 0; // control messages (TBM_*): as their namesakes take them
    intptr_t lParam = 0;
    uint32_t key = 0; // WM_KEYDOWN: the virtual-key code (VK_*)
};

using WindowProc = intptr_t (*)(WindowHandle window, const Message& message);

// The common controls' classes, which exist once the window system has started.
inline constexpr const char* kStaticClass = "STATIC"; // a label showing its window text

// Creates the top-level window, hidden, with a client area of the given size, centred on the
// screen and never at a negative position. Null when no window can be made (no display).
WindowHandle CreateMainWindow(const char* title, int clientWidth, int clientHeight,
                              WindowProc proc);

// Child classes: a name and the procedure every child of that class starts with.
bool RegisterChildClass(const char* className, WindowProc proc);
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
void SetChildAnchor(WindowHandle child, int mode);
int GetChildId(WindowHandle window);
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

// Shows and raises the main window. The first time, the window (after its children) also hears
// WM_SIZE with its client size, so the program can set up its view before the first frame.
void ShowMainWindow(WindowHandle window);
// Asks for a repaint: the window receives one WM_PAINT when the loop is next idle.
void InvalidateWindow(WindowHandle window);

// Timers: WM_TIMER to the window every interval milliseconds, without piling up.
bool StartTimer(WindowHandle window, uint32_t timerId, uint32_t intervalMs);
void StopTimer(WindowHandle window, uint32_t timerId);

// Makes the running loop end with this exit code once the current message is handled.
void PostQuitMessage(int exitCode);
// Runs the message loop until PostQuitMessage; returns its exit code. Closing the window from the
// desktop, SIGTERM and SIGINT all arrive as WM_CLOSE to the main window.
int RunMessageLoop();

// The folder of the running executable (links resolved), with a trailing '/'.
std::string ExecutableFolder();
