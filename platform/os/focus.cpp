// The keyboard focus and the keys: SDL's key events become WM_KEYDOWN with a virtual-key code, sent
// to the one window that has the focus; the keys that act on the window go to its top-level window.
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
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
        return VK_RETURN;
    case SDLK_ESCAPE:
        return VK_ESCAPE;
    case SDLK_F11:
        return VK_F11;
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

// Keys that act on the whole window rather than on a control (F11, Esc, a letter, any key with
// Alt): whatever has the focus, its top-level window hears them, as the desktop's own window keys
// would reach the window.
bool IsWindowKey(uint32_t key, bool alt) {
    const bool letter = key >= 'A' && key <= 'Z';
    return alt || letter || key == VK_F11 || key == VK_ESCAPE;
}

void KeyPressed(uint32_t sdlId, int32_t sdlKey, bool alt, bool repeat) {
    OsWindow* focus = Live(gFocus);
    const uint32_t key = VirtualKeyFromSdl(sdlKey);
    if (key == 0) return;
    // A held key repeats. The slider's keys go on stepping it, but the window's keys switch
    // something (listening, full screen) and act once per press: a held L must not flicker.
    if (repeat && IsWindowKey(key, alt)) return;
    // Keys typed into another of the program's top-level windows are not this window's.
    if (focus && sdlId != 0 && TopLevelOf(focus)->sdlId != sdlId) return;
    OsWindow* target = focus;
    if (IsWindowKey(key, alt)) target = focus ? TopLevelOf(focus) : TopLevelBySdlId(sdlId);
    if (!target) return;
    Message m;
    m.id = alt ? WM_SYSKEYDOWN : WM_KEYDOWN;
    m.key = key;
    Send(target, m);
}
