#include "render/pictures.h"

#include "effects/field.h"
#include "render/gl_setup.h"
#include "scene/scene_init.h"

#include <GL/gl.h>

namespace {

constexpr float kHalfSize = 200;
constexpr int kFrameTexture = 7;
constexpr int kSteadyPicture = 6; // the one picture that does not pulse

// Sinks in ascending turned depth; the last one is nearest the viewer.
struct DepthOrder {
    float depth[kFieldNodeCapacity];
    int order[kFieldNodeCapacity];
};

void SortByDepth(DepthOrder& d, int count) {
    for (int i = 1; i < count; ++i) {
        const float key = d.depth[i];
        const int index = d.order[i];
        int j = i - 1;
        for (; j >= 0 && d.depth[j] > key; --j) {
            d.depth[j + 1] = d.depth[j];
            d.order[j + 1] = d.order[j];
        }
        d.depth[j + 1] = key;
        d.order[j + 1] = index;
    }
}

} // namespace

void DrawTexturedQuad(float w, float h, float z, int32_t texture) {
    const float bottom = static_cast<float>(1.063f * static_cast<double>(w));
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(texture));
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex3f(-bottom, -h, z);
    glTexCoord2f(1, 0);
    glVertex3f(bottom, -h, z);
    glTexCoord2f(1, 1);
    glVertex3f(w, h, z);
    glTexCoord2f(0, 1);
    glVertex3f(-w, h, z);
    glEnd();
}

void DrawPictures(int32_t pulse) {
    const Mat4& m = sceneMatrix;
    DepthOrder d;
    for (int i = 0; i < sinkCount; ++i) {
        const Vec3& p = sinks[i].pos;
        d.depth[i] =
            static_cast<float>(static_cast<double>(m[2]) * p.x + static_cast<double>(m[6]) * p.y +
                               static_cast<double>(m[10]) * p.z);
        d.order[i] = i;
    }
    SortByDepth(d, sinkCount);
    for (int j = 0; j < sinkCount; ++j) {
        const int k = d.order[j];
        const Vec3& p = sinks[k].pos;
        glPushMatrix();
        // Only the position turns with the scene, so every picture keeps facing the viewer.
        const double tx = static_cast<double>(m[0]) * p.x + static_cast<double>(m[4]) * p.y +
                          static_cast<double>(m[8]) * p.z;
        const double ty = static_cast<double>(m[1]) * p.x + static_cast<double>(m[5]) * p.y +
                          static_cast<double>(m[9]) * p.z;
        glTranslatef(static_cast<float>(tx), static_cast<float>(ty), d.depth[j]);
        glColor4f(0.95f, 0.95f, 0.95f, 0.5f);
        const float half = (k + 1 == kSteadyPicture) ? kHalfSize : 5.0f * pulse + kHalfSize;
        // A picture that failed to load has no texture; drawn untextured it would be a white
        // square, which reads as a fault of the scene. It is left out instead, and so is the frame.
        if (gTextures[k + 1].glName != 0) DrawTexturedQuad(half, half, 0, gTextures[k + 1].glName);
        if (j == sinkCount - 1 && gTextures[kFrameTexture].glName != 0)
            DrawTexturedQuad(kHalfSize, kHalfSize, 0, gTextures[kFrameTexture].glName);
        glPopMatrix();
    }
}
