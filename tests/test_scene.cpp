// The random generator, the scene's fixed starting layout and the frame clock.
#include "audio/level.h"
#include "effects/field.h"
#include "effects/particles.h"
#include "platform/os/clock.h"
#include "scene/frame_clock.h"
#include "scene/frame_clock_state.h"
#include "scene/random.h"
#include "scene/scene_init.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// A clock that returns scripted readings; sleeping advances the counter by a fixed amount.
struct ScriptedClock {
    static inline int hasCounter = 1;
    static inline int64_t frequency = 10'000'000;
    static inline std::vector<int64_t> counts;
    static inline std::vector<uint32_t> millis;
    static inline size_t nextCount = 0, nextMilli = 0;
    static inline int sleeps = 0;

    static int Frequency(int64_t* f) {
        *f = frequency;
        return hasCounter;
    }
    static int Counter(int64_t* c) {
        *c = counts.at(nextCount++);
        return 1;
    }
    static uint32_t Millis() { return millis.at(nextMilli++); }
    static void Sleep(uint32_t) { ++sleeps; }

    static void Install(int counter, std::vector<int64_t> c, std::vector<uint32_t> m) {
        hasCounter = counter;
        counts = std::move(c);
        millis = std::move(m);
        nextCount = nextMilli = 0;
        sleeps = 0;
        static const ClockFunctions functions = {Frequency, Counter, Millis, Sleep};
        SetClockFunctions(&functions);
    }
};

class FrameClock : public ::testing::Test {
  protected:
    void TearDown() override { SetClockFunctions(nullptr); }
};

TEST_F(FrameClock, CounterModeMeasuresTicksBetweenCalls) {
    ScriptedClock::Install(1, {1'000'000, 1'160'000, 1'160'000, 1'100'000, 1'120'000}, {0});
    FrameClockStart();
    EXPECT_EQ(ScriptedClock::sleeps, 1);
    EXPECT_FLOAT_EQ(FrameClockElapsed(), 0.016f);
    EXPECT_EQ(FrameClockElapsed(), 0); // equal readings
    // A counter that steps back repeats the previous step and becomes the new base.
    ScriptedClock::counts[2] = 1'160'000;
    EXPECT_EQ(FrameClockElapsed(), 0);
    EXPECT_FLOAT_EQ(FrameClockElapsed(), 0.002f);
}

TEST_F(FrameClock, BackwardsCounterRepeatsTheLastStep) {
    ScriptedClock::Install(1, {500'000, 660'000, 600'000, 610'000}, {0});
    FrameClockStart();
    EXPECT_FLOAT_EQ(FrameClockElapsed(), 0.016f);
    EXPECT_FLOAT_EQ(FrameClockElapsed(), 0.016f);
    EXPECT_FLOAT_EQ(FrameClockElapsed(), 0.001f);
}

TEST_F(FrameClock, MillisecondModeAndItsWrap) {
    ScriptedClock::Install(0, {123}, {5000, 5016, 5016, 4294967290u, 6, 10});
    FrameClockStart();
    EXPECT_EQ(FrameClockElapsed(), static_cast<float>(0.001f * 16.0));
    EXPECT_EQ(FrameClockElapsed(), 0);
    EXPECT_FLOAT_EQ(FrameClockElapsed(), 0.001f * 4294962274.0f);
    EXPECT_FLOAT_EQ(FrameClockElapsed(), 0.001f * 4294962274.0f); // across the wrap: kept
    EXPECT_FLOAT_EQ(FrameClockElapsed(), 0.004f);
}

TEST_F(FrameClock, FirstCallAfterARestartMeasuresFromTheRestart) {
    ScriptedClock::Install(1, {1'000'000, 1'010'000, 9'000'000, 9'050'000}, {0, 0});
    FrameClockStart();
    EXPECT_FLOAT_EQ(FrameClockElapsed(), 0.001f);
    FrameClockStart(); // a restart forgets the previous step
    EXPECT_EQ(gClockElapsed, 0);
    EXPECT_FLOAT_EQ(FrameClockElapsed(), 0.005f);
}

TEST(Random, FixedSeedGivesTheKnownSequence) {
    SeedRandom(36000);
    EXPECT_EQ(gRandomState, 0x470CA000u);
    for (const int expected : {29407, 2210, 25739, 17879})
        EXPECT_EQ(RandomInt(32768), expected);
}

// The state whose next draw is d: states are stepped back through the multiplier's inverse.
uint32_t StateBefore(uint32_t next) {
    uint32_t inverse = 1;
    for (int i = 0; i < 5; ++i)
        inverse *= 2 - 134775813u * inverse; // Newton, mod 2^32
    return (next - 1u) * inverse;
}

TEST(Random, FloatDrawsReachBothEnds) {
    gRandomState = StateBefore(0xFFFFFFFFu); // d = 32767
    EXPECT_EQ(RandomFloat(2.5f), 2.5f);
    gRandomState = StateBefore(0x0001FFFFu); // d = 0
    EXPECT_EQ(RandomFloat(2.5f), 0.0f);
}

TEST(Random, EveryDrawAdvancesTheGeneratorOnce) {
    SeedRandom(36000);
    EXPECT_EQ(RandomInt(1), 0);
    EXPECT_EQ(RandomInt(32768), 2210);
}

class SceneStart : public ::testing::Test {
  protected:
    void SetUp() override {
        ScriptedClock::Install(1, std::vector<int64_t>(8, 0), std::vector<uint32_t>(8, 0));
    }
    void TearDown() override { SetClockFunctions(nullptr); }
};

TEST_F(SceneStart, LaysOutTheSameSceneEveryTime) {
    gEnergy = 30; // whatever the last frame measured, the first speeds use 8
    InitScene();
    EXPECT_NEAR(sources[0].pos.x, 397.458, 1e-3);
    EXPECT_NEAR(sources[0].pos.y, -432.554, 1e-3);
    EXPECT_NEAR(sources[0].pos.z, 285.516, 1e-3);
    EXPECT_NEAR(sources[5].pos.z, -287.072, 1e-3);
    EXPECT_NEAR(sinks[0].pos.x, -381.069, 1e-3);
    EXPECT_NEAR(sinks[0].pos.y, 144.978, 1e-3);
    EXPECT_NEAR(particles[0].size, 12.8647, 1e-4);
    EXPECT_NEAR(particles[0].speed, 149.246, 1e-3);
    EXPECT_NEAR(particles[149].size, 31.4944, 1e-4);
    EXPECT_NEAR(particles[149].speed, 60.9633, 1e-4);
    for (int i = 0; i < 150; ++i)
        EXPECT_NEAR(particles[i].size * particles[i].speed, 1920, 0.01);

    // 186 draws in all: the generator stands where 186 draws from the seed leave it.
    const uint32_t after = gRandomState;
    SeedRandom(36000);
    for (int i = 0; i < 186; ++i)
        RandomInt(2);
    EXPECT_EQ(after, gRandomState);

    EXPECT_EQ(gPanX, 0);
    EXPECT_EQ(gPanY, 0);
    EXPECT_EQ(gDistance, -3.0f);
    EXPECT_EQ(gTilt, 5.0f);
    EXPECT_EQ(gTurn, 0);
    EXPECT_EQ(gEnergy, 8);
    EXPECT_EQ(particleCapacity, 150);
    EXPECT_EQ(sourceCount, 6);
    EXPECT_EQ(sinkCount, 6);
    EXPECT_EQ(spinScale, 5);
}

TEST_F(SceneStart, ARestartRebuildsTheFieldButKeepsTheRendersArrays) {
    InitScene();
    FieldNode firstSources[6];
    FieldParticle firstParticles[150];
    std::memcpy(firstSources, sources, sizeof firstSources);
    std::memcpy(firstParticles, particles, sizeof firstParticles);

    // A run moves everything on...
    for (int i = 0; i < 6; ++i)
        sources[i].to = {1, 2, 3};
    particles[7] = {{5, 5, 5}, {1, 1, 1}, 1, 1};
    gTilt = 40;
    for (int i = 0; i < 16; ++i)
        sceneMatrix[i] = float(i);
    particleColour[0] = 0.5f;
    ScriptedClock::Install(1, std::vector<int64_t>(8, 0), std::vector<uint32_t>(8, 0));

    InitScene();
    EXPECT_EQ(std::memcmp(firstSources, sources, sizeof firstSources), 0);
    EXPECT_EQ(std::memcmp(firstParticles, particles, sizeof firstParticles), 0);
    EXPECT_EQ(gTilt, 5.0f);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(sceneMatrix[i], float(i));
    EXPECT_EQ(particleColour[0], 0.5f);
    // ...and the clock restarts last, after every draw.
    EXPECT_EQ(ScriptedClock::sleeps, 1);
}

} // namespace
