// The view's subclass: draws a frame whenever the view must be repainted, then hands every message
// on to the view's own procedure.
#pragma once

#include "platform/os/window.h"

intptr_t GlCtrlSubclassProc(WindowHandle window, const Message& message);
