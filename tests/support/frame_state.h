// Puts the frame render back to the state of a program that has not drawn yet, so each test
// starts from a first frame.
#pragma once

#include "render/frame_render.h"
#include "scene/frame_clock.h"
#include "scene/scene_init.h"

inline void ResetFrameRender() {
    gSceneStarted = 0;
    liveParticleCount = 0;
    emitTimer = 0;
    formationIndex = 0;
    formationHold = 0;
    formationPhase = 0;
    colourRate = 0;
    gFrameStep = 0;
    particleColour[0] = particleColour[1] = particleColour[2] = 0;
}
