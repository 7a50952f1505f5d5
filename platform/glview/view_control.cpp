// The OpenGL view control "QOPENGLCTRL": a framebuffer object the size of its client area, bound
// whenever the program draws, so that glViewport(0, 0, w, h) means the whole view; and the calls
// the program makes on it besides drawing.
#include "platform/glview/glview_internal.h"
#include "platform/glview/porvane.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

// Storage for a client area side: at least one texel, at most what the driver takes.
int StorageSize(int side) {
    GLint maxTexture = 0;
    GLint maxRenderbuffer = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTexture);
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &maxRenderbuffer);
    return std::clamp(side, 1,
                      std::max(1, static_cast<int>(std::min(maxTexture, maxRenderbuffer))));
}

// Clears a freshly sized framebuffer, so nothing undefined shows before the program's first draw.
void ClearFramebuffer(GLuint framebuffer) {
    GLint bound = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &bound);
    gl.bindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffer);
    glPushAttrib(GL_COLOR_BUFFER_BIT | GL_SCISSOR_BIT);
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    glPopAttrib();
    gl.bindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(bound));
}

// Gives the framebuffer storage for a client area of width x height, keeping the program's
// texture binding. False when the size stays as it was.
bool SizeFramebuffer(ViewFramebuffer* fb, int width, int height) {
    const int w = StorageSize(width);
    const int h = StorageSize(height);
    if (w == fb->width && h == fb->height) return false;
    GLint texture = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
    {
        PixelTransferScope pixels;
        glBindTexture(GL_TEXTURE_2D, fb->colour);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    }
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture));
    fb->width = w;
    fb->height = h;
    return true;
}

std::unique_ptr<ViewFramebuffer> MakeFramebuffer(GlContext* context, int width, int height) {
    auto fb = std::make_unique<ViewFramebuffer>();
    fb->context = context;
    GLint texture = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
    glGenTextures(1, &fb->colour);
    glBindTexture(GL_TEXTURE_2D, fb->colour);
    SetPixelCopyParameters(); // composition copies the view 1:1
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture));
    gl.genFramebuffers(1, &fb->framebuffer);
    SizeFramebuffer(fb.get(), width, height);

    gl.bindFramebuffer(GL_FRAMEBUFFER, fb->framebuffer);
    gl.framebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, fb->colour, 0);
    if (gl.checkFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return nullptr;
    ClearFramebuffer(fb->framebuffer);
    return fb;
}

// WM_CREATE: the view's context current and its framebuffer bound, with the viewport covering
// the view, as a fresh context on a window of the view's size would have it.
bool CreateViewFramebuffer(WindowHandle view) {
    GlContext* context = EnsureContext(GetTopLevelWindow(view));
    if (!context) return false;
    int width = 0;
    int height = 0;
    GetClientSize(view, &width, &height);
    std::unique_ptr<ViewFramebuffer> fb = MakeFramebuffer(context, width, height);
    if (!fb) {
        gl.bindFramebuffer(GL_FRAMEBUFFER, 0);
        return false;
    }
    Attach(view, std::move(fb));
    glViewport(0, 0, width, height);
    return true;
}

void ResizeViewFramebuffer(WindowHandle view) {
    ViewFramebuffer* fb = ViewOf(view);
    if (!fb || !fb->context->MakeCurrent()) return;
    int width = 0;
    int height = 0;
    GetClientSize(view, &width, &height);
    if (SizeFramebuffer(fb, width, height)) ClearFramebuffer(fb->framebuffer);
    // A surface of the window's own is drawn into from its first size on.
    OwnSurface own;
    UseOwnSurface(fb->context, GetTopLevelWindow(view), &own);
    ChooseDrawTarget(view, fb);
}

bool CoversFullScreenWindow(WindowHandle view) {
    WindowHandle top = GetTopLevelWindow(view);
    const WindowMode mode = GetWindowMode(top);
    if (mode != WindowMode::FullScreen && mode != WindowMode::Wallpaper) return false;
    int x = 0, y = 0, width = 0, height = 0, topWidth = 0, topHeight = 0;
    GetClientOriginInSdlWindow(view, &x, &y);
    GetClientSize(view, &width, &height);
    GetClientSize(top, &topWidth, &topHeight);
    return x == 0 && y == 0 && width == topWidth && height == topHeight;
}

} // namespace

void ChooseDrawTarget(WindowHandle view, ViewFramebuffer* fb) {
    const bool direct = CoversFullScreenWindow(view);
    if (direct == fb->direct) return;
    fb->direct = direct;
    gl.bindFramebuffer(GL_FRAMEBUFFER, direct ? 0 : fb->framebuffer);
}

ViewFramebuffer::~ViewFramebuffer() {
    if (!context->MakeCurrent()) return;
    if (framebuffer) gl.deleteFramebuffers(1, &framebuffer);
    if (colour) glDeleteTextures(1, &colour);
}

intptr_t GlControlProc(WindowHandle view, const Message& message) {
    switch (message.id) {
    case WM_CREATE:
        return CreateViewFramebuffer(view) ? 0 : -1;
    case WM_SIZE:
        ResizeViewFramebuffer(view);
        return 0;
    case WM_PAINT:
        return 0; // the program's subclass draws; reaching here validates the view
    case WM_DESTROY:
        SetWindowAttachment(view, AttachmentSlot::View, nullptr);
        return 0;
    default:
        return DefWindowProc(view, message);
    }
}

int QI_SetAnchorMode(WindowHandle window, int mode) {
    if (!IsWindow(window)) return 0;
    SetChildAnchor(window, mode);
    return -1;
}

void* QI_GetGLDC(WindowHandle glControl) {
    return ViewOf(glControl);
}

// Nothing draws text with the font; the record is only checked.
int QI_BuildGLfont(void* dc, GLFontRecord* font) {
    return dc && font && std::memchr(font->face, 0, sizeof font->face) ? -1 : 0;
}

int QI_DeleteGLFont(GLFontRecord* font) {
    return font ? -1 : 0;
}

// The buttons as the desktop has them now. SDL's own record follows the button events its windows
// received, and misses a release that none of them saw (made while the window was minimised, or
// taken by another program's grab), after which a drag would go on with no button held.
int QI_IsLButtonDown() {
    return (SDL_GetGlobalMouseState(nullptr, nullptr) & SDL_BUTTON_LMASK) ? -1 : 0;
}

int QI_IsRButtonDown() {
    return (SDL_GetGlobalMouseState(nullptr, nullptr) & SDL_BUTTON_RMASK) ? -1 : 0;
}
