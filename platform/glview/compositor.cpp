// Presenting a frame: the view's framebuffer and, around it, the chrome (the window's background,
// frame and controls) are copied into the window's back buffer, which is then swapped. Copies are
// framebuffer blits, one to one, so a frame costs the scene's own drawing and little more; only
// the few states a blit heeds are set, and they are put back, so the scene finds its state as it
// left it.
#include "platform/glview/frame_sink.h"
#include "platform/glview/glview_internal.h"
#include "platform/glview/porvane.h"
#include "platform/os/options.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace {

// What a blit heeds or composition binds, saved before and put back after.
struct SavedBlitState {
    GLint drawFramebuffer = 0;
    GLint readFramebuffer = 0;
    GLint texture = 0;
    GLint activeTexture = 0;
    GLboolean scissor = GL_FALSE;
    GLboolean colourMask[4] = {};
};

void Save(SavedBlitState* s) {
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &s->drawFramebuffer);
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &s->readFramebuffer);
    glGetIntegerv(GL_ACTIVE_TEXTURE, &s->activeTexture);
    gl.activeTexture(GL_TEXTURE0);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &s->texture);
    s->scissor = glIsEnabled(GL_SCISSOR_TEST);
    glGetBooleanv(GL_COLOR_WRITEMASK, s->colourMask);
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
}

void Restore(const SavedBlitState& s) {
    gl.bindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(s.drawFramebuffer));
    gl.bindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(s.readFramebuffer));
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(s.texture));
    gl.activeTexture(static_cast<GLenum>(s.activeTexture));
    if (s.scissor) glEnable(GL_SCISSOR_TEST);
    glColorMask(s.colourMask[0], s.colourMask[1], s.colourMask[2], s.colourMask[3]);
}

// Uploads what changed in the chrome (all of it at a new size); its rows are stored top first,
// in cairo's native byte order, which is BGRA on the machines this runs on.
void UploadChrome(GlContext* context, const ChromeLayer& layer, const WindowRect& changed) {
    PixelTransferScope pixels;
    glPixelStorei(GL_UNPACK_ROW_LENGTH, layer.stride / 4);
    if (layer.width != context->chromeWidth || layer.height != context->chromeHeight) {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, layer.width, layer.height, 0, GL_BGRA,
                     GL_UNSIGNED_INT_8_8_8_8_REV, layer.pixels);
        context->chromeWidth = layer.width;
        context->chromeHeight = layer.height;
    } else if (changed.width > 0 && changed.height > 0) {
        glPixelStorei(GL_UNPACK_SKIP_PIXELS, changed.x);
        glPixelStorei(GL_UNPACK_SKIP_ROWS, changed.y);
        glTexSubImage2D(GL_TEXTURE_2D, 0, changed.x, changed.y, changed.width, changed.height,
                        GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, layer.pixels);
    }
}

// The chrome's texture, brought up to date, with a framebuffer to blit from; false without one.
bool PrepareChrome(GlContext* context, WindowHandle top) {
    ChromeLayer layer;
    WindowRect changed;
    if (!UpdateChrome(top, &layer, &changed)) return false;
    if (!context->chromeTexture) {
        glGenTextures(1, &context->chromeTexture);
        glBindTexture(GL_TEXTURE_2D, context->chromeTexture);
        SetPixelCopyParameters();
    }
    glBindTexture(GL_TEXTURE_2D, context->chromeTexture);
    const bool resized =
        layer.width != context->chromeWidth || layer.height != context->chromeHeight;
    UploadChrome(context, layer, changed);
    if (!context->chromeFramebuffer) gl.genFramebuffers(1, &context->chromeFramebuffer);
    if (resized) {
        gl.bindFramebuffer(GL_READ_FRAMEBUFFER, context->chromeFramebuffer);
        gl.framebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D,
                                context->chromeTexture, 0);
    }
    return true;
}

// A rectangle of the chrome (window pixels, y downwards) to the same place in the back buffer of
// a window height pixels high, whose rows count upwards: the copy turns it over.
void BlitChrome(const WindowRect& r, int height) {
    if (r.width <= 0 || r.height <= 0) return;
    gl.blitFramebuffer(r.x, r.y, r.x + r.width, r.y + r.height, r.x, height - r.y, r.x + r.width,
                       height - r.y - r.height, GL_COLOR_BUFFER_BIT, GL_NEAREST);
}

// The chrome around the view: four strips, so no pixel is copied twice.
void BlitChromeAround(GlContext* context, const WindowRect& view, int width, int height) {
    gl.bindFramebuffer(GL_READ_FRAMEBUFFER, context->chromeFramebuffer);
    const int w = std::min(width, context->chromeWidth);
    const int h = std::min(height, context->chromeHeight);
    const int top = std::clamp(view.y, 0, h);
    const int bottom = std::clamp(view.y + view.height, top, h);
    const int left = std::clamp(view.x, 0, w);
    const int right = std::clamp(view.x + view.width, left, w);
    BlitChrome({0, 0, w, top}, height);
    BlitChrome({0, bottom, w, h - bottom}, height);
    BlitChrome({0, top, left, bottom - top}, height);
    BlitChrome({right, top, w - right, bottom - top}, height);
}

// The view's picture occupies the lower-left width x height texels of its framebuffer; it lands
// with its top row at the top of the view's rectangle.
void BlitView(const ViewFramebuffer& fb, const WindowRect& view, int height) {
    if (view.width <= 0 || view.height <= 0) return;
    gl.bindFramebuffer(GL_READ_FRAMEBUFFER, fb.framebuffer);
    const int bottom = height - view.y - view.height;
    gl.blitFramebuffer(0, 0, view.width, view.height, view.x, bottom, view.x + view.width,
                       bottom + view.height, GL_COLOR_BUFFER_BIT, GL_NEAREST);
}

WindowRect ViewRect(const ViewFramebuffer& fb, WindowHandle view) {
    WindowRect r;
    GetClientOriginInSdlWindow(view, &r.x, &r.y);
    ViewPictureSize(view, fb, &r.width, &r.height);
    return r;
}

// Asked for, the first frame says how long after the program's start it reached the screen, so
// that start-up can be timed from outside, and every second says how many frames it presented.
void ReportFrames() {
    const PlatformOptions& options = GetPlatformOptions();
    if (!options.glInfo) return;
    using Clock = std::chrono::steady_clock;
    static long long frames = 0;
    static Clock::time_point secondStart{};
    const Clock::time_point now = Clock::now();
    if (secondStart == Clock::time_point{}) {
        const std::chrono::duration<double, std::milli> since = now - options.started;
        std::fprintf(stderr, "vormel: first frame presented %.1f ms after start\n", since.count());
        secondStart = now;
    }
    if (now - secondStart >= std::chrono::seconds(1)) {
        std::fprintf(stderr, "vormel: %lld frames presented in a second\n", frames);
        frames = 0;
        secondStart = now;
    }
    ++frames;
}

void KeepFrame(GlContext* context, int width, int height) {
    PixelImage& frame = context->frame;
    frame.width = width;
    frame.height = height;
    frame.rgba.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    gl.bindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    PixelTransferScope pixels;
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, frame.rgba.data());
}

} // namespace

int QI_UpdateGLWindow(WindowHandle glControl) {
    ViewFramebuffer* fb = ViewOf(glControl);
    if (!fb || !fb->context->MakeCurrent()) return 0;
    if (SendFrameToSink(glControl)) return -1; // a render: the frame goes to a file
    GlContext* context = fb->context;
    WindowHandle top = GetTopLevelWindow(glControl);
    OwnSurface own;
    const bool onOwnSurface = GetOwnSurface(top, &own);
    // A surface of the window's own shows nothing before the compositor has given it its size.
    if (onOwnSurface && !UseOwnSurface(context, top, &own)) return -1;
    int width = own.width;
    int height = own.height;
    if (!onOwnSurface) SDL_GL_GetDrawableSize(context->window, &width, &height);
    SavedBlitState saved;
    Save(&saved);
    // A view drawn straight into the back buffer (full screen) leaves nothing to compose: the
    // chrome is neither painted nor uploaded meanwhile, and what changed in it waits until it
    // shows again.
    if (!fb->direct) {
        const WindowRect view = ViewRect(*fb, glControl);
        const bool chrome = PrepareChrome(context, top);
        gl.bindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
        if (chrome) BlitChromeAround(context, view, width, height);
        BlitView(*fb, view, height);
    }
    if (context->keepFrames) KeepFrame(context, width, height);
    if (onOwnSurface) {
        OwnSurfacePresenting(top);
        eglSwapBuffers(context->eglDisplay, context->ownSurface);
    } else {
        SDL_GL_SwapWindow(context->window);
    }
    ReportFrames();
    Restore(saved);
    // The window may have entered or left full screen since the view last changed size.
    ChooseDrawTarget(glControl, fb);
    return -1;
}
