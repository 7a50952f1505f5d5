// Formations of the sources and sinks, and the moves between them.
#include "effects/field.h"
#include "scene/random.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

class Formations : public ::testing::Test {
  protected:
    void SetUp() override { UseCounts(6, 6); }

    // Nodes start at distinct, known places so a move's start is easy to check.
    static void UseCounts(int nSources, int nSinks) {
        sourceCount = nSources;
        sinkCount = nSinks;
        for (int i = 0; i < kFieldNodeCapacity; ++i) {
            sources[i] = {{float(i), float(2 * i), float(3 * i)}, {}, {}};
            sinks[i] = {{float(-i), float(-2 * i), float(-3 * i)}, {}, {}};
        }
    }
};

TEST_F(Formations, SlantedLineSpacesAllTwelveNodesEvenly) {
    SetFormation(1);
    EXPECT_FLOAT_EQ(sources[0].to.x, -500);
    EXPECT_FLOAT_EQ(sources[0].to.y, -250);
    EXPECT_NEAR(sinks[5].to.x, 500, 1e-3);
    EXPECT_NEAR(sinks[5].to.y, 250, 1e-3);
    // The sinks carry on along the line from where the sources stopped.
    std::vector<float> xs;
    for (int i = 0; i < 6; ++i)
        xs.push_back(sources[i].to.x);
    for (int i = 0; i < 6; ++i)
        xs.push_back(sinks[i].to.x);
    for (size_t i = 1; i < xs.size(); ++i)
        EXPECT_NEAR(xs[i] - xs[i - 1], 1000.0 / 11, 1e-3);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(sinks[i].to.y, 0.5f * sinks[i].to.x);
}

TEST_F(Formations, AlternatingLineInterleavesSourcesAndSinks) {
    SetFormation(2);
    EXPECT_FLOAT_EQ(sources[0].to.x, -500);
    EXPECT_NEAR(sinks[0].to.x, -409.0909, 1e-3);
    EXPECT_NEAR(sources[1].to.x, -318.1818, 1e-3);
    EXPECT_NEAR(sinks[5].to.x, 500, 1e-3);
}

TEST_F(Formations, CrossedRowsPutSinksAlongDepth) {
    SetFormation(4);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(sources[i].to.y, -375);
        EXPECT_EQ(sources[i].to.z, 0);
        EXPECT_EQ(sinks[i].to.x, 10);
        EXPECT_EQ(sinks[i].to.y, 375);
    }
    EXPECT_FLOAT_EQ(sinks[0].to.z, -500);
    EXPECT_NEAR(sinks[5].to.z, 409.0909, 1e-3);
    EXPECT_NEAR(sources[5].to.x, 409.0909, 1e-3);
}

TEST_F(Formations, InnerAndOuterCircles) {
    SetFormation(7);
    const double a0 = 0.5 + 6.28318530718 / 6;
    EXPECT_NEAR(sources[0].to.x, 200 * std::cos(a0), 1e-3);
    EXPECT_NEAR(sources[0].to.y, 200 * std::sin(a0), 1e-3);
    EXPECT_NEAR(sinks[0].to.x, 500 * std::cos(a0 + 1), 1e-3);
    EXPECT_NEAR(sinks[0].to.y, 500 * std::sin(a0 + 1), 1e-3);
    for (int i = 0; i < 6; ++i) {
        EXPECT_NEAR(std::hypot(sources[i].to.x, sources[i].to.y), 200, 1e-3);
        EXPECT_NEAR(std::hypot(sinks[i].to.x, sinks[i].to.y), 500, 1e-3);
    }
}

TEST_F(Formations, TwoOppositePoints) {
    SetFormation(10);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(sources[i].to.x, 500);
        EXPECT_EQ(sources[i].to.y, 100);
        EXPECT_EQ(sources[i].to.z, 50);
        EXPECT_EQ(sinks[i].to.x, -500);
        EXPECT_EQ(sinks[i].to.y, -100);
        EXPECT_EQ(sinks[i].to.z, -50);
    }
}

TEST_F(Formations, RandomTargetsDrawZThenYThenX) {
    SeedRandom(12345);
    SetFormation(0);
    SeedRandom(12345);
    const float z = RandomFloat(1000) - 500, y = RandomFloat(1000) - 500,
                x = RandomFloat(1000) - 500;
    EXPECT_EQ(sources[0].to.x, x);
    EXPECT_EQ(sources[0].to.y, y);
    EXPECT_EQ(sources[0].to.z, z);

    // On the planes only x and z are random: two draws per node, z first.
    SeedRandom(777);
    SetFormation(6);
    SeedRandom(777);
    const float z6 = RandomFloat(1000) - 500, x6 = RandomFloat(1000) - 500;
    EXPECT_EQ(sources[0].to.x, x6);
    EXPECT_EQ(sources[0].to.y, -375);
    EXPECT_EQ(sources[0].to.z, z6);
    EXPECT_EQ(sinks[0].to.y, 375);
}

TEST_F(Formations, UnknownNumbersChangeNothing) {
    SetFormation(3);
    for (int i = 0; i < 6; ++i)
        MoveSource(i, 0.5f), MoveSink(i, 0.5f);
    FieldNode savedSources[kFieldNodeCapacity], savedSinks[kFieldNodeCapacity];
    std::memcpy(savedSources, sources, sizeof sources);
    std::memcpy(savedSinks, sinks, sizeof sinks);
    for (const int k : {-1, 11, 1000}) {
        SetFormation(k);
        EXPECT_EQ(std::memcmp(savedSources, sources, sizeof sources), 0) << k;
        EXPECT_EQ(std::memcmp(savedSinks, sinks, sizeof sinks), 0) << k;
    }
}

TEST_F(Formations, MovesStartWhereNodesAreAndEndExactlyOnTarget) {
    for (int k = 0; k <= 10; ++k) {
        const FieldNode before = sources[2];
        const FieldNode sinkBefore = sinks[4];
        SetFormation(k);
        MoveSource(2, 0);
        MoveSink(4, 0);
        EXPECT_EQ(std::memcmp(&sources[2].pos, &before.pos, sizeof(Vec3)), 0) << k;
        EXPECT_EQ(std::memcmp(&sinks[4].pos, &sinkBefore.pos, sizeof(Vec3)), 0) << k;
        for (int i = 0; i < 6; ++i)
            MoveSource(i, 1), MoveSink(i, 1);
        EXPECT_EQ(std::memcmp(&sources[2].pos, &sources[2].to, sizeof(Vec3)), 0) << k;
        EXPECT_EQ(std::memcmp(&sinks[4].pos, &sinks[4].to, sizeof(Vec3)), 0) << k;
    }
}

TEST_F(Formations, NewFormationMidMoveStartsFromCurrentPlace) {
    SetFormation(10);
    for (int i = 0; i < 6; ++i)
        MoveSource(i, 0.25f);
    const Vec3 midway = sources[0].pos;
    SetFormation(1);
    EXPECT_EQ(sources[0].from.x, midway.x);
    EXPECT_EQ(sources[0].from.y, midway.y);
    MoveSource(0, 0.5f);
    EXPECT_FLOAT_EQ(sources[0].pos.x, 0.5f * midway.x + 0.5f * -500.0f);
}

TEST_F(Formations, UnequalCountsTakeSpacingFromTheLargerOrFromEachRow) {
    UseCounts(4, 8);
    SetFormation(2); // spacing from the larger count: 1000 / 15
    EXPECT_NEAR(sources[1].to.x - sources[0].to.x, 2000.0 / 15, 1e-3);
    EXPECT_NEAR(sinks[0].to.x, -500 + 1000.0 / 15, 1e-3);
    EXPECT_NEAR(sinks[7].to.x, 500, 1e-3);

    SetFormation(3); // each row its own spacing and height
    EXPECT_NEAR(sources[3].to.x, -500 + 6000.0 / 7, 1e-3);
    EXPECT_NEAR(sinks[7].to.x, -500 + 14000.0 / 15, 1e-3);
    EXPECT_NEAR(sources[1].to.x - sources[0].to.x, 2000.0 / 7, 1e-3);
    EXPECT_NEAR(sinks[1].to.x - sinks[0].to.x, 2000.0 / 15, 1e-3);
    EXPECT_EQ(sources[0].to.y, -425);
    EXPECT_EQ(sinks[0].to.y, 325);

    SetFormation(9); // alternating on the circle, spacing from the larger count
    const double s = 6.28318530718 / 16;
    EXPECT_NEAR(std::atan2(sources[1].to.y, sources[1].to.x), 0.5 + 2 * s, 1e-5);
    EXPECT_NEAR(std::atan2(sinks[0].to.y, sinks[0].to.x), 0.5 + s, 1e-5);

    SetFormation(8); // twelve places around one circle
    const double step = 6.28318530718 / 12;
    EXPECT_NEAR(std::atan2(sinks[0].to.y, sinks[0].to.x), 0.5 + 5 * step, 1e-5);
}

} // namespace
