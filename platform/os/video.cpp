// SDL's video subsystem, started once with the hints this program's windows rely on; what the
// program does when the display goes away under it: a closed terminal, a window destroyed by
// another client, a connection to the X server or the Wayland compositor that breaks; and what it
// asks of an X11 desktop itself.
#include "platform/os/window_tree.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <wayland-client.h>

#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

// Without a display SDL falls back to drivers that draw nowhere. A window nobody can see is no
// window for this program, unless such a driver was asked for by name.
bool OnADisplay() {
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver) return false;
    if (SDL_strcmp(driver, "offscreen") != 0 && SDL_strcmp(driver, "dummy") != 0) return true;
    const char* asked = SDL_getenv("SDL_VIDEODRIVER");
    return asked && SDL_strcasecmp(asked, driver) == 0;
}

// --- A closed terminal
// ----------------------------------------------------------------------------

// SDL turns SIGINT and SIGTERM into a quit request; a hangup means the same to a program that has
// a window of its own. Raising SIGTERM hands it to SDL's handler, which only sets a flag.
void OnHangup(int) {
    raise(SIGTERM);
}

void EndOnHangup() {
    struct sigaction current {};
    if (sigaction(SIGHUP, nullptr, &current) != 0) return;
    // Started under nohup: the hangup is meant to pass unnoticed.
    if (current.sa_handler == SIG_IGN) return;
    struct sigaction action {};
    action.sa_handler = OnHangup;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGHUP, &action, nullptr);
}

// --- The X server
// ---------------------------------------------------------------------------------

// Windows of ours that another client destroyed. Every request on them fails from then on, until
// the program has let go of them, and each failure is expected.
constexpr int kMaxLostWindows = 8;
XID gLostWindows[kMaxLostWindows];
int gLostCount = 0;
bool gLostPosted = false;
XErrorHandler gPreviousErrorHandler = nullptr;

// What SDL tells of the window system under a window: false when it is not the one asked for.
bool WindowSystemInfo(SDL_Window* window, SDL_SYSWM_TYPE kind, SDL_SysWMinfo* info) {
    SDL_VERSION(&info->version);
    return window && SDL_GetWindowWMInfo(window, info) && info->subsystem == kind;
}

XID XWindowOf(SDL_Window* window) {
    SDL_SysWMinfo info;
    return WindowSystemInfo(window, SDL_SYSWM_X11, &info) ? info.info.x11.window : 0;
}

bool IsLost(XID window) {
    for (int i = 0; i < gLostCount; ++i)
        if (gLostWindows[i] == window) return true;
    return false;
}

OsWindow* TopLevelByXWindow(XID window) {
    for (auto& w : AllWindows())
        if (!w->parent && w->sdl && XWindowOf(w->sdl.get()) == window) return w.get();
    return nullptr;
}

// On the loop's thread: each top-level window that was destroyed under us is closed as though its
// close button had been pressed, so the program ends as it always does.
void CloseLostWindows(void*) {
    gLostPosted = false;
    std::vector<OsWindow*> lost;
    for (auto& w : AllWindows())
        if (!w->parent && w->sdl && IsLost(XWindowOf(w->sdl.get()))) lost.push_back(w.get());
    for (OsWindow* top : lost) {
        if (!Live(top)) continue;
        std::fprintf(stderr, "vormel: the window \"%s\" was destroyed by another program\n",
                     top->text.c_str());
        Message close;
        close.id = WM_CLOSE;
        Send(top, close);
    }
}

// Xlib reports errors from inside whatever call met them, so nothing here talks to the server:
// the loop closes the window later. A window destroyed under us shows as a core error naming it,
// or as an extension's own (GLX's GLXBadDrawable when the frame's swap is the first request to
// meet it), whichever request comes first.
int OnXError(Display* display, XErrorEvent* error) {
    const XID resource = error->resourceid;
    if (IsLost(resource)) return 0;
    const bool gone = error->error_code == BadWindow || error->error_code == BadDrawable ||
                      error->error_code >= FirstExtensionError;
    if (gone && TopLevelByXWindow(resource) && gLostCount < kMaxLostWindows) {
        gLostWindows[gLostCount++] = resource;
        if (!gLostPosted) gLostPosted = PostToLoop(CloseLostWindows, nullptr);
        return 0;
    }
    // A window that is not (or no longer) one of ours went away under a request that named it
    // (SDL asks about windows it has heard of in events): nothing of the program's went with it.
    if (error->error_code == BadWindow) return 0;
    return gPreviousErrorHandler ? gPreviousErrorHandler(display, error) : 0;
}

// The connection is gone (the server ended, or a client killed ours). Xlib cannot go on and would
// exit itself; ending here says why and skips the static destructors, none of which could reach
// the server now.
int OnDisplayLost(Display* display) {
    std::fprintf(stderr, "vormel: lost the connection to the display %s\n",
                 display ? DisplayString(display) : "");
    _exit(1);
}

void WatchTheXServer() {
    if (SDL_strcmp(SDL_GetCurrentVideoDriver(), "x11") != 0) return;
    gPreviousErrorHandler = XSetErrorHandler(OnXError);
    XSetIOErrorHandler(OnDisplayLost);
}

// --- A Wayland compositor ----------------------------------------------------------------------

// SDL turns a broken connection to the compositor into a quit request, which alone would end the
// program as a close does. The connection tells whether it broke.
bool WaylandConnectionBroken() {
    if (SDL_strcmp(SDL_GetCurrentVideoDriver(), "wayland") != 0) return false;
    for (auto& w : AllWindows()) {
        SDL_SysWMinfo info;
        if (!w->parent && WindowSystemInfo(w->sdl.get(), SDL_SYSWM_WAYLAND, &info))
            return wl_display_get_error(info.info.wl.display) != 0;
    }
    return false;
}

// libwayland says on stderr why it could not reach a compositor, and SDL asks it while it only
// probes for one (a session without Wayland has no XDG_RUNTIME_DIR, say). What the probe found is
// the program's to say, in one line, and libwayland's other messages stay.
bool gProbingWayland = false;

void WaylandLog(const char* format, va_list arguments) {
    if (!gProbingWayland) std::vfprintf(stderr, format, arguments);
}

} // namespace

bool WithoutWindowManager(OsWindow* top) {
    SDL_SysWMinfo info;
    if (!WindowSystemInfo(top->sdl.get(), SDL_SYSWM_X11, &info)) return false;
    Display* d = info.info.x11.display;
    const Atom check = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", True);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    const bool managed = check != None &&
                         XGetWindowProperty(d, DefaultRootWindow(d), check, 0, 1, False, XA_WINDOW,
                                            &type, &format, &count, &after, &data) == Success &&
                         count == 1;
    if (data) XFree(data);
    return !managed;
}

void CancelDesktopMove(OsWindow* top) {
    SDL_SysWMinfo info;
    if (!WindowSystemInfo(top->sdl.get(), SDL_SYSWM_X11, &info)) return;
    Display* d = info.info.x11.display;
    constexpr long kMoveResizeCancel = 11; // _NET_WM_MOVERESIZE_CANCEL
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = info.info.x11.window;
    event.xclient.message_type = XInternAtom(d, "_NET_WM_MOVERESIZE", False);
    event.xclient.format = 32;
    event.xclient.data.l[2] = kMoveResizeCancel;
    event.xclient.data.l[4] = 1; // a normal application
    XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask,
               &event);
    XFlush(d);
}

void EndIfDisplayLost() {
    if (!WaylandConnectionBroken()) return;
    const char* name = SDL_getenv("WAYLAND_DISPLAY");
    std::fprintf(stderr, "vormel: lost the connection to the display %s\n",
                 name && *name ? name : "wayland-0");
    _exit(1);
}

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
    // The window draws its own frame: on Wayland no decoration library is asked for one (it would
    // only say on standard error that it has no plugin to draw with).
    SDL_SetHint(SDL_HINT_VIDEO_WAYLAND_ALLOW_LIBDECOR, "0");
    wl_log_set_handler_client(WaylandLog);
    gProbingWayland = true;
    const bool started = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    gProbingWayland = false;
    if (!started) return false;
    if (!OnADisplay()) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    EndOnHangup();
    WatchTheXServer();
    return true;
}

// Window titles are UTF-8 (a source's description, "\u2014"). Under a locale that is not UTF-8 (a
// session without LANG) SDL leaves the name window managers show, _NET_WM_NAME, as it was; it is
// set here as it should be. The old WM_NAME keeps what SDL made of it.
void ShowTitleToWindowManager(SDL_Window* window, const char* title) {
    SDL_SysWMinfo info;
    if (!WindowSystemInfo(window, SDL_SYSWM_X11, &info)) return;
    Display* display = info.info.x11.display;
    const Atom name = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    XChangeProperty(display, info.info.x11.window, name, utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title),
                    static_cast<int>(std::strlen(title)));
    XFlush(display);
}
