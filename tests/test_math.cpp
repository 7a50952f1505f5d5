// Vector, quaternion, matrix and colour routines against worked numbers.
#include "effects/vecmath.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr float kTol = 1e-6f;

void ExpectVec(const Vec3& v, float x, float y, float z) {
    EXPECT_NEAR(v.x, x, kTol);
    EXPECT_NEAR(v.y, y, kTol);
    EXPECT_NEAR(v.z, z, kTol);
}

void ExpectQuat(const Quat& q, float x, float y, float z, float w) {
    EXPECT_NEAR(q.x, x, kTol);
    EXPECT_NEAR(q.y, y, kTol);
    EXPECT_NEAR(q.z, z, kTol);
    EXPECT_NEAR(q.w, w, kTol);
}

TEST(Normalize3, ScalesToUnitLengthAndReturnsLength) {
    Vec3 v = {3, 0, 4};
    EXPECT_FLOAT_EQ(Normalize3(v), 5);
    ExpectVec(v, 0.6f, 0, 0.8f);
}

TEST(Normalize3, ZeroVectorBecomesUpAndReturnsZero) {
    Vec3 v = {0, 0, 0};
    EXPECT_EQ(Normalize3(v), 0);
    ExpectVec(v, 0, 1, 0);
}

TEST(Quaternions, AxisAngleIgnoresAnglesBelowAMillionth) {
    Quat q;
    QuatFromAxisAngle(q, 0.0000005f, {0.6f, 0, 0.8f});
    ExpectQuat(q, 0, 0, 0, 1);
    QuatFromAxisAngle(q, -0.0000005f, {1, 0, 0});
    ExpectQuat(q, 0, 0, 0, 1);
    // Just above the threshold the rotation is built, though tiny.
    QuatFromAxisAngle(q, 0.000002f, {1, 0, 0});
    EXPECT_GT(q.x, 0);
}

TEST(Quaternions, HalfTurnAboutZ) {
    Quat q;
    QuatFromAxisAngle(q, static_cast<float>(M_PI), {0, 0, 1});
    ExpectQuat(q, 0, 0, 1, 0);
}

TEST(Quaternions, MultiplyReadsAllOfABeforeWriting) {
    Quat a = {0.1f, 0.2f, 0.3f, 0.9f};
    QuatMultiply(a, {0, 0, 0, 1});
    ExpectQuat(a, 0.1f, 0.2f, 0.3f, 0.9f);

    Quat k = {0, 0, 1, 0};
    QuatMultiply(k, {0, 0, 1, 0});
    ExpectQuat(k, 0, 0, 0, -1);

    // i * j = k, j * i = -k: the product's order matters.
    Quat i = {1, 0, 0, 0};
    QuatMultiply(i, {0, 1, 0, 0});
    ExpectQuat(i, 0, 0, 1, 0);
    Quat j = {0, 1, 0, 0};
    QuatMultiply(j, {1, 0, 0, 0});
    ExpectQuat(j, 0, 0, -1, 0);
}

TEST(Matrices, QuaternionWithoutVectorPartGivesIdentity) {
    for (const Quat q : {Quat{0, 0, 0, 0}, Quat{0, 0, 0, 5}}) {
        Mat4 m;
        for (float& e : m.m)
            e = 7;
        QuatToMatrix(m, q);
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(m[i], i % 5 == 0 ? 1 : 0) << i;
    }
}

TEST(Matrices, UnnormalisedQuaternionGivesPureRotation) {
    Mat4 m;
    QuatToMatrix(m, {0, 0, 2, 2}); // 90 degrees about z, at length 2.83
    const float expected[16] = {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(m[i], expected[i], kTol) << i;
}

TEST(Matrices, ColumnMajorLayoutRotatesLikeOpenGL) {
    Quat q;
    QuatFromAxisAngle(q, static_cast<float>(M_PI / 2), {1, 0, 0});
    Mat4 m;
    QuatToMatrix(m, q);
    // Turning +y by 90 degrees about x gives +z: column 1 holds the image of y.
    EXPECT_NEAR(m[4], 0, kTol);
    EXPECT_NEAR(m[5], 0, kTol);
    EXPECT_NEAR(m[6], 1, kTol);
    EXPECT_EQ(m[15], 1);
}

struct HsvCase {
    float h, s, v, r, g, b;
};

TEST(HsvToRgb, WorkedColours) {
    const HsvCase cases[] = {
        {0, 1, 1, 1, 0, 0},
        {0.5f, 1, 1, 0, 1, 1},
        {1, 1, 1, 1, 0, 0},
        {0.3f, 0, 0.7f, 0.7f, 0.7f, 0.7f},
        {0.75f, 0.5f, 0.8f, 0.6f, 0.4f, 0.8f},
        {-0.25f, 1, 1, 1, -1.5f, 0}, // negative hues are not wrapped
        {0.9f, 1, 1, 1, 0, 0.6f},
        {0.6f, 1, 1, 0, 0.4f, 1},
    };
    for (const HsvCase& c : cases) {
        float r, g, b;
        HsvToRgb(c.h, c.s, c.v, r, g, b);
        EXPECT_NEAR(r, c.r, 1e-5) << "h=" << c.h;
        EXPECT_NEAR(g, c.g, 1e-5) << "h=" << c.h;
        EXPECT_NEAR(b, c.b, 1e-5) << "h=" << c.h;
    }
}

TEST(HsvToRgb, SectorBoundsAreTheDecimalConstants) {
    // The float nearest 1/3 lies above 0.333333, so it falls in the blue-rising half of its
    // sector, offset by the float nearest 0.333333.
    float r, g, b;
    HsvToRgb(1.0f / 3.0f, 1, 1, r, g, b);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(g, 1);
    EXPECT_NEAR(b, 2.1457672e-6, 1e-9);
}

} // namespace
