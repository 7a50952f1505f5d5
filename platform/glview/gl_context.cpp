// The library's start and the one compatibility-profile context of a top-level window.
#include "platform/glview/glview_internal.h"
#include "platform/glview/picture_decoder.h"
#include "platform/glview/porvane.h"
#include "platform/os/options.h"

#include <cstdio>
#include <memory>

namespace {

struct WindowDeleter {
    void operator()(SDL_Window* window) const { SDL_DestroyWindow(window); }
};
struct ContextDeleter {
    void operator()(void* context) const { SDL_GL_DeleteContext(context); }
};

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

// Asked before any OpenGL window exists: the version and profile only shape the contexts, the
// visual of the windows keeps SDL's defaults.
void AskForCompatibilityContext() {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    // Nothing draws with a depth test: the windows need no depth buffer.
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
}

bool ProbeCompatibilityContext() {
    std::unique_ptr<SDL_Window, WindowDeleter> window(
        SDL_CreateWindow("", 0, 0, 1, 1, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN));
    if (!window) return false;
    std::unique_ptr<void, ContextDeleter> context(SDL_GL_CreateContext(window.get()));
    return context && ContextFitsTheProgram();
}

void ReportContext(int swapInterval) {
    if (!GetPlatformOptions().glInfo) return;
    std::fprintf(stderr, "vormel: OpenGL %s on %s, swap interval %d\n",
                 reinterpret_cast<const char*>(glGetString(GL_VERSION)),
                 reinterpret_cast<const char*>(glGetString(GL_RENDERER)), swapInterval);
}

// Vsync keeps the 1 ms frame timer from drawing frames nobody sees; benchmarks turn it off.
void ChooseSwapInterval() {
    const bool on = GetPlatformOptions().vsync && SDL_GL_SetSwapInterval(1) == 0;
    if (!on) SDL_GL_SetSwapInterval(0);
    ReportContext(on ? 1 : 0);
}

int gInstance;

// Before the GL driver starts. Mesa writes its shader cache from a thread of the lowest priority,
// and a process has ended only once its last thread has: on a busy machine that thread waits
// seconds for a turn, and the closed program lingers as long, its files open. The program's
// shaders are the fixed-function pipeline's few, quick to make again. A cache the user asks for
// by name stays.
void KeepTheDriverFromHoldingTheExit() {
    setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
}

// Back to the SDL window's surface, and the own one destroyed: its native window is about to go.
void ReleaseOwnSurface(GlContext* context) {
    if (context->ownSurface == EGL_NO_SURFACE) return;
    eglMakeCurrent(context->eglDisplay, context->sdlSurface, context->sdlSurface,
                   context->eglContext);
    eglDestroySurface(context->eglDisplay, context->ownSurface);
    context->ownSurface = EGL_NO_SURFACE;
    context->ownWindow = nullptr;
}

void ReleaseOwnSurfaceOf(WindowHandle top) {
    if (GlContext* context = ContextOf(top)) ReleaseOwnSurface(context);
}

// An EGL window surface over the native window, of the context's own configuration, made current.
// SDL made the context through EGL on the same connection (on Wayland it has nothing else).
bool MakeOwnSurface(GlContext* context, wl_egl_window* native) {
    const EGLDisplay display = eglGetCurrentDisplay();
    const EGLContext egl = eglGetCurrentContext();
    EGLint id = 0;
    EGLint count = 0;
    EGLConfig config = nullptr;
    if (display == EGL_NO_DISPLAY || egl == EGL_NO_CONTEXT ||
        !eglQueryContext(display, egl, EGL_CONFIG_ID, &id))
        return false;
    const EGLint wanted[] = {EGL_CONFIG_ID, id, EGL_NONE};
    if (!eglChooseConfig(display, wanted, &config, 1, &count) || count != 1) return false;
    const EGLSurface surface = eglCreatePlatformWindowSurface(display, config, native, nullptr);
    if (surface == EGL_NO_SURFACE) return false;
    if (context->sdlSurface == EGL_NO_SURFACE) context->sdlSurface = eglGetCurrentSurface(EGL_DRAW);
    if (!eglMakeCurrent(display, surface, surface, egl)) {
        eglDestroySurface(display, surface);
        return false;
    }
    // The compositor's frame callbacks pace the frames: a swap that waited for the display would
    // hang the program wherever the compositor stops asking for frames.
    eglSwapInterval(display, 0);
    context->eglDisplay = display;
    context->eglContext = egl;
    context->ownSurface = surface;
    context->ownWindow = native;
    SetOwnSurfaceRelease(ReleaseOwnSurfaceOf);
    return true;
}

} // namespace

bool GlContext::MakeCurrent() const {
    return SDL_GL_GetCurrentContext() == context || SDL_GL_MakeCurrent(window, context) == 0;
}

bool UseOwnSurface(GlContext* context, WindowHandle top, OwnSurface* own) {
    if (!GetOwnSurface(top, own)) return false;
    if (own->window && context->ownWindow == own->window) return true;
    ReleaseOwnSurface(context);
    return own->window && context->MakeCurrent() && MakeOwnSurface(context, own->window);
}

GlContext::~GlContext() {
    ReleaseOwnSurface(this);
    if ((chromeTexture || chromeFramebuffer) && MakeCurrent()) {
        if (chromeFramebuffer) gl.deleteFramebuffers(1, &chromeFramebuffer);
        if (chromeTexture) glDeleteTextures(1, &chromeTexture);
    }
    SDL_GL_DeleteContext(context);
}

GlContext* EnsureContext(WindowHandle top) {
    if (GlContext* existing = ContextOf(top)) return existing->MakeCurrent() ? existing : nullptr;
    SDL_Window* window = GetSdlWindow(top);
    SDL_GLContext raw = window ? SDL_GL_CreateContext(window) : nullptr;
    if (!raw) return nullptr;
    auto context = std::make_unique<GlContext>();
    context->window = window;
    context->context = raw;
    if (!ContextFitsTheProgram()) return nullptr;
    ChooseSwapInterval();
    return Attach(top, std::move(context));
}

void* qInstance() {
    return &gInstance;
}

int RegisterPorvaneClass() {
    KeepTheDriverFromHoldingTheExit();
    return RegisterViewClass();
}

int RegisterViewClass() {
    // SDL's start may fork (libdbus launching a session bus for it), so it comes before the
    // program's first thread: a child forked while another thread holds a lock of the allocator
    // (a sanitiser's, for one) never gets to exec, and keeps every descriptor the program had.
    if (!EnsureVideo()) return 0;
    // The pictures are decoded meanwhile: the GL driver takes its time to start.
    PrefetchPictures(ResourceFolder());
    // The probe makes a window and destroys it, and with the last window SDL unloads the GL
    // driver, to load it again for the view. Held loaded, it starts once (and stays until the
    // process ends, which also lets leak checkers name its allocations).
    static const bool held = SDL_GL_LoadLibrary(nullptr) == 0;
    (void)held;
    AskForCompatibilityContext();
    if (!ProbeCompatibilityContext()) return 0;
    // A double click on the view is one gesture of its own, not a second drag.
    return RegisterChildClass(kGlControlClass, GlControlProc, CS_DBLCLKS) ? 1 : 0;
}

int QI_LoadDLL(const char*) {
    return -1;
}
