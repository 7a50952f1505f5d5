// The main window's procedure: draw a frame, follow a size change, release everything at the end.
#pragma once

#include "platform/os/window.h"

intptr_t MainWndProc(WindowHandle window, const Message& message);
// Paints nothing into the window itself: the frame goes into the view.
void PaintMainWindow(WindowHandle window);
// Full screen shows the view alone on the whole monitor; toggling again, or leaving, gives the
// window back as it was.
void ToggleFullScreen();
void LeaveFullScreen();
