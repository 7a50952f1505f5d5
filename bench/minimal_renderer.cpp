#include "minimal_renderer.h"

#include "effects/particles.h"
#include "render/frame_render.h"
#include "render/gl_setup.h"
#include "render/pictures.h"
#include "render/projection.h"
#include "scene/scene_init.h"

#include <SDL.h>
#include <SDL_image.h>

#include <GL/gl.h>
#include <GL/glext.h>

#include <cmath>

namespace {

SDL_Window* gWindow = nullptr;
SDL_GLContext gContext = nullptr;
GLuint gNames[kTextureCount] = {};

const char* const kFiles[kTextureCount] = {"flare0.png", "V1.png", "V2.png", "V3.png",
                                           "V4.png",     "V5.png", "V6.png", "frame.png"};

GLuint Load(const std::string& path) {
    SDL_Surface* image = IMG_Load(path.c_str());
    if (!image) return 0;
    SDL_Surface* rgba = SDL_ConvertSurfaceFormat(image, SDL_PIXELFORMAT_RGBA32, 0);
    SDL_FreeSurface(image);
    if (!rgba) return 0;
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, rgba->pitch / 4);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, rgba->w, rgba->h, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 rgba->pixels);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    auto generate =
        reinterpret_cast<PFNGLGENERATEMIPMAPPROC>(SDL_GL_GetProcAddress("glGenerateMipmap"));
    if (generate) generate(GL_TEXTURE_2D);
    SDL_FreeSurface(rgba);
    return name;
}

void CompileSprite() {
    glNewList(1, GL_COMPILE);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex3f(-0.5f, -0.5f, 0);
    glTexCoord2f(1, 0);
    glVertex3f(0.5f, -0.5f, 0);
    glTexCoord2f(1, 1);
    glVertex3f(0.5f, 0.5f, 0);
    glTexCoord2f(0, 1);
    glVertex3f(-0.5f, 0.5f, 0);
    glEnd();
    glEndList();
}

} // namespace

bool OpenMinimalRenderer(int width, int height, const std::string& folder, bool vsync) {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
    gWindow = SDL_CreateWindow("minimal", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width,
                               height, SDL_WINDOW_OPENGL);
    if (!gWindow) return false;
    gContext = SDL_GL_CreateContext(gWindow);
    if (!gContext) return false;
    SDL_GL_SetSwapInterval(vsync ? 1 : 0);
    for (int i = 0; i < kTextureCount; ++i)
        gNames[i] = Load(folder + kFiles[i]);
    CompileSprite();
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    SetPerspective(45, static_cast<float>(static_cast<double>(width) / height), 0.1f, 10000);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glEnable(GL_TEXTURE_2D);
    glClearColor(0, 0, 0, 0);
    return true;
}

void MakeMinimalRendererCurrent() {
    SDL_GL_MakeCurrent(gWindow, gContext);
}

void DrawMinimalFrame(float f) {
    glClear(GL_COLOR_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(gPanX, gPanY, gDistance);
    glRotatef(gTilt, 1, 0, 0);
    glRotatef(gTurn, 0, 1, 0);
    glTranslatef(0, 0, -1300);
    glBlendFunc(GL_ONE, GL_ONE);
    glBindTexture(GL_TEXTURE_2D, gNames[0]);
    const float scale = static_cast<float>(std::sqrt(static_cast<double>(f)));
    for (int32_t i = 0; i < liveParticleCount; ++i)
        DrawParticle(i, scale);
    // The pictures' procedure binds the records' names: this context's for the moment.
    int32_t names[kTextureCount];
    for (int i = 0; i < kTextureCount; ++i) {
        names[i] = gTextures[i].glName;
        gTextures[i].glName = static_cast<int32_t>(gNames[i]);
    }
    glPushMatrix();
    DrawPictures(static_cast<int32_t>(std::lrint(f)));
    glPopMatrix();
    for (int i = 0; i < kTextureCount; ++i)
        gTextures[i].glName = names[i];
    SDL_GL_SwapWindow(gWindow);
}

void PresentBareMinimalFrame() {
    glClear(GL_COLOR_BUFFER_BIT);
    SDL_GL_SwapWindow(gWindow);
}
