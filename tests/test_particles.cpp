// Particle motion through the field, rebirth, and the cost-free parts of drawing.
#include "effects/field.h"
#include "effects/particles.h"
#include "scene/frame_clock.h"
#include "scene/random.h"
#include "scene/scene_init.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

class Particles : public ::testing::Test {
  protected:
    void SetUp() override {
        sourceCount = 1;
        sinkCount = 1;
        sources[0] = {};
        sinks[0] = {};
        particles[0] = {{0, 0, 0}, {0, 0, 0}, 10, 50};
        particleColour[0] = 0.25f, particleColour[1] = 0.5f, particleColour[2] = 0.75f;
        gFrameStep = 0.1f;
        SeedRandom(1);
    }
    static void Place(FieldNode& node, float x, float y, float z) { node.pos = {x, y, z}; }
    static const Vec3& Pos() { return particles[0].pos; }
};

TEST_F(Particles, MovesOneStepAlongTheField) {
    Place(sinks[0], 100, 0, 0);
    particles[0].pos = {10, 0, 0};
    UpdateParticle(0);
    EXPECT_FLOAT_EQ(Pos().x, 15);
    EXPECT_EQ(Pos().y, 0);
    EXPECT_EQ(Pos().z, 0);
}

TEST_F(Particles, NearerNodesPullHarderByOneOverDistance) {
    // A sink 10 units along x and another 50 along y: the pulls are 1/10 and 1/50; a source
    // 5000 below along z pushes with 1/5000.
    sinkCount = 2;
    Place(sources[0], 0, 0, -5000);
    Place(sinks[0], 10, 0, 0);
    Place(sinks[1], 0, 50, 0);
    particles[0].speed = 1; // step 0.1, well short of either sink
    UpdateParticle(0);
    const double fx = 0.1, fy = 0.02, fz = 0.0002, n = std::sqrt(fx * fx + fy * fy + fz * fz);
    EXPECT_NEAR(Pos().x, 0.1 * fx / n, 1e-7);
    EXPECT_NEAR(Pos().y, 0.1 * fy / n, 1e-7);
    EXPECT_NEAR(Pos().z, 0.1 * fz / n, 1e-7);
}

TEST_F(Particles, WithinOneUnitANodePullsWithWeightOne) {
    sinkCount = 2;
    Place(sources[0], 0, 0, -5000);
    Place(sinks[0], 0.5f, 0, 0); // weight 1, not 2
    Place(sinks[1], 0, 2, 0);    // weight 1/2
    particles[0].speed = 0.01f;
    UpdateParticle(0);
    EXPECT_NEAR(Pos().y / Pos().x, 0.5, 1e-3);
}

TEST_F(Particles, RebornWithinOneStepOfASinkWithoutMoving) {
    Place(sources[0], -300, 40, 7);
    Place(sinks[0], 4.9f, 0, 0); // the step is 5
    UpdateParticle(0);
    const Vec3 d = {Pos().x + 300, Pos().y - 40, Pos().z - 7};
    const double len = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    EXPECT_TRUE(std::fabs(len - 5) < 1e-4 || std::fabs(len - 5 * std::sqrt(3.0)) < 1e-4) << len;
    EXPECT_EQ(particles[0].colour[0], 0.25f);
    EXPECT_EQ(particles[0].colour[1], 0.5f);
    EXPECT_EQ(particles[0].colour[2], 0.75f);
    EXPECT_EQ(particles[0].size, 10);
    EXPECT_EQ(particles[0].speed, 50);
}

TEST_F(Particles, WithoutTimeARebirthSitsOnTheSourceWhichPushesItUp) {
    Place(sources[0], -300, 40, 7);
    Place(sinks[0], 1000, 0, 0);
    gFrameStep = 0;
    RespawnParticle(0);
    EXPECT_EQ(Pos().x, -300);
    EXPECT_EQ(Pos().y, 40);
    EXPECT_EQ(Pos().z, 7);
    // On the source its push is (0, 1, 0) with weight 1, far stronger than the distant sink.
    sinkCount = 0;
    gFrameStep = 0.1f;
    UpdateParticle(0);
    EXPECT_EQ(Pos().x, -300);
    EXPECT_FLOAT_EQ(Pos().y, 45);
}

TEST_F(Particles, StrayBoundIsExclusive) {
    Place(sinks[0], 20000, 0, 0);
    particles[0].pos = {11000, 0, 0};
    UpdateParticle(0);
    EXPECT_FLOAT_EQ(Pos().x, 11005); // moved on, not reborn

    particles[0].pos = {11001, 0, 0};
    UpdateParticle(0);
    // Reborn one step from the source at the origin along an axis or a diagonal.
    const double len = std::sqrt(Pos().x * Pos().x + Pos().y * Pos().y + Pos().z * Pos().z);
    EXPECT_TRUE(std::fabs(len - 5) < 1e-4 || std::fabs(len - 5 * std::sqrt(3.0)) < 1e-4) << len;
}

TEST_F(Particles, RespawnUsesBothDrawsAndEveryDirectionIsOneStepPerAxis) {
    sourceCount = 3;
    Place(sources[0], 100, 0, 0);
    Place(sources[1], 0, 100, 0);
    Place(sources[2], 0, 0, 100);
    bool seenAxis[3] = {}, seenDiagonal = false;
    for (int n = 0; n < 200; ++n) {
        const uint32_t state = gRandomState;
        RespawnParticle(0);
        gRandomState = state;
        const int s = RandomInt(3);
        RandomInt(14);
        const Vec3 d = {Pos().x - sources[s].pos.x, Pos().y - sources[s].pos.y,
                        Pos().z - sources[s].pos.z};
        int moved = 0;
        for (const float c : {d.x, d.y, d.z}) {
            if (c != 0) {
                EXPECT_FLOAT_EQ(std::fabs(c), 5);
                ++moved;
            }
        }
        ASSERT_TRUE(moved == 1 || moved == 3);
        seenAxis[s] = true;
        seenDiagonal |= moved == 3;
    }
    EXPECT_TRUE(seenAxis[0] && seenAxis[1] && seenAxis[2] && seenDiagonal);
}

TEST_F(Particles, CancellingForcesSendItStraightUp) {
    Place(sources[0], 200, 300, 400);
    Place(sinks[0], 200, 300, 400);
    particles[0].pos = {0, 0, 0};
    // Push and pull are equal and opposite: the sum is zero and turns into +y.
    UpdateParticle(0);
    EXPECT_EQ(Pos().x, 0);
    EXPECT_FLOAT_EQ(Pos().y, 5);
    EXPECT_EQ(Pos().z, 0);
}

TEST_F(Particles, SixCoincidentSourcesAndSinksCancelExactlyWherever) {
    // Every few seconds of a run all twelve nodes pass through one point; near them the sum of the
    // pushes and pulls must still cancel, or the particle drifts along its birth direction instead
    // of rising.
    sourceCount = sinkCount = 6;
    int checked = 0;
    for (const Vec3 at : {Vec3{0, 0, 0}, Vec3{500, 100, 50}, Vec3{-500, -100, -50},
                          Vec3{397.458f, -432.554f, 285.516f}, Vec3{0.1f, -7.3f, 1e-3f}}) {
        for (int n = 0; n < 6; ++n)
            Place(sources[n], at.x, at.y, at.z), Place(sinks[n], at.x, at.y, at.z);
        for (const float speed : {40.0f, 96.0f, 149.246f, 240.0f}) {
            for (const float step : {0.004f, 0.0167f, 0.1f}) {
                for (const auto& dir : {Vec3{1, 0, 0}, Vec3{0, 0, -1}, Vec3{1, 1, 1},
                                        Vec3{-1, 1, -1}, Vec3{1, -1, 1}, Vec3{-1, -1, -1}}) {
                    gFrameStep = step;
                    particles[0].speed = speed;
                    const double d = static_cast<double>(speed) * step;
                    // Two steps out, so it is not reborn at the sinks.
                    particles[0].pos = {static_cast<float>(at.x + 2 * dir.x * d),
                                        static_cast<float>(at.y + 2 * dir.y * d),
                                        static_cast<float>(at.z + 2 * dir.z * d)};
                    const Vec3 before = Pos();
                    UpdateParticle(0);
                    SCOPED_TRACE(testing::Message() << at.x << "," << at.y << "," << at.z << " v"
                                                    << speed << " dt" << step);
                    ASSERT_EQ(Pos().x, before.x);
                    ASSERT_EQ(Pos().z, before.z);
                    const float stepLength = static_cast<float>(d);
                    ASSERT_EQ(Pos().y,
                              static_cast<float>(before.y + static_cast<double>(stepLength)));
                    ++checked;
                }
            }
        }
    }
    EXPECT_EQ(checked, 5 * 4 * 3 * 6);
}

} // namespace
