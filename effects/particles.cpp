#include "effects/particles.h"

#include "effects/field.h"
#include "scene/frame_clock.h"
#include "scene/random.h"
#include "scene/scene_init.h"

#include <GL/gl.h>

FieldParticle particles[kParticleArrayLength];
int32_t particleCapacity;

namespace {

// A particle farther than this from any one source has left the field.
constexpr float kStrayDistance = 11000;

// The fourteen directions a reborn particle may start in: the six axes and the eight diagonals.
constexpr signed char kBirthDirections[14][3] = {
    {1, 0, 0},  {-1, 0, 0}, {0, 1, 0},   {0, -1, 0}, {0, 0, 1},   {0, 0, -1},  {1, 1, 1},
    {-1, 1, 1}, {1, -1, 1}, {-1, -1, 1}, {1, 1, -1}, {-1, 1, -1}, {1, -1, -1}, {-1, -1, -1},
};

float Step(const FieldParticle& p) {
    return Stored(p.speed * static_cast<double>(gFrameStep));
}

// v scaled by k, stored: equal and opposite pulls are then exact negatives of each other.
Vec3 Scaled(const Vec3& v, double k) {
    return {Stored(k * v.x), Stored(k * v.y), Stored(k * v.z)};
}

void Add(Vec3& a, const Vec3& b) {
    a = {Stored(static_cast<double>(a.x) + b.x), Stored(static_cast<double>(a.y) + b.y),
         Stored(static_cast<double>(a.z) + b.z)};
}

// Adds the unit vector d with the weight 1 / len, or 1 within one unit of the node.
void AddPull(Vec3& sum, const Vec3& d, float len) {
    Add(sum, Scaled(d, len > 1 ? 1.0 / len : 1.0));
}

} // namespace

void RespawnParticle(int32_t i) {
    FieldParticle& p = particles[i];
    p.pos = sources[RandomInt(sourceCount)].pos;
    const float step = Step(p);
    const signed char* dir = kBirthDirections[RandomInt(14)];
    p.pos = {Stored(p.pos.x + dir[0] * static_cast<double>(step)),
             Stored(p.pos.y + dir[1] * static_cast<double>(step)),
             Stored(p.pos.z + dir[2] * static_cast<double>(step))};
    p.colour[0] = particleColour[0];
    p.colour[1] = particleColour[1];
    p.colour[2] = particleColour[2];
}

void UpdateParticle(int32_t i) {
    FieldParticle& p = particles[i];
    bool reborn = false;
    // The pushes of the sources and the pulls of the sinks are summed apart and added last: when
    // every source and sink sits at one point the two sums are exact negatives (rounding to
    // nearest is symmetric in sign), so they cancel to zero and the particle rises along +y.
    // Summed term by term in one total they would leave a rounding residue instead.
    Vec3 pushes = {0, 0, 0};
    for (int a = 0; a < sourceCount; ++a) {
        const Vec3& s = sources[a].pos;
        Vec3 d = {p.pos.x - s.x, p.pos.y - s.y, p.pos.z - s.z};
        const float len = Normalize3(d);
        if (len > kStrayDistance) reborn = true;
        AddPull(pushes, d, len);
    }
    const float step = Step(p);
    Vec3 pulls = {0, 0, 0};
    for (int b = 0; b < sinkCount; ++b) {
        const Vec3& s = sinks[b].pos;
        Vec3 d = {s.x - p.pos.x, s.y - p.pos.y, s.z - p.pos.z};
        const float len = Normalize3(d);
        if (len < step) reborn = true;
        AddPull(pulls, d, len);
    }
    if (reborn) {
        RespawnParticle(i);
        return;
    }
    Vec3 force = pushes;
    Add(force, pulls);
    Normalize3(force);
    Add(p.pos, Scaled(force, step));
}

void DrawParticle(int32_t i, float scale) {
    const FieldParticle& p = particles[i];
    const Mat4& m = sceneMatrix;
    const double x = p.pos.x, y = p.pos.y, z = p.pos.z;
    // Turning the position rather than the modelview keeps every sprite facing the viewer.
    const float tx = static_cast<float>(m[0] * x + m[4] * y + m[8] * z);
    const float ty = static_cast<float>(m[1] * x + m[5] * y + m[9] * z);
    const float tz = static_cast<float>(m[2] * x + m[6] * y + m[10] * z);
    glColor3f(p.colour[0], p.colour[1], p.colour[2]);
    glPushMatrix();
    glTranslatef(tx, ty, tz);
    const float s = static_cast<float>(1.5 * p.size * static_cast<double>(scale));
    glScalef(s, s, s);
    glCallList(1);
    glPopMatrix();
}
