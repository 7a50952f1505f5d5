// The window system over SDL2: one SDL window per top-level window, children as rectangles of
// its client area, and a message loop that turns SDL's events into the program's messages.
//
// Implemented: top-level and child windows, child classes, subclassing, anchoring (modes 5 and
// 9), hit-testing of mouse messages, WM_PAINT/WM_SIZE/WM_CLOSE/WM_DESTROY/WM_TIMER/mouse
// messages, timers, the chrome layer's background, the executable's folder.
// Not yet: drawn controls (trackbar, label), the skin's frame, drag and drop, single instance.
#include "platform/os/window.h"
#include "platform/os/window_internal.h"

#include <SDL.h>

#include <algorithm>
#include <climits>
#include <map>
#include <string>
#include <unistd.h>
#include <utility>

struct SdlWindowDeleter {
    void operator()(SDL_Window* window) const { SDL_DestroyWindow(window); }
};

struct OsWindow {
    WindowProc proc = nullptr;
    OsWindow* parent = nullptr;
    std::vector<OsWindow*> children; // creation order; a later child lies on top
    int id = 0;
    int x = 0; // client origin inside the parent's client area (children only)
    int y = 0;
    int width = 0; // client size
    int height = 0;
    int anchor = 0;
    int rightGap = 0; // distances to the parent's right and bottom edges when anchored
    int bottomGap = 0;
    bool paintPending = false;
    bool destroying = false;
    // Top-level windows only. The attachment is declared after the SDL window so that it goes
    // first: it may hold the GL context made for that window.
    std::unique_ptr<SDL_Window, SdlWindowDeleter> sdl;
    uint32_t sdlId = 0;
    bool sizeAnnounced = false;
    ChromeLayer chrome;
    std::unique_ptr<WindowAttachment> attachment;
};

namespace {

struct Timer {
    OsWindow* window;
    uint32_t id;
    uint32_t interval;
    uint64_t deadline;
};

// A near-black that reads as the window's own colour rather than a missing picture.
constexpr uint8_t kChromeBackground[4] = {16, 16, 20, 255};
constexpr int kAnchorStretch = 5; // keeps its distance to all four edges of the parent
constexpr int kAnchorRight = 9;   // keeps its size and its distance to the right-hand edge

std::vector<std::unique_ptr<OsWindow>> gWindows; // every window that exists
std::map<std::string, WindowProc> gClasses;
std::vector<Timer> gTimers;
bool gQuitPosted = false;
int gQuitCode = 0;

OsWindow* Live(WindowHandle window) {
    for (auto& w : gWindows)
        if (w.get() == window) return w.get();
    return nullptr;
}

OsWindow* TopLevelOf(OsWindow* window) {
    while (window && window->parent)
        window = window->parent;
    return window;
}

OsWindow* TopLevelBySdlId(uint32_t sdlId) {
    for (auto& w : gWindows)
        if (!w->parent && w->sdlId == sdlId) return w.get();
    return nullptr;
}

intptr_t Send(OsWindow* window, const Message& message) {
    return window->proc ? window->proc(window, message) : 0;
}

Message SizeMessage(const OsWindow* window) {
    Message m;
    m.id = WM_SIZE;
    m.x = window->width;
    m.y = window->height;
    return m;
}

void FillChrome(OsWindow* top) {
    ChromeLayer& c = top->chrome;
    c.width = top->width;
    c.height = top->height;
    c.rgba.resize(static_cast<size_t>(c.width) * static_cast<size_t>(c.height) * 4);
    for (size_t i = 0; i < c.rgba.size(); i += 4)
        std::copy(kChromeBackground, kChromeBackground + 4, c.rgba.begin() + i);
    c.dirty = true;
}

void InvalidateTree(OsWindow* window) {
    window->paintPending = true;
    for (OsWindow* child : window->children)
        InvalidateTree(child);
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

// The top-level window's client area is now width x height: children follow, then the window
// hears WM_SIZE and everything is repainted. Minimising and restoring announce even an
// unchanged size, as the program expects a WM_SIZE for them.
void ClientAreaChanged(OsWindow* top, int width, int height, bool announceUnchanged) {
    width = std::max(0, width);
    height = std::max(0, height);
    if (width == top->width && height == top->height && !announceUnchanged) return;
    top->width = width;
    top->height = height;
    FillChrome(top);
    LayoutChildren(top);
    if (!Live(top)) return;
    InvalidateTree(top);
    Send(top, SizeMessage(top));
}

void RemoveTimersOf(const OsWindow* window) {
    std::erase_if(gTimers, [window](const Timer& t) { return t.window == window; });
}

void Forget(OsWindow* window) {
    if (window->parent) std::erase(window->parent->children, window);
    std::erase_if(gWindows, [window](const auto& w) { return w.get() == window; });
}

// Without a display SDL falls back to drivers that draw nowhere. A window nobody can see is no
// window for this program, unless such a driver was asked for by name.
bool OnADisplay() {
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver) return false;
    if (SDL_strcmp(driver, "offscreen") != 0 && SDL_strcmp(driver, "dummy") != 0) return true;
    const char* asked = SDL_getenv("SDL_VIDEODRIVER");
    return asked && SDL_strcasecmp(asked, driver) == 0;
}

} // namespace

bool EnsureVideo() {
    if (SDL_WasInit(SDL_INIT_VIDEO)) return true;
    // SIGTERM and SIGINT become SDL_QUIT, which the loop turns into WM_CLOSE.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "0");
    // The close button asks the program (WM_CLOSE); it must not also post a quit of its own.
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    // The click that brings the window to the front also reaches it, so a drag can start with it.
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    // A visualiser left running must not keep the desktop from locking or blanking.
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
    if (OnADisplay()) return true;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return false;
}

bool IsWindow(WindowHandle window) {
    return window && Live(window);
}

WindowHandle GetTopLevelWindow(WindowHandle window) {
    return TopLevelOf(Live(window));
}

SDL_Window* GetSdlWindow(WindowHandle window) {
    OsWindow* top = TopLevelOf(Live(window));
    return top ? top->sdl.get() : nullptr;
}

void GetClientOriginInSdlWindow(WindowHandle window, int* x, int* y) {
    // The top-level client area starts at the SDL window's corner until the skin draws a frame.
    int ox = 0;
    int oy = 0;
    for (OsWindow* w = Live(window); w && w->parent; w = w->parent) {
        ox += w->x;
        oy += w->y;
    }
    *x = ox;
    *y = oy;
}

void SetWindowAttachment(WindowHandle window, std::unique_ptr<WindowAttachment> attachment) {
    if (OsWindow* w = Live(window)) w->attachment = std::move(attachment);
}

WindowAttachment* GetWindowAttachment(WindowHandle window) {
    OsWindow* w = Live(window);
    return w ? w->attachment.get() : nullptr;
}

ChromeLayer* GetChromeLayer(WindowHandle window) {
    OsWindow* top = TopLevelOf(Live(window));
    return top ? &top->chrome : nullptr;
}

WindowHandle CreateMainWindow(const char* title, int clientWidth, int clientHeight,
                              WindowProc proc) {
    if (!proc || clientWidth <= 0 || clientHeight <= 0 || !EnsureVideo()) return nullptr;
    SDL_Rect screen{0, 0, 0, 0};
    SDL_GetDisplayBounds(0, &screen);
    // Centred, but on a screen smaller than the window its corner stays on the screen.
    const int x = screen.x + std::max(0, (screen.w - clientWidth) / 2);
    const int y = screen.y + std::max(0, (screen.h - clientHeight) / 2);
    const Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE | SDL_WINDOW_HIDDEN;
    std::unique_ptr<SDL_Window, SdlWindowDeleter> sdl(
        SDL_CreateWindow(title ? title : "", x, y, clientWidth, clientHeight, flags));
    if (!sdl) return nullptr;

    auto window = std::make_unique<OsWindow>();
    window->proc = proc;
    window->sdlId = SDL_GetWindowID(sdl.get());
    SDL_GetWindowSize(sdl.get(), &window->width, &window->height);
    window->sdl = std::move(sdl);
    FillChrome(window.get());
    gWindows.push_back(std::move(window));
    return gWindows.back().get();
}

bool RegisterChildClass(const char* className, WindowProc proc) {
    if (!className || !*className || !proc) return false;
    auto [it, added] = gClasses.emplace(className, proc);
    return added || it->second == proc; // registering the same class again is harmless
}

bool IsChildClassRegistered(const char* className) {
    return className && gClasses.count(className) != 0;
}

WindowHandle CreateChildWindow(const char* className, WindowHandle parent, int id, int x, int y,
                               int width, int height) {
    OsWindow* p = Live(parent);
    auto cls = className ? gClasses.find(className) : gClasses.end();
    if (!p || cls == gClasses.end()) return nullptr;

    auto owned = std::make_unique<OsWindow>();
    OsWindow* child = owned.get();
    child->proc = cls->second;
    child->parent = p;
    child->id = id;
    child->x = x;
    child->y = y;
    child->width = std::max(0, width);
    child->height = std::max(0, height);
    child->paintPending = true;
    gWindows.push_back(std::move(owned));
    p->children.push_back(child);

    Message create;
    create.id = WM_CREATE;
    if (Send(child, create) == -1 && Live(child)) {
        // A refusing class procedure cleans up after itself; only its attachment is left.
        child->attachment.reset();
        Forget(child);
        return nullptr;
    }
    return Live(child);
}

void SetChildAnchor(WindowHandle child, int mode) {
    OsWindow* c = Live(child);
    if (!c || !c->parent) return;
    c->anchor = mode;
    c->rightGap = c->parent->width - (c->x + c->width);
    c->bottomGap = c->parent->height - (c->y + c->height);
}

int GetChildId(WindowHandle window) {
    OsWindow* w = Live(window);
    return w ? w->id : 0;
}

WindowProc SubclassWindow(WindowHandle window, WindowProc proc) {
    OsWindow* w = Live(window);
    if (!w || !proc) return nullptr;
    return std::exchange(w->proc, proc);
}

intptr_t CallWindowProc(WindowProc proc, WindowHandle window, const Message& message) {
    return proc ? proc(window, message) : 0;
}

intptr_t DefWindowProc(WindowHandle window, const Message& message) {
    if (message.id == WM_CLOSE) DestroyWindow(window);
    return 0;
}

void DestroyWindow(WindowHandle window) {
    OsWindow* w = Live(window);
    if (!w || w->destroying) return;
    w->destroying = true;
    while (!w->children.empty())
        DestroyWindow(w->children.back());
    Message destroy;
    destroy.id = WM_DESTROY;
    Send(w, destroy);
    w->attachment.reset();
    RemoveTimersOf(w);
    Forget(w);
}

void GetClientSize(WindowHandle window, int* width, int* height) {
    OsWindow* w = Live(window);
    *width = w ? w->width : 0;
    *height = w ? w->height : 0;
}

void GetChildPosition(WindowHandle child, int* x, int* y) {
    OsWindow* c = Live(child);
    *x = c && c->parent ? c->x : 0;
    *y = c && c->parent ? c->y : 0;
}

void GetClientScreenPosition(WindowHandle window, int* x, int* y) {
    OsWindow* top = TopLevelOf(Live(window));
    int sx = 0;
    int sy = 0;
    if (top) SDL_GetWindowPosition(top->sdl.get(), &sx, &sy);
    int ox = 0;
    int oy = 0;
    GetClientOriginInSdlWindow(window, &ox, &oy);
    *x = sx + ox;
    *y = sy + oy;
}

void ShowMainWindow(WindowHandle window) {
    OsWindow* w = Live(window);
    if (!w || w->parent) return;
    SDL_ShowWindow(w->sdl.get());
    SDL_RaiseWindow(w->sdl.get());
    // As on the desktop the program was designed for, the first showing tells the window its
    // size, so it can set up its view before the first frame.
    if (!std::exchange(w->sizeAnnounced, true)) {
        int width = 0;
        int height = 0;
        SDL_GetWindowSize(w->sdl.get(), &width, &height);
        ClientAreaChanged(w, width, height, true);
    }
}

void InvalidateWindow(WindowHandle window) {
    if (OsWindow* w = Live(window)) w->paintPending = true;
}

bool StartTimer(WindowHandle window, uint32_t timerId, uint32_t intervalMs) {
    OsWindow* w = Live(window);
    if (!w) return false;
    const uint32_t interval = std::max<uint32_t>(1, intervalMs);
    const uint64_t deadline = SDL_GetTicks64() + interval;
    for (Timer& t : gTimers) {
        if (t.window == w && t.id == timerId) {
            t.interval = interval;
            t.deadline = deadline;
            return true;
        }
    }
    gTimers.push_back({w, timerId, interval, deadline});
    return true;
}

void StopTimer(WindowHandle window, uint32_t timerId) {
    std::erase_if(gTimers, [&](const Timer& t) { return t.window == window && t.id == timerId; });
}

void PostQuitMessage(int exitCode) {
    gQuitPosted = true;
    gQuitCode = exitCode;
}

namespace {

// Several pointer moves waiting in a row become the last of them: a frame is drawn per move, and
// drawing one per stale position would let input queue up behind the display.
void TakeLatestMove(SDL_Event* event) {
    SDL_Event next;
    while (SDL_PeepEvents(&next, 1, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) == 1 &&
           next.type == SDL_MOUSEMOTION && next.motion.windowID == event->motion.windowID) {
        SDL_PeepEvents(event, 1, SDL_GETEVENT, SDL_MOUSEMOTION, SDL_MOUSEMOTION);
    }
}

// The deepest window under (x, y), given in the client coordinates of window, which the point
// is rewritten into. Later children lie on top; empty ones are never hit.
OsWindow* HitTest(OsWindow* window, int* x, int* y) {
    for (auto it = window->children.rbegin(); it != window->children.rend(); ++it) {
        OsWindow* c = *it;
        const int cx = *x - c->x;
        const int cy = *y - c->y;
        if (cx >= 0 && cy >= 0 && cx < c->width && cy < c->height) {
            *x = cx;
            *y = cy;
            return HitTest(c, x, y);
        }
    }
    return window;
}

uint32_t ButtonMessage(const SDL_MouseButtonEvent& button) {
    const bool down = button.type == SDL_MOUSEBUTTONDOWN;
    if (button.button == SDL_BUTTON_LEFT) return down ? WM_LBUTTONDOWN : WM_LBUTTONUP;
    if (button.button == SDL_BUTTON_RIGHT) return down ? WM_RBUTTONDOWN : WM_RBUTTONUP;
    return 0;
}

void RouteMouse(uint32_t sdlId, uint32_t messageId, int x, int y) {
    OsWindow* top = TopLevelBySdlId(sdlId);
    if (!top || messageId == 0) return;
    int ox = 0;
    int oy = 0;
    GetClientOriginInSdlWindow(top, &ox, &oy);
    Message m;
    m.id = messageId;
    m.x = x - ox;
    m.y = y - oy;
    OsWindow* target = HitTest(top, &m.x, &m.y);
    Send(target, m);
}

void SendClose(OsWindow* window) {
    if (!window) return;
    Message close;
    close.id = WM_CLOSE;
    Send(window, close);
}

void HandleWindowEvent(const SDL_WindowEvent& event) {
    OsWindow* top = TopLevelBySdlId(event.windowID);
    if (!top) return;
    int width = 0;
    int height = 0;
    SDL_GetWindowSize(top->sdl.get(), &width, &height);
    switch (event.event) {
    case SDL_WINDOWEVENT_SIZE_CHANGED:
        ClientAreaChanged(top, width, height, false);
        break;
    case SDL_WINDOWEVENT_MINIMIZED:
    case SDL_WINDOWEVENT_MAXIMIZED:
    case SDL_WINDOWEVENT_RESTORED:
        ClientAreaChanged(top, width, height, true);
        break;
    case SDL_WINDOWEVENT_EXPOSED:
        InvalidateTree(top);
        break;
    case SDL_WINDOWEVENT_CLOSE:
        SendClose(top);
        break;
    default:
        break;
    }
}

// A quit request (SIGTERM, SIGINT, the session ending) asks every top-level window to close, as
// the close button would.
void HandleQuit() {
    std::vector<OsWindow*> tops;
    for (auto& w : gWindows)
        if (!w->parent) tops.push_back(w.get());
    for (OsWindow* top : tops)
        if (Live(top)) SendClose(top);
}

void Dispatch(SDL_Event* event) {
    switch (event->type) {
    case SDL_QUIT:
        HandleQuit();
        break;
    case SDL_WINDOWEVENT:
        HandleWindowEvent(event->window);
        break;
    case SDL_MOUSEMOTION:
        TakeLatestMove(event);
        RouteMouse(event->motion.windowID, WM_MOUSEMOVE, event->motion.x, event->motion.y);
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        RouteMouse(event->button.windowID, ButtonMessage(event->button), event->button.x,
                   event->button.y);
        break;
    case SDL_DROPFILE:
    case SDL_DROPTEXT:
        SDL_free(event->drop.file); // drops are not taken yet, but their text is ours to free
        break;
    default:
        break;
    }
}

OsWindow* FirstPendingPaint(OsWindow* window) {
    if (window->paintPending) return window;
    for (OsWindow* child : window->children)
        if (OsWindow* found = FirstPendingPaint(child)) return found;
    return nullptr;
}

// One WM_PAINT per call: a top-level window before its children, in creation order.
bool DeliverPaint() {
    for (auto& w : gWindows) {
        if (w->parent) continue;
        if (OsWindow* target = FirstPendingPaint(w.get())) {
            target->paintPending = false;
            Message paint;
            paint.id = WM_PAINT;
            Send(target, paint);
            return true;
        }
    }
    return false;
}

// One tick of the most overdue timer. It re-arms one interval after its deadline, or one
// interval from now if it is already that late, so ticks missed during a stall never queue up.
bool DeliverTimer() {
    const uint64_t now = SDL_GetTicks64();
    Timer* due = nullptr;
    for (Timer& t : gTimers)
        if (t.deadline <= now && (!due || t.deadline < due->deadline)) due = &t;
    if (!due) return false;
    const uint64_t next = due->deadline + due->interval;
    due->deadline = next > now ? next : now + due->interval;
    OsWindow* window = due->window;
    Message tick;
    tick.id = WM_TIMER;
    tick.timerId = due->id;
    Send(window, tick);
    return true;
}

// How long the loop may sleep: until the nearest deadline, or for good without timers.
int WaitTimeout() {
    if (gTimers.empty()) return -1;
    const uint64_t now = SDL_GetTicks64();
    uint64_t nearest = UINT64_MAX;
    for (const Timer& t : gTimers)
        nearest = std::min(nearest, t.deadline);
    if (nearest <= now) return 0;
    return static_cast<int>(std::min<uint64_t>(nearest - now, INT_MAX));
}

} // namespace

int RunMessageLoop() {
    if (!SDL_WasInit(SDL_INIT_EVENTS) && SDL_InitSubSystem(SDL_INIT_EVENTS) != 0) return 0;
    SDL_Event event;
    while (!gQuitPosted) {
        // Input and window events first; then paints; a timer ticks only when nothing else waits.
        if (SDL_PollEvent(&event)) {
            Dispatch(&event);
        } else if (!DeliverPaint() && !DeliverTimer()) {
            if (SDL_WaitEventTimeout(&event, WaitTimeout())) Dispatch(&event);
        }
    }
    gQuitPosted = false;
    return gQuitCode;
}

std::string ExecutableFolder() {
    // /proc/self/exe names the executable with every link resolved.
    std::string path(256, '\0');
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
        if (n < 0) return std::string();
        if (static_cast<size_t>(n) < path.size()) {
            path.resize(static_cast<size_t>(n));
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
