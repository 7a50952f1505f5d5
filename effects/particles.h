// The glowing particles: born at a source with the colour of the moment, they follow the field's
// lines at their own constant speed and are reborn when they reach a sink or stray too far.
#pragma once

#include "effects/vecmath.h"

#include <cstdint>

struct FieldParticle {
    Vec3 pos;
    float colour[3]; // r, g, b
    float size;      // sprite size factor, fixed for the particle's life
    float speed;     // scene units per second, fixed for the particle's life
};

inline constexpr int kParticleArrayLength = 150;

extern FieldParticle particles[kParticleArrayLength];
extern int32_t particleCapacity;

// Puts particle i one step from a random source, in the current particle colour.
void RespawnParticle(int32_t i);
// Moves particle i one step along the field, or respawns it.
void UpdateParticle(int32_t i);
// Draws particle i as a sprite facing the viewer, scale times its size.
void DrawParticle(int32_t i, float scale);
