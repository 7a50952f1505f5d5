// A wallpaper on X11: a window of the desktop's type, which window managers that follow the
// desktop conventions keep below every other window, on every workspace and out of the taskbar.
// Its input shape is empty, so presses, moves and drops go to whatever lies under it.
#include "platform/os/wallpaper.h"

#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>

namespace {

void SetAtoms(Display* d, Window w, const char* property, const char* const* names, int count) {
    Atom atoms[8];
    for (int i = 0; i < count; ++i)
        atoms[i] = XInternAtom(d, names[i], False);
    XChangeProperty(d, w, XInternAtom(d, property, False), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(atoms), count);
}

// The window never asks for the keyboard: a click on the desktop leaves it where it was.
void RefuseKeyboard(Display* d, Window w) {
    XWMHints* hints = XGetWMHints(d, w);
    if (!hints) hints = XAllocWMHints();
    if (!hints) return;
    hints->flags |= InputHint;
    hints->input = False;
    XSetWMHints(d, w, hints);
    XFree(hints);
}

} // namespace

bool MakeDesktopWindow(OsWindow* top) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(top->sdl.get(), &info) || info.subsystem != SDL_SYSWM_X11)
        return false;
    Display* d = info.info.x11.display;
    const Window w = info.info.x11.window;
    const char* type[] = {"_NET_WM_WINDOW_TYPE_DESKTOP"};
    SetAtoms(d, w, "_NET_WM_WINDOW_TYPE", type, 1);
    // What the desktop type implies, said too for managers that read only the states.
    const char* states[] = {"_NET_WM_STATE_BELOW", "_NET_WM_STATE_STICKY",
                            "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"};
    SetAtoms(d, w, "_NET_WM_STATE", states, 4);
    const long everyWorkspace = 0xFFFFFFFF;
    XChangeProperty(d, w, XInternAtom(d, "_NET_WM_DESKTOP", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(&everyWorkspace), 1);
    RefuseKeyboard(d, w);
    int eventBase = 0;
    int errorBase = 0;
    if (XShapeQueryExtension(d, &eventBase, &errorBase))
        XShapeCombineRectangles(d, w, ShapeInput, 0, 0, nullptr, 0, ShapeSet, Unsorted);
    XFlush(d);
    return true;
}
