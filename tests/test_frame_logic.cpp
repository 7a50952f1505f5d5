// The frame's schedules without OpenGL: spin, colour cycle, emission, formations; and the field
// of view's bounds.
#include "audio/level.h"
#include "effects/field.h"
#include "effects/particles.h"
#include "render/frame_render.h"
#include "render/projection.h"
#include "scene/frame_clock.h"
#include "scene/random.h"
#include "scene/scene_init.h"
#include "support/frame_state.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <tuple>

namespace {

std::tuple<float, float, float> Coordinates(const Vec3& v) {
    return {v.x, v.y, v.z};
}

class FrameLogic : public ::testing::Test {
  protected:
    void SetUp() override {
        InitScene();
        ResetFrameRender();
        gEnergy = 10;
    }
    // What RenderFrame does between reading the level and drawing.
    static void Advance() {
        AdvanceScene();
        gSceneStarted = -1;
    }
};

// One frame in which every step draws from the generator, in the frame's order, so that each
// step's result shows which draws it had: spin, colour cycle, emission, formations, motion. The
// draws after SeedRandom(36000) are worked out from the generator's definition (the first four
// are those its description gives); the expected values follow from them by hand.
TEST_F(FrameLogic, AFrameRunsItsStepsInOrder) {
    const double d[] = {0,     29407, 2210,  25739, 17879, 19389, 9281, 15222, 10834,
                        13555, 20288, 32146, 20581, 4196,  19119, 1583, 20093, 13157};
    gSceneStarted = -1;
    for (int i = 0; i < 6; ++i)
        sources[i] = sinks[i] = FieldNode{}; // every node at the origin, and staying there
    spin = spinTarget = {0, 0, 0};           // the target is reached: a new one is drawn
    colourT = 0.99f;                         // the cycle ends: a new one is drawn
    colourRate = 1;
    particleColour[0] = 0.1f, particleColour[1] = 0.2f, particleColour[2] = 0.3f;
    liveParticleCount = 1; // particle 0 sits on the sinks: it is reborn when it moves
    particles[0].pos = {0, 0, 0};
    particles[0].speed = particles[1].speed = 100; // a step of 10 at 0.1 s
    emitTimer = 0.05f;                             // particle 1 is due
    formationIndex = 0;                            // the move ends: a new formation is drawn
    formationHold = 0.05f;
    formationPhase = 3.1f;
    formationRate = 0.1f;
    gEnergy = 10;
    gFrameStep = 0.1f;
    SeedRandom(36000);
    AdvanceScene();

    // Spin, draws 1 to 5: 29407 is odd, so a new axis (draws 2 to 4) of length 5 x 0.002 x d5.
    const double length = std::sqrt(d[2] * d[2] + d[3] * d[3] + d[4] * d[4]);
    const double speed = 5 * 0.002 * d[5] / 32767;
    EXPECT_NEAR(spinTarget.x, speed * d[2] / length, 1e-9);
    EXPECT_NEAR(spinTarget.y, speed * d[3] / length, 1e-9);
    EXPECT_NEAR(spinTarget.z, speed * d[4] / length, 1e-9);
    // Colour cycle, draws 6 to 12: hue and saturation from, hue and saturation to, rate.
    EXPECT_NEAR(colourNow.hue, d[6] / 32767, 1e-7);
    EXPECT_NEAR(colourFrom.saturation, 1 - d[7] / 32767 * d[8] / 32767, 1e-7);
    EXPECT_NEAR(colourTo.hue, d[9] / 32767, 1e-7);
    EXPECT_NEAR(colourTo.saturation, 1 - d[10] / 32767 * d[11] / 32767, 1e-7);
    EXPECT_NEAR(colourRate, 10 * 0.002 + 10 * 0.005 * d[12] / 32767, 1e-7);
    // Emission, draws 13 and 14: 19119 % 14 = 9, born a step along (-1, -1, 1) in the colour it
    // finds; then, pushed and pulled alike by nodes that all sit at one point, it rises a step.
    EXPECT_EQ(Coordinates(particles[1].pos), std::make_tuple(-10.0f, 0.0f, 10.0f));
    EXPECT_EQ(particles[1].colour[1], 0.2f);
    // Formations, draw 15: 1583 % 10 = 3, the rows, which draw nothing.
    EXPECT_EQ(formationIndex, 3);
    EXPECT_EQ(formationHold, 10);
    // Motion, draws 16 and 17: particle 0, on the sinks, is reborn along 13157 % 14 = 11,
    // (-1, 1, -1).
    EXPECT_EQ(Coordinates(particles[0].pos), std::make_tuple(-10.0f, 10.0f, -10.0f));
    EXPECT_EQ(liveParticleCount, 2);
    EXPECT_EQ(RandomInt(32768), 6977) << "draw 18 is the next: no step drew more or fewer";
}

TEST_F(FrameLogic, FirstFrameWithoutTimeStartsEverythingButMovesNothing) {
    Advance();
    EXPECT_EQ(liveParticleCount, 1);
    EXPECT_GE(formationIndex, 1); // a first draw of 0 follows the initial 0 and becomes 1
    EXPECT_LE(formationIndex, 9);
    EXPECT_EQ(formationHold, 10);
    EXPECT_EQ(colourT, 0);
    EXPECT_GT(colourRate, 0);
    EXPECT_EQ(spin.x, 0);
    EXPECT_EQ(spin.y, 0);
    EXPECT_EQ(spin.z, 0);
    // The first particle is born before any colour reaches it.
    EXPECT_EQ(particles[0].colour[0], 0);
    EXPECT_EQ(particles[0].colour[1], 0);

    for (int i = 0; i < 5; ++i)
        Advance();
    EXPECT_EQ(liveParticleCount, 1);
    EXPECT_EQ(formationHold, 10);
    EXPECT_EQ(spin.x, 0);
    EXPECT_EQ(sceneMatrix[0], 1);
    EXPECT_EQ(sceneMatrix[5], 1);
    EXPECT_EQ(sceneMatrix[10], 1);
}

TEST_F(FrameLogic, ALongStepEmitsSeveralParticles) {
    Advance(); // one at once, the next due in 0.8 s
    gFrameStep = 2.0f;
    Advance(); // at -1.2 s: two more, the next due at 0.4 s
    EXPECT_EQ(liveParticleCount, 3);
    EXPECT_NEAR(emitTimer, 0.4f, 1e-6);
    gFrameStep = 1000;
    Advance();
    EXPECT_EQ(liveParticleCount, 150); // never beyond the capacity
}

TEST_F(FrameLogic, SpinTurnsAboutThePositiveOctantAndNeverTooFast) {
    gFrameStep = 0.05f;
    double fastest = 0;
    bool turned = false;
    for (int frame = 0; frame < 20000; ++frame) {
        Advance();
        EXPECT_GE(spinTarget.x, 0);
        EXPECT_GE(spinTarget.y, 0);
        EXPECT_GE(spinTarget.z, 0);
        const double speed = std::sqrt(spin.x * spin.x + spin.y * spin.y + spin.z * spin.z);
        fastest = std::max(fastest, speed);
        turned |= speed > 0;
    }
    EXPECT_TRUE(turned);
    EXPECT_LE(fastest, 0.01 + 1e-6);
    // The orientation stays a rotation: the matrix keeps unit columns.
    for (int c = 0; c < 3; ++c) {
        const double len =
            std::hypot(sceneMatrix[4 * c], sceneMatrix[4 * c + 1], sceneMatrix[4 * c + 2]);
        EXPECT_NEAR(len, 1, 1e-4);
    }
}

TEST_F(FrameLogic, SpinApproachesItsTargetAtAFixedRate) {
    Advance();
    gSceneStarted = -1;
    spin = {0, 0, 0};
    spinTarget = {0.006f, 0, 0};
    gFrameStep = 1; // 0.0002 * 5 per second
    AdvanceSpin();
    EXPECT_FLOAT_EQ(spin.x, 0.001f);
    for (int i = 0; i < 4; ++i)
        AdvanceSpin();
    EXPECT_FLOAT_EQ(spin.x, 0.005f);
    AdvanceSpin(); // reaching it snaps onto it and picks a new target
    EXPECT_FLOAT_EQ(spin.x, 0.006f);
}

TEST_F(FrameLogic, HueRunsTheShortWayOnlyForSomeDifferences) {
    struct Case {
        float from, to, t, expected;
    } cases[] = {
        {0.2f, 0.4f, 0.5f, 0.3f},    // (0, 0.5): toward the target
        {0.9f, 0.1f, 0.5f, 0.5f},    // below -0.5: toward it, through the middle
        {0.4f, 0.2f, 0.5f, 0.5f},    // (-0.5, 0): the other way
        {0.1f, 0.9f, 0.5f, 0.7f},    // 0.5 and up: the other way, then wrapped
        {0.25f, 0.75f, 0.6f, 0.95f}, // exactly 0.5 takes the second branch
        {0.3f, 0.3f, 0.5f, 0.3f},    // exactly 0 as well
    };
    for (const Case& c : cases) {
        gSceneStarted = -1;
        colourFrom = {c.from, 1};
        colourTo = {c.to, 1};
        colourT = c.t;
        colourRate = 0;
        AdvanceColourCycle();
        float expected = c.expected;
        if (expected < 0) expected += 1;
        EXPECT_NEAR(colourNow.hue, expected, 1e-6) << c.from << " -> " << c.to;
    }
}

TEST_F(FrameLogic, ANewColourCycleKeepsTheOldParticleColour) {
    particleColour[0] = 0.1f, particleColour[1] = 0.2f, particleColour[2] = 0.3f;
    gSceneStarted = -1;
    colourT = 0.99f;
    colourRate = 1;
    gFrameStep = 0.5f;
    AdvanceColourCycle();
    EXPECT_EQ(colourT, 0);
    EXPECT_EQ(particleColour[1], 0.2f);
    EXPECT_GE(colourRate, 10 * 0.002f);
    EXPECT_LE(colourRate, 10 * 0.007f + 1e-6f);
}

TEST_F(FrameLogic, FormationsHoldThenGlideAndNeverRepeat) {
    Advance();
    const int first = formationIndex;
    gFrameStep = 1;
    for (int i = 0; i < 9; ++i)
        Advance();
    EXPECT_EQ(formationIndex, first);
    EXPECT_EQ(formationPhase, 0); // the hold ran out only now
    std::set<int> seen;
    int previous = first;
    for (int i = 0; i < 3000; ++i) {
        Advance();
        if (formationIndex != previous) {
            seen.insert(formationIndex);
            previous = formationIndex;
        } else {
            EXPECT_GE(formationBlend, 0);
            EXPECT_LE(formationBlend, 1);
        }
    }
    EXPECT_EQ(seen.size(), 11u); // 10 appears as 9 + 1
}

TEST_F(FrameLogic, AMoveTakesPiOverEnergyTimesATenthSeconds) {
    Advance();
    gFrameStep = 0.01f;
    while (formationHold > 0)
        Advance();
    const int index = formationIndex;
    int frames = 0;
    while (formationIndex == index) {
        Advance();
        ++frames;
        ASSERT_LT(frames, 10000);
    }
    // Energy 10: 0.1 * 10 rad/s, so about pi seconds.
    EXPECT_NEAR(frames * 0.01, M_PI, 0.05);
}

TEST(FieldOfViewBounds, StoresClampsAndDefaults) {
    gFieldOfView = 0;
    EXPECT_EQ(FieldOfView(7, 0), 45); // reading only, and 0 reads as 45
    struct {
        int value, stored;
    } cases[] = {{0, 45}, {-5, 45}, {1, 1}, {100, 100}, {180, 180}, {181, 180}, {500, 180}};
    for (const auto& c : cases) {
        SetFieldOfView(nullptr, c.value);
        EXPECT_EQ(gFieldOfView, c.stored) << c.value;
    }
    EXPECT_EQ(FieldOfView(7, 0), 180);
}

} // namespace
