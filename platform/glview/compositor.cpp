// Presenting a frame: the chrome (the window's background, frame and controls) and the view's
// framebuffer are drawn into the window's back buffer and swapped, around a backup of every GL
// state this touches, so the scene finds its state as it left it.
#include "platform/glview/frame_sink.h"
#include "platform/glview/glview_internal.h"
#include "platform/glview/porvane.h"

#include <algorithm>

namespace {

// Every state composition changes, saved beforehand. Attributes go on their stack; bindings and
// matrices, which that stack does not hold, are kept here; pixel storage has its own scope.
struct SavedGlState {
    GLint activeTexture = 0;
    GLint texture = 0;
    GLint drawFramebuffer = 0;
    GLint readFramebuffer = 0;
    GLint program = 0;
    GLfloat modelview[16] = {};
    GLfloat projection[16] = {};
    GLfloat textureMatrix[16] = {};
};

void SaveGlState(SavedGlState* s) {
    glGetIntegerv(GL_ACTIVE_TEXTURE, &s->activeTexture);
    gl.activeTexture(GL_TEXTURE0);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &s->texture);
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &s->drawFramebuffer);
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &s->readFramebuffer);
    glGetIntegerv(GL_CURRENT_PROGRAM, &s->program);
    glGetFloatv(GL_MODELVIEW_MATRIX, s->modelview);
    glGetFloatv(GL_PROJECTION_MATRIX, s->projection);
    glGetFloatv(GL_TEXTURE_MATRIX, s->textureMatrix);
    glPushAttrib(GL_ALL_ATTRIB_BITS);
}

void RestoreGlState(const SavedGlState& s) {
    // The framebuffers go back first: the attribute stack restores draw and read buffers, which
    // belong to the framebuffer bound when they are popped.
    gl.bindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(s.drawFramebuffer));
    gl.bindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(s.readFramebuffer));
    gl.useProgram(static_cast<GLuint>(s.program));
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixf(s.modelview);
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixf(s.projection);
    glMatrixMode(GL_TEXTURE);
    glLoadMatrixf(s.textureMatrix);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(s.texture));
    glPopAttrib(); // matrix mode, enables, blending, colour, viewport, texture environment…
    gl.activeTexture(static_cast<GLenum>(s.activeTexture));
}

// Plain textured rectangles in window pixels, y downwards, copied without blending or lighting.
void BeginComposition(int width, int height) {
    gl.bindFramebuffer(GL_FRAMEBUFFER, 0);
    glDrawBuffer(GL_BACK);
    glReadBuffer(GL_BACK);
    gl.useProgram(0);
    glViewport(0, 0, width, height);
    const GLenum off[] = {
        GL_DEPTH_TEST,      GL_BLEND,         GL_LIGHTING,      GL_CULL_FACE,
        GL_ALPHA_TEST,      GL_STENCIL_TEST,  GL_SCISSOR_TEST,  GL_FOG,
        GL_COLOR_LOGIC_OP,  GL_TEXTURE_1D,    GL_TEXTURE_3D,    GL_TEXTURE_CUBE_MAP,
        GL_TEXTURE_GEN_S,   GL_TEXTURE_GEN_T, GL_TEXTURE_GEN_R, GL_TEXTURE_GEN_Q,
        GL_POLYGON_STIPPLE, GL_CLIP_PLANE0,   GL_CLIP_PLANE1,   GL_CLIP_PLANE2,
        GL_CLIP_PLANE3,     GL_CLIP_PLANE4,   GL_CLIP_PLANE5};
    for (GLenum cap : off)
        glDisable(cap);
    glEnable(GL_TEXTURE_2D);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glColor4f(1, 1, 1, 1);
    glMatrixMode(GL_TEXTURE);
    glLoadIdentity();
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, width, height, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void DrawRect(GLuint texture, int x, int y, int w, int h, float sRight, float tTop, float tBottom) {
    glBindTexture(GL_TEXTURE_2D, texture);
    glBegin(GL_QUADS);
    glTexCoord2f(0, tTop);
    glVertex2i(x, y);
    glTexCoord2f(sRight, tTop);
    glVertex2i(x + w, y);
    glTexCoord2f(sRight, tBottom);
    glVertex2i(x + w, y + h);
    glTexCoord2f(0, tBottom);
    glVertex2i(x, y + h);
    glEnd();
}

// Uploads what changed in the chrome (all of it at a new size); its rows are stored top first,
// in cairo's native byte order, which is BGRA on the machines this runs on.
void UploadChrome(GlContext* context, const ChromeLayer& layer, const WindowRect& changed) {
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

void DrawChrome(GlContext* context, WindowHandle top) {
    ChromeLayer layer;
    WindowRect changed;
    if (!UpdateChrome(top, &layer, &changed)) return;
    if (!context->chromeTexture) {
        glGenTextures(1, &context->chromeTexture);
        glBindTexture(GL_TEXTURE_2D, context->chromeTexture);
        SetPixelCopyParameters();
    }
    glBindTexture(GL_TEXTURE_2D, context->chromeTexture);
    UploadChrome(context, layer, changed);
    DrawRect(context->chromeTexture, 0, 0, layer.width, layer.height, 1, 0, 1);
}

// The view's picture occupies the lower-left width x height texels of its framebuffer, bottom
// row first; it lands with its top row at the top of the view's rectangle.
void DrawView(const ViewFramebuffer& fb, WindowHandle view) {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
    GetClientOriginInSdlWindow(view, &x, &y);
    GetClientSize(view, &w, &h);
    w = std::min(w, fb.width);
    h = std::min(h, fb.height);
    if (w == 0 || h == 0) return;
    const float s = static_cast<float>(w) / static_cast<float>(fb.width);
    const float t = static_cast<float>(h) / static_cast<float>(fb.height);
    DrawRect(fb.colour, x, y, w, h, s, t, 0);
}

void KeepFrame(GlContext* context, int width, int height) {
    PixelImage& frame = context->frame;
    frame.width = width;
    frame.height = height;
    frame.rgba.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, frame.rgba.data());
}

} // namespace

int QI_UpdateGLWindow(WindowHandle glControl) {
    ViewFramebuffer* fb = ViewOf(glControl);
    if (!fb || !fb->context->MakeCurrent()) return 0;
    if (SendFrameToSink(glControl)) return -1; // a render: the frame goes to a file
    GlContext* context = fb->context;
    int width = 0;
    int height = 0;
    SDL_GL_GetDrawableSize(context->window, &width, &height);
    SavedGlState saved;
    SaveGlState(&saved);
    {
        PixelTransferScope pixels;
        BeginComposition(width, height);
        DrawChrome(context, GetTopLevelWindow(glControl));
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
        glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
        DrawView(*fb, glControl);
        if (context->keepFrames) KeepFrame(context, width, height);
        SDL_GL_SwapWindow(context->window);
    }
    RestoreGlState(saved);
    return -1;
}
