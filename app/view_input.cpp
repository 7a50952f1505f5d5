#include "app/view_input.h"

#include "app/main_window.h"
#include "app/startup.h"
#include "effects/vecmath.h"
#include "render/frame_render.h"
#include "scene/scene_init.h"

DragAnchor gDragAnchor;
int32_t gLeftDrag;
int32_t gRightDrag;
Point32 gLeftLastPos;
Point32 gRightLastPos;

namespace {

// A right drag across the whole view moves the scene by 45 / 12 = 3.75 units.
constexpr double kPanAcross = 45.0 / 12.0;

void TakeFocus(WindowHandle window) {
    if (GetFocus() != window) SetFocus(window);
}

// A second press while a drag is still marked (its release was missed) keeps the old anchor.
void StartDrag(int32_t& drag, const Message& m, float first, float second) {
    if (drag != 0) return;
    gDragAnchor = {{m.x, m.y}, {first, second}};
    drag = 1;
}

bool Moved(const Point32& last, int x, int y) {
    return last.x != x || last.y != y;
}

// Half a degree per pixel, measured from the press so that rounding does not add up.
void FollowLeftDrag(int x, int y) {
    if (QI_IsLButtonDown() != -1) {
        gLeftDrag = 0;
        return;
    }
    if (Moved(gLeftLastPos, x, y)) {
        if (gLeftDrag != 0) {
            gTurn = Stored(gDragAnchor.saved[1] + (x - gDragAnchor.press.x) / 2.0);
            gTilt = Stored(gDragAnchor.saved[0] + (y - gDragAnchor.press.y) / 2.0);
        }
        RenderFrame();
    }
    gLeftLastPos = {x, y};
}

// The shift per pixel follows the view's size. A view with no width or height (it cannot take
// a move then anyway) changes nothing rather than dividing by zero.
void FollowRightDrag(int x, int y) {
    if (QI_IsRButtonDown() != -1) {
        gRightDrag = 0;
        return;
    }
    if (Moved(gRightLastPos, x, y)) {
        int width = 0, height = 0;
        GetClientSize(gGlCtrl, &width, &height);
        if (gRightDrag != 0 && width > 0 && height > 0) {
            gPanX = Stored(gDragAnchor.saved[0] + kPanAcross * (x - gDragAnchor.press.x) / width);
            gPanY = Stored(gDragAnchor.saved[1] - kPanAcross * (y - gDragAnchor.press.y) / height);
        }
        RenderFrame();
    }
    gRightLastPos = {x, y};
}

} // namespace

intptr_t GlCtrlSubclassProc(WindowHandle window, const Message& message) {
    switch (message.id) {
    case WM_PAINT:
        RenderFrame();
        break;
    case WM_LBUTTONDOWN:
        StartDrag(gLeftDrag, message, gTilt, gTurn);
        TakeFocus(window);
        break;
    case WM_LBUTTONUP:
        gLeftDrag = 0;
        break;
    case WM_LBUTTONDBLCLK: // instead of a second press: no drag starts, the scene stays put
        ToggleFullScreen();
        break;
    case WM_RBUTTONDOWN:
        StartDrag(gRightDrag, message, gPanX, gPanY);
        TakeFocus(window);
        break;
    case WM_RBUTTONUP:
        gRightDrag = 0;
        break;
    case WM_MOUSEMOVE:
        FollowLeftDrag(message.x, message.y);
        FollowRightDrag(message.x, message.y);
        break;
    default:
        break;
    }
    return CallWindowProc(gGlCtrlOldProc, window, message);
}
