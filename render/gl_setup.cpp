#include "render/gl_setup.h"

#include "scene/scene_init.h"

#include <GL/gl.h>

#include <cstddef>
#include <cstring>

static_assert(sizeof(TextureRecord) == 272 && offsetof(TextureRecord, glName) == 264,
              "the library reads the records in place");

TextureRecord gTextures[kTextureCount];

namespace {

const char* const kTextureFiles[kTextureCount] = {
    "flare0.png", "V1.png", "V2.png", "V3.png", "V4.png", "V5.png", "V6.png", "frame.png",
};

// A record holds the file's name alone; the library finds it in the resource folder. Its 260
// bytes could not hold the whole path under a long install folder.
void FillTextureRecords() {
    std::memset(gTextures, 0, sizeof gTextures);
    for (int i = 0; i < kTextureCount; ++i) {
        std::strcpy(gTextures[i].path, kTextureFiles[i]);
        gTextures[i].number = i + 1;
        gTextures[i].options = 0;
    }
}

// A square of side 1 centred on the origin, the whole texture spread over it once.
void CompileSpriteList() {
    static const float kVertices[6][4] = {
        {0, 0, -0.5f, -0.5f}, {1, 0, 0.5f, -0.5f}, {1, 1, 0.5f, 0.5f},
        {0, 0, -0.5f, -0.5f}, {1, 1, 0.5f, 0.5f},  {0, 1, -0.5f, 0.5f},
    };
    glNewList(1, GL_COMPILE);
    glBegin(GL_TRIANGLES);
    for (const auto& v : kVertices) {
        glTexCoord2f(v[0], v[1]);
        glVertex3f(v[2], v[3], 0);
    }
    glEnd();
    glEndList();
}

} // namespace

void SetupOpenGL() {
    InitScene();
    glClearColor(0, 0, 0, 0);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, 1);
    glEnable(GL_NORMALIZE);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glEnable(GL_TEXTURE_2D);
    FillTextureRecords();
    QI_MakeMultipleTexture(&gTextures[0], kTextureCount);
    CompileSpriteList();
}
