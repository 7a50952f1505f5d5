// The level factor and the energy: worked readings, the table from peak step to energy, and a
// failed reading. (The readings themselves come from the library; its suite checks them.)
#include "audio/level.h"
#include "audio/playback.h"

#include <gtest/gtest.h>

namespace {

constexpr uint32_t Reading(uint32_t left, uint32_t right) {
    return left | right << 16;
}

TEST(AudioLevel, PercentOfTruncatesTowardZero) {
    struct Case {
        int32_t part, whole, percent;
    } cases[] = {{0, 0, 0},           {12345, 0, 0},     {-7, 0, 0},
                 {127, 128, 99},      {-1, 128, 0},      {-128, 128, -100},
                 {65535, 128, 51199}, {1344, 128, 1050}, {2147483647, 100, 2147483647}};
    for (const Case& c : cases)
        EXPECT_EQ(PercentOf(c.part, c.whole), c.percent) << c.part << " of " << c.whole;
}

TEST(AudioLevel, AReadingBecomesLevelsFactorAndEnergy) {
    struct Case {
        const char* what;
        uint32_t reading;
        uint16_t left, right;
        int peak;
        int32_t energy;
    } cases[] = {
        {"silence", Reading(0, 0), 0, 0, 0, 10},
        {"full scale", Reading(32768, 32768), 25600, 25600, 37, 36},
        {"right only", Reading(0, 32768), 0, 25600, 33, 34},
        {"left only", Reading(32768, 0), 25600, 0, 37, 36},
        {"left 350: half a step rounds to even 0", Reading(448, 0), 350, 0, 0, 10},
        {"left 1050: one and a half steps round to 2", Reading(1344, 0), 1050, 0, 2, 11},
        {"right 384: half a step rounds to even 0", Reading(0, 492), 0, 384, 0, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        float f = LevelFactorOf(c.reading);
        EXPECT_EQ(gLeftLevel, c.left);
        EXPECT_EQ(gRightLevel, c.right);
        EXPECT_FLOAT_EQ(f, static_cast<float>(c.peak / 14.0));
        EXPECT_EQ(EnergyOf(f), c.energy);
    }
}

TEST(AudioLevel, EnergyFollowsThePeakStepTable) {
    constexpr int32_t kEnergy[38] = {10, 11, 11, 12, 13, 14, 14, 15, 16, 16, 17, 18, 19,
                                     19, 20, 21, 21, 22, 23, 24, 24, 25, 26, 26, 27, 28,
                                     29, 29, 30, 31, 31, 32, 33, 34, 34, 35, 36, 36};
    for (uint32_t peak = 0; peak <= 37; ++peak) {
        // 896 * peak scales to 700 * peak: exactly peak left steps.
        EXPECT_EQ(EnergyOf(LevelFactorOf(Reading(896 * peak, 0))), kEnergy[peak]) << peak;
    }
}

// All bits set is the library saying "not playing", not a deafening level.
TEST(AudioLevel, AFailedReadingCountsAsNoReading) {
    LevelFactorOf(Reading(32768, 16384));
    EXPECT_EQ(LevelFactorOf(0xFFFFFFFF), 0.0f);
    EXPECT_EQ(gLeftLevel, 25600);
    EXPECT_EQ(gRightLevel, 12800);
    // Through UpdateAudioLevel: a handle the library does not know, then no channel at all.
    for (uint32_t channel : {0x7FFFFFF0u, 0u}) {
        gChannel.store(channel);
        gEnergy = 0;
        EXPECT_EQ(UpdateAudioLevel(), 0.0f);
        EXPECT_EQ(gEnergy, 10);
        EXPECT_EQ(gLeftLevel, 25600);
        EXPECT_EQ(gRightLevel, 12800);
    }
}

} // namespace
