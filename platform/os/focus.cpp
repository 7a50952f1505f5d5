// The keyboard focus and the keys: SDL's key events become WM_KEYDOWN with a virtual-key code, sent
// to the one window that has the focus.
#include "platform/os/window_tree.h"

namespace {

OsWindow* gFocus = nullptr;

} // namespace

uint32_t VirtualKeyFromSdl(int32_t sdlKey) {
    switch (sdlKey) {
    case SDLK_PAGEUP:
        return VK_PRIOR;
    case SDLK_PAGEDOWN:
        return VK_NEXT;
    case SDLK_END:
        return VK_END;
    case SDLK_HOME:
        return VK_HOME;
    case SDLK_LEFT:
        return VK_LEFT;
    case SDLK_UP:
        return VK_UP;
    case SDLK_RIGHT:
        return VK_RIGHT;
    case SDLK_DOWN:
        return VK_DOWN;
    case SDLK_l:
        return VK_L;
    default:
        return 0;
    }
}

WindowHandle SetFocus(WindowHandle window) {
    OsWindow* next = Live(window);
    if (window && !next) return nullptr; // a window that is gone takes nothing, changes nothing
    OsWindow* previous = Live(gFocus);
    if (next == previous) return previous;
    gFocus = next;
    if (previous) {
        Message kill;
        kill.id = WM_KILLFOCUS;
        kill.control = next;
        Send(previous, kill);
    }
    // The window that lost the focus may have handed it on meanwhile; then that stands.
    if (next && gFocus == next && Live(next)) {
        Message set;
        set.id = WM_SETFOCUS;
        set.control = Live(previous);
        Send(next, set);
    }
    return previous;
}

WindowHandle GetFocus() {
    return Live(gFocus);
}

void ForgetFocusOf(const OsWindow* window) {
    if (gFocus == window) gFocus = nullptr;
}

void KeyPressed(uint32_t sdlId, int32_t sdlKey) {
    OsWindow* focus = Live(gFocus);
    const uint32_t key = VirtualKeyFromSdl(sdlKey);
    if (!focus || key == 0) return;
    // Keys typed into another of the program's top-level windows are not this window's.
    if (sdlId != 0 && TopLevelOf(focus)->sdlId != sdlId) return;
    Message m;
    m.id = WM_KEYDOWN;
    m.key = key;
    // A letter is a command of the whole window, whichever control holds the focus.
    const bool letter = key >= 'A' && key <= 'Z';
    Send(letter ? TopLevelOf(focus) : focus, m);
}
