#include "scene/random.h"

#include <cmath>
#include <cstring>

uint32_t gRandomState;

void SeedRandom(double seed) {
    const float asFloat = static_cast<float>(seed);
    std::memcpy(&gRandomState, &asFloat, sizeof gRandomState);
}

// Advances the generator once and returns a draw from 0 to 32767.
static int32_t NextDraw() {
    gRandomState = gRandomState * 134775813u + 1u;
    const double u = static_cast<double>(gRandomState >> 1) * 0x1p-31;
    return static_cast<int32_t>(std::floor(u * 32768.0));
}

float RandomFloat(float x) {
    const double d = NextDraw();
    return static_cast<float>(x * (d / 32767.0));
}

int32_t RandomInt(int32_t n) {
    return NextDraw() % n;
}
