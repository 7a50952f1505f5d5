#include "app/main_window.h"

#include "app/startup.h"
#include "audio/playback.h"
#include "render/frame_render.h"
#include "render/gl_setup.h"
#include "render/projection.h"
#include "scene/frame_clock.h"

void PaintMainWindow(WindowHandle) {
    RenderFrame();
}

intptr_t MainWndProc(WindowHandle window, const Message& message) {
    switch (message.id) {
    case WM_SIZE:
        ResizeView(gGlCtrl);
        RenderFrame();
        break;
    case WM_CLOSE:
        FreeChannel(); // the sound stops before the window goes
        break;
    case WM_TIMER:
        // The only place the frame step is measured; every other frame reuses it.
        gFrameStep = FrameClockElapsed();
        RenderFrame();
        return 0;
    case WM_PAINT:
        PaintMainWindow(window);
        return 0;
    case WM_DESTROY:
        QI_DeleteGLFont(&gGlFont);
        QI_DestroyTexture(&gTextures[0], kTextureCount);
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProc(window, message);
}
