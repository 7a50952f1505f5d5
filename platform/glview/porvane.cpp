// The OpenGL view control over SDL2 and OpenGL: one compatibility-profile context per top-level
// window, a framebuffer object per view that stays bound while the program draws, composition of
// the window's chrome and the view into the window, texture loading with SDL2_image.
//
// Implemented: the "QOPENGLCTRL" class, texture records, presentation, mouse-button queries,
// read-back for tests. Not implemented: drawing text with the font (nothing draws with it).
#include "platform/glview/porvane.h"
#include "platform/glview/readback.h"
#include "platform/os/window_internal.h"

#include <SDL.h>
#include <SDL_image.h>

#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

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
};
GlFunctions gl;

template <typename F> bool Load(F* function, const char* name) {
    *function = reinterpret_cast<F>(SDL_GL_GetProcAddress(name));
    return *function != nullptr;
}

bool LoadGlFunctions() {
    return Load(&gl.activeTexture, "glActiveTexture") && Load(&gl.useProgram, "glUseProgram") &&
           Load(&gl.bindBuffer, "glBindBuffer") && Load(&gl.genFramebuffers, "glGenFramebuffers") &&
           Load(&gl.deleteFramebuffers, "glDeleteFramebuffers") &&
           Load(&gl.bindFramebuffer, "glBindFramebuffer") &&
           Load(&gl.framebufferTexture2D, "glFramebufferTexture2D") &&
           Load(&gl.framebufferRenderbuffer, "glFramebufferRenderbuffer") &&
           Load(&gl.checkFramebufferStatus, "glCheckFramebufferStatus") &&
           Load(&gl.genRenderbuffers, "glGenRenderbuffers") &&
           Load(&gl.deleteRenderbuffers, "glDeleteRenderbuffers") &&
           Load(&gl.bindRenderbuffer, "glBindRenderbuffer") &&
           Load(&gl.renderbufferStorage, "glRenderbufferStorage");
}

// The program draws with the fixed-function pipeline into a framebuffer object: it needs a
// compatibility context with framebuffer objects (OpenGL 3.0 or the ARB extension).
bool ContextFitsTheProgram() {
    int major = 0;
    int minor = 0;
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    if (!version || std::sscanf(version, "%d.%d", &major, &minor) != 2 || major < 2) return false;
    const int v = major * 10 + minor;
    bool fixedFunction = true;
    if (v >= 32) {
        GLint mask = 0;
        glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &mask);
        fixedFunction = (mask & GL_CONTEXT_COMPATIBILITY_PROFILE_BIT) != 0;
    } else if (v == 31) {
        fixedFunction = SDL_GL_ExtensionSupported("GL_ARB_compatibility");
    }
    const bool framebuffers = v >= 30 || SDL_GL_ExtensionSupported("GL_ARB_framebuffer_object");
    return fixedFunction && framebuffers && LoadGlFunctions();
}

struct WindowDeleter {
    void operator()(SDL_Window* window) const { SDL_DestroyWindow(window); }
};
struct ContextDeleter {
    void operator()(void* context) const { SDL_GL_DeleteContext(context); }
};
struct SurfaceDeleter {
    void operator()(SDL_Surface* surface) const { SDL_FreeSurface(surface); }
};
using SurfacePtr = std::unique_ptr<SDL_Surface, SurfaceDeleter>;

// Asked before any OpenGL window exists: the version and profile only shape the contexts, the
// visual of the windows keeps SDL's defaults.
void AskForCompatibilityContext() {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
}

bool ProbeCompatibilityContext() {
    std::unique_ptr<SDL_Window, WindowDeleter> window(
        SDL_CreateWindow("", 0, 0, 1, 1, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN));
    if (!window) return false;
    std::unique_ptr<void, ContextDeleter> context(SDL_GL_CreateContext(window.get()));
    return context && ContextFitsTheProgram();
}

// The one context of a top-level window, with what composition keeps in it.
struct GlContext final : WindowAttachment {
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
    GLuint chromeTexture = 0;
    int chromeWidth = 0;
    int chromeHeight = 0;
    bool keepFrames = false;
    PixelImage frame; // the last composed window, bottom row first

    bool MakeCurrent() const {
        return SDL_GL_GetCurrentContext() == context || SDL_GL_MakeCurrent(window, context) == 0;
    }
    ~GlContext() override {
        if (chromeTexture && MakeCurrent()) glDeleteTextures(1, &chromeTexture);
        SDL_GL_DeleteContext(context);
    }
};

// A view's framebuffer: colour texture and depth buffer at least 1 x 1, so an empty view still
// has a complete framebuffer to draw into.
struct ViewFramebuffer final : WindowAttachment {
    GlContext* context = nullptr; // owned by the top-level window, which outlives its views
    GLuint framebuffer = 0;
    GLuint colour = 0;
    GLuint depth = 0;
    int width = 0; // size of the storage
    int height = 0;

    ~ViewFramebuffer() override {
        if (!context->MakeCurrent()) return;
        if (framebuffer) gl.deleteFramebuffers(1, &framebuffer);
        if (depth) gl.deleteRenderbuffers(1, &depth);
        if (colour) glDeleteTextures(1, &colour);
    }
};

ViewFramebuffer* ViewOf(WindowHandle view) {
    return dynamic_cast<ViewFramebuffer*>(GetWindowAttachment(view));
}

GlContext* ContextOf(WindowHandle window) {
    return dynamic_cast<GlContext*>(GetWindowAttachment(GetTopLevelWindow(window)));
}

void ReportContext(int swapInterval) {
    const char* wanted = std::getenv("VORMEL_GL_INFO");
    if (!wanted || std::strcmp(wanted, "1") != 0) return;
    std::fprintf(stderr, "vormel: OpenGL %s on %s, swap interval %d\n",
                 reinterpret_cast<const char*>(glGetString(GL_VERSION)),
                 reinterpret_cast<const char*>(glGetString(GL_RENDERER)), swapInterval);
}

// Vsync keeps the 1 ms frame timer from drawing frames nobody sees; VORMEL_VSYNC=0 turns it off.
void ChooseSwapInterval() {
    const char* vsync = std::getenv("VORMEL_VSYNC");
    const bool off = vsync && std::strcmp(vsync, "0") == 0;
    const bool on = !off && SDL_GL_SetSwapInterval(1) == 0;
    if (!on) SDL_GL_SetSwapInterval(0);
    ReportContext(on ? 1 : 0);
}

// The window's context, made current; created with the first view.
GlContext* EnsureContext(WindowHandle top) {
    if (GlContext* existing = ContextOf(top)) return existing->MakeCurrent() ? existing : nullptr;
    if (GetWindowAttachment(top)) return nullptr;
    SDL_Window* window = GetSdlWindow(top);
    SDL_GLContext raw = window ? SDL_GL_CreateContext(window) : nullptr;
    if (!raw) return nullptr;
    auto context = std::make_unique<GlContext>();
    context->window = window;
    context->context = raw;
    if (!ContextFitsTheProgram()) return nullptr;
    ChooseSwapInterval();
    GlContext* result = context.get();
    SetWindowAttachment(top, std::move(context));
    return result;
}

// Storage for a client area side: at least one texel, at most what the driver takes.
int StorageSize(int side) {
    GLint maxTexture = 0;
    GLint maxRenderbuffer = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTexture);
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &maxRenderbuffer);
    return std::clamp(side, 1,
                      std::max(1, static_cast<int>(std::min(maxTexture, maxRenderbuffer))));
}

void SetPixelStore() {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_UNPACK_SWAP_BYTES, GL_FALSE);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_SKIP_ROWS, 0);
    glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_PACK_SWAP_BYTES, GL_FALSE);
}

// Default pixel storage and no pixel buffers for the uploads and read-backs in its scope; the
// program's own settings come back when it ends.
class PixelTransferScope {
  public:
    PixelTransferScope() {
        glGetIntegerv(GL_PIXEL_UNPACK_BUFFER_BINDING, &unpack_);
        glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &pack_);
        glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
        SetPixelStore();
        gl.bindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
        gl.bindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    }
    ~PixelTransferScope() {
        glPopClientAttrib();
        gl.bindBuffer(GL_PIXEL_UNPACK_BUFFER, static_cast<GLuint>(unpack_));
        gl.bindBuffer(GL_PIXEL_PACK_BUFFER, static_cast<GLuint>(pack_));
    }
    PixelTransferScope(const PixelTransferScope&) = delete;
    PixelTransferScope& operator=(const PixelTransferScope&) = delete;

  private:
    GLint unpack_ = 0;
    GLint pack_ = 0;
};

// The bound texture is copied texel for pixel: no filtering, no wrapping.
void SetPixelCopyParameters() {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

// Clears a freshly sized framebuffer, so nothing undefined shows before the program's first draw.
void ClearFramebuffer(GLuint framebuffer) {
    GLint bound = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &bound);
    gl.bindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffer);
    glPushAttrib(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_SCISSOR_BIT);
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
    glClearColor(0, 0, 0, 0);
    glClearDepth(1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glPopAttrib();
    gl.bindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(bound));
}

// Gives the framebuffer storage for a client area of width x height, keeping the program's
// texture and renderbuffer bindings. False when the size stays as it was.
bool SizeFramebuffer(ViewFramebuffer* fb, int width, int height) {
    const int w = StorageSize(width);
    const int h = StorageSize(height);
    if (w == fb->width && h == fb->height) return false;
    GLint texture = 0;
    GLint renderbuffer = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
    glGetIntegerv(GL_RENDERBUFFER_BINDING, &renderbuffer);
    {
        PixelTransferScope pixels;
        glBindTexture(GL_TEXTURE_2D, fb->colour);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    }
    gl.bindRenderbuffer(GL_RENDERBUFFER, fb->depth);
    gl.renderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, w, h);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture));
    gl.bindRenderbuffer(GL_RENDERBUFFER, static_cast<GLuint>(renderbuffer));
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
    gl.genRenderbuffers(1, &fb->depth);
    gl.genFramebuffers(1, &fb->framebuffer);
    SizeFramebuffer(fb.get(), width, height);

    gl.bindFramebuffer(GL_FRAMEBUFFER, fb->framebuffer);
    gl.framebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, fb->colour, 0);
    gl.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, fb->depth);
    if (gl.checkFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return nullptr;
    ClearFramebuffer(fb->framebuffer);
    return fb;
}

// WM_CREATE: the view's context current and its framebuffer bound, with the viewport covering
// the view, as a fresh context on a window of the view's size would have it.
bool CreateView(WindowHandle view) {
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
    SetWindowAttachment(view, std::move(fb));
    glViewport(0, 0, width, height);
    return true;
}

void ResizeView(WindowHandle view) {
    ViewFramebuffer* fb = ViewOf(view);
    if (!fb || !fb->context->MakeCurrent()) return;
    int width = 0;
    int height = 0;
    GetClientSize(view, &width, &height);
    if (SizeFramebuffer(fb, width, height)) ClearFramebuffer(fb->framebuffer);
}

intptr_t GlControlProc(WindowHandle view, const Message& message) {
    switch (message.id) {
    case WM_CREATE:
        return CreateView(view) ? 0 : -1;
    case WM_SIZE:
        ResizeView(view);
        return 0;
    case WM_PAINT:
        return 0; // the program's subclass draws; reaching here validates the view
    case WM_DESTROY:
        SetWindowAttachment(view, nullptr);
        return 0;
    default:
        return DefWindowProc(view, message);
    }
}

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

// The chrome goes up only when it changed; its rows are stored top first.
void DrawChrome(GlContext* context, WindowHandle top) {
    ChromeLayer* layer = GetChromeLayer(top);
    if (!layer || layer->width == 0 || layer->height == 0) return;
    if (!context->chromeTexture) {
        glGenTextures(1, &context->chromeTexture);
        glBindTexture(GL_TEXTURE_2D, context->chromeTexture);
        SetPixelCopyParameters();
    }
    glBindTexture(GL_TEXTURE_2D, context->chromeTexture);
    if (layer->width != context->chromeWidth || layer->height != context->chromeHeight) {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, layer->width, layer->height, 0, GL_RGBA,
                     GL_UNSIGNED_BYTE, layer->rgba.data());
        context->chromeWidth = layer->width;
        context->chromeHeight = layer->height;
    } else if (layer->dirty) {
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, layer->width, layer->height, GL_RGBA,
                        GL_UNSIGNED_BYTE, layer->rgba.data());
    }
    layer->dirty = false;
    int x = 0;
    int y = 0;
    GetClientOriginInSdlWindow(top, &x, &y);
    DrawRect(context->chromeTexture, x, y, layer->width, layer->height, 1, 0, 1);
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

void FlipRows(uint8_t* pixels, int rowBytes, int rows) {
    for (int top = 0, bottom = rows - 1; top < bottom; ++top, --bottom) {
        std::swap_ranges(pixels + static_cast<ptrdiff_t>(top) * rowBytes,
                         pixels + static_cast<ptrdiff_t>(top + 1) * rowBytes,
                         pixels + static_cast<ptrdiff_t>(bottom) * rowBytes);
    }
}

// Decodes one image into a new texture. OpenGL's first row is the bottom one, so the image is
// stored bottom row first and a quad with t growing upwards shows it upright.
GLuint LoadTexture(const TextureRecord& record) {
    if (strnlen(record.path, sizeof record.path) == sizeof record.path) return 0;
    SurfacePtr image(record.path[0] ? IMG_Load(record.path) : nullptr);
    if (!image) return 0;
    SurfacePtr rgba(SDL_ConvertSurfaceFormat(image.get(), SDL_PIXELFORMAT_RGBA32, 0));
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    if (!rgba || rgba->w > maxSize || rgba->h > maxSize || SDL_LockSurface(rgba.get()) != 0)
        return 0;
    uint8_t* pixels = static_cast<uint8_t*>(rgba->pixels);
    FlipRows(pixels, rgba->pitch, rgba->h);
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    // Clamped, so the edges of a picture do not blend in its opposite edge.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, rgba->pitch / 4);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, rgba->w, rgba->h, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 pixels);
    SDL_UnlockSurface(rgba.get());
    return name;
}

// Copies a bottom-up RGBA block into an image, top row first.
void CopyFlipped(const uint8_t* bottomUp, int width, int height, PixelImage* image) {
    image->width = width;
    image->height = height;
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    image->rgba.resize(rowBytes * static_cast<size_t>(height));
    for (int row = 0; row < height; ++row) {
        const uint8_t* from = bottomUp + rowBytes * static_cast<size_t>(height - 1 - row);
        std::copy(from, from + rowBytes, image->rgba.begin() + rowBytes * static_cast<size_t>(row));
    }
}

int gInstance;

} // namespace

void* qInstance() {
    return &gInstance;
}

int RegisterPorvaneClass() {
    if (!EnsureVideo()) return 0;
    AskForCompatibilityContext();
    if (!ProbeCompatibilityContext()) return 0;
    return RegisterChildClass(kGlControlClass, GlControlProc) ? 1 : 0;
}

int QI_LoadDLL(const char*) {
    return -1;
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

int QI_MakeMultipleTexture(TextureRecord* first, int count) {
    if (!first || count <= 0 || !SDL_GL_GetCurrentContext()) return 0;
    GLint texture = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
    bool all = true;
    {
        PixelTransferScope pixels;
        for (int i = 0; i < count; ++i) {
            first[i].glName = static_cast<int32_t>(LoadTexture(first[i]));
            all = all && first[i].glName != 0;
        }
    }
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture));
    return all ? -1 : 0;
}

int QI_DestroyTexture(TextureRecord* first, int count) {
    if (!first || count <= 0) return 0;
    for (int i = 0; i < count; ++i) {
        if (first[i].glName == 0) continue;
        const GLuint name = static_cast<GLuint>(first[i].glName);
        if (SDL_GL_GetCurrentContext()) glDeleteTextures(1, &name);
        first[i].glName = 0;
    }
    return -1;
}

int QI_UpdateGLWindow(WindowHandle glControl) {
    ViewFramebuffer* fb = ViewOf(glControl);
    if (!fb || !fb->context->MakeCurrent()) return 0;
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
        DrawView(*fb, glControl);
        if (context->keepFrames) KeepFrame(context, width, height);
        SDL_GL_SwapWindow(context->window);
    }
    RestoreGlState(saved);
    return -1;
}

int QI_IsLButtonDown() {
    return (SDL_GetMouseState(nullptr, nullptr) & SDL_BUTTON_LMASK) ? -1 : 0;
}

int QI_IsRButtonDown() {
    return (SDL_GetMouseState(nullptr, nullptr) & SDL_BUTTON_RMASK) ? -1 : 0;
}

bool ReadViewPixels(WindowHandle glControl, PixelImage* image) {
    ViewFramebuffer* fb = ViewOf(glControl);
    if (!fb || !image || !fb->context->MakeCurrent()) return false;
    int width = 0;
    int height = 0;
    GetClientSize(glControl, &width, &height);
    width = std::min(width, fb->width);
    height = std::min(height, fb->height);
    std::vector<uint8_t> bottomUp(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    GLint read = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &read);
    gl.bindFramebuffer(GL_READ_FRAMEBUFFER, fb->framebuffer);
    if (width > 0 && height > 0) {
        PixelTransferScope pixels;
        glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
    }
    gl.bindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(read));
    CopyFlipped(bottomUp.data(), width, height, image);
    return true;
}

void KeepPresentedFrames(WindowHandle window, bool keep) {
    if (GlContext* context = ContextOf(window)) context->keepFrames = keep;
}

bool ReadPresentedPixels(WindowHandle window, PixelImage* image) {
    GlContext* context = ContextOf(window);
    if (!context || !image || context->frame.rgba.empty()) return false;
    CopyFlipped(context->frame.rgba.data(), context->frame.width, context->frame.height, image);
    return true;
}
