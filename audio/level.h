// The loudness of the sound as the scene sees it: a level factor and the energy.
#pragma once

#include <cstdint>

// Energy of the scene: 8 after InitScene, then 10 to 36, recomputed every frame.
extern int32_t gEnergy;
