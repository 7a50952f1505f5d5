// Shared by the files of the OpenGL view library and by no one else: the entry points beyond
// OpenGL 1.1, the window's context, a view's framebuffer, and scopes that keep the program's GL
// state intact around the library's own uploads and read-backs.
#pragma once

#include "platform/glview/readback.h"
#include "platform/os/window_internal.h"

#include <EGL/egl.h>
#include <SDL.h>

#include <GL/gl.h>
#include <GL/glext.h>

// Entry points beyond OpenGL 1.1, looked up once a context exists.
struct GlFunctions {
    PFNGLACTIVETEXTUREPROC activeTexture;
    PFNGLUSEPROGRAMPROC useProgram;
    PFNGLBINDBUFFERPROC bindBuffer;
    PFNGLGENFRAMEBUFFERSPROC genFramebuffers;
    PFNGLDELETEFRAMEBUFFERSPROC deleteFramebuffers;
    PFNGLBINDFRAMEBUFFERPROC bindFramebuffer;
    PFNGLFRAMEBUFFERTEXTURE2DPROC framebufferTexture2D;
    PFNGLFRAMEBUFFERRENDERBUFFERPROC framebufferRenderbuffer;
    PFNGLCHECKFRAMEBUFFERSTATUSPROC checkFramebufferStatus;
    PFNGLGENRENDERBUFFERSPROC genRenderbuffers;
    PFNGLDELETERENDERBUFFERSPROC deleteRenderbuffers;
    PFNGLBINDRENDERBUFFERPROC bindRenderbuffer;
    PFNGLRENDERBUFFERSTORAGEPROC renderbufferStorage;
    PFNGLBLITFRAMEBUFFERPROC blitFramebuffer;
    PFNGLGENERATEMIPMAPPROC generateMipmap;
};
extern GlFunctions gl;
// True when the current context has every entry point above.
bool LoadGlFunctions();

// RegisterPorvaneClass for the program's window and for a render: the view's class, on a GL
// driver known to give the context the program needs.
int RegisterViewClass();

// The one context of a top-level window, with what composition keeps in it.
struct GlContext final : WindowAttachment {
    static constexpr AttachmentSlot kSlot = AttachmentSlot::Context;
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
    GLuint chromeTexture = 0;
    GLuint chromeFramebuffer = 0; // the chrome texture as a source of blits
    int chromeWidth = 0;
    int chromeHeight = 0;
    bool keepFrames = false;
    PixelImage frame; // the last composed window, bottom row first
    // A window on a surface of the platform's own (a wallpaper on Wayland): the context draws into
    // an EGL window surface over its native window, instead of the SDL window's.
    EGLDisplay eglDisplay = EGL_NO_DISPLAY;
    EGLContext eglContext = EGL_NO_CONTEXT;
    EGLSurface sdlSurface = EGL_NO_SURFACE; // the SDL window's, to go back to
    EGLSurface ownSurface = EGL_NO_SURFACE;
    wl_egl_window* ownWindow = nullptr; // what ownSurface was made over

    bool MakeCurrent() const;
    ~GlContext() override;
};

// The context draws into the top-level window's own surface, if it has one (made again over a new
// native window). False when the window has none, or none yet to draw into; own is what the
// platform said of it.
bool UseOwnSurface(GlContext* context, WindowHandle top, OwnSurface* own);

// A view's framebuffer: a colour texture at least 1 x 1, so an empty view still has a complete
// framebuffer to draw into. No depth buffer: nothing draws with a depth test.
struct ViewFramebuffer final : WindowAttachment {
    static constexpr AttachmentSlot kSlot = AttachmentSlot::View;
    GlContext* context = nullptr; // owned by the top-level window, which outlives its views
    GLuint framebuffer = 0;
    GLuint colour = 0;
    int width = 0; // size of the storage
    int height = 0;
    // In full screen the view covers the whole window and draws straight into its back buffer:
    // presenting is then a swap, without a copy of the largest picture there is.
    bool direct = false;

    ~ViewFramebuffer() override;
};

// Binds for drawing what the view draws into now: the window's back buffer while it covers a
// full-screen window, else its own framebuffer.
void ChooseDrawTarget(WindowHandle view, ViewFramebuffer* fb);

inline ViewFramebuffer* ViewOf(WindowHandle view) {
    return GetAttachment<ViewFramebuffer>(view);
}
inline GlContext* ContextOf(WindowHandle window) {
    return GetAttachment<GlContext>(GetTopLevelWindow(window));
}

// The procedure of the "QOPENGLCTRL" class.
intptr_t GlControlProc(WindowHandle view, const Message& message);

// The window's context, made current; created with the window's first view.
GlContext* EnsureContext(WindowHandle top);

// Default pixel storage and no pixel buffers for the uploads and read-backs in its scope; the
// program's own settings come back when it ends.
class PixelTransferScope {
  public:
    PixelTransferScope();
    ~PixelTransferScope();
    PixelTransferScope(const PixelTransferScope&) = delete;
    PixelTransferScope& operator=(const PixelTransferScope&) = delete;

  private:
    GLint unpack_ = 0;
    GLint pack_ = 0;
};

// The bound texture is copied texel for pixel: no filtering, no wrapping.
void SetPixelCopyParameters();

// The size of the picture a view's framebuffer holds: its client area, within the storage.
void ViewPictureSize(WindowHandle view, const ViewFramebuffer& fb, int* width, int* height);
// Reads that picture, RGBA bottom row first, into pixels (width x height x 4 bytes), keeping the
// program's read binding and pixel storage.
void ReadViewPicture(const ViewFramebuffer& fb, int width, int height, uint8_t* pixels);

// Copies a bottom-up RGBA block into an image, top row first.
void CopyFlipped(const uint8_t* bottomUp, int width, int height, PixelImage* image);
