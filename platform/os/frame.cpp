// A frame drawn by the program instead of the desktop: the client area moves in by the frame's
// insets, and SDL's hit test lets the desktop move the window by its caption and resize it by its
// edges, as it would with its own decorations.
#include "platform/os/window_tree.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace {

constexpr uint64_t kDoubleClickMs = 500;
constexpr int kDoubleClickSlop = 4; // pixels the pointer may move between the two presses

SDL_HitTestResult ToSdl(HitRegion region) {
    switch (region) {
    case HitRegion::Caption:
        return SDL_HITTEST_DRAGGABLE;
    case HitRegion::Left:
        return SDL_HITTEST_RESIZE_LEFT;
    case HitRegion::Right:
        return SDL_HITTEST_RESIZE_RIGHT;
    case HitRegion::Top:
        return SDL_HITTEST_RESIZE_TOP;
    case HitRegion::Bottom:
        return SDL_HITTEST_RESIZE_BOTTOM;
    case HitRegion::TopLeft:
        return SDL_HITTEST_RESIZE_TOPLEFT;
    case HitRegion::TopRight:
        return SDL_HITTEST_RESIZE_TOPRIGHT;
    case HitRegion::BottomLeft:
        return SDL_HITTEST_RESIZE_BOTTOMLEFT;
    case HitRegion::BottomRight:
        return SDL_HITTEST_RESIZE_BOTTOMRIGHT;
    default:
        return SDL_HITTEST_NORMAL; // the client area, the buttons and the rest of the frame
    }
}

HitRegion RegionAt(OsWindow* top, int x, int y) {
    int width = 0;
    int height = 0;
    SDL_GetWindowSize(top->sdl.get(), &width, &height);
    return FrameHitTest(top->frame, width, height, GetWindowMode(top) == WindowMode::Normal, x, y);
}

// SDL asks at any time what lies under a point of the window (at presses, at releases, on some
// versions at every motion): an answer, and where the pointer is, but no press. The presses are
// told apart elsewhere (FramePressed, caption_presses.cpp).
SDL_HitTestResult SdlHitTest(SDL_Window*, const SDL_Point* point, void* data) {
    OsWindow* top = Live(static_cast<WindowHandle>(data));
    if (!top || !top->ownFrame) return SDL_HITTEST_NORMAL;
    PointerSeenAt(top, point->x, point->y);
    // While a press the program was told of is held, this is its release (or a motion of its
    // drag): it belongs to the program, wherever it happens, or its drag would never end.
    if (SDL_GetMouseState(nullptr, nullptr) != 0) return SDL_HITTEST_NORMAL;
    return ToSdl(RegionAt(top, point->x, point->y));
}

} // namespace

HitRegion FrameHitTest(const FrameGeometry& frame, int width, int height, bool resizable, int x,
                       int y) {
    const FrameInsets& in = frame.insets;
    const WindowRect client{in.left, in.top, width - in.left - in.right,
                            height - in.top - in.bottom};
    if (client.Contains(x, y)) return HitRegion::Client;
    if (x < 0 || y < 0 || x >= width || y >= height) return HitRegion::Frame;
    for (WindowRect button : frame.buttons) {
        if (button.x < 0) button.x += width;
        if (button.Contains(x, y)) return HitRegion::Button;
    }
    if (resizable) {
        const int b = frame.resizeBorder;
        const int c = std::max(frame.cornerLength, b);
        const bool left = x < b, right = x >= width - b, top = y < b, bottom = y >= height - b;
        const bool nearLeft = x < c, nearRight = x >= width - c;
        const bool nearTop = y < c, nearBottom = y >= height - c;
        if ((top && nearLeft) || (left && nearTop)) return HitRegion::TopLeft;
        if ((top && nearRight) || (right && nearTop)) return HitRegion::TopRight;
        if ((bottom && nearLeft) || (left && nearBottom)) return HitRegion::BottomLeft;
        if ((bottom && nearRight) || (right && nearBottom)) return HitRegion::BottomRight;
        if (left) return HitRegion::Left;
        if (right) return HitRegion::Right;
        if (top) return HitRegion::Top;
        if (bottom) return HitRegion::Bottom;
    }
    return y < in.top ? HitRegion::Caption : HitRegion::Frame;
}

bool IsSecondClick(ClickRecord* last, const void* target, int x, int y, uint64_t now) {
    const bool second =
        last->at != 0 && last->target == target && now - last->at <= kDoubleClickMs &&
        std::abs(x - last->x) <= kDoubleClickSlop && std::abs(y - last->y) <= kDoubleClickSlop;
    *last = {target, second ? 0 : now, x, y};
    return second;
}

void SetOwnFrame(WindowHandle window, const FrameGeometry& frame, WindowProc frameProc) {
    OsWindow* top = Live(window);
    if (!top || top->parent) return;
    SDL_Window* sdl = top->sdl.get();
    top->ownFrame = true;
    top->frameSuspended = false;
    top->frame = frame;
    top->frameProc = frameProc;
    const FrameInsets& in = frame.insets;
    const int width = top->width + in.left + in.right;
    const int height = top->height + in.top + in.bottom;
    SDL_SetWindowBordered(sdl, SDL_FALSE);
    SDL_SetWindowSize(sdl, width, height);
    if (!top->shown) {
        // The whole window is centred, frame included, and never starts off the screen.
        SDL_Rect screen{0, 0, 0, 0};
        SDL_GetDisplayBounds(std::max(0, SDL_GetWindowDisplayIndex(sdl)), &screen);
        SDL_SetWindowPosition(sdl, screen.x + std::max(0, (screen.w - width) / 2),
                              screen.y + std::max(0, (screen.h - height) / 2));
    }
    SDL_SetWindowHitTest(sdl, SdlHitTest, top);
    WatchCaptionPresses(top);
    UpdateMinimumSize(top); // the frame adds to the smallest size
    SdlWindowResized(top, width, height, false);
}

FrameInsets GetFrameInsets(WindowHandle window) {
    OsWindow* top = TopLevelOf(Live(window));
    return top ? top->frame.insets : FrameInsets{};
}

bool IsOwnFrameShown(WindowHandle window) {
    OsWindow* top = TopLevelOf(Live(window));
    return top && top->ownFrame;
}

// A suspended frame keeps its geometry aside, and the window has no frame meanwhile: no insets,
// no caption or edges for the desktop, no WM_NC* messages. The client area follows at once.
void SetFrameSuspended(OsWindow* top, bool suspend) {
    if (suspend)
        top->suspendedFrame = std::exchange(top->frame, FrameGeometry{});
    else
        top->frame = std::exchange(top->suspendedFrame, FrameGeometry{});
    top->ownFrame = !suspend;
    top->frameSuspended = suspend;
    top->pointerInFrame = false;
    UpdateMinimumSize(top);
    int width = 0;
    int height = 0;
    SDL_GetWindowSize(top->sdl.get(), &width, &height);
    SdlWindowResized(top, width, height, false);
}

void SuspendOwnFrame(WindowHandle window) {
    OsWindow* top = Live(window);
    if (top && !top->parent && top->ownFrame) SetFrameSuspended(top, true);
}

void ResumeOwnFrame(WindowHandle window) {
    OsWindow* top = Live(window);
    if (top && !top->parent && top->frameSuspended) SetFrameSuspended(top, false);
}

void FramePressed(OsWindow* top) {
    if (top->pointerInside)
        CaptionPressedAt(top, top->pointerX, top->pointerY);
    else
        top->captionClick = {};
}

void CaptionPressedAt(OsWindow* top, int x, int y) {
    if (!top->ownFrame || RegionAt(top, x, y) != HitRegion::Caption) {
        top->captionClick = {};
        return;
    }
    if (!IsSecondClick(&top->captionClick, top, x, y, SDL_GetTicks64())) return;
    CancelDesktopMove(top);
    SetWindowMode(top, GetWindowMode(top) == WindowMode::Maximised ? WindowMode::Normal
                                                                   : WindowMode::Maximised);
}
