// The view's subclass: dragging with the left button turns and tilts the scene, with the right
// button shifts it; a frame is drawn whenever the view must be repainted and at every step of a
// drag. Every message is then handed on to the view's own procedure.
#pragma once

#include "platform/os/window.h"

#include <cstdint>

struct Point32 {
    int32_t x, y;
};

// One record for both buttons: the press point and the two view values saved with it (for a left
// drag gTilt and gTurn, for a right drag gPanX and gPanY).
struct DragAnchor {
    Point32 press;
    float saved[2];
};

extern DragAnchor gDragAnchor;
extern int32_t gLeftDrag;  // non-zero while a left drag runs
extern int32_t gRightDrag; // non-zero while a right drag runs
extern Point32 gLeftLastPos;
extern Point32 gRightLastPos;

intptr_t GlCtrlSubclassProc(WindowHandle window, const Message& message);
