#include "scene/scene_init.h"

#include "audio/level.h"
#include "effects/field.h"
#include "effects/particles.h"
#include "scene/frame_clock.h"
#include "scene/random.h"

#include <algorithm>

float gPanX;
float gPanY;
float gDistance;
float gTilt;
float gTurn;

int32_t particleSizeUnit;
int32_t spinScale;

// Zero at start and never reset: the frame render keeps writing them across restarts.
float particleColour[3];
Mat4 sceneMatrix;

namespace {

// Nodes start scattered through the cube from -500 to 500, drawn x, then y, then z.
void ScatterNodes(FieldNode* nodes, int32_t count) {
    std::fill_n(nodes, count, FieldNode{});
    for (int32_t i = 0; i < count; ++i) {
        nodes[i].pos.x = static_cast<float>(RandomFloat(1000) - 500.0);
        nodes[i].pos.y = static_cast<float>(RandomFloat(1000) - 500.0);
        nodes[i].pos.z = static_cast<float>(RandomFloat(1000) - 500.0);
    }
}

// Big particles are slow and small ones fast: size times speed is the same for all.
void ResetParticles() {
    std::fill_n(particles, particleCapacity, FieldParticle{});
    for (int32_t i = 0; i < particleCapacity; ++i) {
        FieldParticle& p = particles[i];
        const float k = static_cast<float>(0.4f + static_cast<double>(RandomFloat(2.0f)));
        p.size = static_cast<float>(static_cast<double>(k) * particleSizeUnit);
        p.speed = static_cast<float>(12.0 * gEnergy / k);
    }
}

} // namespace

void InitScene() {
    SeedRandom(36000);

    gPanX = 0;
    gPanY = 0;
    gDistance = -3.0f;
    gTilt = 5.0f;
    gTurn = 0;

    particleCapacity = 150;
    particleSizeUnit = 20;
    sourceCount = 6;
    sinkCount = 6;
    gEnergy = 8;
    spinScale = 5;

    ScatterNodes(sources, sourceCount);
    ScatterNodes(sinks, sinkCount);
    ResetParticles();

    FrameClockStart();
}
