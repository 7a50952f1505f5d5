// The one random generator of the scene: a 32-bit linear congruential generator drawing 15 bits
// at a time. Every InitScene reseeds it, so every pass through the sound repeats the same draws.
#pragma once

#include <cstdint>

extern uint32_t gRandomState;

// The state becomes the bit pattern of the seed stored as a 32-bit float.
void SeedRandom(double seed);
// A float in [0, x], both ends reachable.
float RandomFloat(float x);
// An integer in 0 .. n - 1; n must be positive.
int32_t RandomInt(int32_t n);
