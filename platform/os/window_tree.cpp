// The tree of windows: the top-level window over its SDL window, children as rectangles of its
// client area, child classes and subclassing, per-window attachments, creation and destruction.
#include "platform/os/window_tree.h"

#include "platform/os/controls.h"

#include <algorithm>
#include <map>
#include <string>
#include <utility>

namespace {

struct ChildClass {
    WindowProc proc;
    uint32_t style;
};
// The common controls' classes are there from the start, as the desktop's common controls are
// for any program; the classes of the skin and of the view join them when those start.
std::map<std::string, ChildClass> gClasses = {
    {kStaticClass, {LabelProc, 0}},
    {kTrackbarClass, {TrackbarProc, 0}},
};

void Forget(OsWindow* window) {
    if (window->parent) std::erase(window->parent->children, window);
    std::erase_if(AllWindows(), [window](const auto& w) { return w.get() == window; });
}

// The attachments go in reverse slot order: a view's framebuffer before the context it lives in.
void ReleaseAttachments(OsWindow* window) {
    for (auto slot = window->attachments.rbegin(); slot != window->attachments.rend(); ++slot)
        slot->reset();
}

} // namespace

std::vector<std::unique_ptr<OsWindow>>& AllWindows() {
    // Never destroyed: its windows hold SDL windows, which must not be touched once the program
    // has begun to exit.
    static auto* windows = new std::vector<std::unique_ptr<OsWindow>>;
    return *windows;
}

OsWindow* Live(WindowHandle window) {
    if (!window) return nullptr;
    for (auto& w : AllWindows())
        if (w.get() == window) return w.get();
    return nullptr;
}

OsWindow* TopLevelOf(OsWindow* window) {
    while (window && window->parent)
        window = window->parent;
    return window;
}

OsWindow* TopLevelBySdlId(uint32_t sdlId) {
    for (auto& w : AllWindows())
        if (!w->parent && w->sdlId == sdlId) return w.get();
    return nullptr;
}

intptr_t Send(OsWindow* window, const Message& message) {
    return window->proc ? window->proc(window, message) : 0;
}

void InvalidateTree(OsWindow* window) {
    window->paintPending = true;
    for (OsWindow* child : window->children)
        InvalidateTree(child);
}

bool IsWindow(WindowHandle window) {
    return Live(window) != nullptr;
}

WindowHandle GetTopLevelWindow(WindowHandle window) {
    return TopLevelOf(Live(window));
}

SDL_Window* GetSdlWindow(WindowHandle window) {
    OsWindow* top = TopLevelOf(Live(window));
    return top ? top->sdl.get() : nullptr;
}

void GetClientOriginInSdlWindow(WindowHandle window, int* x, int* y) {
    const WindowRect r = ClientRectInSdlWindow(Live(window));
    *x = r.x;
    *y = r.y;
}

WindowRect ClientRectInSdlWindow(OsWindow* window) {
    WindowRect r;
    if (!window) return r;
    r.width = window->width;
    r.height = window->height;
    OsWindow* w = window;
    for (; w->parent; w = w->parent) {
        r.x += w->x;
        r.y += w->y;
    }
    r.x += w->frame.insets.left;
    r.y += w->frame.insets.top;
    return r;
}

void SetWindowAttachment(WindowHandle window, AttachmentSlot slot,
                         std::unique_ptr<WindowAttachment> attachment) {
    if (OsWindow* w = Live(window))
        w->attachments[static_cast<size_t>(slot)] = std::move(attachment);
}

WindowAttachment* GetWindowAttachment(WindowHandle window, AttachmentSlot slot) {
    OsWindow* w = Live(window);
    return w ? w->attachments[static_cast<size_t>(slot)].get() : nullptr;
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
    UpdateDropSupport(); // a new window takes no drops until it asks for them
    std::unique_ptr<SDL_Window, SdlWindowDeleter> sdl(
        SDL_CreateWindow(title ? title : "", x, y, clientWidth, clientHeight, flags));
    if (!sdl) return nullptr;

    auto window = std::make_unique<OsWindow>();
    OsWindow* top = window.get();
    top->proc = proc;
    top->text = title ? title : "";
    top->sdlId = SDL_GetWindowID(sdl.get());
    top->sdl = std::move(sdl);
    AllWindows().push_back(std::move(window));
    int width = 0;
    int height = 0;
    SDL_GetWindowSize(top->sdl.get(), &width, &height);
    top->width = width;
    top->height = height;
    SdlWindowResized(top, width, height, false);
    return top;
}

bool RegisterChildClass(const char* className, WindowProc proc, uint32_t style) {
    if (!className || !*className || !proc) return false;
    auto [it, added] = gClasses.emplace(className, ChildClass{proc, style});
    // Registering the same class again is harmless.
    return added || (it->second.proc == proc && it->second.style == style);
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
    child->proc = cls->second.proc;
    child->classStyle = cls->second.style;
    child->parent = p;
    child->id = id;
    child->x = x;
    child->y = y;
    child->width = std::max(0, width);
    child->height = std::max(0, height);
    child->paintPending = true;
    AllWindows().push_back(std::move(owned));
    p->children.push_back(child);

    Message create;
    create.id = WM_CREATE;
    if (Send(child, create) == -1 && Live(child)) {
        // A refusing class procedure cleans up after itself; only its attachments are left.
        ReleaseAttachments(child);
        Forget(child);
        return nullptr;
    }
    if (!Live(child)) return nullptr;
    InvalidateChrome(child);
    return child;
}

void PlaceChildAtBottom(WindowHandle child) {
    OsWindow* c = Live(child);
    if (!c || !c->parent) return;
    std::vector<OsWindow*>& siblings = c->parent->children;
    std::erase(siblings, c);
    siblings.insert(siblings.begin(), c);
    InvalidateChrome(c);
}

int GetChildId(WindowHandle window) {
    OsWindow* w = Live(window);
    return w ? w->id : 0;
}

WindowHandle FindChild(WindowHandle parent, int id) {
    OsWindow* p = Live(parent);
    if (!p) return nullptr;
    for (OsWindow* child : p->children)
        if (child->id == id) return child;
    return nullptr;
}

void SetWindowText(WindowHandle window, const char* text) {
    OsWindow* w = Live(window);
    if (!w) return;
    w->text = text ? text : "";
    if (w->sdl) {
        SDL_SetWindowTitle(w->sdl.get(), w->text.c_str());
        ShowTitleToWindowManager(w->sdl.get(), w->text.c_str());
    }
    InvalidateChrome(w);
}

std::string GetWindowText(WindowHandle window) {
    OsWindow* w = Live(window);
    return w ? w->text : std::string();
}

intptr_t SendMessage(WindowHandle window, uint32_t id, intptr_t wParam, intptr_t lParam) {
    OsWindow* w = Live(window);
    if (!w) return 0;
    Message m;
    m.id = id;
    m.wParam = wParam;
    m.lParam = lParam;
    return Send(w, m);
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
    InvalidateChrome(w);
    while (!w->children.empty())
        DestroyWindow(w->children.back());
    Message destroy;
    destroy.id = WM_DESTROY;
    Send(w, destroy);
    w->layer.reset(); // a surface of its own goes before the GL context that drew into it
    ReleaseAttachments(w);
    RemoveTimersOf(w);
    ForgetFocusOf(w);
    ForgetCaptureOf(w);
    OsWindow* parent = w->parent;
    if (parent && parent->fullScreenChild == w) parent->fullScreenChild = nullptr;
    const bool constrained = w->anchor != 0 || w->acceptsFiles;
    Forget(w);
    if (!constrained) return;
    UpdateDropSupport();
    if (parent && !parent->parent && !parent->destroying) UpdateMinimumSize(parent);
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

void ShowMainWindow(WindowHandle window, WindowMode mode, int monitor) {
    OsWindow* w = Live(window);
    if (!w || w->parent) return;
    if (mode == WindowMode::Wallpaper) {
        ShowAsWallpaper(w, monitor);
        return;
    }
    // Centred on the monitor asked for, where full screen then covers it.
    if (monitor >= 0 && monitor < CountMonitors())
        SDL_SetWindowPosition(w->sdl.get(), SDL_WINDOWPOS_CENTERED_DISPLAY(monitor),
                              SDL_WINDOWPOS_CENTERED_DISPLAY(monitor));
    // Full screen is asked for before the window maps, so that it never shows framed first.
    if (mode == WindowMode::FullScreen) SetWindowMode(w, mode);
    SDL_ShowWindow(w->sdl.get());
    SDL_RaiseWindow(w->sdl.get());
    AnnounceFirstShowing(w);
}

void AnnounceFirstShowing(OsWindow* top) {
    // As on the desktop the program was designed for, the first showing tells the window its
    // size, so it can set up its view before the first frame.
    if (std::exchange(top->shown, true)) return;
    int width = 0;
    int height = 0;
    SDL_GetWindowSize(top->sdl.get(), &width, &height);
    SdlWindowResized(top, width, height, true);
}

void InvalidateWindow(WindowHandle window) {
    if (OsWindow* w = Live(window)) w->paintPending = true;
}
