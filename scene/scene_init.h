// The scene's starting state. The seed is fixed, so every initialisation lays the scene out the
// same way; it runs at start-up and each time the sound starts over.
#pragma once

#include "effects/vecmath.h"

#include <cstdint>

// The view: a translation, then a tilt about X and a turn about Y (degrees).
extern float gPanX;
extern float gPanY;
extern float gDistance;
extern float gTilt;
extern float gTurn;

extern int32_t particleSizeUnit;
extern int32_t spinScale;

// The colour cycle's current colour, given to particles as they are born.
extern float particleColour[3];
// The scene's current rotation.
extern Mat4 sceneMatrix;

void InitScene();
