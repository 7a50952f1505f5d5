// One frame of the scene: keep the sound looping, read its level, advance every schedule by the
// frame step, then draw and present. The scene moves exactly as often as frames are drawn.
#pragma once

#include "effects/vecmath.h"

#include <cstdint>

// A point of the colour cycle; its value (brightness) is always 1.
struct HueSaturation {
    float hue; // in turns
    float saturation;
};

extern int32_t gSceneStarted; // -1 once the first frame has been drawn
extern Vec3 spin;             // axis times angle, radians per frame
extern Vec3 spinTarget;
extern Quat orientation;
extern HueSaturation colourFrom, colourNow, colourTo;
extern float colourT;
extern float colourRate; // cycles per second
extern int32_t liveParticleCount;
extern float emitTimer;
extern int32_t formationIndex;
extern float formationPhase; // 0 to pi over a move
extern float formationBlend;
extern float formationHold; // seconds before the current move starts
extern float formationRate;

void RenderFrame();

// The steps of RenderFrame that touch no OpenGL, in the order the frame runs them.
void KeepSoundLooping();
void AdvanceSpin();
void AdvanceColourCycle();
void EmitParticles();
void AdvanceFormations();
void MoveParticles();
// The five steps above, in that order: what a frame advances of the scene.
void AdvanceScene();
