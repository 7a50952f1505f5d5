#include "app/view_input.h"

#include "app/startup.h"
#include "render/frame_render.h"

intptr_t GlCtrlSubclassProc(WindowHandle window, const Message& message) {
    if (message.id == WM_PAINT) RenderFrame();
    return CallWindowProc(gGlCtrlOldProc, window, message);
}
