#include "render/frame_render.h"

#include "app/startup.h"
#include "audio/level.h"
#include "audio/listening.h"
#include "audio/playback.h"
#include "effects/field.h"
#include "effects/particles.h"
#include "platform/sound/level_trace.h"
#include "render/gl_setup.h"
#include "render/pictures.h"
#include "scene/frame_clock.h"
#include "scene/random.h"
#include "scene/scene_init.h"

#include <GL/gl.h>

#include <cmath>
#include <cstring>
#include <numbers>

int32_t gSceneStarted;
Vec3 spin;
Vec3 spinTarget;
Quat orientation;
HueSaturation colourFrom, colourNow, colourTo;
float colourT;
float colourRate;
int32_t liveParticleCount;
float emitTimer;
int32_t formationIndex;
float formationPhase;
float formationBlend;
float formationHold;
float formationRate;

namespace {

constexpr float kViewDepth = -1300;     // the field sits this far in front of the eye
constexpr double kEmissionSpread = 120; // seconds over which all particles are emitted
constexpr float kFormationHold = 10;    // seconds a new formation waits before it moves

void ApplyViewTransform() {
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(gPanX, gPanY, gDistance);
    glRotatef(gTilt, 1, 0, 0);
    glRotatef(gTurn, 0, 1, 0);
    glTranslatef(0, 0, kViewDepth);
}

// The next axis lies in the positive octant, or the spin comes to rest.
void ChooseSpinTarget() {
    if (RandomInt(2) != 0) {
        spinTarget.x = RandomFloat(1);
        spinTarget.y = RandomFloat(1);
        spinTarget.z = RandomFloat(1);
        Normalize3(spinTarget);
        const float m = Stored(static_cast<double>(RandomFloat(0.002f)) * spinScale);
        spinTarget = {Stored(static_cast<double>(m) * spinTarget.x),
                      Stored(static_cast<double>(m) * spinTarget.y),
                      Stored(static_cast<double>(m) * spinTarget.z)};
    } else {
        spinTarget = {0, 0, 0};
    }
}

float RandomSaturation() {
    return Stored(1.0 - static_cast<double>(RandomFloat(1)) * RandomFloat(1));
}

void StartColourCycle() {
    if (particleCapacity > 99) {
        colourNow.hue = RandomFloat(1);
        colourNow.saturation = RandomSaturation();
    }
    colourFrom = colourNow;
    colourTo.hue = RandomFloat(1);
    colourTo.saturation = RandomSaturation();
    colourT = 0;
    colourRate = Stored(gEnergy * 0.002 + RandomFloat(Stored(gEnergy * 0.005)));
}

// The hue runs toward the target only for differences in (0, 0.5) or below -0.5; otherwise it
// runs the other way by the same amount.
void BlendColour() {
    const double dh = static_cast<double>(colourTo.hue) - colourFrom.hue;
    const double t = colourT;
    if (dh < -0.5 || (0 < dh && dh < 0.5))
        colourNow.hue = Stored(colourFrom.hue + dh * t);
    else
        colourNow.hue = Stored(colourFrom.hue - dh * t);
    colourNow.saturation =
        Stored(colourFrom.saturation +
               (static_cast<double>(colourTo.saturation) - colourFrom.saturation) * t);
    if (colourNow.hue < 0) colourNow.hue = Stored(colourNow.hue + 1.0);
    if (colourNow.hue > 1) colourNow.hue = Stored(colourNow.hue - 1.0);
    HsvToRgb(colourNow.hue, colourNow.saturation, 1, particleColour[0], particleColour[1],
             particleColour[2]);
}

void ChangeFormation() {
    const int32_t previous = formationIndex;
    formationIndex = RandomInt(10);
    if (formationIndex == previous) formationIndex += 1; // never the same formation twice
    SetFormation(formationIndex);
    formationPhase = 0;
    formationBlend = 0;
    formationHold = kFormationHold;
    formationRate = 0.1f;
}

void DrawScene(float f) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    gSceneStarted = -1;
    glMatrixMode(GL_MODELVIEW);
    glBlendFunc(GL_ONE, GL_ONE);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(gTextures[0].glName));
    const float scale = Stored(std::sqrt(static_cast<double>(f)));
    // Without its sprite a particle would be a white square: none is drawn.
    const int32_t drawn = gTextures[0].glName != 0 ? liveParticleCount : 0;
    for (int32_t i = 0; i < drawn; ++i)
        DrawParticle(i, scale);
    glPushMatrix();
    DrawPictures(static_cast<int32_t>(std::lrint(f)));
    glPopMatrix();
    QI_UpdateGLWindow(gGlCtrl);
    TraceFrameShown();
}

} // namespace

// While listening no file plays, and none is reopened.
void KeepSoundLooping() {
    if (gRecording != 0 || gChannel.load() != 0) return;
    PlayAudioFile(gMainWnd);
    if (gChannel.load() != 0) InitScene();
}

void AdvanceSpin() {
    if (gSceneStarted == 0) {
        spin = {0, 0, 0};
        spinTarget = spin;
        QuatSet(orientation, 0, 0, 0, 1);
    }
    Vec3 d = {spinTarget.x - spin.x, spinTarget.y - spin.y, spinTarget.z - spin.z};
    const float dist = Normalize3(d);
    const float maxStep = Stored(0.0002 * spinScale * gFrameStep);
    if (maxStep < dist) {
        spin = {Stored(spin.x + static_cast<double>(maxStep) * d.x),
                Stored(spin.y + static_cast<double>(maxStep) * d.y),
                Stored(spin.z + static_cast<double>(maxStep) * d.z)};
    } else {
        spin = spinTarget;
        ChooseSpinTarget();
    }
    // The angle applies once per frame, not scaled by the frame step.
    Vec3 axis = spin;
    const float angle = Normalize3(axis);
    Quat q;
    QuatFromAxisAngle(q, angle, axis);
    QuatMultiply(orientation, q);
    Mat4 m;
    QuatToMatrix(m, orientation);
    std::memcpy(sceneMatrix.m, m.m, sizeof m.m);
}

void AdvanceColourCycle() {
    if (gSceneStarted == 0) {
        colourNow = {1, 1};
        colourT = 1;
    }
    colourT = Stored(colourT + static_cast<double>(colourRate) * gFrameStep);
    // A new cycle leaves the particle colour as it was for this frame.
    if (colourT >= 1)
        StartColourCycle();
    else
        BlendColour();
}

void EmitParticles() {
    if (particleCapacity <= liveParticleCount) return;
    emitTimer = Stored(static_cast<double>(emitTimer) - gFrameStep);
    while (particleCapacity > liveParticleCount && emitTimer <= 0) {
        RespawnParticle(liveParticleCount);
        liveParticleCount += 1;
        emitTimer = Stored(emitTimer + kEmissionSpread / particleCapacity);
    }
}

void AdvanceFormations() {
    if (gSceneStarted == 0) {
        formationPhase = std::numbers::pi_v<float>;
        formationRate = 0.001f;
    }
    formationHold = Stored(static_cast<double>(formationHold) - gFrameStep);
    if (formationHold <= 0) {
        formationPhase =
            Stored(formationPhase + static_cast<double>(gEnergy) * gFrameStep * formationRate);
        formationBlend = Stored(0.5 - 0.5 * std::cos(static_cast<double>(formationPhase)));
    }
    if (formationPhase >= std::numbers::pi) ChangeFormation();
    for (int32_t i = 0; i < sourceCount; ++i)
        MoveSource(i, formationBlend);
    for (int32_t i = 0; i < sinkCount; ++i)
        MoveSink(i, formationBlend);
}

void MoveParticles() {
    for (int32_t i = 0; i < liveParticleCount; ++i)
        UpdateParticle(i);
}

void AdvanceScene() {
    AdvanceSpin();
    AdvanceColourCycle();
    EmitParticles();
    AdvanceFormations();
    MoveParticles();
}

void RenderFrame() {
    KeepSoundLooping();
    const float f = UpdateAudioLevel();
    ApplyViewTransform();
    AdvanceScene();
    DrawScene(f);
}
